#pragma once
// The file manager: existence, folders, removal, moves and new files.
//
// Threads: `defaultManager()` and every method may be used from any thread; the manager keeps
// no state. Failures come back as false / nullopt with *error set when `error` is given.

#include <optional>
#include <string>
#include <vector>

#include "platform/Foundation/NSError.h"
#include "platform/Foundation/Value.h"

class NSFileManager {
  public:
    static NSFileManager& defaultManager();

    // True when anything is at `path` (a file, a directory, or what a symbolic link points to);
    // *isDirectory tells which.
    bool fileExistsAtPath(const std::string& path, bool* isDirectory = nullptr) const;
    // True when a directory entry of that name exists, whatever it is: a symbolic link counts
    // itself, even one that points nowhere.
    bool entryExistsAtPath(const std::string& path) const;

    // Makes the folder; with intermediate directories also its missing parents, and an existing
    // folder is then a success. Without them the parent must exist and the folder must not.
    bool createDirectoryAtPath(const std::string& path, bool withIntermediateDirectories,
                               NSErrorPtr* error = nullptr) const;

    // Removes a file, or a folder with everything in it. Nothing at `path` is an error.
    bool removeItemAtPath(const std::string& path, NSErrorPtr* error = nullptr) const;
    // Removes `path` only when it is a plain file (not a folder, not a link, not a device or
    // pipe); anything else, or nothing, is left as it is and is an error.
    bool removePlainFileAtPath(const std::string& path, NSErrorPtr* error = nullptr) const;

    // Moves a file or folder; fails when something is already at `dstPath`.
    bool moveItemAtPath(const std::string& srcPath, const std::string& dstPath,
                        NSErrorPtr* error = nullptr) const;

    // Writes a file with `contents` (empty when nullptr), replacing one already there; written
    // atomically. False when it cannot be written.
    bool createFileAtPath(const std::string& path, const Data* contents) const;

    // The names in the folder (no "." or ".."), sorted by name.
    std::optional<std::vector<std::string>> contentsOfDirectoryAtPath(
        const std::string& path, NSErrorPtr* error = nullptr) const;
};

#pragma once
// Reading and writing whole files as bytes.
//
// Threads: any thread. Two atomic writers of one path leave one whole file or the other.

#include <functional>
#include <optional>
#include <string>

#include "platform/Foundation/NSError.h"
#include "platform/Foundation/Value.h"

class NSData {
  public:
    // The file's bytes; nullopt when it cannot be read (missing, a directory, no permission).
    static std::optional<Data> dataWithContentsOfFile(const std::string& path);

    // Writes `data` to `path`, replacing what is there. Atomically: into a temporary file in the
    // same folder, flushed to disk, then renamed over `path`, so a reader sees the old file or
    // the whole new one. On failure returns false, sets *error (when given) and leaves no
    // temporary file behind.
    static bool writeToFile(const Data& data, const std::string& path, bool atomically,
                            NSErrorPtr* error = nullptr);

    // Writes `data` whole into a new file of its own beside `path` (in the same folder, made
    // exclusively, so nothing already there is written through), under a temporary name that
    // isTemporaryFileName knows, flushed to disk. Returns its path; "" with *error (and nothing
    // left behind) when it cannot be written.
    static std::string writeToTemporaryFile(const Data& data, const std::string& path,
                                            NSErrorPtr* error = nullptr);
    // Takes the next piece of a new file's contents; false (errno set) when it cannot be written.
    using ContentsSink = std::function<bool(const uint8_t* bytes, size_t length)>;
    // Hands a new file's contents to the sink in order, a piece at a time if it will; false as
    // soon as the sink does, or (errno set) when the contents cannot be had.
    using ContentsWriter = std::function<bool(const ContentsSink& sink)>;
    // The same with the contents that `write` writes, so that they need not be in memory whole.
    static std::string writeToTemporaryFile(const ContentsWriter& write, const std::string& path,
                                            NSErrorPtr* error = nullptr);
    // Whether `fileName` (a last path component) is such a temporary name, ".tilvex-NAME.XXXXXX"
    // with six letters or digits for the X's: a plain file under it is the leftover of a write
    // that the end of the process cut off. *forName (when given) is then NAME, the name that the
    // write was for.
    static bool isTemporaryFileName(const std::string& fileName, std::string* forName = nullptr);

    // Writes `data` whole under a temporary name, then gives the file the first of the paths
    // `pathAt(n)`, n = first .. last (all in one folder), at which no directory entry exists (a
    // dangling link is one), never replacing an entry: the file appears under its name only
    // whole, and a name taken meanwhile moves it on to the next. Returns the path; "" with
    // *error (EEXIST when every name is taken) and nothing left behind otherwise.
    static std::string writeToFirstFreePath(const Data& data, long first, long last,
                                            const std::function<std::string(long)>& pathAt,
                                            NSErrorPtr* error = nullptr);
    // The same with the contents that `write` writes.
    static std::string writeToFirstFreePath(const ContentsWriter& write, long first, long last,
                                            const std::function<std::string(long)>& pathAt,
                                            NSErrorPtr* error = nullptr);
};

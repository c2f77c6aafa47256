#include "platform/Foundation/NSFileManager.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <system_error>

#include "platform/Foundation/NSData.h"

namespace fs = std::filesystem;

namespace {

bool fail(NSErrorPtr* error, int errnum, const std::string& what) {
    if (error)
        *error = NSError::posix(errnum, what);
    return false;
}

}  // namespace

NSFileManager& NSFileManager::defaultManager() {
    static NSFileManager manager;
    return manager;
}

bool NSFileManager::fileExistsAtPath(const std::string& path, bool* isDirectory) const {
    std::error_code ec;
    fs::file_status st = fs::status(path, ec);
    bool exists = !ec && fs::exists(st);
    if (isDirectory)
        *isDirectory = exists && fs::is_directory(st);
    return exists;
}

bool NSFileManager::entryExistsAtPath(const std::string& path) const {
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

bool NSFileManager::createDirectoryAtPath(const std::string& path, bool withIntermediateDirectories,
                                          NSErrorPtr* error) const {
    std::error_code ec;
    if (withIntermediateDirectories) {
        fs::create_directories(path, ec);
        if (!ec && fs::is_directory(path, ec))
            return true;
        return fail(error, ec ? ec.value() : EEXIST, "Cannot create the folder " + path);
    }
    if (!fs::create_directory(path, ec)) {
        return fail(error, ec ? ec.value() : EEXIST, "Cannot create the folder " + path);
    }
    return true;
}

bool NSFileManager::removeItemAtPath(const std::string& path, NSErrorPtr* error) const {
    if (!entryExistsAtPath(path))
        return fail(error, ENOENT, "Cannot remove " + path);
    std::error_code ec;
    fs::remove_all(path, ec);
    if (ec)
        return fail(error, ec.value(), "Cannot remove " + path);
    return true;
}

bool NSFileManager::removePlainFileAtPath(const std::string& path, NSErrorPtr* error) const {
    std::error_code ec;
    if (!fs::is_regular_file(fs::symlink_status(path, ec)))
        return fail(error, ec ? ec.value() : EPERM, "Cannot remove " + path + ": not a plain file");
    // unlink(2) never follows a link nor removes a folder, whatever took the name meanwhile.
    if (::unlink(path.c_str()) != 0)
        return fail(error, errno, "Cannot remove " + path);
    return true;
}

bool NSFileManager::moveItemAtPath(const std::string& srcPath, const std::string& dstPath,
                                   NSErrorPtr* error) const {
    std::error_code ec;
    const std::string what = "Cannot move " + srcPath + " to " + dstPath;
    if (!entryExistsAtPath(srcPath))
        return fail(error, ENOENT, what);
    if (entryExistsAtPath(dstPath))
        return fail(error, EEXIST, what);
    fs::rename(srcPath, dstPath, ec);
    if (ec.value() == EXDEV) {
        // Another file system: copy, then remove the original.
        ec.clear();
        fs::copy(srcPath, dstPath, fs::copy_options::recursive | fs::copy_options::copy_symlinks,
                 ec);
        if (!ec)
            fs::remove_all(srcPath, ec);
    }
    if (ec)
        return fail(error, ec.value(), what);
    return true;
}

bool NSFileManager::createFileAtPath(const std::string& path, const Data* contents) const {
    static const Data empty;
    return NSData::writeToFile(contents ? *contents : empty, path, true);
}

std::optional<std::vector<std::string>> NSFileManager::contentsOfDirectoryAtPath(
    const std::string& path, NSErrorPtr* error) const {
    std::error_code ec;
    fs::directory_iterator it(path, ec);
    if (ec) {
        fail(error, ec.value(), "Cannot list the folder " + path);
        return std::nullopt;
    }
    std::vector<std::string> names;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec)
            break;
        names.push_back(it->path().filename().string());
    }
    if (ec) {
        fail(error, ec.value(), "Cannot list the folder " + path);
        return std::nullopt;
    }
    std::sort(names.begin(), names.end());
    return names;
}

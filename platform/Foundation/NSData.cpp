#include "platform/Foundation/NSData.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <string_view>

namespace {

bool fail(NSErrorPtr* error, int errnum, const std::string& what) {
    if (error)
        *error = NSError::posix(errnum, what);
    return false;
}

bool writeAll(int fd, const uint8_t* bytes, size_t length) {
    size_t done = 0;
    while (done < length) {
        ssize_t n = ::write(fd, bytes + done, length - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

NSData::ContentsWriter contentsOf(const Data& data) {
    return [&data](const NSData::ContentsSink& sink) { return sink(data.data(), data.size()); };
}

std::string folderOf(const std::string& path) {
    auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Makes the rename itself durable.
void syncFolder(const std::string& folder) {
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

bool writeDirect(const Data& data, const std::string& path, NSErrorPtr* error) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return fail(error, errno, "Cannot create " + path);
    bool ok = writeAll(fd, data.data(), data.size());
    int errnum = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        errnum = errno;
    }
    return ok ? true : fail(error, errnum, "Cannot write " + path);
}

// A temporary file is named kTemporaryPrefix, the name it is written for, then mkstemp's suffix.
// The prefix names the program, so that no file of a person's is taken for one of these.
constexpr std::string_view kTemporaryPrefix = ".tilvex-";
constexpr std::string_view kTemporarySuffix = ".XXXXXX";

bool writeAtomically(const Data& data, const std::string& path, NSErrorPtr* error) {
    std::string temp = NSData::writeToTemporaryFile(data, path, error);
    if (temp.empty())
        return false;
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        int errnum = errno;
        ::unlink(temp.c_str());
        return fail(error, errnum, "Cannot write " + path);
    }
    syncFolder(folderOf(path));
    return true;
}

}  // namespace

std::optional<Data> NSData::dataWithContentsOfFile(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    Data out;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
        out.reserve(static_cast<size_t>(st.st_size));
    uint8_t buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            ::close(fd);
            return std::nullopt;  // EISDIR for a directory
        }
        if (n == 0)
            break;
        out.insert(out.end(), buf, buf + n);
    }
    ::close(fd);
    return out;
}

bool NSData::writeToFile(const Data& data, const std::string& path, bool atomically,
                         NSErrorPtr* error) {
    return atomically ? writeAtomically(data, path, error) : writeDirect(data, path, error);
}

std::string NSData::writeToTemporaryFile(const Data& data, const std::string& path,
                                         NSErrorPtr* error) {
    return writeToTemporaryFile(contentsOf(data), path, error);
}

std::string NSData::writeToTemporaryFile(const ContentsWriter& write, const std::string& path,
                                         NSErrorPtr* error) {
    std::string folder = folderOf(path);
    std::string temp = folder + "/" + std::string(kTemporaryPrefix) +
                       path.substr(path.rfind('/') + 1) + std::string(kTemporarySuffix);
    int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        fail(error, errno, "Cannot create a temporary file in " + folder);
        return "";
    }
    // mkstemp makes the file private; give it the usual mode of a new file.
    ::fchmod(fd, 0644);
    bool ok =
        write([fd](const uint8_t* bytes, size_t length) { return writeAll(fd, bytes, length); }) &&
        ::fsync(fd) == 0;
    int errnum = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        errnum = errno;
    }
    if (!ok) {
        ::unlink(temp.c_str());
        fail(error, errnum, "Cannot write " + path);
        return "";
    }
    return temp;
}

bool NSData::isTemporaryFileName(const std::string& fileName, std::string* forName) {
    // Exactly what writeToTemporaryFile makes: the prefix, a name, a dot and mkstemp's six
    // letters or digits. A person's ".tilvex-settings.json" is not one.
    if (!fileName.starts_with(kTemporaryPrefix) ||
        fileName.size() <= kTemporaryPrefix.size() + kTemporarySuffix.size())
        return false;
    const size_t suffix = fileName.size() - kTemporarySuffix.size();
    if (fileName[suffix] != '.' ||
        !std::all_of(fileName.begin() + static_cast<std::ptrdiff_t>(suffix) + 1, fileName.end(),
                     [](unsigned char c) { return std::isalnum(c); }))
        return false;
    if (forName)
        *forName = fileName.substr(kTemporaryPrefix.size(), suffix - kTemporaryPrefix.size());
    return true;
}

std::string NSData::writeToFirstFreePath(const Data& data, long first, long last,
                                         const std::function<std::string(long)>& pathAt,
                                         NSErrorPtr* error) {
    return writeToFirstFreePath(contentsOf(data), first, last, pathAt, error);
}

std::string NSData::writeToFirstFreePath(const ContentsWriter& write, long first, long last,
                                         const std::function<std::string(long)>& pathAt,
                                         NSErrorPtr* error) {
    const std::string firstPath = pathAt(first);
    const std::string temp = writeToTemporaryFile(write, firstPath, error);
    if (temp.empty())
        return "";
    // link(2) never replaces an entry, so no name is ever taken from another writer.
    int errnum = EEXIST;
    std::string path = firstPath;
    for (long n = first; n <= last; ++n) {
        path = pathAt(n);
        if (::link(temp.c_str(), path.c_str()) == 0) {
            ::unlink(temp.c_str());
            syncFolder(folderOf(path));
            return path;
        }
        errnum = errno;
        if (errnum != EEXIST)
            break;
    }
    ::unlink(temp.c_str());
    fail(error, errnum,
         errnum == EEXIST ? "Every name is taken in " + folderOf(firstPath)
                          : "Cannot write " + path);
    return "";
}

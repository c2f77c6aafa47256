#include "platform/Foundation/RegularFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <utility>

std::optional<RegularFile> RegularFile::open(const std::string& path, NSErrorPtr* error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        if (error)
            *error = NSError::posix(errno, "Cannot open " + path);
        return std::nullopt;
    }
    struct stat info {};
    const bool stated = ::fstat(fd, &info) == 0;
    if (!stated || !S_ISREG(info.st_mode)) {
        const int errnum = stated ? EINVAL : errno;
        ::close(fd);
        if (error)
            *error = NSError::posix(errnum, "Cannot open " + path + " as a regular file");
        return std::nullopt;
    }
    return RegularFile(fd, static_cast<uint64_t>(info.st_size));
}

RegularFile::RegularFile(RegularFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), size_(other.size_) {}

RegularFile& RegularFile::operator=(RegularFile&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
        size_ = other.size_;
    }
    return *this;
}

RegularFile::~RegularFile() {
    if (fd_ >= 0)
        ::close(fd_);
}

bool RegularFile::read(uint64_t offset, void* into, size_t length) const {
    auto* bytes = static_cast<uint8_t*>(into);
    while (length > 0) {
        const ssize_t n = ::pread(fd_, bytes, length, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        bytes += n;
        offset += static_cast<uint64_t>(n);
        length -= static_cast<size_t>(n);
    }
    return true;
}

std::optional<Data> RegularFile::contents() const {
    Data bytes(static_cast<size_t>(size_));
    if (!read(0, bytes.data(), bytes.size()))
        return std::nullopt;
    return bytes;
}

bool RegularFile::readPieces(
    size_t pieceSize, const std::function<bool(const uint8_t* bytes, size_t length)>& take) const {
    if (size_ == 0)
        return true;
    pieceSize = static_cast<size_t>(std::min<uint64_t>(pieceSize, size_));
    std::unique_ptr<uint8_t[]> piece(new uint8_t[pieceSize]);
    for (uint64_t offset = 0; offset < size_;) {
        const size_t length = static_cast<size_t>(std::min<uint64_t>(pieceSize, size_ - offset));
        if (!read(offset, piece.get(), length) || !take(piece.get(), length))
            return false;
        offset += length;
    }
    return true;
}

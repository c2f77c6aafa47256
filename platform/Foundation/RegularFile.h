#pragma once
// A file read as input that may not be what its name promises: opened without blocking (a named
// pipe or a device at the name never holds the caller in open), without following a symbolic
// link at its last component, and kept only when it is a regular file. Anything else is refused
// as a missing file is.
//
// Threads: a file is move-only; any thread may read it, several at once (reads carry their own
// offset).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/Foundation/NSError.h"
#include "platform/Foundation/Value.h"

class RegularFile {
  public:
    // nullopt, with *error (a POSIX error; EINVAL for a name that holds no regular file), when
    // `path` cannot be opened so.
    static std::optional<RegularFile> open(const std::string& path, NSErrorPtr* error = nullptr);

    RegularFile(RegularFile&& other) noexcept;
    RegularFile& operator=(RegularFile&& other) noexcept;
    RegularFile(const RegularFile&) = delete;
    RegularFile& operator=(const RegularFile&) = delete;
    ~RegularFile();

    int descriptor() const { return fd_; }
    // The size when it was opened.
    uint64_t size() const { return size_; }

    // Reads `length` bytes from `offset` into `into`; false when the file ends before them or a
    // read fails.
    bool read(uint64_t offset, void* into, size_t length) const;
    // The bytes up to the size it was opened with; nullopt when the file ends before or a read
    // fails.
    std::optional<Data> contents() const;
    // Hands the bytes up to the size it was opened with to `take`, in order, in pieces of
    // `pieceSize` bytes (the last one shorter), so that the file never has to be in memory whole.
    // False, with errno set, when a read fails or the file ends early, or as soon as `take`
    // returns false.
    bool readPieces(size_t pieceSize,
                    const std::function<bool(const uint8_t* bytes, size_t length)>& take) const;

  private:
    RegularFile(int fd, uint64_t size) : fd_(fd), size_(size) {}

    int fd_ = -1;
    uint64_t size_ = 0;
};

#pragma once
// Marks a file or folder immutable (even root cannot remove it, or change what is in a folder)
// for the scope's life: a thing that a removal in a test must fail to remove.

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <string>

class ImmutableFile {
  public:
    explicit ImmutableFile(const std::string& path) : path_(path) { set_ = change(true); }
    ~ImmutableFile() {
        if (set_)
            change(false);
    }
    ImmutableFile(const ImmutableFile&) = delete;
    ImmutableFile& operator=(const ImmutableFile&) = delete;
    // False where the file system has no such attribute or the process may not set it.
    explicit operator bool() const { return set_; }

  private:
    bool change(bool on) const {
        int fd = ::open(path_.c_str(), O_RDONLY);
        if (fd < 0)
            return false;
        int flags = 0;
        bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
        done = done && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        ::close(fd);
        return done;
    }
    std::string path_;
    bool set_ = false;
};

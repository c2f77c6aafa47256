#include "platform/Device/DeviceHome.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <regex>

#include "platform/Foundation/NSData.h"
#include "platform/Foundation/NSFileManager.h"
#include "platform/Foundation/NSPathUtilities.h"
#include "platform/Foundation/NSString.h"

namespace {

std::string inHome(const char* folder) {
    return stringByAppendingPathComponent(NSHomeDirectory(), folder);
}

// The home this process holds, and the open folders that hold it and its Documents folder.
struct HeldHome {
    std::string path;
    int fd = -1;
    int documentsFd = -1;
};
HeldHome held;

// Opens `folder` and takes its lock: the open descriptor, or -1 with *error (`inUse` as its
// description when another process holds the lock).
int lockFolder(const std::string& folder, const std::string& name, const std::string& inUse,
               NSErrorPtr* error) {
    // The folder itself, not a file in it: no other process can delete or replace it while it is
    // held open here. A link is followed, so that the folder it leads to is what is locked.
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        if (error)
            *error = NSError::posix(errno, "Cannot open the " + name + " " + folder);
        return -1;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int errnum = errno;
        ::close(fd);
        if (error) {
            *error = errnum == EWOULDBLOCK
                         ? NSError::make(NSPOSIXErrorDomain, errnum, inUse)
                         : NSError::posix(errnum, "Cannot lock the " + name + " " + folder);
        }
        return -1;
    }
    return fd;
}

bool holdHome(const std::string& path, NSErrorPtr* error) {
    if (held.fd >= 0 && held.path == path)
        return true;
    const NSFileManager& files = NSFileManager::defaultManager();
    if (!files.createDirectoryAtPath(path, true, error))
        return false;
    int fd = lockFolder(path, "home folder",
                        "The home folder " + path +
                            " is in use by another process; one process at a time can use a "
                            "home folder.",
                        error);
    if (fd < 0)
        return false;
    // Two homes may lead to one Documents folder through a link: it is locked as well, so that
    // two processes never number and store recordings in one folder.
    const std::string documents = stringByAppendingPathComponent(path, "Documents");
    int documentsFd = -1;
    if (files.createDirectoryAtPath(documents, true, error)) {
        std::error_code ec;
        std::string resolved = std::filesystem::canonical(documents, ec);
        documentsFd =
            lockFolder(documents, "Documents folder",
                       "The Documents folder " + documents +
                           (ec || resolved == documents ? "" : " (" + resolved + ")") +
                           " is in use by another process; one process at a time can use a "
                           "Documents folder.",
                       error);
    }
    if (documentsFd < 0) {
        ::close(fd);
        return false;
    }
    if (held.fd >= 0) {
        ::close(held.fd);
        ::close(held.documentsFd);
    }
    held = {path, fd, documentsFd};
    return true;
}

bool isEmptyFile(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size == 0;
}

// A numbered name the program gives a file (Video_0001, IMG_0001.MOV, Message_0001.eml).
bool isNumberedName(const std::string& name) {
    static const std::regex numbered("[A-Za-z]+_[0-9]{4,}(\\.[A-Za-z0-9]+)?");
    return std::regex_match(name, numbered);
}

// A write cut off by the end of a process leaves its temporary file, and older versions left
// beside it the empty file that reserved its numbered name. Only these go, and only as plain
// files: a person's files of like names (a "clip.part", ".tilvex-settings.json", an empty file
// under another name) and every folder stay.
void removeLeftovers(const std::string& folder) {
    const NSFileManager& files = NSFileManager::defaultManager();
    for (const std::string& name :
         files.contentsOfDirectoryAtPath(folder).value_or(std::vector<std::string>{})) {
        std::string reserved;
        if (!NSData::isTemporaryFileName(name, &reserved))
            continue;
        if (!files.removePlainFileAtPath(stringByAppendingPathComponent(folder, name)))
            continue;
        const std::string reservedPath = stringByAppendingPathComponent(folder, reserved);
        if (isNumberedName(reserved) && isEmptyFile(reservedPath))
            files.removePlainFileAtPath(reservedPath);
    }
}

}  // namespace

const std::vector<std::string>& DeviceHome::folders() {
    static const std::vector<std::string> names = {
        "Documents",   "Library/Preferences", "Library/Cookies",
        "Mail/Outbox", "Mail/Drafts",         "Media/DCIM",
        "tmp",
    };
    return names;
}

bool DeviceHome::prepare(const std::string& path, NSErrorPtr* error) {
    // The lock comes first: a second process touches nothing, and leftovers are only removed
    // where no other process can be writing.
    if (!holdHome(path, error))
        return false;
    const NSFileManager& files = NSFileManager::defaultManager();
    for (const std::string& folder : folders()) {
        if (!files.createDirectoryAtPath(stringByAppendingPathComponent(path, folder), true, error))
            return false;
    }
    // Library itself holds a file too (the device's identifier).
    removeLeftovers(stringByAppendingPathComponent(path, "Library"));
    for (const std::string& folder : folders())
        removeLeftovers(stringByAppendingPathComponent(path, folder));
    NSSetHomeDirectory(path);
    return true;
}

std::string DeviceHome::path() {
    return NSHomeDirectory();
}
std::string DeviceHome::documents() {
    return inHome("Documents");
}
std::string DeviceHome::preferences() {
    return inHome("Library/Preferences");
}
std::string DeviceHome::cookies() {
    return inHome("Library/Cookies");
}
std::string DeviceHome::outbox() {
    return inHome("Mail/Outbox");
}

std::string DeviceHome::drafts() {
    return inHome("Mail/Drafts");
}
std::string DeviceHome::photoAlbum() {
    return inHome("Media/DCIM");
}
std::string DeviceHome::tmp() {
    return inHome("tmp");
}

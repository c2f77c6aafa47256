#pragma once
// The application's home folder, the phone's sandbox: Documents/, Library/Preferences/ (user
// defaults), Library/Cookies/, Mail/Outbox/ (the mail composer's messages), Mail/Drafts/ (the
// drafts it saves), Media/DCIM/ (the photo album) and tmp/.
//
// One process holds a home at a time: an advisory lock (flock) on the home folder itself, and
// one on the Documents folder it leads to (a link may make two homes share one), which the kernel
// releases when the process ends (a killed process never blocks the next one).
//
// Threads: any thread; prepare the home at start-up, before anything uses it.

#include <string>
#include <vector>

#include "platform/Foundation/NSError.h"

class DeviceHome {
  public:
    // The folders of a home, relative to it, in the order they are made.
    static const std::vector<std::string>& folders();

    // Takes `path` for this process (held until the process ends or prepares another home),
    // makes its folders where missing (what is there is kept), removes from them the leftovers
    // of writes that the end of a process cut off (the program's own temporary files, plain
    // files that NSData::isTemporaryFileName knows, each with an empty file beside it under the
    // numbered name it was for, "Name_NNNN" with or without an extension; nothing else) and
    // makes it the process's home (NSSetHomeDirectory). False, with *error, when another
    // process holds the home or the Documents folder that it leads to (the error names the
    // folder; nothing in the home has been touched) or a folder cannot be made; the process's
    // home is then left as it was.
    static bool prepare(const std::string& path, NSErrorPtr* error = nullptr);

    // Paths in the current home (NSHomeDirectory()).
    static std::string path();
    static std::string documents();
    static std::string preferences();
    static std::string cookies();
    static std::string outbox();
    static std::string drafts();
    static std::string photoAlbum();
    static std::string tmp();
};

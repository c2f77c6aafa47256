#pragma once
// The application's home folder, the phone's sandbox: Documents/, Library/Preferences/ (user
// defaults), Library/Cookies/, Mail/Outbox/ (the mail composer's messages), Media/DCIM/ (the
// photo album) and tmp/.
//
// Threads: any thread; prepare the home at start-up, before anything uses it.

#include <string>
#include <vector>

#include "platform/Foundation/NSError.h"

class DeviceHome {
  public:
    // The folders of a home, relative to it, in the order they are made.
    static const std::vector<std::string>& folders();

    // Makes `path` and its folders where missing (what is there is kept) and makes it the
    // process's home (NSSetHomeDirectory). False, with *error, when a folder cannot be made;
    // the home is then left as it was.
    static bool prepare(const std::string& path, NSErrorPtr* error = nullptr);

    // Paths in the current home (NSHomeDirectory()).
    static std::string path();
    static std::string documents();
    static std::string preferences();
    static std::string cookies();
    static std::string outbox();
    static std::string photoAlbum();
    static std::string tmp();
};

#pragma once
// For tests of name lookup: a thread of its own that sees `hosts` as /etc/hosts, through a bind
// mount in a mount namespace made for that thread, so the machine's file is never touched.

#include <sched.h>
#include <sys/mount.h>

#include <fstream>
#include <functional>
#include <string>
#include <thread>

#include "tests/support/TemporaryFolder.h"

// Runs `body` on a new thread whose /etc/hosts reads `hosts` (threads it starts see the same).
// False, without running it, when no mount namespace can be made here (not root).
inline bool withOwnHostsFile(const std::string& hosts, const std::function<void()>& body) {
    TemporaryFolder folder;
    const std::string file = folder / "hosts";
    std::ofstream(file) << hosts;
    bool made = false;
    std::thread thread([&] {
        // Private first, so that the bind mount cannot propagate to the machine's namespace.
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount(file.c_str(), "/etc/hosts", nullptr, MS_BIND, nullptr) != 0)
            return;
        made = true;
        body();
    });
    thread.join();
    return made;
}

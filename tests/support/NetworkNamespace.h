#pragma once
// For tests that change interfaces and routes: a thread of their own inside a network namespace
// made for it, so the machine's real network is never touched.

#include <sched.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

// Runs `body` on a new thread inside a fresh network namespace (only loopback, down). False,
// without running it, when no namespace can be made here (not root, no kernel support).
inline bool inOwnNetworkNamespace(const std::function<void()>& body) {
    bool made = false;
    std::thread thread([&] {
        if (::unshare(CLONE_NEWNET) != 0)
            return;
        made = true;
        body();
    });
    thread.join();
    return made;
}

// Runs `ip` with each of `commands`; false at the first that fails (or when there is no ip).
// Only for use inside inOwnNetworkNamespace: the child process shares the calling thread's
// namespace.
inline bool runIp(const std::vector<std::string>& commands) {
    for (const auto& command : commands)
        if (std::system(("ip " + command + " >/dev/null 2>&1").c_str()) != 0)
            return false;
    return true;
}

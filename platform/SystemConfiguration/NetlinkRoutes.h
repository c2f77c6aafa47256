#pragma once
// The questions reachability asks the kernel over rtnetlink (NETLINK_ROUTE): the route to an
// address, the state of that route's interface, and change notifications.
//
// Threads: any thread; every call uses a socket of its own.

#include <netinet/in.h>

#include <optional>

#include "platform/SystemConfiguration/SCNetworkReachability.h"

class NetlinkRoutes {
  public:
    NetlinkRoutes() = delete;

    // The flags of `address` by the rules of SCNetworkReachability.h (0.0.0.0: the default
    // route); nullopt when the kernel cannot be asked. No route is not a failure: it gives 0.
    static std::optional<SCNetworkReachabilityFlags> flagsForAddress(in_addr address);

    // A non-blocking socket subscribed to link, IPv4 address and IPv4 route changes, or -1.
    static int openChangeSocket();
    // Reads away every message waiting on a change socket (their content does not matter: the
    // flags are read again afterwards).
    static void drainChangeSocket(int fd);
};

#pragma once
// Network reachability of a host name or an IPv4 address, read from the kernel's routing tables
// over rtnetlink, and a change callback on a run loop.
//
// Flags of a target: Reachable when a route to the address exists over an interface that is up
// and has carrier; IsDirect when that route has no gateway (the address is on the local link,
// or on this machine); IsWWAN when that interface is a cellular modem (its DEVTYPE is wwan).
// ConnectionRequired is never set here. The address 0.0.0.0 stands for the default route: the
// default route of the main table with the lowest metric whose interface is up with carrier.
// A host name is resolved (IPv4) at each read; a name that does not resolve is not reachable.
//
// Threads: creating and reading flags from any thread. A target is scheduled on one loop and
// unscheduled on that loop's thread; its callback runs there.

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class NSRunLoop;

using SCNetworkReachabilityFlags = uint32_t;

enum : SCNetworkReachabilityFlags {
    kSCNetworkReachabilityFlagsReachable = 1u << 1,
    kSCNetworkReachabilityFlagsConnectionRequired = 1u << 2,
    kSCNetworkReachabilityFlagsIsDirect = 1u << 17,
    kSCNetworkReachabilityFlagsIsWWAN = 1u << 18,
};

// A reachability target; opaque, released with its last reference (which unschedules it).
class SCNetworkReachability;
using SCNetworkReachabilityRef = std::shared_ptr<SCNetworkReachability>;

// Receives the target, its new flags and the context's `info`.
using SCNetworkReachabilityCallBack = void (*)(SCNetworkReachability* target,
                                               SCNetworkReachabilityFlags flags, void* info);

// `version` must be 0. `info` is handed to the callback as it is; the target does not own it.
struct SCNetworkReachabilityContext {
    long version = 0;
    void* info = nullptr;
};

// Null for a null name.
SCNetworkReachabilityRef SCNetworkReachabilityCreateWithName(const char* nodename);
// Null for a null address or one that is not AF_INET; port and padding are ignored.
SCNetworkReachabilityRef SCNetworkReachabilityCreateWithAddress(const sockaddr* address);

// Fills `flags` and answers true, or answers false when they cannot be read (no target, or the
// kernel cannot be asked).
bool SCNetworkReachabilityGetFlags(const SCNetworkReachabilityRef& target,
                                   SCNetworkReachabilityFlags* flags);

// Sets (or, with a null callback, clears) the change callback. False without a target or with a
// context whose version is not 0; nothing changes then.
bool SCNetworkReachabilitySetCallback(const SCNetworkReachabilityRef& target,
                                      SCNetworkReachabilityCallBack callback,
                                      const SCNetworkReachabilityContext* context);

// Listens for link, address and route changes on `loop` (a netlink socket as a descriptor
// source). After each batch of changes the flags are read again, and the callback, if any, is
// called when they differ from the last flags seen (those at scheduling first). False without a
// target, when the target is already scheduled, or when the socket cannot be opened.
bool SCNetworkReachabilityScheduleWithRunLoop(const SCNetworkReachabilityRef& target,
                                              const std::shared_ptr<NSRunLoop>& loop);
// Stops listening. False without a target or when it is not scheduled on `loop`.
bool SCNetworkReachabilityUnscheduleFromRunLoop(const SCNetworkReachabilityRef& target,
                                                const std::shared_ptr<NSRunLoop>& loop);

// Tests may stand in for the kernel as the source of an address's flags (nullopt: cannot be
// read); an empty function puts rtnetlink back. Change callbacks still come from rtnetlink.
using SCNetworkReachabilityFlagsSource =
    std::function<std::optional<SCNetworkReachabilityFlags>(in_addr address)>;
void SCNetworkReachabilitySetFlagsSourceForTesting(SCNetworkReachabilityFlagsSource source);

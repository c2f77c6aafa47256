#pragma once
// The analytics library's reachability wrapper. Class queries answer, at once, whether a host
// name, an IPv4 address, the internet (the default route, 0.0.0.0) or the link-local network
// (169.254.0.0) can be reached and over which kind of link; an instance is a notifier that,
// once started, posts kNetworkReachabilityChangedNotification (object: the notifier) whenever
// the platform reports a change for its target.
//
// Flags that cannot be read count as NetworkStatusNotReachable. A missing argument, a target
// the platform cannot make in a query, and a notifier without target asked for its status are
// programming errors, raised through the assertion handler.
//
// Threads: queries on any thread. A notifier is started, stopped and destroyed on the thread
// whose run loop is to carry its notifications (destruction stops it).

#include <netinet/in.h>

#include <memory>
#include <optional>
#include <string>

#include "platform/Foundation/NSObject.h"
#include "platform/SystemConfiguration/SCNetworkReachability.h"

enum NetworkStatus : int {
    NetworkStatusNotReachable = 0,
    NetworkStatusViaCarrier = 1,
    NetworkStatusViaWiFi = 2,
};

inline constexpr const char* kNetworkReachabilityChangedNotification =
    "kNetworkReachabilityChangedNotification";

class RQReachability : public NSObject {
  public:
    // Network rule: not reachable, or reachable only after a connection is set up, is
    // NotReachable; a cellular link is ViaCarrier (connection required or not); else ViaWiFi.
    static NetworkStatus networkStatusForFlags(SCNetworkReachabilityFlags flags);
    // Link-local rule: ViaWiFi when reachable directly, else NotReachable; never ViaCarrier.
    static NetworkStatus bounjourStatusForFlags(SCNetworkReachabilityFlags flags);

    // Each query makes a target, reads its flags once and lets it go.
    static NetworkStatus remoteHostStatusWithName(const std::optional<std::string>& hostName);
    static NetworkStatus remoteHostStatusWithAddress(const sockaddr_in* hostAddress);
    static NetworkStatus internetConnectionStatus();
    static NetworkStatus localBonjourConnectionStatus();

    // Notifiers. They never fail: when the platform cannot make the target (a missing name or
    // address) the notifier has none; it then cannot start and must not be asked its status.
    static std::shared_ptr<RQReachability> initNotifierWithHostName(
        const std::optional<std::string>& hostName);
    static std::shared_ptr<RQReachability> initNotifierWithAddress(const sockaddr_in* hostAddress);
    static std::shared_ptr<RQReachability> initInternetConnectionStatusNotifier();
    // Answers networkStatus by the link-local rule.
    static std::shared_ptr<RQReachability> initLocalBonjourConnectionNotifier();

    // Registers the change callback and schedules the target on the current thread's run loop.
    // False, without scheduling, when the callback cannot be registered (no target); false when
    // scheduling fails (already started, no netlink socket).
    bool startNotifer();
    // Unschedules from the current thread's run loop; harmless when not started.
    void stopNotifer();
    // The target's status now, by the notifier's rule.
    NetworkStatus networkStatus() const;

    ~RQReachability() override;

  private:
    RQReachability(SCNetworkReachabilityRef target, bool bonjour)
        : bonjourRef_(bonjour), reachabilityRef_(std::move(target)) {}

    bool bonjourRef_ = false;
    SCNetworkReachabilityRef reachabilityRef_;  // owned; null when the platform made none
};

// The change callback that startNotifer registers: posts the notification for the notifier
// that `info` points to (as an NSObject). A null `info`, or one that is not an RQReachability,
// raises through the assertion handler.
void ReachabilityCallback(SCNetworkReachability* target, SCNetworkReachabilityFlags flags,
                          void* info);

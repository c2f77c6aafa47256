#include "analytics/Classes/RQReachability.h"

#include <arpa/inet.h>

#include "platform/Foundation/NSException.h"
#include "platform/Foundation/NSNotificationCenter.h"
#include "platform/Foundation/NSRunLoop.h"

namespace {

sockaddr_in addressOf(in_addr_t hostOrder) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(hostOrder);
    return address;
}

const sockaddr* asSockaddr(const sockaddr_in* address) {
    return reinterpret_cast<const sockaddr*>(address);
}

constexpr in_addr_t kLinkLocalNetwork = 0xA9FE0000;  // 169.254.0.0

// The flags of `target`, or none (0) when they cannot be read.
SCNetworkReachabilityFlags readFlags(const SCNetworkReachabilityRef& target) {
    SCNetworkReachabilityFlags flags = 0;
    return SCNetworkReachabilityGetFlags(target, &flags) ? flags : 0;
}

}  // namespace

NetworkStatus RQReachability::networkStatusForFlags(SCNetworkReachabilityFlags flags) {
    if (!(flags & kSCNetworkReachabilityFlagsReachable))
        return NetworkStatusNotReachable;
    if (flags & kSCNetworkReachabilityFlagsIsWWAN)
        return NetworkStatusViaCarrier;
    if (flags & kSCNetworkReachabilityFlagsConnectionRequired)
        return NetworkStatusNotReachable;
    return NetworkStatusViaWiFi;
}

NetworkStatus RQReachability::bounjourStatusForFlags(SCNetworkReachabilityFlags flags) {
    const SCNetworkReachabilityFlags direct =
        kSCNetworkReachabilityFlagsReachable | kSCNetworkReachabilityFlagsIsDirect;
    return (flags & direct) == direct ? NetworkStatusViaWiFi : NetworkStatusNotReachable;
}

NetworkStatus RQReachability::remoteHostStatusWithName(const std::optional<std::string>& hostName) {
    NSAssert(hostName.has_value(), "Invalid parameter not satisfying: hostName!=NULL");
    auto target = SCNetworkReachabilityCreateWithName(hostName->c_str());
    NSAssert(target != nullptr, "SCNetworkReachabilityCreateWithName failed");
    return networkStatusForFlags(readFlags(target));
}

NetworkStatus RQReachability::remoteHostStatusWithAddress(const sockaddr_in* hostAddress) {
    NSAssert(hostAddress != nullptr, "Invalid parameter not satisfying: hostAddress!=NULL");
    auto target = SCNetworkReachabilityCreateWithAddress(asSockaddr(hostAddress));
    NSAssert(target != nullptr, "SCNetworkReachabilityCreateWithAddress failed");
    return networkStatusForFlags(readFlags(target));
}

NetworkStatus RQReachability::internetConnectionStatus() {
    const sockaddr_in anyAddress = addressOf(INADDR_ANY);
    return remoteHostStatusWithAddress(&anyAddress);
}

NetworkStatus RQReachability::localBonjourConnectionStatus() {
    const sockaddr_in linkLocal = addressOf(kLinkLocalNetwork);
    auto target = SCNetworkReachabilityCreateWithAddress(asSockaddr(&linkLocal));
    NSAssert(target != nullptr, "SCNetworkReachabilityCreateWithAddress failed");
    return bounjourStatusForFlags(readFlags(target));
}

std::shared_ptr<RQReachability> RQReachability::initNotifierWithHostName(
    const std::optional<std::string>& hostName) {
    auto target = SCNetworkReachabilityCreateWithName(hostName ? hostName->c_str() : nullptr);
    return std::shared_ptr<RQReachability>(new RQReachability(std::move(target), false));
}

std::shared_ptr<RQReachability> RQReachability::initNotifierWithAddress(
    const sockaddr_in* hostAddress) {
    auto target = SCNetworkReachabilityCreateWithAddress(asSockaddr(hostAddress));
    return std::shared_ptr<RQReachability>(new RQReachability(std::move(target), false));
}

std::shared_ptr<RQReachability> RQReachability::initInternetConnectionStatusNotifier() {
    const sockaddr_in anyAddress = addressOf(INADDR_ANY);
    return initNotifierWithAddress(&anyAddress);
}

std::shared_ptr<RQReachability> RQReachability::initLocalBonjourConnectionNotifier() {
    const sockaddr_in linkLocal = addressOf(kLinkLocalNetwork);
    auto notifier = initNotifierWithAddress(&linkLocal);
    notifier->bonjourRef_ = true;
    return notifier;
}

bool RQReachability::startNotifer() {
    // The platform does not own the notifier: stopping (at the latest in the destructor)
    // unschedules the target before the notifier goes.
    SCNetworkReachabilityContext context{0, static_cast<NSObject*>(this)};
    if (!SCNetworkReachabilitySetCallback(reachabilityRef_, &ReachabilityCallback, &context))
        return false;
    return SCNetworkReachabilityScheduleWithRunLoop(reachabilityRef_, NSRunLoop::currentRunLoop());
}

void RQReachability::stopNotifer() {
    if (reachabilityRef_)
        SCNetworkReachabilityUnscheduleFromRunLoop(reachabilityRef_, NSRunLoop::currentRunLoop());
}

NetworkStatus RQReachability::networkStatus() const {
    NSAssert(reachabilityRef_ != nullptr, "currentNetworkStatus called with NULL reachabilityRef");
    const SCNetworkReachabilityFlags flags = readFlags(reachabilityRef_);
    return bonjourRef_ ? bounjourStatusForFlags(flags) : networkStatusForFlags(flags);
}

RQReachability::~RQReachability() {
    stopNotifer();
}

void ReachabilityCallback(SCNetworkReachability* /*target*/, SCNetworkReachabilityFlags /*flags*/,
                          void* info) {
    NSAssert(info != nullptr, "info was NULL in ReachabilityCallback");
    auto* notifier = dynamic_cast<RQReachability*>(static_cast<NSObject*>(info));
    NSAssert(notifier != nullptr, "info was wrong class in ReachabilityCallback");
    // Observers ask the notifier for its status; the flags are not passed on.
    NSNotificationCenter::defaultCenter().postNotificationName(
        kNetworkReachabilityChangedNotification, retained(notifier));
}

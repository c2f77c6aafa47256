#include "platform/SystemConfiguration/SCNetworkReachability.h"

#include <netdb.h>
#include <poll.h>
#include <unistd.h>

#include <mutex>
#include <string>

#include "platform/Foundation/NSObject.h"
#include "platform/Foundation/NSRunLoop.h"
#include "platform/Foundation/NSURL.h"
#include "platform/SystemConfiguration/NetlinkRoutes.h"

namespace {

std::mutex gSourceMutex;
SCNetworkReachabilityFlagsSource gSource;

std::optional<SCNetworkReachabilityFlags> flagsForAddress(in_addr address) {
    SCNetworkReachabilityFlagsSource source;
    {
        std::lock_guard lock(gSourceMutex);
        source = gSource;
    }
    return source ? source(address) : NetlinkRoutes::flagsForAddress(address);
}

}  // namespace

class SCNetworkReachability : public NSObject {
  public:
    explicit SCNetworkReachability(in_addr address) : address_(address) {}
    explicit SCNetworkReachability(std::string name) : name_(std::move(name)) {}
    ~SCNetworkReachability() override { unschedule(); }

    std::optional<SCNetworkReachabilityFlags> flags() const {
        if (!name_)
            return flagsForAddress(address_);
        if (hostNeverResolves(*name_))
            return 0;
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        if (::getaddrinfo(name_->c_str(), nullptr, &hints, &found) != 0 || !found)
            return 0;  // a name that does not resolve cannot be reached
        in_addr address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
        ::freeaddrinfo(found);
        return flagsForAddress(address);
    }

    void setCallback(SCNetworkReachabilityCallBack callback, void* info) {
        callback_ = callback;
        info_ = info;
    }

    bool schedule(const std::shared_ptr<NSRunLoop>& loop) {
        if (loop_)
            return false;
        int fd = NetlinkRoutes::openChangeSocket();
        if (fd < 0)
            return false;
        changeFd_ = fd;
        loop_ = loop;
        lastFlags_ = flags();
        std::weak_ptr<SCNetworkReachability> weak = retained(this);
        source_ = loop->addFileDescriptor(fd, POLLIN, [weak](short) {
            if (auto target = weak.lock())
                target->changed();
        });
        return true;
    }

    bool isScheduledOn(const std::shared_ptr<NSRunLoop>& loop) const {
        return loop_ && loop_ == loop;
    }

    void unschedule() {
        if (!loop_)
            return;
        source_.reset();
        ::close(changeFd_);
        changeFd_ = -1;
        loop_.reset();
    }

  private:
    void changed() {
        NetlinkRoutes::drainChangeSocket(changeFd_);
        auto keep = retained(this);  // the callback may drop the last reference
        std::optional<SCNetworkReachabilityFlags> now = flags();
        if (now == lastFlags_)
            return;
        lastFlags_ = now;
        if (callback_)
            callback_(this, now.value_or(0), info_);
    }

    std::optional<std::string> name_;
    in_addr address_{};
    SCNetworkReachabilityCallBack callback_ = nullptr;
    void* info_ = nullptr;
    std::shared_ptr<NSRunLoop> loop_;
    NSRunLoop::FileDescriptorSource source_;
    int changeFd_ = -1;
    std::optional<SCNetworkReachabilityFlags> lastFlags_;
};

SCNetworkReachabilityRef SCNetworkReachabilityCreateWithName(const char* nodename) {
    if (!nodename)
        return nullptr;
    return std::make_shared<SCNetworkReachability>(std::string(nodename));
}

SCNetworkReachabilityRef SCNetworkReachabilityCreateWithAddress(const sockaddr* address) {
    if (!address || address->sa_family != AF_INET)
        return nullptr;
    return std::make_shared<SCNetworkReachability>(
        reinterpret_cast<const sockaddr_in*>(address)->sin_addr);
}

bool SCNetworkReachabilityGetFlags(const SCNetworkReachabilityRef& target,
                                   SCNetworkReachabilityFlags* flags) {
    if (!target || !flags)
        return false;
    std::optional<SCNetworkReachabilityFlags> read = target->flags();
    if (!read)
        return false;
    *flags = *read;
    return true;
}

bool SCNetworkReachabilitySetCallback(const SCNetworkReachabilityRef& target,
                                      SCNetworkReachabilityCallBack callback,
                                      const SCNetworkReachabilityContext* context) {
    if (!target || (context && context->version != 0))
        return false;
    target->setCallback(callback, callback && context ? context->info : nullptr);
    return true;
}

bool SCNetworkReachabilityScheduleWithRunLoop(const SCNetworkReachabilityRef& target,
                                              const std::shared_ptr<NSRunLoop>& loop) {
    return target && loop && target->schedule(loop);
}

bool SCNetworkReachabilityUnscheduleFromRunLoop(const SCNetworkReachabilityRef& target,
                                                const std::shared_ptr<NSRunLoop>& loop) {
    if (!target || !target->isScheduledOn(loop))
        return false;
    target->unschedule();
    return true;
}

void SCNetworkReachabilitySetFlagsSourceForTesting(SCNetworkReachabilityFlagsSource source) {
    std::lock_guard lock(gSourceMutex);
    gSource = std::move(source);
}

#include "platform/SystemConfiguration/NetlinkRoutes.h"

#include <linux/if.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

// One route's way out: its interface and whether it goes through a gateway.
struct Route {
    uint32_t priority = 0;
    int interfaceIndex = 0;
    bool viaGateway = false;
};

struct Link {
    unsigned flags = 0;
    std::string name;
};

std::atomic<uint32_t> gSequence{1};

// A request socket, closed with the object. `failed` is set by any exchange that could not be
// completed, so the caller can tell "no route" from "could not ask".
class RouteSocket {
  public:
    RouteSocket() {
        fd_ = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
        sockaddr_nl local{};
        local.nl_family = AF_NETLINK;
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0)
            failed = true;
    }
    ~RouteSocket() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    RouteSocket(const RouteSocket&) = delete;
    RouteSocket& operator=(const RouteSocket&) = delete;

    bool failed = false;

    // Sends `request` and hands every answer message to `each`. Answers 0, or the kernel's
    // errno when it refused the request; sets `failed` (and answers -1) when the exchange broke.
    int exchange(nlmsghdr* request, const std::function<void(const nlmsghdr&)>& each) {
        if (failed)
            return -1;
        const uint32_t sequence = gSequence++;
        request->nlmsg_seq = sequence;
        sockaddr_nl kernel{};
        kernel.nl_family = AF_NETLINK;
        if (::sendto(fd_, request, request->nlmsg_len, 0, reinterpret_cast<sockaddr*>(&kernel),
                     sizeof kernel) < 0)
            return fail();
        const bool dump = request->nlmsg_flags & NLM_F_DUMP;
        std::vector<char> buffer(32768);
        for (;;) {
            ssize_t n = ::recv(fd_, buffer.data(), buffer.size(), 0);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return fail();
            size_t left = static_cast<size_t>(n);
            for (auto* h = reinterpret_cast<nlmsghdr*>(buffer.data()); NLMSG_OK(h, left);
                 h = NLMSG_NEXT(h, left)) {
                if (h->nlmsg_seq != sequence)
                    continue;
                if (h->nlmsg_type == NLMSG_DONE)
                    return 0;
                if (h->nlmsg_type == NLMSG_ERROR) {
                    const auto* error = static_cast<const nlmsgerr*>(NLMSG_DATA(h));
                    return -error->error;  // 0 is an acknowledgement
                }
                each(*h);
                if (!dump)
                    return 0;
            }
        }
    }

  private:
    int fail() {
        failed = true;
        return -1;
    }
    int fd_ = -1;
};

struct RouteRequest {
    nlmsghdr header;
    rtmsg route;
    char attributes[64];
};

void addAttribute(nlmsghdr* h, unsigned short type, const void* data, size_t size) {
    auto* attribute =
        reinterpret_cast<rtattr*>(reinterpret_cast<char*>(h) + NLMSG_ALIGN(h->nlmsg_len));
    attribute->rta_type = type;
    attribute->rta_len = static_cast<unsigned short>(RTA_LENGTH(size));
    std::memcpy(RTA_DATA(attribute), data, size);
    h->nlmsg_len = NLMSG_ALIGN(h->nlmsg_len) + RTA_ALIGN(attribute->rta_len);
}

Route readRoute(const nlmsghdr& h, uint32_t* table) {
    const auto* message = static_cast<const rtmsg*>(NLMSG_DATA(&h));
    Route route;
    *table = message->rtm_table;
    int left = static_cast<int>(RTM_PAYLOAD(&h));
    for (auto* a = RTM_RTA(message); RTA_OK(a, left); a = RTA_NEXT(a, left)) {
        switch (a->rta_type) {
            case RTA_OIF:
                route.interfaceIndex = *static_cast<const int*>(RTA_DATA(a));
                break;
            case RTA_GATEWAY:
                route.viaGateway = true;
                break;
            case RTA_PRIORITY:
                route.priority = *static_cast<const uint32_t*>(RTA_DATA(a));
                break;
            case RTA_TABLE:
                *table = *static_cast<const uint32_t*>(RTA_DATA(a));
                break;
            case RTA_MULTIPATH: {
                // The first next hop stands for the route.
                const auto* hop = static_cast<const rtnexthop*>(RTA_DATA(a));
                if (RTA_PAYLOAD(a) < sizeof(rtnexthop))
                    break;
                route.interfaceIndex = hop->rtnh_ifindex;
                int hopLeft = hop->rtnh_len - static_cast<int>(sizeof(rtnexthop));
                for (auto* ha = RTNH_DATA(hop); RTA_OK(ha, hopLeft); ha = RTA_NEXT(ha, hopLeft))
                    if (ha->rta_type == RTA_GATEWAY)
                        route.viaGateway = true;
                break;
            }
            default:
                break;
        }
    }
    return route;
}

// The route the kernel would take to `address`; none when it has no usable one.
std::vector<Route> routeTo(RouteSocket& socket, in_addr address) {
    RouteRequest request{};
    request.header.nlmsg_len = NLMSG_LENGTH(sizeof(rtmsg));
    request.header.nlmsg_type = RTM_GETROUTE;
    request.header.nlmsg_flags = NLM_F_REQUEST;
    request.route.rtm_family = AF_INET;
    request.route.rtm_dst_len = 32;
    addAttribute(&request.header, RTA_DST, &address, sizeof address);
    std::vector<Route> routes;
    // A refusal (no route, unreachable, prohibited) simply leaves none.
    socket.exchange(&request.header, [&](const nlmsghdr& h) {
        uint32_t table = 0;
        if (h.nlmsg_type == RTM_NEWROUTE)
            routes.push_back(readRoute(h, &table));
    });
    return routes;
}

// The default routes of the main table, lowest metric first.
std::vector<Route> defaultRoutes(RouteSocket& socket) {
    RouteRequest request{};
    request.header.nlmsg_len = NLMSG_LENGTH(sizeof(rtmsg));
    request.header.nlmsg_type = RTM_GETROUTE;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.route.rtm_family = AF_INET;
    std::vector<Route> routes;
    if (socket.exchange(&request.header, [&](const nlmsghdr& h) {
            if (h.nlmsg_type != RTM_NEWROUTE)
                return;
            const auto* message = static_cast<const rtmsg*>(NLMSG_DATA(&h));
            uint32_t table = 0;
            Route route = readRoute(h, &table);
            if (message->rtm_dst_len == 0 && message->rtm_type == RTN_UNICAST &&
                table == RT_TABLE_MAIN)
                routes.push_back(route);
        }) != 0)
        socket.failed = true;  // a dump that the kernel refuses is a failure to ask
    std::stable_sort(routes.begin(), routes.end(),
                     [](const Route& a, const Route& b) { return a.priority < b.priority; });
    return routes;
}

std::optional<Link> linkOf(RouteSocket& socket, int interfaceIndex) {
    struct {
        nlmsghdr header;
        ifinfomsg link;
    } request{};
    request.header.nlmsg_len = NLMSG_LENGTH(sizeof(ifinfomsg));
    request.header.nlmsg_type = RTM_GETLINK;
    request.header.nlmsg_flags = NLM_F_REQUEST;
    request.link.ifi_family = AF_UNSPEC;
    request.link.ifi_index = interfaceIndex;
    std::optional<Link> found;
    socket.exchange(&request.header, [&](const nlmsghdr& h) {
        if (h.nlmsg_type != RTM_NEWLINK)
            return;
        const auto* message = static_cast<const ifinfomsg*>(NLMSG_DATA(&h));
        Link link;
        link.flags = message->ifi_flags;
        int left = static_cast<int>(IFLA_PAYLOAD(&h));
        for (auto* a = IFLA_RTA(message); RTA_OK(a, left); a = RTA_NEXT(a, left))
            if (a->rta_type == IFLA_IFNAME)
                link.name = static_cast<const char*>(RTA_DATA(a));
        found = link;
    });
    return found;
}

// A cellular modem announces itself as DEVTYPE=wwan in its uevent.
bool isCellular(const std::string& interfaceName) {
    if (interfaceName.empty() || interfaceName.find('/') != std::string::npos)
        return false;
    std::ifstream uevent("/sys/class/net/" + interfaceName + "/uevent");
    for (std::string line; std::getline(uevent, line);)
        if (line == "DEVTYPE=wwan")
            return true;
    return false;
}

}  // namespace

std::optional<SCNetworkReachabilityFlags> NetlinkRoutes::flagsForAddress(in_addr address) {
    RouteSocket socket;
    const std::vector<Route> routes =
        address.s_addr == INADDR_ANY ? defaultRoutes(socket) : routeTo(socket, address);
    SCNetworkReachabilityFlags flags = 0;
    for (const Route& route : routes) {
        std::optional<Link> link = linkOf(socket, route.interfaceIndex);
        if (!link || !(link->flags & IFF_UP) || !(link->flags & IFF_LOWER_UP))
            continue;
        flags = kSCNetworkReachabilityFlagsReachable;
        if (!route.viaGateway)
            flags |= kSCNetworkReachabilityFlagsIsDirect;
        if (isCellular(link->name))
            flags |= kSCNetworkReachabilityFlagsIsWWAN;
        break;
    }
    if (socket.failed)
        return std::nullopt;
    return flags;
}

int NetlinkRoutes::openChangeSocket() {
    int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
    if (fd < 0)
        return -1;
    sockaddr_nl local{};
    local.nl_family = AF_NETLINK;
    local.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV4_ROUTE;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void NetlinkRoutes::drainChangeSocket(int fd) {
    char buffer[8192];
    // Also past ENOBUFS (messages were lost): the flags are read afresh anyway.
    for (;;) {
        ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n > 0 || (n < 0 && (errno == EINTR || errno == ENOBUFS)))
            continue;
        return;
    }
}

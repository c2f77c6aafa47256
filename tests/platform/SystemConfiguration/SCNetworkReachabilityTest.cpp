// CTest labels: threads

#include "platform/SystemConfiguration/SCNetworkReachability.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/Foundation/NSRunLoop.h"
#include "tests/support/HostsFile.h"
#include "tests/support/NetworkNamespace.h"

namespace {

constexpr SCNetworkReachabilityFlags kReachable = kSCNetworkReachabilityFlagsReachable;
constexpr SCNetworkReachabilityFlags kDirect =
    kSCNetworkReachabilityFlagsReachable | kSCNetworkReachabilityFlagsIsDirect;

sockaddr_in addressOf(const char* text) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    inet_pton(AF_INET, text, &address.sin_addr);
    return address;
}

SCNetworkReachabilityRef targetFor(const char* text) {
    sockaddr_in address = addressOf(text);
    return SCNetworkReachabilityCreateWithAddress(reinterpret_cast<sockaddr*>(&address));
}

std::optional<SCNetworkReachabilityFlags> flagsOf(const SCNetworkReachabilityRef& target) {
    SCNetworkReachabilityFlags flags = 0xffffffff;
    if (!SCNetworkReachabilityGetFlags(target, &flags))
        return std::nullopt;
    return flags;
}

TEST(SCNetworkReachabilityTest, LoopbackIsReachableDirectlyByAddressAndByName) {
    sockaddr_in loopback = addressOf("127.0.0.1");
    loopback.sin_port = htons(8080);  // ignored
    const SCNetworkReachabilityRef targets[] = {
        SCNetworkReachabilityCreateWithAddress(reinterpret_cast<sockaddr*>(&loopback)),
        SCNetworkReachabilityCreateWithName("localhost"),
    };
    for (const auto& target : targets) {
        ASSERT_NE(target, nullptr);
        EXPECT_EQ(flagsOf(target), kDirect);
    }
}

TEST(SCNetworkReachabilityTest, NamesUnderInvalidAreNotReachableWithoutALookUp) {
    // Every name here would resolve to loopback if it were looked up.
    bool ran = withOwnHostsFile("127.0.0.1 localhost-probe invalid x.invalid\n", [] {
        ASSERT_EQ(flagsOf(SCNetworkReachabilityCreateWithName("localhost-probe")), kDirect)
            << "the hosts file is in effect";
        for (const char* name : {"invalid", "x.invalid", "X.INVALID", "x.invalid."})
            EXPECT_EQ(flagsOf(SCNetworkReachabilityCreateWithName(name)), 0u) << name;
    });
    if (!ran)
        GTEST_SKIP() << "no mount namespace can be made here (not root)";
}

TEST(SCNetworkReachabilityTest, CallsWithoutAUsableTargetFail) {
    sockaddr_in6 v6{};
    v6.sin6_family = AF_INET6;
    EXPECT_EQ(SCNetworkReachabilityCreateWithName(nullptr), nullptr);
    EXPECT_EQ(SCNetworkReachabilityCreateWithAddress(nullptr), nullptr);
    EXPECT_EQ(SCNetworkReachabilityCreateWithAddress(reinterpret_cast<sockaddr*>(&v6)), nullptr);

    SCNetworkReachabilityRef none;
    auto loop = NSRunLoop::currentRunLoop();
    SCNetworkReachabilityContext context{0, nullptr};
    EXPECT_EQ(flagsOf(none), std::nullopt);
    EXPECT_FALSE(SCNetworkReachabilitySetCallback(none, nullptr, &context));
    EXPECT_FALSE(SCNetworkReachabilityScheduleWithRunLoop(none, loop));
    EXPECT_FALSE(SCNetworkReachabilityUnscheduleFromRunLoop(none, loop));

    auto target = targetFor("127.0.0.1");
    SCNetworkReachabilityContext wrongVersion{1, nullptr};
    EXPECT_FALSE(SCNetworkReachabilitySetCallback(
        target, [](SCNetworkReachability*, SCNetworkReachabilityFlags, void*) {}, &wrongVersion));
    EXPECT_FALSE(SCNetworkReachabilityUnscheduleFromRunLoop(target, loop)) << "not scheduled";
    ASSERT_TRUE(SCNetworkReachabilityScheduleWithRunLoop(target, loop));
    EXPECT_FALSE(SCNetworkReachabilityScheduleWithRunLoop(target, loop)) << "already scheduled";
    EXPECT_TRUE(SCNetworkReachabilityUnscheduleFromRunLoop(target, loop));
    EXPECT_FALSE(loop->hasSources());
}

TEST(SCNetworkReachabilityTest, TestSourceStandsInForTheKernelWithTheResolvedAddress) {
    std::vector<std::string> asked;
    std::optional<SCNetworkReachabilityFlags> answer;
    SCNetworkReachabilitySetFlagsSourceForTesting([&](in_addr address) {
        char text[INET_ADDRSTRLEN];
        asked.push_back(inet_ntop(AF_INET, &address, text, sizeof text));
        return answer;
    });
    answer = kSCNetworkReachabilityFlagsIsWWAN | kReachable;
    EXPECT_EQ(flagsOf(SCNetworkReachabilityCreateWithName("localhost")), answer);
    answer = std::nullopt;
    EXPECT_EQ(flagsOf(targetFor("0.0.0.0")), std::nullopt) << "flags that cannot be read";
    SCNetworkReachabilitySetFlagsSourceForTesting({});
    EXPECT_EQ(asked, (std::vector<std::string>{"127.0.0.1", "0.0.0.0"}));
    EXPECT_EQ(flagsOf(targetFor("127.0.0.1")), kDirect) << "the kernel again";
}

// Each network is built from scratch in a namespace of its own; "va"/"vb" are the two ends of
// a virtual cable, so "vb" going down takes the carrier from "va".
TEST(SCNetworkReachabilityNamespaceTest, RoutesAndInterfacesDecideTheFlags) {
    const std::vector<std::string> cable = {
        "link set lo up",
        "link add va type veth peer name vb",
        "addr add 10.9.0.1/24 dev va",
        "link set va up",
        "link set vb up",
    };
    auto with = [&](std::vector<std::string> more) {
        std::vector<std::string> all = cable;
        all.insert(all.end(), more.begin(), more.end());
        return all;
    };
    struct Case {
        const char* name;
        std::vector<std::string> setup;
        std::vector<std::pair<const char*, SCNetworkReachabilityFlags>> expected;
    };
    const Case cases[] = {
        {"fresh namespace: loopback down", {}, {{"127.0.0.1", 0}, {"0.0.0.0", 0}}},
        {"loopback up, no default route",
         {"link set lo up"},
         {{"127.0.0.1", kDirect}, {"0.0.0.0", 0}, {"10.9.0.5", 0}}},
        {"default route through a gateway",
         with({"route add default via 10.9.0.2"}),
         {{"0.0.0.0", kReachable}, {"10.9.0.5", kDirect}, {"192.0.2.1", kReachable}}},
        {"default route on the link itself",
         with({"route add default dev va"}),
         {{"0.0.0.0", kDirect}, {"192.0.2.1", kDirect}}},
        {"no carrier",
         with({"route add default via 10.9.0.2", "link set vb down"}),
         {{"0.0.0.0", 0}, {"10.9.0.5", 0}, {"127.0.0.1", kDirect}}},
        {"lowest metric with carrier decides",
         with({"route add default via 10.9.0.2 metric 5", "route add default dev lo metric 10",
               "link set vb down"}),
         {{"0.0.0.0", kDirect}}},
    };
    for (const Case& c : cases) {
        bool built = true;
        bool made = inOwnNetworkNamespace([&] {
            if (!runIp(c.setup)) {
                built = false;
                return;
            }
            for (const auto& [address, flags] : c.expected)
                EXPECT_EQ(flagsOf(targetFor(address)), flags) << c.name << ": " << address;
        });
        if (!made)
            GTEST_SKIP() << "no network namespace can be made here";
        if (!built)
            GTEST_SKIP() << c.name << ": the network could not be built (ip, veth)";
    }
}

struct Heard {
    SCNetworkReachability* target = nullptr;
    std::vector<SCNetworkReachabilityFlags> flags;
};

TEST(SCNetworkReachabilityNamespaceTest, ScheduledTargetHearsLoopbackChangesUntilUnscheduled) {
    bool built = true;
    bool made = inOwnNetworkNamespace([&] {
        auto loop = NSRunLoop::currentRunLoop();
        auto target = targetFor("127.0.0.1");
        Heard heard;
        SCNetworkReachabilityContext context{0, &heard};
        ASSERT_TRUE(SCNetworkReachabilitySetCallback(
            target,
            [](SCNetworkReachability* t, SCNetworkReachabilityFlags flags, void* info) {
                auto* h = static_cast<Heard*>(info);
                h->target = t;
                h->flags.push_back(flags);
            },
            &context));
        ASSERT_TRUE(SCNetworkReachabilityScheduleWithRunLoop(target, loop));
        loop->runPending();
        EXPECT_TRUE(heard.flags.empty()) << "nothing changed yet";

        // The kernel has queued its notices by the time the command returns.
        if (!(built = runIp({"link set lo up"})))
            return;
        loop->runPending();
        EXPECT_EQ(heard.flags, std::vector<SCNetworkReachabilityFlags>{kDirect});
        EXPECT_EQ(heard.target, target.get());

        if (!(built = runIp({"link set lo down"})))
            return;
        loop->runPending();
        EXPECT_EQ(heard.flags, (std::vector<SCNetworkReachabilityFlags>{kDirect, 0}));

        ASSERT_TRUE(SCNetworkReachabilityUnscheduleFromRunLoop(target, loop));
        if (!(built = runIp({"link set lo up"})))
            return;
        loop->runPending();
        EXPECT_EQ(heard.flags.size(), 2u) << "not after unscheduling";
    });
    if (!made)
        GTEST_SKIP() << "no network namespace can be made here";
    if (!built)
        GTEST_SKIP() << "the loopback interface could not be switched (ip)";
}

}  // namespace

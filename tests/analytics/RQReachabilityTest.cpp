// CTest labels: threads

#include "analytics/Classes/RQReachability.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/Foundation/NSException.h"
#include "platform/Foundation/NSNotificationCenter.h"
#include "platform/Foundation/NSRunLoop.h"
#include "tests/support/NetworkNamespace.h"

namespace {

constexpr SCNetworkReachabilityFlags R = kSCNetworkReachabilityFlagsReachable;
constexpr SCNetworkReachabilityFlags C = kSCNetworkReachabilityFlagsConnectionRequired;
constexpr SCNetworkReachabilityFlags D = kSCNetworkReachabilityFlagsIsDirect;
constexpr SCNetworkReachabilityFlags W = kSCNetworkReachabilityFlagsIsWWAN;

struct FlagsCase {
    SCNetworkReachabilityFlags flags;
    NetworkStatus network;
    NetworkStatus linkLocal;
};

const FlagsCase kFlagsCases[] = {
    {0, NetworkStatusNotReachable, NetworkStatusNotReachable},
    {R, NetworkStatusViaWiFi, NetworkStatusNotReachable},
    {R | W | C, NetworkStatusViaCarrier, NetworkStatusNotReachable},
    {R | W, NetworkStatusViaCarrier, NetworkStatusNotReachable},
    {R | C, NetworkStatusNotReachable, NetworkStatusNotReachable},
    {W, NetworkStatusNotReachable, NetworkStatusNotReachable},
    {D, NetworkStatusNotReachable, NetworkStatusNotReachable},
    {R | D, NetworkStatusViaWiFi, NetworkStatusViaWiFi},
    {R | D | W, NetworkStatusViaCarrier, NetworkStatusViaWiFi},
    {R | D | C, NetworkStatusNotReachable, NetworkStatusViaWiFi},
    // Bits other than the four are ignored.
    {R | 1u | (1u << 16) | (1u << 20), NetworkStatusViaWiFi, NetworkStatusNotReachable},
    {0xffffffffu & ~R, NetworkStatusNotReachable, NetworkStatusNotReachable},
};

class FlagsRules : public testing::TestWithParam<FlagsCase> {};

TEST_P(FlagsRules, GiveTheStatusOfBothRules) {
    const FlagsCase& c = GetParam();
    EXPECT_EQ(RQReachability::networkStatusForFlags(c.flags), c.network);
    EXPECT_EQ(RQReachability::bounjourStatusForFlags(c.flags), c.linkLocal);
}

INSTANTIATE_TEST_SUITE_P(RQReachability, FlagsRules, testing::ValuesIn(kFlagsCases));

TEST(RQReachabilityTest, LinkLocalRuleNeverAnswersCarrier) {
    for (SCNetworkReachabilityFlags bits = 0; bits < 16; ++bits) {
        const SCNetworkReachabilityFlags flags = ((bits & 1) ? R : 0) | ((bits & 2) ? C : 0) |
                                                 ((bits & 4) ? D : 0) | ((bits & 8) ? W : 0);
        EXPECT_NE(RQReachability::bounjourStatusForFlags(flags), NetworkStatusViaCarrier) << flags;
    }
}

// The platform's flags come from the test: what each address is asked, and the answer.
class RQReachabilityQueryTest : public testing::Test {
  protected:
    RQReachabilityQueryTest() {
        SCNetworkReachabilitySetFlagsSourceForTesting([this](in_addr address) {
            char text[INET_ADDRSTRLEN];
            asked.push_back(inet_ntop(AF_INET, &address, text, sizeof text));
            return answer;
        });
    }
    ~RQReachabilityQueryTest() override { SCNetworkReachabilitySetFlagsSourceForTesting({}); }

    static std::string failure(const std::function<void()>& work) {
        try {
            work();
        } catch (const NSException& e) {
            EXPECT_EQ(e.name(), NSInternalInconsistencyException);
            return e.reason();
        }
        return "no exception";
    }

    std::optional<SCNetworkReachabilityFlags> answer;
    std::vector<std::string> asked;
};

TEST_F(RQReachabilityQueryTest, QueriesAskTheirAddressAndApplyTheirRule) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    inet_pton(AF_INET, "192.0.2.7", &address.sin_addr);
    struct Case {
        std::optional<SCNetworkReachabilityFlags> flags;
        NetworkStatus internet, linkLocal, byName, byAddress;
    };
    const Case cases[] = {
        {R, NetworkStatusViaWiFi, NetworkStatusNotReachable, NetworkStatusViaWiFi,
         NetworkStatusViaWiFi},
        {R | D, NetworkStatusViaWiFi, NetworkStatusViaWiFi, NetworkStatusViaWiFi,
         NetworkStatusViaWiFi},
        {R | W, NetworkStatusViaCarrier, NetworkStatusNotReachable, NetworkStatusViaCarrier,
         NetworkStatusViaCarrier},
        // Flags that cannot be read: not reachable, whatever the rule.
        {std::nullopt, NetworkStatusNotReachable, NetworkStatusNotReachable,
         NetworkStatusNotReachable, NetworkStatusNotReachable},
    };
    for (const Case& c : cases) {
        answer = c.flags;
        asked.clear();
        EXPECT_EQ(RQReachability::internetConnectionStatus(), c.internet);
        EXPECT_EQ(RQReachability::localBonjourConnectionStatus(), c.linkLocal);
        EXPECT_EQ(RQReachability::remoteHostStatusWithName("localhost"), c.byName);
        EXPECT_EQ(RQReachability::remoteHostStatusWithAddress(&address), c.byAddress);
        EXPECT_EQ(asked,
                  (std::vector<std::string>{"0.0.0.0", "169.254.0.0", "127.0.0.1", "192.0.2.7"}));
    }
}

TEST_F(RQReachabilityQueryTest, MissingArgumentsAndTargetsAreProgrammingErrors) {
    sockaddr_in notIPv4{};
    notIPv4.sin_family = AF_INET6;
    EXPECT_EQ(failure([] { RQReachability::remoteHostStatusWithName(std::nullopt); }),
              "Invalid parameter not satisfying: hostName!=NULL");
    EXPECT_EQ(failure([] { RQReachability::remoteHostStatusWithAddress(nullptr); }),
              "Invalid parameter not satisfying: hostAddress!=NULL");
    EXPECT_EQ(failure([&] { RQReachability::remoteHostStatusWithAddress(&notIPv4); }),
              "SCNetworkReachabilityCreateWithAddress failed");
    auto withoutTarget = RQReachability::initNotifierWithHostName(std::nullopt);
    ASSERT_NE(withoutTarget, nullptr);
    EXPECT_EQ(failure([&] { withoutTarget->networkStatus(); }),
              "currentNetworkStatus called with NULL reachabilityRef");
    EXPECT_TRUE(asked.empty());
}

TEST_F(RQReachabilityQueryTest, OnlyTheLinkLocalNotifierAnswersByTheLinkLocalRule) {
    answer = R;  // reachable, but not directly
    sockaddr_in address{};
    address.sin_family = AF_INET;
    inet_pton(AF_INET, "192.0.2.7", &address.sin_addr);
    EXPECT_EQ(RQReachability::initLocalBonjourConnectionNotifier()->networkStatus(),
              NetworkStatusNotReachable);
    EXPECT_EQ(RQReachability::initInternetConnectionStatusNotifier()->networkStatus(),
              NetworkStatusViaWiFi);
    EXPECT_EQ(RQReachability::initNotifierWithHostName("localhost")->networkStatus(),
              NetworkStatusViaWiFi);
    EXPECT_EQ(RQReachability::initNotifierWithAddress(&address)->networkStatus(),
              NetworkStatusViaWiFi);
    EXPECT_EQ(asked,
              (std::vector<std::string>{"169.254.0.0", "0.0.0.0", "127.0.0.1", "192.0.2.7"}));
}

TEST(RQReachabilityNotifierTest, StartSchedulesOnTheCurrentLoopUntilStopOrDestruction) {
    auto loop = NSRunLoop::currentRunLoop();
    loop->removeAllSources();

    // Without a target the callback cannot be registered: NO, and nothing is scheduled.
    auto withoutTarget = RQReachability::initNotifierWithAddress(nullptr);
    EXPECT_FALSE(withoutTarget->startNotifer());
    EXPECT_FALSE(loop->hasSources());
    withoutTarget->stopNotifer();  // harmless

    auto notifier = RQReachability::initInternetConnectionStatusNotifier();
    notifier->stopNotifer();  // never started: harmless
    EXPECT_TRUE(notifier->startNotifer());
    EXPECT_TRUE(loop->hasSources());
    EXPECT_FALSE(notifier->startNotifer()) << "already started";
    notifier->stopNotifer();
    EXPECT_FALSE(loop->hasSources());

    EXPECT_TRUE(notifier->startNotifer());
    notifier.reset();
    EXPECT_FALSE(loop->hasSources()) << "destruction stops the notifier";
}

TEST(RQReachabilityNotifierTest, CallbackPostsForItsNotifierAndRefusesAnythingElse) {
    auto notifier = RQReachability::initInternetConnectionStatusNotifier();
    std::vector<const NSObject*> posted;
    int token = 0;
    NSNotificationCenter::defaultCenter().addObserver(
        &token, kNetworkReachabilityChangedNotification, nullptr, [&](const NSNotification& n) {
            EXPECT_TRUE(n.userInfo().isNull());
            posted.push_back(n.object().get());
        });
    ReachabilityCallback(nullptr, 0, static_cast<NSObject*>(notifier.get()));
    EXPECT_EQ(posted, std::vector<const NSObject*>{notifier.get()});

    auto stranger = std::make_shared<NSObject>();
    for (auto [info, reason] :
         {std::pair<void*, std::string>{nullptr, "info was NULL in ReachabilityCallback"},
          {stranger.get(), "info was wrong class in ReachabilityCallback"}}) {
        try {
            ReachabilityCallback(nullptr, 0, info);
            ADD_FAILURE() << "no exception for " << reason;
        } catch (const NSException& e) {
            EXPECT_EQ(e.reason(), reason);
        }
    }
    EXPECT_EQ(posted.size(), 1u);
    NSNotificationCenter::defaultCenter().removeObserver(&token);
}

TEST(RQReachabilityNotifierTest, LoopbackComingUpReachesAStartedNotifier) {
    bool switched = true;
    bool made = inOwnNetworkNamespace([&] {
        auto loop = NSRunLoop::currentRunLoop();
        auto notifier = RQReachability::initNotifierWithHostName("127.0.0.1");
        std::vector<NetworkStatus> heard;
        int token = 0;
        NSNotificationCenter::defaultCenter().addObserver(
            &token, kNetworkReachabilityChangedNotification, notifier.get(),
            [&](const NSNotification& n) {
                heard.push_back(static_cast<RQReachability*>(n.object().get())->networkStatus());
            });
        EXPECT_EQ(notifier->networkStatus(), NetworkStatusNotReachable) << "loopback is down";
        ASSERT_TRUE(notifier->startNotifer());
        switched = runIp({"link set lo up"});
        loop->runPending();
        NSNotificationCenter::defaultCenter().removeObserver(&token);
        if (switched) {
            EXPECT_EQ(heard, std::vector<NetworkStatus>{NetworkStatusViaWiFi});
        }
    });
    if (!made)
        GTEST_SKIP() << "no network namespace can be made here";
    if (!switched)
        GTEST_SKIP() << "the loopback interface could not be switched (ip)";
}

}  // namespace

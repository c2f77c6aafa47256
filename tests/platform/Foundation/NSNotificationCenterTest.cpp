#include "platform/Foundation/NSNotificationCenter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Listener : NSObject {
    std::vector<std::string> heard;
    void hear(const NSNotification& n) { heard.push_back(n.name()); }
};

TEST(NotificationCenter, DeliversByNameAndSender) {
    auto& center = NSNotificationCenter::defaultCenter();
    auto anyone = std::make_shared<Listener>();
    auto fromA = std::make_shared<Listener>();
    auto a = std::make_shared<NSObject>();
    auto b = std::make_shared<NSObject>();
    center.addObserver(anyone, &Listener::hear, "ping", nullptr);
    center.addObserver(fromA, &Listener::hear, "ping", a.get());
    center.postNotificationName("ping", a);
    center.postNotificationName("ping", b);
    center.postNotificationName("pong", a);
    EXPECT_EQ(anyone->heard.size(), 2u);
    EXPECT_EQ(fromA->heard.size(), 1u);
    center.removeObserver(anyone.get());
    center.removeObserver(fromA.get());
}

TEST(NotificationCenter, CarriesUserInfo) {
    auto& center = NSNotificationCenter::defaultCenter();
    double got = -1;
    int token;
    ValueDictionary info;
    info.set("progress", 0.25);
    center.addObserver(&token, "progress", nullptr, [&](const NSNotification& n) {
        got = n.userInfo()["progress"].doubleValue();
    });
    center.postNotificationName("progress", nullptr, Value(info));
    center.removeObserver(&token);
    EXPECT_DOUBLE_EQ(got, 0.25);
}

TEST(NotificationCenter, RemovalAndAdditionDuringAPostAreSafe) {
    auto& center = NSNotificationCenter::defaultCenter();
    int first, second, added;
    std::vector<std::string> order;
    center.addObserver(&first, "n", nullptr, [&](const NSNotification&) {
        order.push_back("first");
        center.removeObserver(&second);  // not called later in this post
        center.addObserver(&added, "n", nullptr,
                           [&](const NSNotification&) { order.push_back("added"); });
    });
    center.addObserver(&second, "n", nullptr,
                       [&](const NSNotification&) { order.push_back("second"); });
    center.postNotificationName("n", nullptr);
    EXPECT_EQ(order, (std::vector<std::string>{"first"}));
    center.removeObserver(&first);
    center.postNotificationName("n", nullptr);
    EXPECT_EQ(order, (std::vector<std::string>{"first", "added"}));
    center.removeObserver(&added);
}

TEST(NotificationCenter, ObserverThatIsGoneIsSkipped) {
    auto& center = NSNotificationCenter::defaultCenter();
    auto listener = std::make_shared<Listener>();
    std::weak_ptr<Listener> watch = listener;
    center.addObserver(listener, &Listener::hear, "gone", nullptr);
    listener.reset();
    EXPECT_TRUE(watch.expired()) << "the centre does not retain observers";
    EXPECT_NO_THROW(center.postNotificationName("gone", nullptr));
}

}  // namespace

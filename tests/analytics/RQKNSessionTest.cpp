#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "analytics/RQKNConnect/RQKNSession.h"
#include "platform/Device/DeviceSettings.h"
#include "platform/Foundation/NSHTTPCookieStorage.h"
#include "platform/Foundation/NSUserDefaults.h"
#include "tests/analytics/AnalyticsTestHome.h"

namespace {

constexpr const char* kLoginURL = "http://login.example.invalid/";

// Notes each message; answers the optional ones as told.
class RecordingDelegate : public RQKNSessionDelegate {
  public:
    RecordingDelegate(std::vector<std::string>& log, std::string name, bool willLogout,
                      bool didLogout)
        : log_(log), name_(std::move(name)), willLogout_(willLogout), didLogout_(didLogout) {}

    void sessionDidLogin(RQKNSession& session, uint64_t uid) override {
        log_.push_back(name_ + " login " + std::to_string(uid) +
                       (session.isConnected() ? " connected" : " not connected"));
    }
    bool respondsToSessionWillLogout() const override { return willLogout_; }
    void sessionWillLogout(RQKNSession& session, uint64_t uid) override {
        // Told before anything is deleted.
        const size_t cookies =
            NSHTTPCookieStorage::sharedHTTPCookieStorage()->cookiesForURL(kLoginURL).size();
        log_.push_back(name_ + " will logout " + std::to_string(uid) + " key " +
                       session.sessionKey().value_or("-") + " cookies " + std::to_string(cookies));
    }
    bool respondsToSessionDidLogout() const override { return didLogout_; }
    void sessionDidLogout(RQKNSession& session) override {
        log_.push_back(name_ + " did logout " + std::to_string(session.uid()) + " key " +
                       session.sessionKey().value_or("-"));
    }

  private:
    std::vector<std::string>& log_;
    std::string name_;
    bool willLogout_;
    bool didLogout_;
};

class RQKNSessionTest : public AnalyticsTestHome {
  protected:
    RQKNSessionTest() {
        DeviceSettings settings = DeviceSettings::fromEnvironment();
        settings.loginURL = kLoginURL;
        DeviceSettings::install(settings);
        NSHTTPCookieStorage::resetSharedHTTPCookieStorage();
    }
    ~RQKNSessionTest() override {
        NSHTTPCookieStorage::resetSharedHTTPCookieStorage();
        DeviceSettings::uninstall();
    }

    std::shared_ptr<RecordingDelegate> delegate(const std::string& name, bool willLogout = true,
                                                bool didLogout = true) {
        auto d = std::make_shared<RecordingDelegate>(log, name, willLogout, didLogout);
        delegates.push_back(d);
        return d;
    }
    static std::shared_ptr<NSUserDefaults> defaults() {
        return NSUserDefaults::standardUserDefaults();
    }
    // The user defaults as the next run reads them from the file.
    static void nextRun() { NSUserDefaults::resetStandardUserDefaults(); }
    static std::vector<std::string> savedKeys() {
        std::vector<std::string> keys;
        for (const char* key : {"KNUserId", "KNSessionKey", "KNSessionSecret", "KNSessionExpires"})
            if (!defaults()->objectForKey(key).isNull())
                keys.push_back(key);
        return keys;
    }
    void setCookies(const std::string& url, const std::vector<std::string>& setCookies) {
        HTTPHeaderFields fields;
        for (const auto& c : setCookies) fields.emplace_back("Set-Cookie", c);
        NSHTTPCookieStorage::sharedHTTPCookieStorage()->setCookies(
            NSHTTPCookie::cookiesWithResponseHeaderFields(fields, url));
    }

    std::vector<std::string> log;
    std::vector<std::shared_ptr<RecordingDelegate>> delegates;
};

using Strings = std::vector<std::string>;

}  // namespace

TEST_F(RQKNSessionTest, SavedCredentialsComeBackThroughResume) {
    const double now = time.clock().now();
    struct Case {
        const char* name;
        uint64_t uid;
        std::optional<std::string> key, secret;
        std::optional<double> expiresIn;
        Strings savedKeys;
        bool resumes;
    };
    const std::vector<Case> cases = {
        {"a user id above 32 bits",
         (uint64_t{1} << 40) + 5,
         "k",
         "s",
         3600.0,
         {"KNUserId", "KNSessionKey", "KNSessionSecret", "KNSessionExpires"},
         true},
        {"all 64 bits",
         0xFFFFFFFFFFFFFFF0ull,
         "k",
         "s",
         3600.0,
         {"KNUserId", "KNSessionKey", "KNSessionSecret", "KNSessionExpires"},
         true},
        {"no expiry never expires",
         7,
         "k",
         "s",
         {},
         {"KNUserId", "KNSessionKey", "KNSessionSecret"},
         true},
        {"expiry exactly now",
         7,
         "k",
         "s",
         0.0,
         {"KNUserId", "KNSessionKey", "KNSessionSecret", "KNSessionExpires"},
         false},
        {"expiry past",
         7,
         "k",
         "s",
         -1.0,
         {"KNUserId", "KNSessionKey", "KNSessionSecret", "KNSessionExpires"},
         false},
        {"no session key", 7, {}, {}, {}, {"KNUserId"}, true},
        {"user id 0",
         0,
         "k",
         "s",
         60.0,
         {"KNSessionKey", "KNSessionSecret", "KNSessionExpires"},
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        log.clear();
        std::optional<NSDate> expires;
        if (c.expiresIn)
            expires = NSDate::dateWithTimeIntervalSince1970(now + *c.expiresIn);
        auto first = RQKNSession::initWithKey("api", "apisecret", {});
        first->begin(c.uid, c.key, c.secret, expires);
        EXPECT_EQ(first->isConnected(), c.key.has_value());
        EXPECT_TRUE(log.empty());  // begin tells no one
        nextRun();
        EXPECT_EQ(savedKeys(), c.savedKeys);

        auto second = RQKNSession::initWithKey("api", "apisecret", {});
        second->delegates().addObject(delegate("d"));
        EXPECT_FALSE(second->isConnected());  // a new session is logged out
        EXPECT_EQ(second->resume(), c.resumes);
        if (c.resumes) {
            EXPECT_EQ(second->uid(), c.uid);
            EXPECT_EQ(second->sessionKey(), c.key);
            EXPECT_EQ(second->sessionSecret(), c.secret);
            EXPECT_EQ(second->expirationDate(), expires);
            EXPECT_EQ(second->isConnected(), c.key.has_value());
            EXPECT_EQ(log, (Strings{"d login " + std::to_string(c.uid) +
                                    (c.key ? " connected" : " not connected")}));
        } else {
            EXPECT_EQ(second->uid(), 0u);
            EXPECT_FALSE(second->sessionKey());
            EXPECT_FALSE(second->expirationDate());
            EXPECT_TRUE(log.empty());
        }
        second->unsave();
        nextRun();
    }
}

TEST_F(RQKNSessionTest, ResumeWithoutASavedUserIdSendsNothing) {
    auto session = RQKNSession::initWithKey("api", "secret", {});
    session->delegates().addObject(delegate("d"));
    EXPECT_FALSE(session->resume());
    defaults()->setObject(Value(0), "KNUserId");
    defaults()->setObject(Value("k"), "KNSessionKey");
    EXPECT_FALSE(session->resume());
    EXPECT_TRUE(log.empty());
    // An expiry that is not a date counts as none.
    defaults()->setObject(Value(9), "KNUserId");
    defaults()->setObject(Value("tomorrow"), "KNSessionExpires");
    EXPECT_TRUE(session->resume());
    EXPECT_FALSE(session->expirationDate());
}

TEST_F(RQKNSessionTest, LogoutTellsDelegatesAndDeletesTheLoginHostsCookies) {
    setCookies(kLoginURL, {"sid=1; Max-Age=3600", "lang=en"});
    setCookies("http://other.invalid/", {"keep=1; Max-Age=3600"});
    auto session = RQKNSession::sessionForApplication("api", "secret", delegate("all"));
    session->delegates().addObject(delegate("onlyDid", false, true));
    session->delegates().addObject(delegate("none", false, false));
    session->begin(42, "key", "ssecret", NSDate::dateWithTimeIntervalSinceNow(60));

    session->logout();
    EXPECT_EQ(log, (Strings{"all will logout 42 key key cookies 2", "all did logout 0 key -",
                            "onlyDid did logout 0 key -"}));
    EXPECT_FALSE(session->isConnected());
    EXPECT_EQ(session->uid(), 0u);
    EXPECT_FALSE(session->sessionSecret());
    EXPECT_FALSE(session->expirationDate());
    EXPECT_EQ(session->apiKey(), "api");
    EXPECT_EQ(session->apiSecret(), "secret");
    EXPECT_EQ(session->delegates().count(), 3u);
    EXPECT_TRUE(savedKeys().empty());
    nextRun();
    EXPECT_TRUE(savedKeys().empty());

    auto left = NSHTTPCookieStorage::sharedHTTPCookieStorage()->cookies();
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].name, "keep");
}

TEST_F(RQKNSessionTest, LogoutWhileLoggedOutOnlyRemovesTheSavedKeys) {
    setCookies(kLoginURL, {"sid=1; Max-Age=3600"});
    for (const char* key : {"KNUserId", "KNSessionKey", "KNSessionSecret"})
        defaults()->setObject(Value("x"), key);
    defaults()->setObject(Value(NSDate::date()), "KNSessionExpires");
    auto session = RQKNSession::sessionForApplication("api", "secret", delegate("d"));

    session->logout();
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(NSHTTPCookieStorage::sharedHTTPCookieStorage()->cookies().size(), 1u);
    nextRun();
    EXPECT_TRUE(savedKeys().empty());
}

TEST_F(RQKNSessionTest, TheSharedSessionIsTheFirstOneAndIsNotOwned) {
    EXPECT_EQ(RQKNSession::session(), nullptr);
    auto first = RQKNSession::initWithKey("a", {}, {});
    auto second =
        RQKNSession::sessionForApplicationGetSessionProxy("b", "http://proxy.invalid/", nullptr);
    EXPECT_EQ(RQKNSession::session(), first);
    EXPECT_EQ(second->getSessionProxy(), "http://proxy.invalid/");
    EXPECT_FALSE(second->apiSecret());
    EXPECT_EQ(second->delegates().count(), 0u);

    RQKNSession::setSession(second);
    EXPECT_EQ(RQKNSession::session(), second);
    second.reset();
    EXPECT_EQ(RQKNSession::session(), nullptr);
    // With none shared, the next one made becomes it.
    auto third = RQKNSession::initWithKey("c", {}, {});
    EXPECT_EQ(RQKNSession::session(), third);
    RQKNSession::setSession(nullptr);
    EXPECT_EQ(RQKNSession::session(), nullptr);
}

TEST_F(RQKNSessionTest, TheDelegateListDoesNotKeepItsMembers) {
    auto session = RQKNSession::initWithKey("api", {}, {});
    auto kept = delegate("kept");
    session->delegates().addObject(kept);
    std::weak_ptr<RecordingDelegate> gone;
    {
        auto temporary = std::make_shared<RecordingDelegate>(log, "gone", true, true);
        gone = temporary;
        session->delegates().addObject(temporary);
    }
    EXPECT_TRUE(gone.expired());
    session->begin(5, {}, {}, {});
    EXPECT_TRUE(session->resume());
    EXPECT_EQ(log, (Strings{"kept login 5 not connected"}));

    session->delegates().removeObject(kept.get());
    EXPECT_FALSE(session->delegates().containsObject(kept.get()));
    log.clear();
    EXPECT_TRUE(session->resume());
    EXPECT_TRUE(log.empty());
}

TEST_F(RQKNSessionTest, EndpointsComeFromTheDeviceSettings) {
    DeviceSettings settings = DeviceSettings::current();
    settings.restURL = "http://rest.example.invalid/restserver.php";
    DeviceSettings::install(settings);
    auto session = RQKNSession::initWithKey("api", {}, {});
    EXPECT_EQ(session->apiURL(), "http://rest.example.invalid/restserver.php");
    EXPECT_EQ(session->apiSecureURL(), "https://rest.example.invalid/restserver.php");
}

// CTest labels: threads

#include <gtest/gtest.h>
#include <httplib.h>

#include <memory>
#include <string>

#include "platform/Foundation/NSHTTPCookieStorage.h"
#include "platform/Foundation/NSPathUtilities.h"
#include "platform/Foundation/NSURLConnection.h"
#include "tests/support/LoopbackHTTPService.h"
#include "tests/support/RunLoopTesting.h"
#include "tests/support/TemporaryFolder.h"

namespace {

class BodyDelegate : public NSURLConnectionDelegate {
  public:
    void connectionDidReceiveData(NSURLConnection*, const Data& data) override {
        body.append(data.begin(), data.end());
    }
    void connectionDidFailWithError(NSURLConnection*, const NSErrorPtr& e) override { error = e; }
    std::string body;
    NSErrorPtr error;
};

// Both kinds of connection, asked the same way: the body of a GET of `url`.
struct Kind {
    const char* name;
    std::string (*get)(const std::string& url, const std::string& cookieField);
};

NSURLRequest requestFor(const std::string& url, const std::string& cookieField) {
    NSMutableURLRequest request = NSMutableURLRequest::requestWithURL(url);
    if (!cookieField.empty())
        request.setValue(cookieField, "Cookie");
    return request;
}

std::string getSynchronously(const std::string& url, const std::string& cookieField) {
    NSErrorPtr error;
    auto body =
        NSURLConnection::sendSynchronousRequest(requestFor(url, cookieField), nullptr, &error);
    EXPECT_TRUE(body) << (error ? error->description() : "");
    return body ? std::string(body->begin(), body->end()) : "";
}

std::string getAsynchronously(const std::string& url, const std::string& cookieField) {
    auto delegate = std::make_shared<BodyDelegate>();
    auto connection =
        NSURLConnection::connectionWithRequest(requestFor(url, cookieField), delegate);
    EXPECT_NE(connection, nullptr);
    NSRunLoop::currentRunLoop()->run();
    EXPECT_EQ(delegate->error, nullptr);
    return delegate->body;
}

class URLConnectionCookiesTest : public ::testing::TestWithParam<Kind> {
  protected:
    void SetUp() override {
        NSSetHomeDirectory(home.path());
        NSHTTPCookieStorage::resetSharedHTTPCookieStorage();
        service.routes().Get("/login", [](const httplib::Request&, httplib::Response& res) {
            res.set_header("Set-Cookie", "sid=abc; Path=/; Max-Age=3600");
            res.set_header("Set-Cookie", "area=x; Path=/private");
            res.set_content("welcome", "text/plain");
        });
        service.routes().Get("/logout", [](const httplib::Request&, httplib::Response& res) {
            res.set_header("Set-Cookie", "sid=; Path=/; Max-Age=0");
            res.status = 302;
        });
        // Answers with the Cookie field it received.
        auto echo = [](const httplib::Request& req, httplib::Response& res) {
            res.set_content(req.get_header_value("Cookie"), "text/plain");
        };
        service.routes().Get("/whoami", echo);
        service.routes().Get("/private/page", echo);
        ASSERT_GT(service.start(), 0);
    }
    void TearDown() override {
        service.stop();
        NSHTTPCookieStorage::resetSharedHTTPCookieStorage();
        NSSetHomeDirectory("");
    }
    std::string url(const std::string& path) const { return service.url(path); }
    std::string get(const std::string& path, const std::string& cookieField = "") {
        return GetParam().get(url(path), cookieField);
    }

    TemporaryFolder home;
    ManualClockScope time;
    LoopbackHTTPService service;
};

}  // namespace

TEST_P(URLConnectionCookiesTest, CookiesAServerSetsAreStoredAndSentBack) {
    EXPECT_EQ(get("/whoami"), "");
    EXPECT_EQ(get("/login"), "welcome");
    EXPECT_EQ(NSHTTPCookieStorage::sharedHTTPCookieStorage()->cookies().size(), 2u);
    EXPECT_EQ(get("/whoami"), "sid=abc");
    EXPECT_EQ(get("/private/page"), "area=x; sid=abc");
    // A field of the caller's own wins.
    EXPECT_EQ(get("/whoami", "mine=1"), "mine=1");
}

TEST_P(URLConnectionCookiesTest, DeletedOrExpiredCookiesAreNoLongerSent) {
    get("/login");
    auto storage = NSHTTPCookieStorage::sharedHTTPCookieStorage();
    for (const NSHTTPCookie& cookie : storage->cookiesForURL(url("/private/page")))
        if (cookie.name == "area")
            storage->deleteCookie(cookie);
    EXPECT_EQ(get("/private/page"), "sid=abc");
    // An answer of any status may expire a cookie.
    get("/logout");
    EXPECT_EQ(get("/private/page"), "");
}

TEST_P(URLConnectionCookiesTest, CookiesOutliveTheProcessInTheHome) {
    get("/login");
    NSHTTPCookieStorage::resetSharedHTTPCookieStorage();
    // The session cookie of the path "/private" is gone; the one with an expiry stays.
    EXPECT_EQ(get("/private/page"), "sid=abc");
}

INSTANTIATE_TEST_SUITE_P(Connections, URLConnectionCookiesTest,
                         testing::Values(Kind{"Synchronous", &getSynchronously},
                                         Kind{"Asynchronous", &getAsynchronously}),
                         [](const testing::TestParamInfo<Kind>& info) {
                             return std::string(info.param.name);
                         });

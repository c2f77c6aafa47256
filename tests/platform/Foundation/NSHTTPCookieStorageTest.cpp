#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/Foundation/NSHTTPCookieStorage.h"
#include "platform/Foundation/NSPathUtilities.h"
#include "platform/Foundation/NSURL.h"
#include "tests/support/RunLoopTesting.h"
#include "tests/support/TemporaryFolder.h"

namespace {

std::vector<std::string> names(const std::vector<NSHTTPCookie>& cookies) {
    std::vector<std::string> out;
    for (const auto& c : cookies) out.push_back(c.name);
    return out;
}

NSHTTPCookie cookieFrom(const std::string& setCookie, const std::string& url) {
    auto cookies = NSHTTPCookie::cookiesWithResponseHeaderFields({{"Set-Cookie", setCookie}}, url);
    EXPECT_EQ(cookies.size(), 1u) << setCookie;
    return cookies.empty() ? NSHTTPCookie{} : cookies[0];
}

class CookieStorageTest : public ::testing::Test {
  protected:
    CookieStorageTest() {
        NSSetHomeDirectory(home.path());
        NSHTTPCookieStorage::resetSharedHTTPCookieStorage();
    }
    ~CookieStorageTest() override {
        NSHTTPCookieStorage::resetSharedHTTPCookieStorage();
        NSSetHomeDirectory("");
    }
    std::shared_ptr<NSHTTPCookieStorage> store() {
        return NSHTTPCookieStorage::sharedHTTPCookieStorage();
    }
    void answer(const std::string& url, const HTTPHeaderFields& fields) {
        store()->setCookies(NSHTTPCookie::cookiesWithResponseHeaderFields(fields, url));
    }

    TemporaryFolder home;
    ManualClockScope time;
};

}  // namespace

TEST(NSURLTest, TakesAbsoluteURLsApart) {
    struct Case {
        std::string text;
        std::string scheme, host;
        std::optional<int> port;
        std::string path;
        std::optional<std::string> query;
    };
    const std::vector<Case> cases = {
        // Host names fold to lower case (the URL names a reserved .invalid host; nothing is sent).
        {std::string("http://") + "Rest.Example.invalid/restserver.php",
         "http",
         "rest.example.invalid",
         {},
         "/restserver.php",
         {}},
        {"HTTPS://h.invalid:8443/a/b?x=1&y=2", "https", "h.invalid", 8443, "/a/b", "x=1&y=2"},
        {"http://127.0.0.1:9/", "http", "127.0.0.1", 9, "/", {}},
        {"http://h.invalid", "http", "h.invalid", {}, "/", {}},
        {"http://h.invalid/p?", "http", "h.invalid", {}, "/p", ""},
        {"http://h.invalid/p#frag?no", "http", "h.invalid", {}, "/p", {}},
        {"http://[::1]:80/v6", "http", "::1", 80, "/v6", {}},
    };
    for (const Case& c : cases) {
        auto url = NSURL::URLWithString(c.text);
        ASSERT_TRUE(url) << c.text;
        EXPECT_EQ(url->absoluteString(), c.text);
        EXPECT_EQ(url->scheme(), c.scheme) << c.text;
        EXPECT_EQ(url->host(), c.host) << c.text;
        EXPECT_EQ(url->port(), c.port) << c.text;
        EXPECT_EQ(url->path(), c.path) << c.text;
        EXPECT_EQ(url->query(), c.query) << c.text;
    }
    for (const char* bad : {"", "no scheme", "/only/a/path", "http://"})
        EXPECT_FALSE(NSURL::URLWithString(bad)) << bad;
}

TEST(NSHTTPCookieTest, ReadsSetCookieFields) {
    ManualClockScope time;
    const double now = time.clock().now();
    struct Case {
        std::string field;
        std::string url;
        std::string name, value, domain, path;
        bool hostOnly, secure, httpOnly;
        std::optional<double> expiresIn;  // seconds from now
    };
    const std::vector<Case> cases = {
        {"sid=abc",
         "http://login.invalid/a/b/page",
         "sid",
         "abc",
         "login.invalid",
         "/a/b",
         true,
         false,
         false,
         {}},
        {"sid=abc; Path=/x; Domain=.Example.invalid; Secure; HttpOnly",
         "http://www.example.invalid/",
         "sid",
         "abc",
         "example.invalid",
         "/x",
         false,
         true,
         true,
         {}},
        {" k = v w ; max-age=60", "http://h.invalid/", "k", "v w", "h.invalid", "/", true, false,
         false, 60.0},
        // Max-Age wins over Expires, whatever their order.
        {"k=v; Max-Age=10; Expires=Wed, 09 Jun 2100 10:18:14 GMT", "http://h.invalid/", "k", "v",
         "h.invalid", "/", true, false, false, 10.0},
        {"k=v; Expires=Thu, 01 Jan 1970 00:01:40 GMT", "http://h.invalid/", "k", "v", "h.invalid",
         "/", true, false, false, 100.0 - now},
        {"k=; Path=relative",
         "http://h.invalid/dir/file",
         "k",
         "",
         "h.invalid",
         "/dir",
         true,
         false,
         false,
         {}},
    };
    for (const Case& c : cases) {
        NSHTTPCookie cookie = cookieFrom(c.field, c.url);
        EXPECT_EQ(cookie.name, c.name) << c.field;
        EXPECT_EQ(cookie.value, c.value) << c.field;
        EXPECT_EQ(cookie.domain, c.domain) << c.field;
        EXPECT_EQ(cookie.path, c.path) << c.field;
        EXPECT_EQ(cookie.hostOnly, c.hostOnly) << c.field;
        EXPECT_EQ(cookie.secure, c.secure) << c.field;
        EXPECT_EQ(cookie.HTTPOnly, c.httpOnly) << c.field;
        ASSERT_EQ(cookie.expiresDate.has_value(), c.expiresIn.has_value()) << c.field;
        if (c.expiresIn) {
            EXPECT_DOUBLE_EQ(cookie.expiresDate->timeIntervalSinceNow(), *c.expiresIn) << c.field;
        }
    }
}

TEST(NSHTTPCookieTest, LeavesOutFieldsItCannotTrust) {
    const HTTPHeaderFields fields = {
        {"Set-Cookie", "good=1"},
        {"Set-Cookie", "no equals sign"},
        {"Set-Cookie", "=nameless"},
        {"Set-Cookie", "foreign=1; Domain=other.invalid"},
        {"Set-Cookie", "parent=1; Domain=example.invalid"},
        {"X-Set-Cookie", "wrongfield=1"},
        {"set-cookie", "anycase=1"},
    };
    auto cookies =
        NSHTTPCookie::cookiesWithResponseHeaderFields(fields, "http://a.example.invalid/");
    EXPECT_EQ(names(cookies), (std::vector<std::string>{"good", "parent", "anycase"}));
    // An address takes no domain cookie for a wider name.
    EXPECT_TRUE(NSHTTPCookie::cookiesWithResponseHeaderFields({{"Set-Cookie", "k=v; Domain=0.1"}},
                                                              "http://127.0.0.1/")
                    .empty());
}

TEST(NSHTTPCookieTest, RequestFieldJoinsCookiesInOrder) {
    NSHTTPCookie a = cookieFrom("a=1", "http://h.invalid/");
    NSHTTPCookie b = cookieFrom("b=two", "http://h.invalid/");
    EXPECT_EQ(NSHTTPCookie::requestHeaderFieldsWithCookies({a, b}),
              (HTTPHeaderFields{{"Cookie", "a=1; b=two"}}));
    EXPECT_TRUE(NSHTTPCookie::requestHeaderFieldsWithCookies({}).empty());
}

TEST_F(CookieStorageTest, CookiesGoBackOnlyWhereTheyMatch) {
    answer("http://www.example.invalid/app/login",
           {{"Set-Cookie", "host=1"},
            {"Set-Cookie", "wide=1; Domain=example.invalid; Path=/"},
            {"Set-Cookie", "deep=1; Path=/app/inner"},
            {"Set-Cookie", "safe=1; Secure"}});
    struct Case {
        std::string url;
        std::vector<std::string> cookies;
    };
    const std::vector<Case> cases = {
        {"http://www.example.invalid/app/x", {"host", "wide"}},
        {"http://www.example.invalid/app/inner/y", {"deep", "host", "wide"}},
        {"http://www.example.invalid/app/innerfile", {"host", "wide"}},
        {"https://www.example.invalid/app", {"host", "safe", "wide"}},
        {"http://www.example.invalid/", {"wide"}},
        {"http://sub.www.example.invalid/app/", {"wide"}},
        {"http://example.invalid/app/", {"wide"}},
        {"http://badexample.invalid/app/", {}},
        {"not a url", {}},
    };
    for (const Case& c : cases) EXPECT_EQ(names(store()->cookiesForURL(c.url)), c.cookies) << c.url;
}

TEST_F(CookieStorageTest, SameIdentityReplacesAndExpiryRemoves) {
    answer("http://h.invalid/", {{"Set-Cookie", "a=1"}, {"Set-Cookie", "b=1; Max-Age=5"}});
    answer("http://h.invalid/", {{"Set-Cookie", "a=2"}});
    auto cookies = store()->cookies();
    ASSERT_EQ(names(cookies), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(cookies[0].value, "2");

    // Another path is another cookie.
    answer("http://h.invalid/", {{"Set-Cookie", "a=3; Path=/p"}});
    EXPECT_EQ(store()->cookies().size(), 3u);

    // An answer that expires a cookie deletes it.
    answer("http://h.invalid/", {{"Set-Cookie", "a=gone; Max-Age=0"}});
    EXPECT_EQ(names(store()->cookiesForURL("http://h.invalid/")), (std::vector<std::string>{"b"}));

    time.advance(5.0);
    EXPECT_EQ(names(store()->cookiesForURL("http://h.invalid/")), std::vector<std::string>{});
    EXPECT_EQ(names(store()->cookiesForURL("http://h.invalid/p")), (std::vector<std::string>{"a"}));
}

TEST_F(CookieStorageTest, DeleteRemovesTheCookieOfThatIdentity) {
    answer("http://login.invalid/",
           {{"Set-Cookie", "sid=1; Max-Age=3600"}, {"Set-Cookie", "pref=1; Max-Age=3600"}});
    for (const NSHTTPCookie& cookie : store()->cookiesForURL("http://login.invalid/"))
        if (cookie.name == "sid")
            store()->deleteCookie(cookie);
    EXPECT_EQ(names(store()->cookies()), (std::vector<std::string>{"pref"}));
    // Deleting what is not there changes nothing.
    store()->deleteCookie(cookieFrom("sid=1", "http://login.invalid/"));
    EXPECT_EQ(store()->cookies().size(), 1u);
    // The deletion reached the file.
    NSHTTPCookieStorage::resetSharedHTTPCookieStorage();
    EXPECT_EQ(names(store()->cookies()), (std::vector<std::string>{"pref"}));
}

TEST_F(CookieStorageTest, CookiesWithAnExpiryAreKeptInTheHomeAcrossRuns) {
    answer("http://login.invalid/",
           {{"Set-Cookie", "kept=1; Max-Age=3600; Path=/a; Secure"}, {"Set-Cookie", "session=1"}});
    EXPECT_EQ(store()->path(), home / "Library/Cookies/Cookies.plist");
    EXPECT_TRUE(std::filesystem::exists(home / "Library/Cookies/Cookies.plist"));

    NSHTTPCookieStorage::resetSharedHTTPCookieStorage();
    auto cookies = store()->cookies();
    ASSERT_EQ(names(cookies), (std::vector<std::string>{"kept"}));
    EXPECT_EQ(cookies[0].path, "/a");
    EXPECT_TRUE(cookies[0].secure);
    EXPECT_TRUE(cookies[0].hostOnly);
    EXPECT_DOUBLE_EQ(cookies[0].expiresDate->timeIntervalSinceNow(), 3600.0);

    // Expired while the program was not running: not returned.
    time.advance(3600.0);
    NSHTTPCookieStorage::resetSharedHTTPCookieStorage();
    EXPECT_TRUE(store()->cookies().empty());
}

TEST_F(CookieStorageTest, AnUnreadableFileCountsAsEmpty) {
    std::filesystem::create_directories(home / "Library/Cookies");
    FILE* f = fopen((home / "Library/Cookies/Cookies.plist").c_str(), "w");
    ASSERT_NE(f, nullptr);
    fputs("not a property list", f);
    fclose(f);
    EXPECT_TRUE(store()->cookies().empty());
    answer("http://h.invalid/", {{"Set-Cookie", "a=1; Max-Age=60"}});
    NSHTTPCookieStorage::resetSharedHTTPCookieStorage();
    EXPECT_EQ(names(store()->cookies()), (std::vector<std::string>{"a"}));
}

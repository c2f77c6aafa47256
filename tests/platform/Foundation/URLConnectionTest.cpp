// CTest labels: threads

#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <future>
#include <string>

#include "platform/Foundation/NSURLConnection.h"
#include "tests/support/LoopbackHTTPService.h"
#include "tests/support/RefusingLoopbackPort.h"

namespace {

class URLConnectionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        service_.routes().Get("/f0", [this](const httplib::Request& req, httplib::Response& res) {
            lastQuery_ = req.get_param_value("isu") + "|" + req.get_param_value("app_id");
            res.set_content("accepted", "text/plain; charset=utf-8");
        });
        service_.routes().Get(
            "/empty", [](const httplib::Request&, httplib::Response& res) { res.status = 200; });
        // 300 is no redirect that is followed: it comes back as the answer.
        service_.routes().Get("/moved", [](const httplib::Request&, httplib::Response& res) {
            res.status = 300;
            res.set_header("Location", "/f0");
        });
        service_.routes().Post("/echo",
                               [this](const httplib::Request& req, httplib::Response& res) {
                                   lastMethod_ = req.method;
                                   res.status = 201;
                                   res.set_header("X-Seen", req.get_header_value("X-Token"));
                                   res.set_content(req.body, "application/octet-stream");
                               });
        service_.routes().Put("/echo", [this](const httplib::Request& req, httplib::Response& res) {
            lastMethod_ = req.method;
            res.set_content(req.body, "application/octet-stream");
        });
        ASSERT_GT(service_.start(), 0);
    }
    void TearDown() override { service_.stop(); }
    std::string url(const std::string& path) const { return service_.url(path); }

    LoopbackHTTPService service_;
    std::string lastQuery_;
    std::string lastMethod_;
};

std::string text(const Data& d) {
    return std::string(d.begin(), d.end());
}

}  // namespace

TEST_F(URLConnectionTest, GetReturnsStatusHeadersAndBodyOfAnyStatus) {
    struct Case {
        std::string path;
        long status;
        std::string body;
    };
    const Case cases[] = {
        {"/f0?isu=0123abcd&app_id=42", 200, "accepted"},
        {"/empty", 200, ""},
        {"/missing", 404, ""},
        {"/moved", 300, ""},
    };
    for (const Case& c : cases) {
        NSHTTPURLResponse response;
        NSErrorPtr error;
        auto data = NSURLConnection::sendSynchronousRequest(
            NSURLRequest::requestWithURL(url(c.path)), &response, &error);
        ASSERT_TRUE(data.has_value()) << c.path << ": " << (error ? error->description() : "");
        EXPECT_EQ(error, nullptr) << c.path;
        EXPECT_EQ(response.statusCode(), c.status) << c.path;
        if (c.path != "/missing") {
            EXPECT_EQ(text(*data), c.body) << c.path;
        }
        EXPECT_EQ(response.URL(), url(c.path));
    }
    EXPECT_EQ(lastQuery_, "0123abcd|42");

    NSHTTPURLResponse response;
    NSErrorPtr error;
    NSURLConnection::sendSynchronousRequest(NSURLRequest::requestWithURL(url("/moved")), &response,
                                            &error);
    EXPECT_EQ(response.valueForHTTPHeaderField("location"), "/f0");
    NSURLConnection::sendSynchronousRequest(NSURLRequest::requestWithURL(url("/f0")), &response,
                                            &error);
    EXPECT_EQ(response.MIMEType(), "text/plain");
}

TEST_F(URLConnectionTest, SendsMethodHeadersAndBinaryBody) {
    const std::string payload("a\0b\r\nbeacons={}", 15);
    for (const char* method : {"POST", "PUT"}) {
        auto request = NSMutableURLRequest::requestWithURL(
            url("/echo"), NSURLRequestReloadIgnoringLocalCacheData, 5);
        request.setHTTPMethod(method);
        request.setValue("first", "X-Token");
        request.setValue("secret", "x-token");  // replaces: names ignore case
        request.setHTTPBody(Data(payload.begin(), payload.end()));
        NSHTTPURLResponse response;
        NSErrorPtr error;
        auto data = NSURLConnection::sendSynchronousRequest(request, &response, &error);
        ASSERT_TRUE(data.has_value()) << method;
        EXPECT_EQ(lastMethod_, method);
        EXPECT_EQ(text(*data), payload) << method;
        if (std::string(method) == "POST") {
            EXPECT_EQ(response.statusCode(), 201);
            EXPECT_EQ(response.valueForHTTPHeaderField("X-SEEN"), "secret");
        }
    }
}

TEST(URLConnectionFailureTest, FailuresComeBackAsURLErrors) {
    LoopbackHTTPService silent;
    // Declared after the service, so that it goes first and lets the held answer end.
    std::promise<void> release;
    silent.routes().Get("/f0", [held = release.get_future().share()](
                                   const httplib::Request&, httplib::Response&) { held.wait(); });
    ASSERT_GT(silent.start(), 0);
    RefusingLoopbackPort closed;
    struct Case {
        const char* name;
        NSURLRequest request;
        long code;
    };
    const Case cases[] = {
        {"never answers",
         NSURLRequest::requestWithURL(silent.url("/f0"), NSURLRequestUseProtocolCachePolicy, 0.2),
         NSURLErrorTimedOut},
        {"refused", NSURLRequest::requestWithURL(closed.url("/f0")), NSURLErrorCannotConnectToHost},
        {"file scheme", NSURLRequest::requestWithURL("file:///etc/hostname"),
         NSURLErrorUnsupportedURL},
        {"ftp scheme", NSURLRequest::requestWithURL("ftp://127.0.0.1/x"), NSURLErrorUnsupportedURL},
    };
    for (const Case& c : cases) {
        NSHTTPURLResponse response;
        NSErrorPtr error;
        auto data = NSURLConnection::sendSynchronousRequest(c.request, &response, &error);
        EXPECT_FALSE(data.has_value()) << c.name;
        ASSERT_NE(error, nullptr) << c.name;
        EXPECT_EQ(error->domain(), NSURLErrorDomain) << c.name;
        EXPECT_EQ(error->code(), c.code) << c.name << ": " << error->description();
        EXPECT_EQ(error->userInfo()[NSURLErrorFailingURLStringErrorKey].string(), c.request.URL());
        EXPECT_EQ(response.statusCode(), 0) << c.name;
    }
    // The caller may pass no out-parameters at all.
    EXPECT_FALSE(NSURLConnection::sendSynchronousRequest(
        NSURLRequest::requestWithURL(closed.url("/")), nullptr, nullptr));
}

TEST(URLRequestTest, DefaultsAndHeaderFields) {
    auto request = NSMutableURLRequest::requestWithURL("http://adnet.tilvex.invalid/f0");
    EXPECT_EQ(request.HTTPMethod(), "GET");
    EXPECT_EQ(request.cachePolicy(), NSURLRequestUseProtocolCachePolicy);
    EXPECT_EQ(request.timeoutInterval(), 60.0);
    request.setTimeoutInterval(0);  // never "no time-out"
    EXPECT_EQ(request.timeoutInterval(), 60.0);

    request.setValue("text/plain", "Accept");
    request.addValue("text/xml", "accept");
    request.setValue("KinnetConnect", "User-Agent");
    EXPECT_EQ(request.valueForHTTPHeaderField("ACCEPT"), "text/plain, text/xml");
    request.setValue("", "accept");
    EXPECT_EQ(request.valueForHTTPHeaderField("Accept"), "");
    ASSERT_EQ(request.allHTTPHeaderFields().size(), 1u);
    EXPECT_EQ(request.allHTTPHeaderFields()[0].first, "User-Agent");
}

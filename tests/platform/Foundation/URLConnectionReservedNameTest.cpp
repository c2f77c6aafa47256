// CTest labels: threads

// Names under the reserved domain .invalid are never looked up: both kinds of request fail at
// once, even where the hosts file would answer for such a name.

#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <memory>
#include <string>

#include "platform/Foundation/NSRunLoop.h"
#include "platform/Foundation/NSURLConnection.h"
#include "tests/support/HostsFile.h"
#include "tests/support/LoopbackHTTPService.h"

namespace {

class FailureDelegate : public NSURLConnectionDelegate {
  public:
    int messages = 0;
    NSErrorPtr error;
    void connectionDidReceiveResponse(NSURLConnection*, const NSHTTPURLResponse&) override {
        ++messages;
    }
    void connectionDidFinishLoading(NSURLConnection*) override { ++messages; }
    void connectionDidFailWithError(NSURLConnection*, const NSErrorPtr& e) override {
        ++messages;
        error = e;
    }
};

TEST(URLConnectionReservedNameTest, NamesUnderInvalidFailAtOnceWithoutALookUp) {
    LoopbackHTTPService service;
    std::atomic<int> requests{0};
    service.routes().Get(".*", [&](const httplib::Request&, httplib::Response& res) {
        ++requests;
        res.set_content("reached", "text/plain");
    });
    ASSERT_GT(service.start(), 0);
    const std::string port = std::to_string(service.port());
    // Every name here would resolve to the loopback server if it were looked up.
    const std::string hosts =
        "127.0.0.1 localhost localhost-probe invalid adnet.tilvex.invalid x.invalid\n";

    bool ran = withOwnHostsFile(hosts, [&] {
        // The hosts file is in effect: a name outside .invalid reaches the server through it.
        ASSERT_TRUE(NSURLConnection::sendSynchronousRequest(
            NSURLRequest::requestWithURL("http://localhost-probe:" + port + "/"), nullptr,
            nullptr));
        ASSERT_EQ(requests, 1);

        for (const std::string host :
             {"invalid", "adnet.tilvex.invalid", "X.INVALID", "x.invalid.", "user@x.invalid"}) {
            SCOPED_TRACE(host);
            const std::string URL = "http://" + host + ":" + port + "/f0";
            NSErrorPtr error;
            EXPECT_FALSE(NSURLConnection::sendSynchronousRequest(NSURLRequest::requestWithURL(URL),
                                                                 nullptr, &error));
            ASSERT_NE(error, nullptr);
            EXPECT_EQ(error->code(), NSURLErrorCannotFindHost);
            EXPECT_EQ(error->userInfo()[NSURLErrorFailingURLStringErrorKey].string(), URL);

            auto loop = NSRunLoop::currentRunLoop();
            auto delegate = std::make_shared<FailureDelegate>();
            ASSERT_NE(
                NSURLConnection::connectionWithRequest(NSURLRequest::requestWithURL(URL), delegate),
                nullptr);
            EXPECT_FALSE(loop->hasSources()) << "no socket, no timer";
            EXPECT_EQ(delegate->messages, 0) << "not from inside the start";
            loop->run();
            EXPECT_EQ(delegate->messages, 1);
            ASSERT_NE(delegate->error, nullptr);
            EXPECT_EQ(delegate->error->code(), NSURLErrorCannotFindHost);
        }
        EXPECT_EQ(requests, 1) << "no request under .invalid reached the server";
    });
    if (!ran)
        GTEST_SKIP() << "no mount namespace can be made here";
}

}  // namespace

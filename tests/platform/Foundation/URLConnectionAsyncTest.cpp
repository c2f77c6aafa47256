// CTest labels: threads

#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "platform/Foundation/NSThread.h"
#include "platform/Foundation/NSURLConnection.h"
#include "tests/support/LoopbackHTTPService.h"
#include "tests/support/RefusingLoopbackPort.h"
#include "tests/support/RunLoopTesting.h"

namespace {

// Writes down every message it hears, in order, as short texts.
class RecordingDelegate : public NSURLConnectionDelegate {
  public:
    std::vector<std::string> messages;
    std::string body;
    NSHTTPURLResponse response;
    NSErrorPtr error;
    std::vector<std::thread::id> threads;
    // Runs inside the response message, after it was written down.
    std::function<void(NSURLConnection*)> onResponse;

    void connectionDidReceiveResponse(NSURLConnection* connection,
                                      const NSHTTPURLResponse& r) override {
        heard("response " + std::to_string(r.statusCode()));
        response = r;
        if (onResponse)
            onResponse(connection);
    }
    void connectionDidReceiveData(NSURLConnection*, const Data& data) override {
        if (messages.empty() || messages.back() != "data")
            messages.push_back("data");  // consecutive pieces written down as one
        threads.push_back(std::this_thread::get_id());
        body.append(data.begin(), data.end());
    }
    void connectionDidFinishLoading(NSURLConnection*) override { heard("finish"); }
    void connectionDidFailWithError(NSURLConnection*, const NSErrorPtr& e) override {
        heard("fail");
        error = e;
    }

  private:
    void heard(std::string what) {
        messages.push_back(std::move(what));
        threads.push_back(std::this_thread::get_id());
    }
};

class URLConnectionAsyncTest : public ::testing::Test {
  protected:
    void SetUp() override {
        service_.routes().Get("/hello", [](const httplib::Request&, httplib::Response& res) {
            res.set_header("X-Kind", "greeting");
            res.set_content("hello world", "text/plain");
        });
        service_.routes().Get("/missing", [](const httplib::Request&, httplib::Response& res) {
            res.status = 404;
            res.set_content("no such page", "text/plain");
        });
        // 300 is no redirect that is followed: it comes back as the answer.
        service_.routes().Get("/moved", [](const httplib::Request&, httplib::Response& res) {
            res.status = 300;
            res.set_header("Location", "/hello");
        });
        service_.routes().Get("/large", [](const httplib::Request&, httplib::Response& res) {
            res.set_content(largeBody(), "application/octet-stream");
        });
        service_.routes().Post("/echo", [](const httplib::Request& req, httplib::Response& res) {
            res.status = 201;
            res.set_content(req.method + " " + req.get_header_value("X-Token") + " " + req.body,
                            "text/plain");
        });
        // Answers only when the test lets it: a server that is silent for as long as needed.
        service_.routes().Get("/held", [this](const httplib::Request&, httplib::Response& res) {
            ++heldRequests_;
            loop_->stop();  // the request has arrived
            held_.wait();
            res.set_content("late", "text/plain");
        });
        ASSERT_GT(service_.start(), 0);
    }
    void TearDown() override {
        release_.set_value();
        service_.stop();
    }
    std::string url(const std::string& path) const { return service_.url(path); }
    static std::string largeBody() {
        std::string body;
        for (int i = 0; body.size() < 3'000'000; ++i) body += std::to_string(i) + ",";
        return body;
    }
    // Runs the loop until the connection has said its last word (no source is left then).
    void runToEnd() { loop_->run(); }

    ManualClockScope time;
    std::shared_ptr<NSRunLoop> loop_ = NSRunLoop::currentRunLoop();
    LoopbackHTTPService service_;
    std::atomic<int> heldRequests_{0};
    std::promise<void> release_;
    std::shared_future<void> held_ = release_.get_future().share();
};

TEST_F(URLConnectionAsyncTest, AnswerOfAnyStatusComesAsResponseDataThenFinish) {
    struct Case {
        std::string path;
        long status;
        std::string body;
    };
    const Case cases[] = {
        {"/hello", 200, "hello world"},
        {"/missing", 404, "no such page"},
        {"/moved", 300, ""},
    };
    for (const Case& c : cases) {
        auto delegate = std::make_shared<RecordingDelegate>();
        auto connection = NSURLConnection::connectionWithRequest(
            NSURLRequest::requestWithURL(url(c.path)), delegate);
        ASSERT_NE(connection, nullptr);
        EXPECT_TRUE(delegate->messages.empty()) << "nothing is said before the loop runs";
        runToEnd();
        std::vector<std::string> expected{"response " + std::to_string(c.status)};
        if (!c.body.empty())
            expected.push_back("data");
        expected.push_back("finish");
        EXPECT_EQ(delegate->messages, expected) << c.path;
        EXPECT_EQ(delegate->body, c.body) << c.path;
        EXPECT_EQ(delegate->response.URL(), url(c.path));
        EXPECT_EQ(connection->originalRequest().URL(), url(c.path));
    }
}

TEST_F(URLConnectionAsyncTest, SendsMethodHeadersAndBodyAndReadsHeaderFields) {
    auto request = NSMutableURLRequest::requestWithURL(
        url("/echo"), NSURLRequestReloadIgnoringLocalCacheData, 10);
    request.setHTTPMethod("POST");
    request.setValue("secret", "X-Token");
    const std::string payload = "beacons={\"b\":[]}";
    request.setHTTPBody(Data(payload.begin(), payload.end()));
    auto delegate = std::make_shared<RecordingDelegate>();
    NSURLConnection::connectionWithRequest(request, delegate);
    runToEnd();
    EXPECT_EQ(delegate->response.statusCode(), 201);
    EXPECT_EQ(delegate->response.MIMEType(), "text/plain");
    EXPECT_EQ(delegate->body, "POST secret " + payload);

    auto hello = std::make_shared<RecordingDelegate>();
    NSURLConnection::connectionWithRequest(NSURLRequest::requestWithURL(url("/hello")), hello);
    runToEnd();
    EXPECT_EQ(hello->response.valueForHTTPHeaderField("x-kind"), "greeting");
}

TEST_F(URLConnectionAsyncTest, LargeBodyArrivesWholeAcrossItsPieces) {
    auto delegate = std::make_shared<RecordingDelegate>();
    NSURLConnection::connectionWithRequest(NSURLRequest::requestWithURL(url("/large")), delegate);
    runToEnd();
    EXPECT_EQ(delegate->messages, (std::vector<std::string>{"response 200", "data", "finish"}));
    EXPECT_EQ(delegate->body, largeBody());
}

TEST_F(URLConnectionAsyncTest, KeepsItselfAndItsDelegateAliveUntilTheLastMessage) {
    auto delegate = std::make_shared<RecordingDelegate>();
    std::weak_ptr<RecordingDelegate> watchDelegate = delegate;
    std::weak_ptr<NSURLConnection> watchConnection = NSURLConnection::connectionWithRequest(
        NSURLRequest::requestWithURL(url("/hello")), std::move(delegate));
    EXPECT_FALSE(watchConnection.expired());
    EXPECT_FALSE(watchDelegate.expired());
    runToEnd();
    EXPECT_TRUE(watchConnection.expired());
    EXPECT_TRUE(watchDelegate.expired());
}

TEST_F(URLConnectionAsyncTest, FailuresComeAsOneFailureMessage) {
    RefusingLoopbackPort closed;
    struct Case {
        const char* name;
        std::string URL;
        long code;
    };
    const Case cases[] = {
        {"refused", closed.url("/"), NSURLErrorCannotConnectToHost},
        {"bad port", "http://127.0.0.1:99999/", NSURLErrorBadURL},
    };
    for (const Case& c : cases) {
        auto delegate = std::make_shared<RecordingDelegate>();
        ASSERT_NE(
            NSURLConnection::connectionWithRequest(NSURLRequest::requestWithURL(c.URL), delegate),
            nullptr);
        EXPECT_TRUE(delegate->messages.empty()) << c.name << ": not from inside the start";
        runToEnd();
        EXPECT_EQ(delegate->messages, std::vector<std::string>{"fail"}) << c.name;
        ASSERT_NE(delegate->error, nullptr);
        EXPECT_EQ(delegate->error->domain(), NSURLErrorDomain);
        EXPECT_EQ(delegate->error->code(), c.code)
            << c.name << ": " << delegate->error->description();
        EXPECT_EQ(delegate->error->userInfo()[NSURLErrorFailingURLStringErrorKey].string(), c.URL);
    }
}

TEST_F(URLConnectionAsyncTest, OtherSchemesGiveNoConnectionAndNoMessage) {
    for (const char* URL : {"file:///etc/hostname", "ftp://127.0.0.1/x", "http:", "localhost/x"}) {
        auto delegate = std::make_shared<RecordingDelegate>();
        EXPECT_EQ(
            NSURLConnection::connectionWithRequest(NSURLRequest::requestWithURL(URL), delegate),
            nullptr)
            << URL;
        time.runDue();
        EXPECT_TRUE(delegate->messages.empty()) << URL;
    }
    EXPECT_FALSE(loop_->hasSources());
}

TEST_F(URLConnectionAsyncTest, SilentServerEndsInATimeOutOnTheClock) {
    auto delegate = std::make_shared<RecordingDelegate>();
    auto connection = NSURLConnection::connectionWithRequest(
        NSURLRequest::requestWithURL(url("/held"), NSURLRequestReloadIgnoringLocalCacheData, 30),
        delegate);
    loop_->run();  // until the server holds the request
    time.advance(29.9);
    EXPECT_TRUE(delegate->messages.empty());
    time.advance(0.1);
    EXPECT_EQ(delegate->messages, std::vector<std::string>{"fail"});
    ASSERT_NE(delegate->error, nullptr);
    EXPECT_EQ(delegate->error->code(), NSURLErrorTimedOut);
    EXPECT_FALSE(loop_->hasSources()) << "no descriptor or timer is left behind";
    connection->cancel();  // after the end: nothing
    EXPECT_EQ(delegate->messages.size(), 1u);
}

TEST_F(URLConnectionAsyncTest, SynchronousRequestEndsAtItsTimeOutOnTheClock) {
    // The clock is moved by another thread once the server holds the request.
    std::thread mover([this] {
        while (heldRequests_ == 0) std::this_thread::yield();
        time.clock().advance(60);
    });
    NSHTTPURLResponse response;
    NSErrorPtr error;
    auto data = NSURLConnection::sendSynchronousRequest(
        NSURLRequest::requestWithURL(url("/held"), NSURLRequestReloadIgnoringLocalCacheData, 60),
        &response, &error);
    mover.join();
    EXPECT_FALSE(data.has_value());
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->code(), NSURLErrorTimedOut);
    EXPECT_EQ(response.statusCode(), 0);
}

TEST_F(URLConnectionAsyncTest, CancelSilencesTheConnectionAtOnce) {
    // Cancelled before the loop ever ran, and cancelled from inside its own response message.
    auto early = std::make_shared<RecordingDelegate>();
    auto connection =
        NSURLConnection::connectionWithRequest(NSURLRequest::requestWithURL(url("/hello")), early);
    connection->cancel();
    connection->cancel();  // a second call does nothing
    EXPECT_FALSE(loop_->hasSources());

    auto midway = std::make_shared<RecordingDelegate>();
    midway->onResponse = [](NSURLConnection* c) { c->cancel(); };
    NSURLConnection::connectionWithRequest(NSURLRequest::requestWithURL(url("/large")), midway);
    runToEnd();
    EXPECT_TRUE(early->messages.empty());
    EXPECT_EQ(midway->messages, std::vector<std::string>{"response 200"});
    EXPECT_TRUE(midway->body.empty());
}

TEST_F(URLConnectionAsyncTest, MessagesArriveOnTheStartingThreadsLoop) {
    auto delegate = std::make_shared<RecordingDelegate>();
    std::thread::id worker;
    auto thread = NSThread::detachNewThread([&] {
        worker = std::this_thread::get_id();
        NSURLConnection::connectionWithRequest(NSURLRequest::requestWithURL(url("/large")),
                                               delegate);
        NSRunLoop::currentRunLoop()->run();
    });
    thread->join();
    EXPECT_EQ(delegate->messages.back(), "finish");
    for (auto id : delegate->threads) EXPECT_EQ(id, worker);
}

}  // namespace

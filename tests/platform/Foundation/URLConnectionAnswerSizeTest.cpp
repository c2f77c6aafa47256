// CTest labels: threads

// An answer far larger than any real one: what the connection keeps or delivers stays within
// NSURLConnectionMaximumBodyLength, and the answer counts as failed.
#include <gtest/gtest.h>
#include <httplib.h>

#include <algorithm>
#include <string>

#include "platform/Foundation/NSURLConnection.h"
#include "tests/support/LoopbackHTTPService.h"
#include "tests/support/RunLoopTesting.h"

namespace {

constexpr size_t kCap = NSURLConnectionMaximumBodyLength;

struct SizeCase {
    const char* name;
    size_t length;
    bool chunked;  // else the length is declared up front
    bool fails;
};

const SizeCase kSizeCases[] = {
    {"ChunkedOneBytePastTheCap", kCap + 1, true, true},
    {"DeclaredOneBytePastTheCap", kCap + 1, false, true},
    {"ChunkedFarPastTheCap", 4 * kCap, true, true},
    {"ChunkedExactlyTheCap", kCap, true, false},
};

// Counts what it hears; keeps no body.
class CountingDelegate : public NSURLConnectionDelegate {
  public:
    size_t bytes = 0;
    int responses = 0;
    int finishes = 0;
    int failures = 0;
    NSErrorPtr error;

    void connectionDidReceiveResponse(NSURLConnection*, const NSHTTPURLResponse&) override {
        ++responses;
    }
    void connectionDidReceiveData(NSURLConnection*, const Data& data) override {
        bytes += data.size();
    }
    void connectionDidFinishLoading(NSURLConnection*) override { ++finishes; }
    void connectionDidFailWithError(NSURLConnection*, const NSErrorPtr& e) override {
        ++failures;
        error = e;
    }
};

// A loopback server that streams /stream?length=N[&chunked=1] of 'x' bytes in pieces, never
// holding the whole answer.
class URLConnectionAnswerSizeTest : public ::testing::TestWithParam<SizeCase> {
  protected:
    void SetUp() override {
        service_.routes().Get("/stream", [](const httplib::Request& req, httplib::Response& res) {
            const size_t length = std::stoull(req.get_param_value("length"));
            auto piece = std::make_shared<std::string>(64 * 1024, 'x');
            if (req.get_param_value("chunked") == "1") {
                res.set_chunked_content_provider(
                    "application/octet-stream",
                    [length, piece](size_t offset, httplib::DataSink& sink) {
                        if (offset >= length) {
                            sink.done();
                            return true;
                        }
                        return sink.write(piece->data(), std::min(piece->size(), length - offset));
                    });
            } else {
                res.set_content_provider(length, "application/octet-stream",
                                         [piece](size_t, size_t left, httplib::DataSink& sink) {
                                             return sink.write(piece->data(),
                                                               std::min(piece->size(), left));
                                         });
            }
        });
        ASSERT_GT(service_.start(), 0);
    }
    void TearDown() override { service_.stop(); }
    NSURLRequest request() const {
        const SizeCase& c = GetParam();
        return NSURLRequest::requestWithURL(service_.url("/stream?length=") +
                                            std::to_string(c.length) +
                                            (c.chunked ? "&chunked=1" : ""));
    }
    static void expectTooLarge(const NSErrorPtr& error) {
        ASSERT_NE(error, nullptr);
        EXPECT_EQ(error->domain(), NSURLErrorDomain);
        EXPECT_EQ(error->code(), NSURLErrorDataLengthExceedsMaximum);
        EXPECT_NE(error->localizedDescription().find("larger than"), std::string::npos)
            << error->localizedDescription();
    }

    LoopbackHTTPService service_;
};

TEST_P(URLConnectionAnswerSizeTest, SynchronousCallKeepsNoMoreThanTheCap) {
    const SizeCase& c = GetParam();
    NSHTTPURLResponse response;
    NSErrorPtr error;
    auto body = NSURLConnection::sendSynchronousRequest(request(), &response, &error);
    if (c.fails) {
        EXPECT_FALSE(body.has_value());
        EXPECT_EQ(response.statusCode(), 0) << "a failure leaves the response untouched";
        expectTooLarge(error);
    } else {
        ASSERT_TRUE(body.has_value()) << (error ? error->localizedDescription() : "");
        EXPECT_EQ(body->size(), c.length);
        EXPECT_EQ(response.statusCode(), 200);
    }
}

TEST_P(URLConnectionAnswerSizeTest, AsynchronousConnectionDeliversNoMoreThanTheCap) {
    const SizeCase& c = GetParam();
    ManualClockScope time;
    auto delegate = std::make_shared<CountingDelegate>();
    auto connection = NSURLConnection::connectionWithRequest(request(), delegate);
    ASSERT_NE(connection, nullptr);
    NSRunLoop::currentRunLoop()->run();  // until the connection has said its last word
    EXPECT_LE(delegate->bytes, kCap);
    if (c.fails) {
        EXPECT_EQ(delegate->failures, 1);
        EXPECT_EQ(delegate->finishes, 0);
        expectTooLarge(delegate->error);
    } else {
        EXPECT_EQ(delegate->failures, 0)
            << (delegate->error ? delegate->error->localizedDescription() : "");
        EXPECT_EQ(delegate->finishes, 1);
        EXPECT_EQ(delegate->responses, 1);
        EXPECT_EQ(delegate->bytes, c.length);
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, URLConnectionAnswerSizeTest, ::testing::ValuesIn(kSizeCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

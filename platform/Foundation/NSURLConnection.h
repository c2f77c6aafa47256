#pragma once
// URL loading over libcurl. Only HTTP and HTTPS; redirects are not followed (a 3xx answer comes
// back as the response). Answers of any status come back as data; a failure to get an answer is
// an NSError in NSURLErrorDomain. Both kinds share the cookies of NSHTTPCookieStorage: what an
// answer sets is stored, and a request without a "Cookie" field of its own carries the stored
// cookies that match its URL.
//
// An answer's body is capped at NSURLConnectionMaximumBodyLength bytes (after decoding any
// content encoding): an answer that goes past it, or declares a length past it, is a failed
// answer (NSURLErrorDataLengthExceedsMaximum). The synchronous call then keeps nothing of it;
// the asynchronous one stops the transfer, having delivered no more than the cap, and reports
// the failure. No real answer of the services we talk to comes near the cap.

#include <cstddef>
#include <memory>
#include <optional>

#include "platform/Foundation/NSError.h"
#include "platform/Foundation/NSObject.h"
#include "platform/Foundation/NSURLRequest.h"
#include "platform/Foundation/NSURLResponse.h"

inline constexpr size_t NSURLConnectionMaximumBodyLength = 16 * 1024 * 1024;

inline constexpr const char* NSURLErrorDomain = "NSURLErrorDomain";
// The failing URL, in an error's user information.
inline constexpr const char* NSURLErrorFailingURLStringErrorKey = "NSErrorFailingURLStringKey";

enum NSURLErrorCode : long {
    NSURLErrorUnknown = -1,
    NSURLErrorBadURL = -1000,
    NSURLErrorTimedOut = -1001,
    NSURLErrorUnsupportedURL = -1002,
    NSURLErrorCannotFindHost = -1003,
    NSURLErrorCannotConnectToHost = -1004,
    NSURLErrorNetworkConnectionLost = -1005,
    NSURLErrorBadServerResponse = -1011,
    NSURLErrorDataLengthExceedsMaximum = -1103,
    NSURLErrorSecureConnectionFailed = -1200,
};

class NSURLConnection;

// The messages of an asynchronous connection, each with a default that does nothing. They arrive
// on the run loop of the thread that started the connection, never from inside
// connectionWithRequest: a response for each final answer (informational 1xx answers are not
// reported), the body in pieces, then exactly one of finish or failure.
class NSURLConnectionDelegate {
  public:
    virtual ~NSURLConnectionDelegate() = default;
    virtual void connectionDidReceiveResponse(NSURLConnection* connection,
                                              const NSHTTPURLResponse& response) {
        (void)connection;
        (void)response;
    }
    virtual void connectionDidReceiveData(NSURLConnection* connection, const Data& data) {
        (void)connection;
        (void)data;
    }
    virtual void connectionDidFinishLoading(NSURLConnection* connection) { (void)connection; }
    virtual void connectionDidFailWithError(NSURLConnection* connection, const NSErrorPtr& error) {
        (void)connection;
        (void)error;
    }
};

class NSURLConnection : public NSObject {
  public:
    // Starts loading `request` at once on the calling thread's run loop (libcurl's multi
    // interface on the loop's descriptor sources and timers). The connection retains itself and
    // its delegate until it has finished, failed or been cancelled; the caller may keep it to
    // cancel it. The request's time-out always applies, counted on the Clock by a timer of the
    // loop (and on real time by libcurl as a backstop), so a silent server ends in a failure
    // (NSURLErrorTimedOut). Returns null, without calling the delegate, for a URL that is not
    // http or https.
    static std::shared_ptr<NSURLConnection> connectionWithRequest(
        const NSURLRequest& request, std::shared_ptr<NSURLConnectionDelegate> delegate);
    // Stops the transfer; the delegate hears nothing more. A second call, or a call after the
    // end, does nothing. Thread: the starting thread.
    void cancel();
    const NSURLRequest& originalRequest() const;

    // Loads `request` on the calling thread and blocks until the answer is complete, the request's
    // time-out has passed on the Clock (or on real time, whichever comes first) or the exchange
    // failed; a time-out is NSURLErrorTimedOut. On an answer: fills `response` (when not null)
    // and returns the body, possibly empty. On a failure: leaves `response` untouched, sets
    // `*error` (when not null) and returns nullopt. Safe from any thread.
    static std::optional<Data> sendSynchronousRequest(const NSURLRequest& request,
                                                      NSHTTPURLResponse* response,
                                                      NSErrorPtr* error);

    ~NSURLConnection() override;

  private:
    struct Transfer;  // the libcurl handles and the run-loop sources of one load

    explicit NSURLConnection(const NSURLRequest& request);
    void start(std::shared_ptr<NSURLConnectionDelegate> delegate);
    void onSocket(int fd, short revents);
    void onCurlTimer();
    void onTimeout();
    // Reads libcurl's finished transfer, if any, and queues its last message.
    void collectResult();
    // Ends the transfer (handles, sources, timers); the queued messages stay.
    void endTransfer();
    // Sends the queued messages in order, unless cancelled on the way.
    void deliver();

    NSURLRequest request_;
    std::unique_ptr<Transfer> transfer_;
};

#pragma once
// URL loading over libcurl. Only HTTP and HTTPS. Answers of any status come back as data; a
// failure to get an answer is an NSError in NSURLErrorDomain. Both kinds share the cookies of
// NSHTTPCookieStorage: what an answer sets is stored, and a request without a "Cookie" field of
// its own carries the stored cookies that match its URL.
//
// A host named "invalid" or ending in ".invalid" (in any case) is reserved never to resolve: such
// a request fails at once with NSURLErrorCannotFindHost, asking no resolver and opening no socket.
//
// Redirects are followed: an answer of status 301, 302, 303, 307 or 308 with a Location sends the
// request on to that URL (read against the URL it answered), up to
// NSURLConnectionMaximumRedirects times (one more is NSURLErrorHTTPTooManyRedirects), to http and
// https only (another scheme is NSURLErrorUnsupportedURL). A POST answered 301, 302 or 303, and any
// method but HEAD answered 303, goes on as a GET without its body; otherwise the method, the
// header fields and the body go on unchanged. Each hop carries the stored cookies of its own URL.
// The request's time-out counts from the start of the first hop.
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
inline constexpr int NSURLConnectionMaximumRedirects = 16;

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
    NSURLErrorHTTPTooManyRedirects = -1007,
    NSURLErrorBadServerResponse = -1011,
    NSURLErrorDataLengthExceedsMaximum = -1103,
    NSURLErrorSecureConnectionFailed = -1200,
};

class NSURLConnection;

// The messages of an asynchronous connection, each with a default that does nothing. They arrive
// on the run loop of the thread that started the connection, never from inside
// connectionWithRequest: a response for each answer (informational 1xx answers are not reported;
// a redirect's answer is, without its body, before the answer at its target), the body of the
// last answer in pieces, then exactly one of finish or failure.
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
    // http or https. A host under ".invalid" gives a connection whose only message, the failure,
    // comes from the loop like any other.
    static std::shared_ptr<NSURLConnection> connectionWithRequest(
        const NSURLRequest& request, std::shared_ptr<NSURLConnectionDelegate> delegate);
    // Stops the transfer; the delegate hears nothing more. A second call, or a call after the
    // end, does nothing. Thread: the starting thread.
    void cancel();
    const NSURLRequest& originalRequest() const;

    // Loads `request` on the calling thread and blocks until the answer is complete, the request's
    // time-out has passed on the Clock (or on real time, whichever comes first) or the exchange
    // failed; a time-out is NSURLErrorTimedOut. A URL that is not http or https fails with
    // NSURLErrorUnsupportedURL. On an answer (the last one, after any redirects): fills
    // `response` (when not null) and returns the body, possibly empty. On a failure: leaves
    // `response` untouched, sets
    // `*error` (when not null) and returns nullopt. Safe from any thread.
    static std::optional<Data> sendSynchronousRequest(const NSURLRequest& request,
                                                      NSHTTPURLResponse* response,
                                                      NSErrorPtr* error);

    ~NSURLConnection() override;
    // One owner of the transfer's curl handles and descriptor sources.
    NSURLConnection(const NSURLConnection&) = delete;
    NSURLConnection& operator=(const NSURLConnection&) = delete;

  private:
    struct Transfer;  // the libcurl handles and the run-loop sources of one load

    explicit NSURLConnection(const NSURLRequest& request);
    void start(std::shared_ptr<NSURLConnectionDelegate> delegate);
    // Adds the transfer of the current hop's request to libcurl.
    void load();
    // Goes on to the target of the redirect just read, or fails when it may not be followed.
    void follow();
    // Queues a failure that the loop delivers on its next pass.
    void failFromLoop(NSErrorPtr error);
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

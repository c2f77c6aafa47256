#pragma once
// The session of the Kinnet REST client: the application's API key and secret (or a session
// proxy's URL), the logged-in user's id, session key, session secret and expiry, kept in the
// user defaults ("KNUserId", "KNSessionKey", "KNSessionSecret", "KNSessionExpires"). It logs no
// one in: a host hands it credentials with `begin`, or `resume` restores saved ones.
//
// Every request starts through `send`, which paces them: at most 3 starts per 2.0 s window, the
// rest wait in the session's queue, oldest first, for a one-shot flush timer on the current run
// loop. Each session paces on its own.
//
// The shared session (`session()`) is not owned by the class: it is the first session made while
// none was shared, or the one given to `setSession`, for as long as something else keeps it.
// Delegates are not owned either (`delegates()`).
//
// Threads: one thread, the one that sends requests (the main thread); the flush timer runs on
// its run loop. Delegate messages are sent synchronously from `resume` and `logout`.

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>

#include "analytics/RQKNConnect/RQKNConnectGlobal.h"
#include "platform/Foundation/NSDate.h"
#include "platform/Foundation/NSObject.h"
#include "platform/Foundation/NSTimer.h"

class RQKNSession;
class RQKNRequest;

// `sessionDidLogin` is required; the others are sent only to a delegate that says it responds.
class RQKNSessionDelegate {
  public:
    virtual ~RQKNSessionDelegate() = default;
    // A saved session was restored by `resume`.
    virtual void sessionDidLogin(RQKNSession& session, uint64_t uid) = 0;
    virtual bool respondsToSessionWillLogout() const { return false; }
    // Before `logout` deletes anything; `uid` is still the logged-in user's.
    virtual void sessionWillLogout(RQKNSession& session, uint64_t uid) { (void)session, (void)uid; }
    virtual bool respondsToSessionDidLogout() const { return false; }
    virtual void sessionDidLogout(RQKNSession& session) { (void)session; }
};

class RQKNSession : public NSObject {
  public:
    static constexpr NSTimeInterval kRequestBurstWindow = 2.0;
    static constexpr int kMaxBurstRequests = 3;

    // The shared session, or null.
    static std::shared_ptr<RQKNSession> session();
    // Makes `session` the shared one without owning it; null leaves none.
    static void setSession(const std::shared_ptr<RQKNSession>& session);

    // A new session with the key and secret (no proxy) and `delegate` already listed; a null
    // delegate is not listed.
    static std::shared_ptr<RQKNSession> sessionForApplication(
        std::optional<std::string> apiKey, std::optional<std::string> apiSecret,
        const std::shared_ptr<RQKNSessionDelegate>& delegate);
    // The same with a session proxy's URL in place of the secret.
    static std::shared_ptr<RQKNSession> sessionForApplicationGetSessionProxy(
        std::optional<std::string> apiKey, std::optional<std::string> getSessionProxy,
        const std::shared_ptr<RQKNSessionDelegate>& delegate);
    // A logged-out session, also when one is saved (only `resume` restores it). It becomes the
    // shared session when there is none.
    static std::shared_ptr<RQKNSession> initWithKey(std::optional<std::string> apiKey,
                                                    std::optional<std::string> apiSecret,
                                                    std::optional<std::string> getSessionProxy);

    // The live list: add and remove delegates on it directly.
    RQKNNonRetainingArray<RQKNSessionDelegate>& delegates() { return delegates_; }
    const std::optional<std::string>& apiKey() const { return apiKey_; }
    const std::optional<std::string>& apiSecret() const { return apiSecret_; }
    const std::optional<std::string>& getSessionProxy() const { return getSessionProxy_; }
    uint64_t uid() const { return uid_; }
    const std::optional<std::string>& sessionKey() const { return sessionKey_; }
    const std::optional<std::string>& sessionSecret() const { return sessionSecret_; }
    const std::optional<NSDate>& expirationDate() const { return expirationDate_; }
    // A session key is held.
    bool isConnected() const { return sessionKey_.has_value(); }

    // The REST endpoint (the device setting TILVEX_REST_URL, path "/restserver.php"), and the
    // same over HTTPS.
    std::string apiURL() const;
    std::string apiSecureURL() const;

    // Takes the credentials and saves them. No delegate is told.
    void begin(uint64_t uid, std::optional<std::string> sessionKey,
               std::optional<std::string> sessionSecret, std::optional<NSDate> expires);
    // Restores the saved credentials: false, changing nothing, when no user id (or 0) is saved
    // or the saved expiry is now or past (a value that is no date counts as no expiry). On
    // success every delegate hears `sessionDidLogin`. Needs no saved session key.
    bool resume();
    // Without a session key: only `unsave`. Otherwise: `sessionWillLogout`, the login host's
    // cookies deleted, the credentials dropped, `unsave`, `sessionDidLogout`. Keys, delegates
    // and requests stay.
    void logout();
    // Writes the four keys (a user id of 0 or an absent value removes its key) / removes them;
    // both synchronise the user defaults.
    void save();
    void unsave();

    // Starts `request` now or queues it (performRequest with enqueue).
    void send(const std::shared_ptr<RQKNRequest>& request);
    // True when the request was started now (its `connect`). False when the window's limit
    // refused it; with `enqueue` it then waits in the queue, else the caller keeps it. Each
    // refusal counts in the window as a start would.
    bool performRequest(const std::shared_ptr<RQKNRequest>& request, bool enqueue);

    // The pacing state, read-only: the current window's start (null before the first request),
    // its count, the requests waiting, and whether a flush timer is pending. The window is timed
    // on the monotonic clock: a step of the wall clock neither ends nor extends it.
    const std::optional<NSDate>& lastRequestTime() const { return lastRequestTime_; }
    int requestBurstCount() const { return requestBurstCount_; }
    size_t queuedRequestCount() const { return requestQueue_.size(); }
    bool hasPendingRequestTimer() const;

    ~RQKNSession() override;

  private:
    RQKNSession(std::optional<std::string> apiKey, std::optional<std::string> apiSecret,
                std::optional<std::string> getSessionProxy);

    void enqueueRequest(const std::shared_ptr<RQKNRequest>& request);
    void startFlushTimer();
    void requestTimerReady();
    void flushRequestQueue();
    // Seconds from now until the window's start (negative when past); 0 without a window.
    NSTimeInterval timeToWindowStart() const;

    RQKNNonRetainingArray<RQKNSessionDelegate> delegates_;
    std::optional<std::string> apiKey_;
    std::optional<std::string> apiSecret_;
    std::optional<std::string> getSessionProxy_;
    uint64_t uid_ = 0;
    std::optional<std::string> sessionKey_;
    std::optional<std::string> sessionSecret_;
    std::optional<NSDate> expirationDate_;
    std::deque<std::shared_ptr<RQKNRequest>> requestQueue_;
    std::optional<NSDate> lastRequestTime_;
    // The same moment on Clock::monotonic(), which times the window.
    std::optional<NSTimeInterval> windowStart_;
    int requestBurstCount_ = 0;
    // Owned by the run loop, which keeps this session alive until the timer fires.
    std::weak_ptr<NSTimer> requestTimer_;
};

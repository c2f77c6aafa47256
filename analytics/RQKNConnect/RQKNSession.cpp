#include "analytics/RQKNConnect/RQKNSession.h"

#include <utility>

#include "analytics/RQKNConnect/RQKNRequest.h"
#include "platform/Device/DeviceSettings.h"
#include "platform/Foundation/NSHTTPCookieStorage.h"
#include "platform/Foundation/NSUserDefaults.h"

namespace {

constexpr const char* kUserIdKey = "KNUserId";
constexpr const char* kSessionKeyKey = "KNSessionKey";
constexpr const char* kSessionSecretKey = "KNSessionSecret";
constexpr const char* kSessionExpiresKey = "KNSessionExpires";

// Not owned: the shared session lives as long as its owner keeps it.
std::weak_ptr<RQKNSession> sharedSession;

void setOrRemove(NSUserDefaults& defaults, const char* key, const Value& value) {
    if (value.isNull())
        defaults.removeObjectForKey(key);
    else
        defaults.setObject(value, key);
}

}  // namespace

std::shared_ptr<RQKNSession> RQKNSession::session() {
    return sharedSession.lock();
}

void RQKNSession::setSession(const std::shared_ptr<RQKNSession>& session) {
    sharedSession = session;
}

std::shared_ptr<RQKNSession> RQKNSession::sessionForApplication(
    std::optional<std::string> apiKey, std::optional<std::string> apiSecret,
    const std::shared_ptr<RQKNSessionDelegate>& delegate) {
    auto session = initWithKey(std::move(apiKey), std::move(apiSecret), std::nullopt);
    session->delegates().addObject(delegate);
    return session;
}

std::shared_ptr<RQKNSession> RQKNSession::sessionForApplicationGetSessionProxy(
    std::optional<std::string> apiKey, std::optional<std::string> getSessionProxy,
    const std::shared_ptr<RQKNSessionDelegate>& delegate) {
    auto session = initWithKey(std::move(apiKey), std::nullopt, std::move(getSessionProxy));
    session->delegates().addObject(delegate);
    return session;
}

std::shared_ptr<RQKNSession> RQKNSession::initWithKey(std::optional<std::string> apiKey,
                                                      std::optional<std::string> apiSecret,
                                                      std::optional<std::string> getSessionProxy) {
    std::shared_ptr<RQKNSession> session(
        new RQKNSession(std::move(apiKey), std::move(apiSecret), std::move(getSessionProxy)));
    if (sharedSession.expired())
        sharedSession = session;
    return session;
}

RQKNSession::RQKNSession(std::optional<std::string> apiKey, std::optional<std::string> apiSecret,
                         std::optional<std::string> getSessionProxy)
    : delegates_(RQKNCreateNonRetainingArray<RQKNSessionDelegate>()),
      apiKey_(std::move(apiKey)),
      apiSecret_(std::move(apiSecret)),
      getSessionProxy_(std::move(getSessionProxy)) {}

RQKNSession::~RQKNSession() = default;

std::string RQKNSession::apiURL() const {
    return DeviceSettings::current().restURL;
}

std::string RQKNSession::apiSecureURL() const {
    std::string url = apiURL();
    if (url.starts_with("http://"))
        url.replace(0, 4, "https");
    return url;
}

void RQKNSession::begin(uint64_t uid, std::optional<std::string> sessionKey,
                        std::optional<std::string> sessionSecret, std::optional<NSDate> expires) {
    uid_ = uid;
    sessionKey_ = std::move(sessionKey);
    sessionSecret_ = std::move(sessionSecret);
    expirationDate_ = expires;
    save();
}

void RQKNSession::save() {
    auto defaults = NSUserDefaults::standardUserDefaults();
    setOrRemove(*defaults, kUserIdKey, uid_ != 0 ? Value(uid_) : Value());
    setOrRemove(*defaults, kSessionKeyKey, sessionKey_ ? Value(*sessionKey_) : Value());
    setOrRemove(*defaults, kSessionSecretKey, sessionSecret_ ? Value(*sessionSecret_) : Value());
    setOrRemove(*defaults, kSessionExpiresKey, expirationDate_ ? Value(*expirationDate_) : Value());
    defaults->synchronize();
}

void RQKNSession::unsave() {
    auto defaults = NSUserDefaults::standardUserDefaults();
    for (const char* key : {kUserIdKey, kSessionKeyKey, kSessionSecretKey, kSessionExpiresKey})
        defaults->removeObjectForKey(key);
    defaults->synchronize();
}

bool RQKNSession::resume() {
    auto defaults = NSUserDefaults::standardUserDefaults();
    // Stored unsigned; the reading keeps all 64 bits.
    const auto uid = static_cast<uint64_t>(defaults->integerForKey(kUserIdKey));
    if (uid == 0)
        return false;
    const Value expires = defaults->objectForKey(kSessionExpiresKey);
    std::optional<NSDate> expirationDate;
    if (expires.isDate()) {
        if (expires.date().timeIntervalSinceNow() <= 0)
            return false;
        expirationDate = expires.date();
    }
    uid_ = uid;
    sessionKey_ = defaults->stringForKey(kSessionKeyKey);
    sessionSecret_ = defaults->stringForKey(kSessionSecretKey);
    expirationDate_ = expirationDate;
    auto self = retained(this);
    for (const auto& delegate : delegates_.allObjects()) delegate->sessionDidLogin(*this, uid_);
    return true;
}

void RQKNSession::logout() {
    if (!sessionKey_) {
        unsave();
        return;
    }
    // A delegate may drop the last other reference to this session.
    auto self = retained(this);
    for (const auto& delegate : delegates_.allObjects())
        if (delegate->respondsToSessionWillLogout())
            delegate->sessionWillLogout(*this, uid_);

    auto cookies = NSHTTPCookieStorage::sharedHTTPCookieStorage();
    for (const NSHTTPCookie& cookie : cookies->cookiesForURL(DeviceSettings::current().loginURL))
        cookies->deleteCookie(cookie);

    uid_ = 0;
    sessionKey_.reset();
    sessionSecret_.reset();
    expirationDate_.reset();
    unsave();

    for (const auto& delegate : delegates_.allObjects())
        if (delegate->respondsToSessionDidLogout())
            delegate->sessionDidLogout(*this);
}

// Pacing.

void RQKNSession::send(const std::shared_ptr<RQKNRequest>& request) {
    performRequest(request, true);
}

NSTimeInterval RQKNSession::timeToWindowStart() const {
    return windowStart_ ? *windowStart_ - Clock::current().monotonic() : 0.0;
}

bool RQKNSession::performRequest(const std::shared_ptr<RQKNRequest>& request, bool enqueue) {
    const NSTimeInterval t = timeToWindowStart();
    // A window that began less than 2.0 s ago (on the monotonic clock, so a step of the wall
    // clock neither ends nor extends it). Exactly 0 is no window; a NaN fails the test and opens
    // a new one.
    if (t != 0 && t > -kRequestBurstWindow) {
        if (++requestBurstCount_ > kMaxBurstRequests) {
            if (enqueue)
                enqueueRequest(request);
            return false;
        }
        request->connect();
        return true;
    }
    // The connect stamps the request as it starts: the monotonic clock is read at that moment.
    const NSTimeInterval started = Clock::current().monotonic();
    request->connect();
    requestBurstCount_ = 1;
    lastRequestTime_ = request->timestamp();
    windowStart_.reset();
    if (lastRequestTime_)
        windowStart_ = started;
    return true;
}

void RQKNSession::enqueueRequest(const std::shared_ptr<RQKNRequest>& request) {
    requestQueue_.push_back(request);
    startFlushTimer();
}

bool RQKNSession::hasPendingRequestTimer() const {
    auto timer = requestTimer_.lock();
    return timer && timer->isValid();
}

void RQKNSession::startFlushTimer() {
    if (hasPendingRequestTimer())
        return;
    const NSTimeInterval delay = timeToWindowStart() + kRequestBurstWindow;
    requestTimer_ = NSTimer::scheduledTimerWithTimeInterval(
        delay, NSTimer::action(retained(this), &RQKNSession::requestTimerReady), Value(), false);
}

void RQKNSession::requestTimerReady() {
    requestTimer_.reset();
    flushRequestQueue();
}

void RQKNSession::flushRequestQueue() {
    while (!requestQueue_.empty()) {
        // Held here: a started request may finish and drop out before the queue moves on.
        std::shared_ptr<RQKNRequest> request = requestQueue_.front();
        if (!performRequest(request, false)) {
            startFlushTimer();
            return;
        }
        requestQueue_.pop_front();
    }
}

#pragma once
// The usage-analytics facade: one per process, made by the start and kept until the process
// ends. It records one session per run with its named events (sub-beacons) and an optional
// location fix in the session cache (BeaconDatabase), honours the user default
// kEnableHalvornStatsCollection (false turns analytics off), and writes a debug log that is
// silent until enableDebugMode.
//
// State is class-level, one set per process, shared by the class and instance operations.
// Threads: everything is called on the main thread, where the location callback, the upload's
// connection messages and the REST answers also arrive; the public operations check it
// (NSThread::assertMainThread).
// The lock: one recursive lock guards the upload's state, and only that: whether an upload is
// in flight (`uploading`), its connection (`connection`) and the answer gathered so far
// (`receivedData`). The upload holds it from its in-flight check through the request's build and
// the exchange, each connection message holds it, and so do the start's and resetForTesting's
// resets of that state: the check and the set of `uploading` are one step, and no message sees
// an upload half started or half reset. With every caller on the main thread it never waits.
// Recursive, because examineResponse takes it too and runs inside the synchronous exchange and
// inside connectionDidFinishLoading. The rest of the state is the main thread's alone.
// Errors: an invalid application code raises NSException "InvalidApplicationCode"; cache
// failures raise NSException from the cache and pass through unchanged.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "analytics/RQKNConnect/RQKNRequest.h"
#include "platform/CoreLocation/CLLocationManager.h"
#include "platform/Foundation/NSObject.h"
#include "platform/Foundation/NSURLConnection.h"
#include "platform/Foundation/Value.h"

class RQKNSession;

// The dictionary reading of the demographics answer (category RQNSNullCheck): the value for
// `key`, or nullopt when the key is missing or its value is null.
std::optional<Value> objectOrNilForNullForKey(const ValueDictionary& dictionary,
                                              std::string_view key);

class Beacon : public NSObject,
               public CLLocationManagerDelegate,
               public RQKNRequestDelegate,
               public NSURLConnectionDelegate {
  public:
    // The facade, or null before the start (with an alert in the platform log).
    static std::shared_ptr<Beacon> shared();

    // The start: checks the code (exactly 32 characters; a nil code has none), opens the cache
    // unless analytics is off, makes the facade, starts the upload of earlier runs' sessions and
    // starts this run's session. A second call returns the first facade and ignores its
    // arguments, whatever they are.
    static std::shared_ptr<Beacon> initAndStartBeaconWithApplicationCode(
        const std::optional<std::string>& applicationCode, bool useCoreLocation, bool useOnlyWiFi);
    // The same, after enableDebugMode when `enableDebugMode` is set.
    static std::shared_ptr<Beacon> initAndStartBeaconWithApplicationCode(
        const std::optional<std::string>& applicationCode, bool useCoreLocation, bool useOnlyWiFi,
        bool enableDebugMode);
    // endBeacon of the shared facade; nothing (but the alert of shared()) before the start.
    static void endSharedBeacon();

    // The library's opt-out test and debug log (RQAnalyticsLog), under the facade's names.
    static bool statsDisabled();
    static void enableDebugMode();
    static void log(const char* format, ...) __attribute__((format(printf, 1, 2)));

    // Forgets every class-level value, the log's included, and the shared cache, closing it
    // (test set-up only).
    static void resetForTesting();

    // Stores the code and flags, makes this the shared facade, and starts the upload of cached
    // sessions unless analytics is off. The start calls it; hosts use the start. A facade made
    // by this alone has no cache: every operation runs, and records and uploads nothing.
    static std::shared_ptr<Beacon> initWithApplicationCode(
        const std::optional<std::string>& applicationCode, bool useCoreLocation, bool useOnlyWiFi);

    // Starts a session unless one is running, and asks for a location fix when the facade was
    // started with location on.
    void startBeacon();
    // Stops the running session and uploads synchronously; with analytics off it deletes the
    // whole cache directory instead. Without a running session it does nothing. The facade
    // stays valid afterwards.
    void endBeacon();

    // Records a named event of the running session (untimed, timed, or as `timeSession` says).
    // Without a running session nothing is recorded and a notice naming it is logged. A name
    // longer than 32 characters is recorded whole, after a notice.
    void startSubBeaconWithName(const std::optional<std::string>& name);
    void startTimedSubBeaconWithName(const std::optional<std::string>& name);
    void startSubBeaconWithName(const std::optional<std::string>& name, bool timeSession);
    // Stops the open timed events of that name.
    void endSubBeaconWithName(const std::optional<std::string>& name);

    // A fix from a host that runs its own location services; overwrites an earlier one. A null
    // location stores nothing.
    void setBeaconLocation(const std::shared_ptr<CLLocation>& location);

    // The upload of cached sessions: every cached session with its sub-beacons as one JSON
    // document, POSTed as the UTF-8 body "beacons=<document>" to the device setting
    // TILVEX_ANALYTICS_URL; the exact answer "success" purges the cache (but for the running
    // session). Nothing happens with analytics off, while an upload is in flight, in wi-fi-only
    // mode without wi-fi, or with an empty cache. Asynchronous: starts a connection whose
    // messages arrive on the calling thread's run loop (10 s time-out). Synchronous: returns
    // when the exchange has ended (5 s time-out). Holds the facade's recursive lock, as do the
    // connection messages.
    void attemptToSendBeaconsAsync(bool async);
    // Purges the cache when `body` is exactly "success"; otherwise only logs.
    void examineResponse(const std::optional<Data>& body);
    // The upload connection's messages: each response restarts the body, the pieces are
    // collected, the end examines them; a failure leaves the cache as it is.
    void connectionDidReceiveResponse(NSURLConnection* connection,
                                      const NSHTTPURLResponse& response) override;
    void connectionDidReceiveData(NSURLConnection* connection, const Data& data) override;
    void connectionDidFailWithError(NSURLConnection* connection, const NSErrorPtr& error) override;
    void connectionDidFinishLoading(NSURLConnection* connection) override;
    // The hand-over of a logged-in social-network session for demographics: unless analytics
    // is off, the cache already has its user row, or the session is null or not logged in, one
    // KQL query for the user's sex and birthday goes out through the session; its answer is
    // stored in the user row (gender "m", "f" or "", birth month and year from "MMMM d, yyyy"
    // in the user's locale; -1 without a birthday, 0 for one in another form).
    void setKNConnectSession(const std::shared_ptr<RQKNSession>& session);
    // The answer of that query (the request is not looked at) and its failure (only logged).
    bool respondsToRequestDidLoad() const override { return true; }
    void requestDidLoad(RQKNRequest& request, const Value& result) override;
    bool respondsToRequestDidFailWithError() const override { return true; }
    void requestDidFailWithError(RQKNRequest& request, const NSErrorPtr& error) override;

    // The hardware model identifier ("hw.machine"), or nullopt when it cannot be read.
    std::optional<std::string> deviceModel() const;

    bool respondsToLocationManagerDidUpdateToLocationFromLocation() const override { return true; }
    // Stores the first fix after a request on the running session and stops the updates.
    void locationManagerDidUpdateToLocationFromLocation(
        CLLocationManager& manager, const std::shared_ptr<CLLocation>& newLocation,
        const std::shared_ptr<CLLocation>& oldLocation) override;

    ~Beacon() override;

  private:
    Beacon() = default;
    void requestLocation();
};

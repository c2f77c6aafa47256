#include "analytics/Classes/Interfaces/Beacon.h"

#include <algorithm>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <utility>

#include "analytics/Classes/RQReachability.h"
#include "analytics/Classes/Utils/Database/BeaconDatabase.h"
#include "analytics/Classes/Utils/RQAnalyticsLog.h"
#include "analytics/Classes/Utils/RQJSONUtils.h"
#include "analytics/Classes/Utils/SystemControl.h"
#include "analytics/RQKNConnect/RQKNSession.h"
#include "platform/Device/DeviceSettings.h"
#include "platform/Foundation/NSBundle.h"
#include "platform/Foundation/NSDate.h"
#include "platform/Foundation/NSDateFormatter.h"
#include "platform/Foundation/NSException.h"
#include "platform/Foundation/NSLog.h"
#include "platform/Foundation/NSString.h"
#include "platform/Foundation/NSThread.h"
#include "platform/Foundation/NSURLRequest.h"
#include "platform/UIKit/UIDevice.h"

namespace {

// The run loop's callbacks (an upload's answer, a location fix, a REST answer) have no caller
// to hand a failure of the cache to: it is logged and dropped there, so that the host's process
// goes on.
template <class Work>
void loggingFailures(const char* callback, Work&& work) {
    try {
        work();
    } catch (const NSException& exception) {
        NSLog("libRQAnalytics: %s failed: %s: %s", callback, exception.name().c_str(),
              exception.reason().c_str());
    }
}

// The facade's class-level values, one set per process. The upload's three are guarded by
// facadeLock(); the others belong to the main thread (Beacon.h).
struct BeaconState {
    std::shared_ptr<Beacon> shared;
    std::optional<std::string> applicationCode;
    bool beaconStarted = false;
    bool useCoreLocation = false;
    bool useWiFi = false;
    bool uploading = false;                       // guarded
    std::shared_ptr<NSURLConnection> connection;  // guarded: the asynchronous upload, until its end
    std::optional<Data> receivedData;             // guarded: its answer; made once, then reused
    std::shared_ptr<CLLocationManager> locationManager;
};

// Never destroyed: the facade lives until the process ends, and a teardown at exit would log
// through a clock and reset a location manager that exit has already destroyed.
BeaconState& state = *new BeaconState;

constexpr size_t kApplicationCodeLength = 32;
constexpr size_t kSubBeaconNameLimit = 32;
constexpr NSTimeInterval kRecentFixAge = 300.0;

// The text the platform's formatter gives for an optional string.
const char* describe(const std::optional<std::string>& text) {
    return text ? text->c_str() : "(null)";
}

// The cache, or null when the facade was made without the start: an operation sent to no cache
// does nothing.
std::shared_ptr<BeaconDatabase> cache() {
    return BeaconDatabase::shared();
}

constexpr NSTimeInterval kUploadTimeout = 10.0;
constexpr NSTimeInterval kSynchronousUploadTimeout = 5.0;

// The facade's lock over the upload's state (Beacon.h).
std::recursive_mutex& facadeLock() {
    static std::recursive_mutex lock;
    return lock;
}

// One header member of the upload document, `"key":"value",`. The value goes through the JSON
// writer's string escaping, so that a quotation mark in it cannot break the document; a missing
// value is the formatter's (null), as a string too.
std::string headerMember(const char* key, const std::optional<std::string>& value) {
    return RQJSONUtils::jsonStringForString(key) + ":" +
           RQJSONUtils::jsonStringForString(value.value_or("(null)")) + ",";
}

// The upload document: device, system and application, demographics when known, then every
// session record in the cache's order. Written without blanks; the records are the writer's.
std::string uploadDocument(const ValueArray& beacons, const ValueDictionary& user,
                           const std::optional<std::string>& hardwareModel) {
    auto device = UIDevice::currentDevice();
    const std::string model = device->model();
    std::optional<std::string> version;
    if (auto bundle = NSBundle::mainBundle()) {
        Value entry = bundle->objectForInfoDictionaryKey("CFBundleVersion");
        if (entry.isString())
            version = entry.string();
    }
    std::string document = "{";
    document += headerMember("did", device->uniqueIdentifier());
    document += headerMember("dm", model.find("iPhone Simulator") != std::string::npos
                                       ? std::optional<std::string>(model)
                                       : hardwareModel);
    document += headerMember("dos", device->systemVersion());
    document += headerMember("ac", state.applicationCode);
    document += headerMember("av", version);
    if (const Value* gender = user.find("gender"))
        document += headerMember("g", gender->string());
    const Value* year = user.find("birth_year");
    const Value* month = user.find("birth_month");
    if (year && month)
        document += headerMember(
            "bd", stringWithFormat("%d-%02d-01", static_cast<int>(year->integerValue()),
                                   static_cast<int>(month->integerValue())));
    document += "\"b\":[";
    for (size_t i = 0; i < beacons.size(); ++i) {
        if (i > 0)
            document += ",";
        document += RQJSONUtils::NSDictionaryToJSONString(beacons[i].dictionaryRef());
    }
    document += "]}";
    return document;
}

}  // namespace

std::shared_ptr<Beacon> Beacon::shared() {
    NSThread::assertMainThread("Beacon", __func__);
    if (!state.shared)
        NSLog("**ALERT**! Beacon has not yet been initialized -- [Beacon shared] will return nil.");
    return state.shared;
}

std::shared_ptr<Beacon> Beacon::initAndStartBeaconWithApplicationCode(
    const std::optional<std::string>& applicationCode, bool useCoreLocation, bool useOnlyWiFi,
    bool enableDebugMode) {
    if (enableDebugMode)
        Beacon::enableDebugMode();
    return initAndStartBeaconWithApplicationCode(applicationCode, useCoreLocation, useOnlyWiFi);
}

std::shared_ptr<Beacon> Beacon::initAndStartBeaconWithApplicationCode(
    const std::optional<std::string>& applicationCode, bool useCoreLocation, bool useOnlyWiFi) {
    NSThread::assertMainThread("Beacon", __func__);
    if (state.shared)
        return state.shared;
    const size_t length = applicationCode ? utf16Length(*applicationCode) : 0;
    if (length != kApplicationCodeLength)
        NSException::raise("InvalidApplicationCode", "The application code must be 32 characters");
    log("Init: using application code '%s'", applicationCode->c_str());
    if (statsDisabled())
        log("Init: Skipping database initialization because the kEnableHalvornStatsCollection "
            "user default is false (e.g. the user has opted out).");
    else
        BeaconDatabase::initWithApplicationCode(applicationCode);
    auto beacon = initWithApplicationCode(applicationCode, useCoreLocation, useOnlyWiFi);
    beacon->startBeacon();
    log("Init: Beacon has been initialized successfully.");
    return beacon;
}

std::shared_ptr<Beacon> Beacon::initWithApplicationCode(
    const std::optional<std::string>& applicationCode, bool useCoreLocation, bool useOnlyWiFi) {
    NSThread::assertMainThread("Beacon", __func__);
    std::shared_ptr<Beacon> beacon(new Beacon());
    state.applicationCode = applicationCode;
    state.useCoreLocation = useCoreLocation;
    state.useWiFi = useOnlyWiFi;
    {
        std::lock_guard lock(facadeLock());
        state.uploading = false;
    }
    state.shared = beacon;
    // Before this run's session is recorded, so it carries only earlier runs' sessions.
    if (!statsDisabled())
        beacon->attemptToSendBeaconsAsync(true);
    return beacon;
}

void Beacon::endSharedBeacon() {
    NSThread::assertMainThread("Beacon", __func__);
    if (auto beacon = shared())
        beacon->endBeacon();
}

bool Beacon::statsDisabled() {
    NSThread::assertMainThread("Beacon", __func__);
    return RQAnalyticsLog::statsDisabled();
}

void Beacon::enableDebugMode() {
    NSThread::assertMainThread("Beacon", __func__);
    RQAnalyticsLog::enableDebugMode();
}

void Beacon::log(const char* format, ...) {
    NSThread::assertMainThread("Beacon", __func__);
    va_list args;
    va_start(args, format);
    RQAnalyticsLog::logV(format, args);
    va_end(args);
}

void Beacon::resetForTesting() {
    NSThread::assertMainThread("Beacon", __func__);
    BeaconState old;
    {
        std::lock_guard lock(facadeLock());
        // Moved out first: the facade's destructor writes to the class-level values.
        old = std::exchange(state, BeaconState{});
        if (old.connection)
            old.connection->cancel();  // it would call back into a facade that is gone
    }
    old.shared.reset();
    BeaconDatabase::resetSharedForTesting();
    RQAnalyticsLog::resetForTesting();
}

void Beacon::startBeacon() {
    NSThread::assertMainThread("Beacon", __func__);
    if (statsDisabled())
        return;
    if (state.beaconStarted) {
        log("Attempted to start a beacon while one is already running. This call to startBeacon "
            "will be ignored.");
        return;
    }
    if (auto database = cache())
        database->startNewBeacon();
    state.beaconStarted = true;
    log("Init: new beacon session started.");
    if (!state.useCoreLocation) {
        log("Location: Internal CoreLocation support is disabled. However, you may still use "
            "setBeaconLocation: if your app uses CoreLocation.");
        return;
    }
    requestLocation();
}

void Beacon::requestLocation() {
    log("Location: Beacon CoreLocation support is enabled.");
    if (!state.locationManager) {
        state.locationManager = CLLocationManager::init();
        state.locationManager->setDelegate(weakly(this));
        log("Location: created a CLLocationManager.");
    }
    CLLocationManager& manager = *state.locationManager;
    if (!manager.locationServicesEnabled()) {
        log("Location: Skipping location request because user has explicitly, globally disabled "
            "it in Settings.");
        return;
    }
    auto cached = manager.location();
    if (cached && cached->timestamp().timeIntervalSinceNow() > -kRecentFixAge) {
        if (auto database = cache()) {
            database->updateLocationWithLatitude(cached->coordinate().latitude,
                                                 cached->coordinate().longitude);
            log("Location: device's location has been stored for this session.");
        }
        return;
    }
    manager.startUpdatingLocation();
    log("Location: current location is not recent enough; update requested.");
}

void Beacon::locationManagerDidUpdateToLocationFromLocation(
    CLLocationManager& manager, const std::shared_ptr<CLLocation>& newLocation,
    const std::shared_ptr<CLLocation>& /*oldLocation*/) {
    if (!state.useCoreLocation || !state.beaconStarted)
        return;
    bool stored = false;
    loggingFailures("locationManager:didUpdateToLocation:", [&] {
        if (auto database = cache()) {
            database->updateLocationWithLatitude(newLocation->coordinate().latitude,
                                                 newLocation->coordinate().longitude);
            stored = true;
        }
    });
    manager.stopUpdatingLocation();
    if (stored)
        log("Location: device's location has been stored for this session.");
}

void Beacon::setBeaconLocation(const std::shared_ptr<CLLocation>& location) {
    NSThread::assertMainThread("Beacon", __func__);
    auto database = cache();
    if (statsDisabled() || !location || !database)
        return;
    database->updateLocationWithLatitude(location->coordinate().latitude,
                                         location->coordinate().longitude);
    log("Location: location has been set manually.");
}

void Beacon::endBeacon() {
    NSThread::assertMainThread("Beacon", __func__);
    if (statsDisabled()) {
        BeaconDatabase::commitHariKariWithSeverity(DatabaseWipeSeverity);
        log("Beacon SQLite cache has been *completely deleted* because the "
            "kEnableHalvornStatsCollection user default is false (e.g. the user has opted out).");
        return;
    }
    if (!state.beaconStarted)
        return;
    if (auto database = cache())
        database->endBeacon();
    state.beaconStarted = false;
    log("Current beacon session has been terminated.");
    attemptToSendBeaconsAsync(false);
}

void Beacon::startSubBeaconWithName(const std::optional<std::string>& name) {
    startSubBeaconWithName(name, false);
}

void Beacon::startTimedSubBeaconWithName(const std::optional<std::string>& name) {
    startSubBeaconWithName(name, true);
}

void Beacon::startSubBeaconWithName(const std::optional<std::string>& name, bool timeSession) {
    NSThread::assertMainThread("Beacon", __func__);
    if (statsDisabled())
        return;
    if (!state.beaconStarted) {
        log("SubBeacons: **ALERT**! Beacon has not been initialized. '%s' will not be recorded. "
            "Ensure that [Beacon init...] has been called before doing anything else with Beacon!",
            describe(name));
        return;
    }
    if (name && utf16Length(*name) > kSubBeaconNameLimit)
        log("Subbeacon names are limited to 32 characters. \"%s\" will be truncated.",
            name->c_str());
    if (auto database = cache())
        database->startNewSubBeaconWithName(name, timeSession);
    log("SubBeacons: started %stimed sub-beacon named '%s'.", timeSession ? "" : "un",
        describe(name));
}

void Beacon::endSubBeaconWithName(const std::optional<std::string>& name) {
    NSThread::assertMainThread("Beacon", __func__);
    if (statsDisabled() || !state.beaconStarted)
        return;
    if (auto database = cache())
        database->endSubBeaconWithName(name);
    log("SubBeacons: Ended timed sub-beacon named '%s'.", describe(name));
}

void Beacon::attemptToSendBeaconsAsync(bool async) {
    NSThread::assertMainThread("Beacon", __func__);
    std::lock_guard lock(facadeLock());
    if (statsDisabled() || state.uploading)
        return;
    if (state.useWiFi) {
        log("useOnlyWifi: useOnlyWifi is enabled. Checking connection status...");
        if (RQReachability::internetConnectionStatus() != NetworkStatusViaWiFi) {
            log("useOnlyWifi: ...not connected via wi-fi. Leaving analytics data in SQLite "
                "cache.");
            return;
        }
        log("useOnlyWifi: ...connected via wi-fi. Continue.");
    }
    auto database = cache();
    if (!database)
        return;  // a facade made without the start has no cache
    const ValueArray beacons = database->beaconsToSend();
    if (beacons.empty())
        return;
    log("Networking: building request to send %d beacon session%s...",
        static_cast<int>(beacons.size()), beacons.size() == 1 ? "" : "s");
    // UTF-8, not ASCII: one non-ASCII sub-beacon name must not keep every later upload from
    // succeeding.
    const std::string body =
        "beacons=" + uploadDocument(beacons, database->userData(), deviceModel());
    auto request = NSMutableURLRequest::requestWithURL(DeviceSettings::current().analyticsURL,
                                                       NSURLRequestReloadIgnoringLocalCacheData,
                                                       kUploadTimeout);
    request.setHTTPMethod("POST");
    request.setHTTPBody(Data(body.begin(), body.end()));
    state.uploading = true;

    if (async) {
        if (state.receivedData)
            state.receivedData->clear();
        else
            state.receivedData.emplace();
        log("Networking: sending beacons in a background thread with a 10-second timeout "
            "interval...");
        state.connection = NSURLConnection::connectionWithRequest(request, retained(this));
        if (!state.connection) {
            state.uploading = false;
            log("Networking: connection failed with error '%s'.", "unsupported URL");
        }
        return;
    }
    request.setTimeoutInterval(kSynchronousUploadTimeout);
    log("Networking: sending beacons synchronously (blocking main thread!) with a 5-second "
        "timeout interval...");
    // Cleared also when the purge raises, or no later upload could ever start.
    struct ClearUploading {
        ~ClearUploading() { state.uploading = false; }
    } clearUploading;
    examineResponse(NSURLConnection::sendSynchronousRequest(request, nullptr, nullptr));
}

void Beacon::connectionDidReceiveResponse(NSURLConnection* /*connection*/,
                                          const NSHTTPURLResponse& /*response*/) {
    std::lock_guard lock(facadeLock());
    if (state.receivedData)
        state.receivedData->clear();
}

void Beacon::connectionDidReceiveData(NSURLConnection* /*connection*/, const Data& data) {
    std::lock_guard lock(facadeLock());
    if (!state.receivedData)
        state.receivedData.emplace();
    state.receivedData->insert(state.receivedData->end(), data.begin(), data.end());
    log("Networking: ... negotiating with server ...");
}

void Beacon::connectionDidFailWithError(NSURLConnection* connection, const NSErrorPtr& error) {
    std::lock_guard lock(facadeLock());
    state.uploading = false;
    if (state.connection.get() == connection)
        state.connection.reset();
    log("Networking: connection failed with error '%s'.",
        error ? error->localizedDescription().c_str() : "(null)");
}

void Beacon::connectionDidFinishLoading(NSURLConnection* connection) {
    std::lock_guard lock(facadeLock());
    state.uploading = false;
    if (state.connection.get() == connection)
        state.connection.reset();
    log("Networking: connection finished.");
    loggingFailures("connectionDidFinishLoading", [&] { examineResponse(state.receivedData); });
}

void Beacon::examineResponse(const std::optional<Data>& body) {
    NSThread::assertMainThread("Beacon", __func__);
    std::lock_guard lock(facadeLock());
    // Only the exact bytes count: no line end, no other case, whatever the HTTP status.
    static const std::string kSuccess = "success";
    auto database = cache();
    if (!body || !std::equal(body->begin(), body->end(), kSuccess.begin(), kSuccess.end()) ||
        !database) {
        log("Networking: did not receive successful response from the server. Analytics data "
            "will remain cached in SQLite.");
        return;
    }
    log("Networking: beacons were successfully transmitted. Purging the local SQLite cache...");
    database->deleteBeaconsWithBeaconRunning(state.beaconStarted);
    log("Networking: ...local SQLite cache purged.");
}

std::optional<Value> objectOrNilForNullForKey(const ValueDictionary& dictionary,
                                              std::string_view key) {
    const Value* value = dictionary.find(key);
    if (!value || value->isNull())
        return std::nullopt;
    return *value;
}

void Beacon::setKNConnectSession(const std::shared_ptr<RQKNSession>& session) {
    NSThread::assertMainThread("Beacon", __func__);
    if (statsDisabled())
        return;
    if (!session) {
        log("Notice: KNConnect session sent to Beacon is invalid.");
        return;
    }
    // No cache when the facade was made without the start; nothing to store into then.
    if (!cache() || cache()->hasUserData())
        return;
    if (!session->isConnected()) {
        log("Notice: KNConnect session sent to Beacon is not logged in.");
        return;
    }
    const std::string query = stringWithFormat("select sex,birthday from user where uid == %lld",
                                               static_cast<long long>(session->uid()));
    // The REST client keeps the request alive until its answer has been delivered.
    RQKNRequest::requestWithSession(session, weakly(this))
        ->call("kinnet.kql.query", {{"query", query}});
    log("KNConnect: demographic KQL query has been issued for the current user");
}

void Beacon::requestDidLoad(RQKNRequest& /*request*/, const Value& result) {
    if (statsDisabled())
        return;
    if (!result.isArray() || result.arrayRef().empty()) {
        log("KNConnect: request:didLoad: returned no users. Demographics will not be saved for "
            "this session.");
        return;
    }
    const Value& user = result.arrayRef().front();
    const ValueDictionary noEntries;
    const ValueDictionary& entries = user.isDictionary() ? user.dictionaryRef() : noEntries;
    const auto sex = objectOrNilForNullForKey(entries, "sex");
    const auto birthday = objectOrNilForNullForKey(entries, "birthday");

    std::string gender;
    if (sex && sex->isString() && sex->string() == "male")
        gender = "m";
    else if (sex && sex->isString() && sex->string() == "female")
        gender = "f";

    // A text that is missing or no number reads as 0, as the platform's integer reading does.
    std::string monthText = "-1";
    std::string yearText = "-1";
    if (birthday) {
        NSDateFormatter formatter;
        formatter.setDateFormat("MMMM d, yyyy");
        std::optional<NSDate> date;
        if (birthday->isString())
            date = formatter.dateFromString(birthday->string());
        monthText.clear();
        yearText.clear();
        if (date) {
            formatter.setDateFormat("M");
            monthText = formatter.stringFromDate(*date);
            formatter.setDateFormat("y");
            yearText = formatter.stringFromDate(*date);
        }
    }
    auto database = cache();
    if (!database)
        return;
    loggingFailures("request:didLoad:", [&] {
        database->saveUserWithGender(gender, std::atoi(monthText.c_str()),
                                     std::atoi(yearText.c_str()));
        log("KNConnect: Demographics data from KNConnect have been saved.");
    });
}

void Beacon::requestDidFailWithError(RQKNRequest& /*request*/, const NSErrorPtr& /*error*/) {
    log("Notice: Beacon KNRequest failed. Demographic data will not be saved for this session.");
}

std::optional<std::string> Beacon::deviceModel() const {
    char machine[32] = {};
    size_t size = sizeof machine;
    if (sysctlbyname("hw.machine", machine, &size, nullptr, 0) != 0)
        return std::nullopt;
    return std::string(machine, strnlen(machine, sizeof machine));
}

Beacon::~Beacon() {
    log("Beacon is dealloc'ing.");
    state.applicationCode.reset();
    state.locationManager.reset();
}

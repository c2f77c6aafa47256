#pragma once
// The location manager. This machine has no positioning hardware: fixes come from tests or the
// automation driver through `deliverLocation`, and the phone-wide switch for location services
// through `setLocationServicesEnabled`. The last fix delivered is the cached location that
// every manager reports.
//
// Threads: managers are used on the main thread, and the delegate's update callback is posted
// to the main run loop. `deliverLocation`, `setLocationServicesEnabled` and
// `resetDeviceLocation` may be called from any thread.

#include <memory>
#include <mutex>

#include "platform/CoreLocation/CLLocation.h"
#include "platform/Foundation/NSObject.h"

class CLLocationManager;

class CLLocationManagerDelegate {
  public:
    virtual ~CLLocationManagerDelegate() = default;
    // The manager asks before each update whether the delegate takes it.
    virtual bool respondsToLocationManagerDidUpdateToLocationFromLocation() const { return false; }
    // A new fix while the manager is updating; `oldLocation` is the fix before it, or null.
    virtual void locationManagerDidUpdateToLocationFromLocation(
        CLLocationManager& /*manager*/, const std::shared_ptr<CLLocation>& /*newLocation*/,
        const std::shared_ptr<CLLocation>& /*oldLocation*/) {}
};

class CLLocationManager : public NSObject {
  public:
    // A manager with default settings, not updating, without a delegate.
    static std::shared_ptr<CLLocationManager> init();
    ~CLLocationManager() override;

    // Not retained: the delegate's owner keeps it alive.
    void setDelegate(std::weak_ptr<CLLocationManagerDelegate> delegate);
    std::shared_ptr<CLLocationManagerDelegate> delegate() const;

    // The phone-wide setting; on by default.
    bool locationServicesEnabled() const;
    // The most recent fix the phone has, or null when none was ever delivered.
    std::shared_ptr<CLLocation> location() const;

    // While updating, every delivered fix reaches the delegate. A second start or stop does
    // nothing more.
    void startUpdatingLocation();
    void stopUpdatingLocation();
    bool isUpdatingLocation() const;

    // A fix from the simulated positioning: it becomes the cached location at once, and each
    // manager updating at that moment tells its delegate on the main run loop (a manager that is
    // gone or stopped by then is skipped).
    static void deliverLocation(const std::shared_ptr<CLLocation>& location);
    // A fix taken now.
    static void deliverLocation(CLLocationDegrees latitude, CLLocationDegrees longitude);
    static void setLocationServicesEnabled(bool enabled);
    // Forgets the cached fix and turns location services back on (test set-up).
    static void resetDeviceLocation();

  private:
    CLLocationManager() = default;
    void notifyDelegate(const std::shared_ptr<CLLocation>& newLocation,
                        const std::shared_ptr<CLLocation>& oldLocation);

    mutable std::mutex mutex_;
    std::weak_ptr<CLLocationManagerDelegate> delegate_;
    bool updating_ = false;
};

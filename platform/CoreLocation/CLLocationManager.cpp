#include "platform/CoreLocation/CLLocationManager.h"

#include <algorithm>
#include <vector>

#include "platform/Foundation/NSRunLoop.h"

namespace {

// The simulated phone's positioning, shared by every manager.
struct DeviceLocation {
    std::mutex mutex;
    bool servicesEnabled = true;
    std::shared_ptr<CLLocation> cached;
    std::vector<std::weak_ptr<CLLocationManager>> updating;
};

DeviceLocation& device() {
    static DeviceLocation instance;
    return instance;
}

}  // namespace

std::shared_ptr<CLLocationManager> CLLocationManager::init() {
    return std::shared_ptr<CLLocationManager>(new CLLocationManager());
}

CLLocationManager::~CLLocationManager() {
    auto& d = device();
    std::lock_guard lock(d.mutex);
    std::erase_if(d.updating, [](const auto& weak) { return weak.expired(); });
}

void CLLocationManager::setDelegate(std::weak_ptr<CLLocationManagerDelegate> delegate) {
    std::lock_guard lock(mutex_);
    delegate_ = std::move(delegate);
}

std::shared_ptr<CLLocationManagerDelegate> CLLocationManager::delegate() const {
    std::lock_guard lock(mutex_);
    return delegate_.lock();
}

bool CLLocationManager::locationServicesEnabled() const {
    auto& d = device();
    std::lock_guard lock(d.mutex);
    return d.servicesEnabled;
}

std::shared_ptr<CLLocation> CLLocationManager::location() const {
    auto& d = device();
    std::lock_guard lock(d.mutex);
    return d.cached;
}

void CLLocationManager::startUpdatingLocation() {
    {
        std::lock_guard lock(mutex_);
        if (updating_)
            return;
        updating_ = true;
    }
    auto& d = device();
    std::lock_guard lock(d.mutex);
    d.updating.push_back(weakly(this));
}

void CLLocationManager::stopUpdatingLocation() {
    {
        std::lock_guard lock(mutex_);
        if (!updating_)
            return;
        updating_ = false;
    }
    auto& d = device();
    std::lock_guard lock(d.mutex);
    std::erase_if(d.updating, [this](const auto& weak) {
        auto manager = weak.lock();
        return !manager || manager.get() == this;
    });
}

bool CLLocationManager::isUpdatingLocation() const {
    std::lock_guard lock(mutex_);
    return updating_;
}

void CLLocationManager::deliverLocation(const std::shared_ptr<CLLocation>& location) {
    std::shared_ptr<CLLocation> old;
    std::vector<std::weak_ptr<CLLocationManager>> receivers;
    {
        auto& d = device();
        std::lock_guard lock(d.mutex);
        old = std::exchange(d.cached, location);
        receivers = d.updating;
    }
    for (auto& weak : receivers) {
        NSRunLoop::mainRunLoop()->post([weak, location, old] {
            if (auto manager = weak.lock())
                manager->notifyDelegate(location, old);
        });
    }
}

void CLLocationManager::deliverLocation(CLLocationDegrees latitude, CLLocationDegrees longitude) {
    deliverLocation(CLLocation::initWithCoordinate({latitude, longitude}, NSDate::date()));
}

void CLLocationManager::setLocationServicesEnabled(bool enabled) {
    auto& d = device();
    std::lock_guard lock(d.mutex);
    d.servicesEnabled = enabled;
}

void CLLocationManager::resetDeviceLocation() {
    auto& d = device();
    std::lock_guard lock(d.mutex);
    d.servicesEnabled = true;
    d.cached = nullptr;
}

void CLLocationManager::notifyDelegate(const std::shared_ptr<CLLocation>& newLocation,
                                       const std::shared_ptr<CLLocation>& oldLocation) {
    if (!isUpdatingLocation())
        return;
    auto target = delegate();
    if (!target || !target->respondsToLocationManagerDidUpdateToLocationFromLocation())
        return;
    // Keeps the manager alive should the delegate drop it from within the callback.
    auto self = retained(this);
    target->locationManagerDidUpdateToLocationFromLocation(*self, newLocation, oldLocation);
}

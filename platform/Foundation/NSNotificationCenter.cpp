#include "platform/Foundation/NSNotificationCenter.h"

NSNotificationCenter& NSNotificationCenter::defaultCenter() {
    static NSNotificationCenter center;
    return center;
}

void NSNotificationCenter::add(const void* observer, std::weak_ptr<void> lifetime,
                               const std::string& name, const NSObject* sender, Handler handler) {
    auto r = std::make_shared<Registration>(
        Registration{observer, std::move(lifetime), true, name, sender, std::move(handler)});
    std::lock_guard lock(mutex_);
    registrations_.push_back(std::move(r));
}

void NSNotificationCenter::addObserver(const void* observer, const std::string& name,
                                       const NSObject* sender, Handler handler) {
    auto r = std::make_shared<Registration>(
        Registration{observer, {}, false, name, sender, std::move(handler)});
    std::lock_guard lock(mutex_);
    registrations_.push_back(std::move(r));
}

void NSNotificationCenter::removeObserver(const void* observer) {
    std::lock_guard lock(mutex_);
    std::erase_if(registrations_, [&](const auto& r) {
        if (r->observer != observer)
            return false;
        r->removed = true;
        return true;
    });
}

void NSNotificationCenter::removeObserver(const void* observer, const std::string& name,
                                          const NSObject* sender) {
    std::lock_guard lock(mutex_);
    std::erase_if(registrations_, [&](const auto& r) {
        if (r->observer != observer || (!name.empty() && r->name != name) ||
            (sender && r->sender != sender))
            return false;
        r->removed = true;
        return true;
    });
}

void NSNotificationCenter::postNotificationName(const std::string& name,
                                                std::shared_ptr<NSObject> object, Value userInfo) {
    NSNotification notification(name, object, std::move(userInfo));
    std::vector<std::shared_ptr<Registration>> matching;
    {
        std::lock_guard lock(mutex_);
        // Registrations of observers that are gone are dropped on the way.
        std::erase_if(registrations_,
                      [](const auto& r) { return r->watchesLifetime && r->lifetime.expired(); });
        for (const auto& r : registrations_)
            if ((r->name.empty() || r->name == name) && (!r->sender || r->sender == object.get()))
                matching.push_back(r);
    }
    for (const auto& r : matching) {
        {
            std::lock_guard lock(mutex_);
            if (r->removed)
                continue;
        }
        r->handler(notification);
    }
}

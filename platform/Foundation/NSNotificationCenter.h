#pragma once
// Name-keyed notifications. Posting is synchronous: every matching observer runs on the posting
// thread before `postNotificationName` returns. Observers are not retained: an observer that is
// gone is skipped. Removing or adding observers during a post is safe: a removed observer is not
// called again, even later in the same post; one added during a post first hears the next post.
//
// Threads: every method may be called from any thread.

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Foundation/NSObject.h"
#include "platform/Foundation/Value.h"

class NSNotification {
  public:
    NSNotification(std::string name, std::shared_ptr<NSObject> object, Value userInfo)
        : name_(std::move(name)), object_(std::move(object)), userInfo_(std::move(userInfo)) {}
    const std::string& name() const { return name_; }
    const std::shared_ptr<NSObject>& object() const { return object_; }
    const Value& userInfo() const { return userInfo_; }

  private:
    std::string name_;
    std::shared_ptr<NSObject> object_;
    Value userInfo_;
};

class NSNotificationCenter {
  public:
    using Handler = std::function<void(const NSNotification&)>;

    static NSNotificationCenter& defaultCenter();

    // `observer` hears notifications named `name` (every name when empty) from `sender` (any
    // sender when null), through `selector`.
    template <class T>
    void addObserver(const std::shared_ptr<T>& observer, void (T::*selector)(const NSNotification&),
                     const std::string& name, const NSObject* sender) {
        std::weak_ptr<T> weak = observer;
        add(observer.get(), weak, name, sender, [weak, selector](const NSNotification& n) {
            if (auto o = weak.lock())
                ((*o).*selector)(n);
        });
    }
    // The same with a handler; `observer` only identifies the registration for removal and is
    // not watched for lifetime.
    void addObserver(const void* observer, const std::string& name, const NSObject* sender,
                     Handler handler);

    // Removes every registration of `observer`, or those for `name` (and `sender`) only.
    void removeObserver(const void* observer);
    void removeObserver(const void* observer, const std::string& name, const NSObject* sender);

    void postNotificationName(const std::string& name, std::shared_ptr<NSObject> object,
                              Value userInfo = Value());

  private:
    struct Registration {
        const void* observer;
        std::weak_ptr<void> lifetime;
        bool watchesLifetime;
        std::string name;
        const NSObject* sender;
        Handler handler;
        bool removed = false;
    };
    void add(const void* observer, std::weak_ptr<void> lifetime, const std::string& name,
             const NSObject* sender, Handler handler);

    std::mutex mutex_;
    std::vector<std::shared_ptr<Registration>> registrations_;
};

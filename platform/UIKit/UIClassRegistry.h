#pragma once
// Makes objects by class name for the interface files. UIKit's own view and controller classes
// are known from the start; the application registers its classes before it loads a file that
// names them.
//
// Threads: any thread (a mutex); objects are made on the caller's thread.

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/Foundation/NSObject.h"

class UIClassRegistry {
  public:
    using Factory = std::function<std::shared_ptr<NSObject>()>;

    static UIClassRegistry& shared();

    // A second registration of a name replaces the first.
    void registerClass(const std::string& name, Factory factory);
    template <class T>
    void registerClass(const std::string& name) {
        registerClass(name,
                      [] { return std::static_pointer_cast<NSObject>(std::make_shared<T>()); });
    }
    // A new object of the class, or null for an unknown name.
    std::shared_ptr<NSObject> create(const std::string& name) const;

  private:
    UIClassRegistry();
    mutable std::mutex mutex_;
    std::map<std::string, Factory> factories_;
};

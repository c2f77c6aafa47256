#pragma once
// What the interface-file loader asks of the objects it makes and of the file's owner: their
// properties from the file, their outlets and their action methods, all by name.

#include <functional>
#include <memory>
#include <string>

#include "platform/Foundation/NSObject.h"
#include "platform/Foundation/Value.h"

class UINibConnectable {
  public:
    using Action = std::function<void()>;

    virtual ~UINibConnectable() = default;

    // The object's properties from the interface file (a dictionary); unknown keys are ignored.
    virtual void setNibProperties(const Value& properties) { (void)properties; }
    // Sets the outlet `name` to `object`; false when this class has no such outlet (or the object
    // is of the wrong class).
    virtual bool setOutlet(const std::string& name, const std::shared_ptr<NSObject>& object) {
        (void)name;
        (void)object;
        return false;
    }
    // The action method `name` of this object, bound to it without keeping it alive; empty when
    // there is no such action.
    virtual Action actionNamed(const std::string& name) {
        (void)name;
        return {};
    }
    // Runs once every object of the file is made and connected.
    virtual void awakeFromNib() {}
};

// Helpers for overrides of setOutlet and actionNamed.
template <class Field>
bool assignOutlet(std::shared_ptr<Field>& field, const std::shared_ptr<NSObject>& object) {
    auto typed = std::dynamic_pointer_cast<Field>(object);
    if (object && !typed)
        return false;
    field = std::move(typed);
    return true;
}

template <class T>
UINibConnectable::Action bindAction(T* self, void (T::*method)()) {
    std::weak_ptr<T> weak = weakly(self);
    return [weak, method] {
        if (auto target = weak.lock())
            ((*target).*method)();
    };
}

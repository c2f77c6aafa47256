#pragma once
// The root of the platform's reference-counted classes, and selectors: a method named by its
// member pointer, so that delayed calls can be cancelled by target and method.

#include <cstring>
#include <memory>
#include <string>
#include <typeinfo>

class NSObject : public std::enable_shared_from_this<NSObject> {
  public:
    virtual ~NSObject() = default;
};

// `self` as a shared_ptr of its own class. The object must be owned by a shared_ptr.
template <class T>
std::shared_ptr<T> retained(T* self) {
    return std::static_pointer_cast<T>(self->shared_from_this());
}
template <class T>
std::weak_ptr<T> weakly(T* self) {
    return retained(self);
}

// Identifies one method of one class; equal for the same member pointer.
class SelectorKey {
  public:
    SelectorKey() = default;
    template <class M>
    static SelectorKey of(M method) {
        static_assert(std::is_member_function_pointer_v<M>);
        SelectorKey key;
        key.bytes_.assign(reinterpret_cast<const char*>(&method), sizeof method);
        key.bytes_ += typeid(M).name();
        return key;
    }
    bool empty() const { return bytes_.empty(); }
    bool operator==(const SelectorKey&) const = default;

  private:
    std::string bytes_;
};

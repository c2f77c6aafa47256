#pragma once
// Named exceptions. An assertion failure raises NSException named
// NSInternalInconsistencyException with the failure's message as reason.

#include <stdexcept>
#include <string>

#include "platform/Foundation/Value.h"

inline constexpr const char* NSInternalInconsistencyException = "NSInternalInconsistencyException";
inline constexpr const char* NSInvalidArgumentException = "NSInvalidArgumentException";

class NSException : public std::runtime_error {
  public:
    NSException(std::string name, std::string reason, Value userInfo = {})
        : std::runtime_error(name + ": " + reason),
          name_(std::move(name)),
          reason_(std::move(reason)),
          userInfo_(std::move(userInfo)) {}

    [[noreturn]] static void raise(std::string name, std::string reason) {
        throw NSException(std::move(name), std::move(reason));
    }

    const std::string& name() const { return name_; }
    const std::string& reason() const { return reason_; }
    const Value& userInfo() const { return userInfo_; }

  private:
    std::string name_;
    std::string reason_;
    Value userInfo_;
};

// The assertion handler: raises NSInternalInconsistencyException with `message` as reason.
[[noreturn]] void NSAssertionFailure(const std::string& message);

// Raises through the assertion handler when `condition` is false.
inline void NSAssert(bool condition, const std::string& message) {
    if (!condition)
        NSAssertionFailure(message);
}

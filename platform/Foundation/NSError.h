#pragma once
// A recoverable failure, handed back as a value: domain, code, description and user information.

#include <memory>
#include <string>

#include "platform/Foundation/Value.h"

inline constexpr const char* NSLocalizedDescriptionKey = "NSLocalizedDescription";
inline constexpr const char* NSPOSIXErrorDomain = "NSPOSIXErrorDomain";
inline constexpr const char* NSCocoaErrorDomain = "NSCocoaErrorDomain";

class NSError {
  public:
    NSError(std::string domain, long code, Value userInfo = Value::dictionary())
        : domain_(std::move(domain)), code_(code), userInfo_(std::move(userInfo)) {}

    // An error whose user information holds `description` under NSLocalizedDescriptionKey.
    static std::shared_ptr<NSError> make(std::string domain, long code, std::string description);
    // A POSIX error from `errnum`, described as "<what>: <strerror>".
    static std::shared_ptr<NSError> posix(int errnum, const std::string& what);

    const std::string& domain() const { return domain_; }
    long code() const { return code_; }
    const Value& userInfo() const { return userInfo_; }
    // The user information's description, else "The operation couldn't be completed. (domain error
    // code.)".
    std::string localizedDescription() const;
    // "Error Domain=... Code=... \"description\" UserInfo=..." for logs.
    std::string description() const;

  private:
    std::string domain_;
    long code_;
    Value userInfo_;
};

using NSErrorPtr = std::shared_ptr<NSError>;

#pragma once
// A time zone named by its identifier ("Europe/Paris", "UTC", "GMT+01:00"), as ICU knows it.
//
// Threads: a value; any thread.

#include <optional>
#include <string>

class NSTimeZone {
  public:
    // nullopt for a name ICU does not know.
    static std::optional<NSTimeZone> timeZoneWithName(const std::string& name);

    // The device's current zone: the process's TZ, read at every call (a leading ':' is
    // dropped, an empty TZ is UTC, an unknown one is GMT); ICU's default zone while TZ is unset.
    static NSTimeZone systemTimeZone();

    const std::string& name() const { return name_; }

  private:
    explicit NSTimeZone(std::string name) : name_(std::move(name)) {}
    std::string name_;
};

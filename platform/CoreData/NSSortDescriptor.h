#pragma once
// An ordering of managed objects by one attribute. Null sorts before every other value.

#include <string>

#include "platform/Foundation/Value.h"

class NSSortDescriptor {
  public:
    NSSortDescriptor(std::string key, bool ascending)
        : key_(std::move(key)), ascending_(ascending) {}

    const std::string& key() const { return key_; }
    bool ascending() const { return ascending_; }
    // -1, 0 or 1 for `a` before, level with or after `b` in this order. Strings compare by code
    // point, dates and numbers by value.
    int compare(const Value& a, const Value& b) const;

  private:
    std::string key_;
    bool ascending_;
};

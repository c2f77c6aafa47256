#pragma once
// A locale named by its identifier ("en_US", "de_DE"), as ICU understands it.
//
// Threads: a value; any thread.

#include <string>

class NSLocale {
  public:
    explicit NSLocale(std::string identifier) : identifier_(std::move(identifier)) {}

    // The user's locale: ICU's default, which follows LC_ALL / LC_MESSAGES / LANG.
    static NSLocale currentLocale();

    const std::string& localeIdentifier() const { return identifier_; }

  private:
    std::string identifier_;
};

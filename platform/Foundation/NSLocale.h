#pragma once
// A locale named by its identifier ("en_US", "de_DE"), as ICU understands it.
//
// Threads: a value; any thread.

#include <string>

class NSLocale {
  public:
    explicit NSLocale(std::string identifier) : identifier_(std::move(identifier)) {}

    // The user's locale for dates: the first of LC_ALL, LC_TIME and LANG that is set and not
    // empty, without its encoding or modifier ("de_DE.UTF-8" is "de_DE"); "en_US" when none is
    // set or it is C or POSIX. Read at each call.
    static NSLocale currentLocale();

    const std::string& localeIdentifier() const { return identifier_; }

  private:
    std::string identifier_;
};

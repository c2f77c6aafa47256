#pragma once
// The phone's description: model "iPhone", system "iPhone OS" 3.1.3, and a unique identifier
// of 40 lower-case hexadecimal digits, made once per home folder and kept there in
// Library/uniqueIdentifier.
//
// Threads: any thread.

#include <memory>
#include <mutex>
#include <string>

#include "platform/Foundation/NSObject.h"

class UIDevice : public NSObject {
  public:
    static std::shared_ptr<UIDevice> currentDevice();

    // The identifier kept in the current home folder; made and written there when it has none
    // (or an invalid one). If it cannot be written, the new identifier is still answered (and
    // a later call may answer another).
    std::string uniqueIdentifier() const;
    std::string model() const { return "iPhone"; }
    std::string systemVersion() const { return "3.1.3"; }

  private:
    mutable std::mutex mutex_;
};

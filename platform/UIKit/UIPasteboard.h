#pragma once
// The pasteboard: a list of items, each a dictionary of representation type (a uniform type
// name such as "public.utf8-plain-text") to value. The general pasteboard is shared by the whole
// process. Items go in and come out as copies: a caller's later change to its dictionaries does
// not reach the pasteboard, nor the other way round.
//
// Threads: any thread.

#include <memory>
#include <mutex>
#include <string>

#include "platform/Foundation/NSObject.h"
#include "platform/Foundation/Value.h"

class UIPasteboard : public NSObject {
  public:
    // The process's general pasteboard, made on first use.
    static std::shared_ptr<UIPasteboard> generalPasteboard();

    // Replaces every item; entries that are not dictionaries are left out.
    void setItems(const ValueArray& items);
    ValueArray items() const;
    int numberOfItems() const;
    // The text of the first item that has one ("public.utf8-plain-text"); "" when none has.
    std::string string() const;

  private:
    mutable std::mutex mutex_;
    ValueArray items_;
};

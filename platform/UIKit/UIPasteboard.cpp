#include "platform/UIKit/UIPasteboard.h"

std::shared_ptr<UIPasteboard> UIPasteboard::generalPasteboard() {
    static std::shared_ptr<UIPasteboard> pasteboard = std::make_shared<UIPasteboard>();
    return pasteboard;
}

void UIPasteboard::setItems(const ValueArray& items) {
    ValueArray copies;
    for (const Value& item : items) {
        if (item.isDictionary())
            copies.push_back(item.deepCopy());
    }
    std::lock_guard lock(mutex_);
    items_ = std::move(copies);
}

ValueArray UIPasteboard::items() const {
    std::lock_guard lock(mutex_);
    ValueArray copies;
    for (const Value& item : items_) copies.push_back(item.deepCopy());
    return copies;
}

int UIPasteboard::numberOfItems() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(items_.size());
}

std::string UIPasteboard::string() const {
    std::lock_guard lock(mutex_);
    for (const Value& item : items_) {
        if (const Value text = item["public.utf8-plain-text"]; text.isString())
            return text.string();
    }
    return {};
}

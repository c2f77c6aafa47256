#pragma once
// What a navigation bar shows for one view controller: its title and its left and right bar
// button items. A view controller makes its own item on first use (UIViewController::
// navigationItem). Changes, animated or not, show at the next composition.
//
// Threads: main thread only. The item retains its bar button items.

#include <memory>
#include <string>

#include "platform/UIKit/UIBarButtonItem.h"

class UINavigationItem : public NSObject {
  public:
    static std::shared_ptr<UINavigationItem> initWithTitle(std::string title);

    const std::string& title() const { return title_; }
    void setTitle(std::string title) {
        title_ = std::move(title);
        UIView::setScreenNeedsDisplay();
    }

    const std::shared_ptr<UIBarButtonItem>& leftBarButtonItem() const { return left_; }
    void setLeftBarButtonItem(std::shared_ptr<UIBarButtonItem> item, bool animated = false);
    const std::shared_ptr<UIBarButtonItem>& rightBarButtonItem() const { return right_; }
    void setRightBarButtonItem(std::shared_ptr<UIBarButtonItem> item, bool animated = false);

  private:
    std::string title_;
    std::shared_ptr<UIBarButtonItem> left_;
    std::shared_ptr<UIBarButtonItem> right_;
};

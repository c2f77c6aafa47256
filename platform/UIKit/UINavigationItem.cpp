#include "platform/UIKit/UINavigationItem.h"

std::shared_ptr<UINavigationItem> UINavigationItem::initWithTitle(std::string title) {
    auto item = std::make_shared<UINavigationItem>();
    item->title_ = std::move(title);
    return item;
}

void UINavigationItem::setLeftBarButtonItem(std::shared_ptr<UIBarButtonItem> item, bool animated) {
    (void)animated;
    left_ = std::move(item);
    UIView::setScreenNeedsDisplay();
}

void UINavigationItem::setRightBarButtonItem(std::shared_ptr<UIBarButtonItem> item, bool animated) {
    (void)animated;
    right_ = std::move(item);
    UIView::setScreenNeedsDisplay();
}

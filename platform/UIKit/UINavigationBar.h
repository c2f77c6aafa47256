#pragma once
// The bar at the top of a navigation controller's screen: a stack of navigation items, of which
// it shows the top one's title and bar button items; while an item lies below the top one and the
// top item has no left item, a back button titled with the item below takes the left place.
// Bar style black translucent lets the screen below show through.
//
// Threads: main thread only. The bar retains its items; the back action is set by the
// navigation controller that owns the bar.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/UIKit/UINavigationItem.h"
#include "platform/UIKit/UIView.h"

enum UIBarStyle {
    UIBarStyleDefault = 0,
    UIBarStyleBlack = 1,
    UIBarStyleBlackOpaque = 1,
    UIBarStyleBlackTranslucent = 2,
};

// Fills a bar of `width` x `height` with its style's colour: the navigation bar's and the
// toolbar's background.
void UIBarFillBackground(cairo_t* cr, UIBarStyle style, double width, double height);

class UINavigationBar : public UIView {
  public:
    static constexpr double kHeight = 44;

    UIBarStyle barStyle() const { return barStyle_; }
    void setBarStyle(UIBarStyle style) {
        barStyle_ = style;
        setNeedsDisplay();
    }
    bool isTranslucent() const { return barStyle_ == UIBarStyleBlackTranslucent; }

    const std::vector<std::shared_ptr<UINavigationItem>>& items() const { return items_; }
    void setItems(std::vector<std::shared_ptr<UINavigationItem>> items) {
        items_ = std::move(items);
        setNeedsDisplay();
    }
    std::shared_ptr<UINavigationItem> topItem() const;
    // The item below the top one, or null.
    std::shared_ptr<UINavigationItem> backItem() const;
    // The back button shows: an item below the top one and no left item on the top one.
    bool showsBackButton() const;

    // Runs when the back button is pressed (the navigation controller pops).
    void setBackAction(std::function<void()> action) { backAction_ = std::move(action); }

    // A person's press of the back button. False (nothing happens) when the bar is not on screen or
    // the application ignores interaction events, or shows no back button.
    bool pressBackButton();
    // The top item's left or right item called `name` (see UIBarButtonItem), or null.
    std::shared_ptr<UIBarButtonItem> itemNamed(const std::string& name) const;
    // A person's press of that item: false when the bar is not on screen or the application
    // ignores interaction events, when there is no such item, or when the item refuses
    // (UIBarButtonItem::press).
    bool pressItemNamed(const std::string& name);

    // A finger: the left item, the back button or the right item under it as the touch begins
    // is pressed (with pressBackButton's or pressItemNamed's checks) when the touch ends over it
    // still.
    bool touchBegan(CGPoint point) override;
    void touchEnded(CGPoint point) override;

  protected:
    void drawContent(cairo_t* cr) override;

  private:
    // Where the bar shows its left item (or the back button) and its right item; empty
    // rectangles for none.
    struct Layout {
        CGRect left{};
        bool back = false;
        CGRect right{};
    };
    enum class Part { none, left, back, right };
    Layout layOut(cairo_t* cr) const;
    Part partAt(CGPoint point) const;
    // The back button, titled with the item it goes back to.
    UIBarButtonItem backButton() const;

    UIBarStyle barStyle_ = UIBarStyleDefault;
    std::vector<std::shared_ptr<UINavigationItem>> items_;
    std::function<void()> backAction_;
    Part touchedPart_ = Part::none;
};

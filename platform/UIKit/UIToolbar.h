#pragma once
// A bar of bar button items, laid out from the left: a fixed space takes its width, flexible
// spaces share what is left, other items the width of their content.
//
// Threads: main thread only. The bar retains its items.

#include <memory>
#include <string>
#include <vector>

#include "platform/UIKit/UIBarButtonItem.h"
#include "platform/UIKit/UINavigationBar.h"
#include "platform/UIKit/UIView.h"

class UIToolbar : public UIView {
  public:
    UIBarStyle barStyle() const { return barStyle_; }
    void setBarStyle(UIBarStyle style) {
        barStyle_ = style;
        setNeedsDisplay();
    }

    const std::vector<std::shared_ptr<UIBarButtonItem>>& items() const { return items_; }
    // Animated or not, the new items show at once.
    void setItems(std::vector<std::shared_ptr<UIBarButtonItem>> items, bool animated = false);
    // The items' names joined by blanks ("exportButton fixedSpace pauseButton").
    std::string itemNames() const;
    // The item called `name` among the items, or null.
    std::shared_ptr<UIBarButtonItem> itemNamed(const std::string& name) const;
    // A person's press of that item: false when the bar is not on screen or the application
    // ignores interaction events, when there is no such item, or when the item refuses
    // (UIBarButtonItem::press).
    bool pressItemNamed(const std::string& name);
    // Each item's rectangle in the bar, in the order of the items.
    std::vector<CGRect> itemRects() const;

    // A finger: the item under it as the touch begins is pressed (with pressItemNamed's
    // checks) when the touch ends over that item still.
    bool touchBegan(CGPoint point) override;
    void touchEnded(CGPoint point) override;

    // "barStyle" ("default", "black", "blackTranslucent") besides the view's properties.
    void setNibProperties(const Value& properties) override;
    // The outlet "items": each connection appends one item, in the file's order.
    bool setOutlet(const std::string& name, const std::shared_ptr<NSObject>& object) override;

  protected:
    void drawContent(cairo_t* cr) override;

  private:
    std::vector<CGRect> layOut(cairo_t* cr) const;
    // The item (not a space) whose rectangle holds `point`, or null.
    std::shared_ptr<UIBarButtonItem> itemAt(CGPoint point) const;
    bool pressItem(const std::shared_ptr<UIBarButtonItem>& item);

    UIBarStyle barStyle_ = UIBarStyleDefault;
    std::vector<std::shared_ptr<UIBarButtonItem>> items_;
    std::weak_ptr<UIBarButtonItem> touchedItem_;
};

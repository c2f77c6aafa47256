#pragma once
// An item of a navigation bar or a toolbar: a system item (Done, Edit, play, pause, the action
// glyph, fixed and flexible spaces) or an item with a title, sending its action to its target
// when a person presses it. The target is not retained: an item whose target is gone does
// nothing.
//
// Every item has a name by which the automation finds it: its id in the interface file that made
// it, else the system item's name ("done", "edit", "fixedSpace", "flexibleSpace", "play",
// "pause", "action", "cancel", "save"), else its title.
//
// Threads: main thread only.

#include <cairo.h>

#include <functional>
#include <memory>
#include <string>

#include "platform/CoreGraphics/CGGeometry.h"
#include "platform/UIKit/UINibConnectable.h"
#include "platform/UIKit/UIView.h"

enum UIBarButtonSystemItem {
    UIBarButtonSystemItemDone = 0,
    UIBarButtonSystemItemCancel = 1,
    UIBarButtonSystemItemEdit = 2,
    UIBarButtonSystemItemSave = 3,
    UIBarButtonSystemItemFlexibleSpace = 5,
    UIBarButtonSystemItemFixedSpace = 6,
    UIBarButtonSystemItemAction = 9,
    UIBarButtonSystemItemPlay = 17,
    UIBarButtonSystemItemPause = 18,
};

enum UIBarButtonItemStyle {
    UIBarButtonItemStylePlain = 0,
    UIBarButtonItemStyleBordered = 1,
    UIBarButtonItemStyleDone = 2,
};

class UIBarButtonItem : public NSObject, public UINibConnectable {
  public:
    UIBarButtonItem() = default;

    static std::shared_ptr<UIBarButtonItem> initWithBarButtonSystemItem(
        UIBarButtonSystemItem systemItem, std::weak_ptr<NSObject> target, Action action);
    template <class T>
    static std::shared_ptr<UIBarButtonItem> initWithBarButtonSystemItem(
        UIBarButtonSystemItem systemItem, const std::shared_ptr<T>& target, void (T::*method)()) {
        return initWithBarButtonSystemItem(systemItem, target, bindAction(target.get(), method));
    }
    static std::shared_ptr<UIBarButtonItem> initWithTitle(std::string title,
                                                          UIBarButtonItemStyle style,
                                                          std::weak_ptr<NSObject> target,
                                                          Action action);

    // -1 for an item made with a title.
    int systemItem() const { return systemItem_; }
    bool isSpace() const;
    const std::string& title() const { return title_; }
    void setTitle(std::string title) {
        title_ = std::move(title);
        UIView::setScreenNeedsDisplay();
    }
    UIBarButtonItemStyle style() const { return style_; }
    void setStyle(UIBarButtonItemStyle style) {
        style_ = style;
        UIView::setScreenNeedsDisplay();
    }
    // The width of a fixed space (0 for other items: their content decides).
    double width() const { return width_; }
    void setWidth(double width) {
        width_ = width;
        UIView::setScreenNeedsDisplay();
    }
    bool isEnabled() const { return enabled_; }
    void setEnabled(bool enabled) {
        enabled_ = enabled;
        UIView::setScreenNeedsDisplay();
    }
    const std::string& name() const { return name_; }
    void setName(std::string name) { name_ = std::move(name); }

    // Replaces the target and the action.
    void setTarget(std::weak_ptr<NSObject> target, Action action);
    template <class T>
    void setTarget(const std::shared_ptr<T>& target, void (T::*method)()) {
        setTarget(target, bindAction(target.get(), method));
    }

    // A person's press: the action runs. False (and nothing happens) for a space, a disabled
    // item, or an item without a living target. Whether the bar that shows the item is on screen
    // is for the bar to check (UIToolbar::pressItemNamed, UINavigationBar::pressItemNamed).
    bool press();

    // The width the item takes on a bar.
    double widthOnBar(cairo_t* cr) const;
    // Draws the item into `rect` of a bar, in white (grey when disabled).
    void drawInRect(cairo_t* cr, CGRect rect) const;

    // "id" (the name), "systemItem" (one of the names above), "title", "style" ("plain",
    // "bordered", "done"), "width", "enabled".
    void setNibProperties(const Value& properties) override;

  private:
    void setSystemItem(UIBarButtonSystemItem item);

    int systemItem_ = -1;
    std::string title_;
    UIBarButtonItemStyle style_ = UIBarButtonItemStylePlain;
    double width_ = 0;
    bool enabled_ = true;
    std::string name_;
    std::weak_ptr<NSObject> target_;
    Action action_;
};

#pragma once
// A modal message: title, message and buttons (the cancel button first, index 0, then the
// others in order). `show` puts it on screen above everything; a press of one of its buttons
// tells the delegate the button's index, then takes the alert away. The alerts on screen can be
// found and answered by a button's title, as a person would.
//
// Threads: main thread only. An alert on screen is kept alive by the screen; the delegate is not
// retained.

#include <memory>
#include <string>
#include <vector>

#include "platform/UIKit/UIButtonPanelTouch.h"
#include "platform/UIKit/UIView.h"

class UIAlertView;

class UIAlertViewDelegate {
  public:
    virtual ~UIAlertViewDelegate() = default;
    virtual void alertViewClickedButtonAtIndex(UIAlertView* alertView, int buttonIndex) {
        (void)alertView;
        (void)buttonIndex;
    }
};

class UIAlertView : public UIView {
  public:
    UIAlertView() = default;
    // `cancelButtonTitle` may be empty for none.
    static std::shared_ptr<UIAlertView> initWithTitle(
        std::string title, std::string message, std::weak_ptr<UIAlertViewDelegate> delegate,
        const std::string& cancelButtonTitle, const std::vector<std::string>& otherButtonTitles);

    const std::string& title() const { return title_; }
    const std::string& message() const { return message_; }
    std::shared_ptr<UIAlertViewDelegate> delegate() const { return delegate_.lock(); }
    // Index of the cancel button, -1 when there is none.
    int cancelButtonIndex() const { return cancelButtonIndex_; }
    int numberOfButtons() const { return static_cast<int>(buttons_.size()); }
    // "" outside 0 ..< numberOfButtons.
    std::string buttonTitleAtIndex(int index) const;
    int addButtonWithTitle(const std::string& title);

    // Puts the alert on screen, above the alerts already there. A second call does nothing.
    void show();
    bool isVisible() const;
    // Takes the alert away without telling the delegate.
    void dismissWithClickedButtonIndex(int buttonIndex, bool animated);

    // A person's press of the button: the delegate hears its index, then the alert goes away.
    // False (and nothing happens) outside the buttons or while the alert is not on screen.
    bool pressButtonAtIndex(int buttonIndex);
    // The same for the first button titled `title`.
    bool pressButtonWithTitle(const std::string& title);

    // A finger: the button under it as the touch begins is pressed when the touch ends over
    // that button still.
    bool touchBegan(CGPoint point) override;
    void touchEnded(CGPoint point) override;

    // The alerts on screen, bottom first; the topmost one, or null.
    static std::vector<std::shared_ptr<UIAlertView>> visibleAlerts();
    static std::shared_ptr<UIAlertView> topAlert();
    // Draws the alerts on screen over the whole screen (dimmed behind them).
    static void drawVisibleAlerts(cairo_t* cr);

  protected:
    void drawContent(cairo_t* cr) override;

  private:
    // Where the alert draws itself on the screen: its box, its message's lines and its buttons.
    struct Layout {
        CGRect box;
        std::vector<std::string> lines;
        std::vector<CGRect> buttons;
    };
    Layout layOut(cairo_t* cr) const;
    std::vector<std::string> messageLines(cairo_t* cr, double width) const;
    // The index of the button at `point` of the alert, -1 for none.
    int buttonAt(CGPoint point) const;

    std::string title_;
    std::string message_;
    std::weak_ptr<UIAlertViewDelegate> delegate_;
    std::vector<std::string> buttons_;
    int cancelButtonIndex_ = -1;
    UIButtonPanelTouch touch_;
};

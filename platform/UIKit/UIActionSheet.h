#pragma once
// A menu that rises from the bottom of the screen: an optional title, then the buttons — the
// destructive button first (when there is one), then the other buttons in order, then the cancel
// button last. `showFromToolbar` puts it on screen over the toolbar; a press of one of its
// buttons tells the delegate the button's index, then takes the sheet away. The sheets on screen
// can be found and answered by a button's title, as a person would.
//
// Threads: main thread only. A sheet on screen is kept alive by the screen; the delegate is not
// retained.

#include <memory>
#include <string>
#include <vector>

#include "platform/UIKit/UIButtonPanelTouch.h"
#include "platform/UIKit/UIView.h"

class UIActionSheet;

class UIActionSheetDelegate {
  public:
    virtual ~UIActionSheetDelegate() = default;
    virtual void actionSheetClickedButtonAtIndex(UIActionSheet* actionSheet, int buttonIndex) {
        (void)actionSheet;
        (void)buttonIndex;
    }
};

class UIActionSheet : public UIView {
  public:
    UIActionSheet() = default;
    // Empty titles mean none (no title, no cancel or no destructive button).
    static std::shared_ptr<UIActionSheet> initWithTitle(
        std::string title, std::weak_ptr<UIActionSheetDelegate> delegate,
        const std::string& cancelButtonTitle, const std::string& destructiveButtonTitle,
        const std::vector<std::string>& otherButtonTitles);

    const std::string& title() const { return title_; }
    std::shared_ptr<UIActionSheetDelegate> delegate() const { return delegate_.lock(); }
    // Indexes of the cancel and destructive buttons, -1 when there is none.
    int cancelButtonIndex() const { return cancelButtonIndex_; }
    int destructiveButtonIndex() const { return destructiveButtonIndex_; }
    int numberOfButtons() const { return static_cast<int>(buttons_.size()); }
    // "" outside 0 ..< numberOfButtons.
    std::string buttonTitleAtIndex(int index) const;

    // Puts the sheet on screen, rising over the toolbar along the bottom edge (the toolbar may
    // be null). A second call while the sheet is up does nothing.
    void showFromToolbar(const std::shared_ptr<UIView>& toolbar);
    bool isVisible() const;
    // Takes the sheet away without telling the delegate.
    void dismissWithClickedButtonIndex(int buttonIndex, bool animated);

    // A person's press of the button: the delegate hears its index, then the sheet goes away.
    // False (and nothing happens) outside the buttons, while the sheet is not on screen, while an
    // alert covers it or while the application ignores interaction events.
    bool pressButtonAtIndex(int buttonIndex);
    // The same for the first button titled `title`.
    bool pressButtonWithTitle(const std::string& title);

    // A finger: the button under it as the touch begins is pressed (with pressButtonAtIndex's
    // checks) when the touch ends over that button still.
    bool touchBegan(CGPoint point) override;
    void touchEnded(CGPoint point) override;

    // The sheets on screen, bottom first; the topmost one, or null.
    static std::vector<std::shared_ptr<UIActionSheet>> visibleSheets();
    static std::shared_ptr<UIActionSheet> topSheet();
    // Draws the sheets on screen over the whole screen (dimmed behind them).
    static void drawVisibleSheets(cairo_t* cr);

  protected:
    void drawContent(cairo_t* cr) override;

  private:
    // Where the sheet draws itself on the screen: its panel and its buttons' rows.
    struct Layout {
        CGRect panel;
        std::vector<CGRect> buttons;
    };
    Layout layOut() const;
    // The index of the button at `point` of the sheet, -1 for none.
    int buttonAt(CGPoint point) const;

    std::string title_;
    std::weak_ptr<UIActionSheetDelegate> delegate_;
    std::vector<std::string> buttons_;
    int cancelButtonIndex_ = -1;
    int destructiveButtonIndex_ = -1;
    UIButtonPanelTouch touch_;
};

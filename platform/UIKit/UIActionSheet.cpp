#include "platform/UIKit/UIActionSheet.h"

#include <algorithm>

#include "platform/Device/Screen.h"
#include "platform/Foundation/NSThread.h"
#include "platform/UIKit/UIAlertView.h"
#include "platform/UIKit/UIApplication.h"
#include "platform/UIKit/UIStringDrawing.h"

namespace {

std::vector<std::shared_ptr<UIActionSheet>>& shownSheets() {
    static std::vector<std::shared_ptr<UIActionSheet>> sheets;
    return sheets;
}

constexpr double kMargin = 16;
constexpr double kTitleHeight = 32;
constexpr double kButtonHeight = 52;
constexpr double kCancelGap = 10;

}  // namespace

std::shared_ptr<UIActionSheet> UIActionSheet::initWithTitle(
    std::string title, std::weak_ptr<UIActionSheetDelegate> delegate,
    const std::string& cancelButtonTitle, const std::string& destructiveButtonTitle,
    const std::vector<std::string>& otherButtonTitles) {
    auto sheet = std::make_shared<UIActionSheet>();
    sheet->title_ = std::move(title);
    sheet->delegate_ = std::move(delegate);
    if (!destructiveButtonTitle.empty()) {
        sheet->destructiveButtonIndex_ = sheet->numberOfButtons();
        sheet->buttons_.push_back(destructiveButtonTitle);
    }
    sheet->buttons_.insert(sheet->buttons_.end(), otherButtonTitles.begin(),
                           otherButtonTitles.end());
    if (!cancelButtonTitle.empty()) {
        sheet->cancelButtonIndex_ = sheet->numberOfButtons();
        sheet->buttons_.push_back(cancelButtonTitle);
    }
    return sheet;
}

std::string UIActionSheet::buttonTitleAtIndex(int index) const {
    if (index < 0 || index >= numberOfButtons())
        return "";
    return buttons_[static_cast<size_t>(index)];
}

void UIActionSheet::showFromToolbar(const std::shared_ptr<UIView>& toolbar) {
    NSThread::assertMainThread("UIActionSheet", __func__);
    (void)toolbar;
    if (isVisible())
        return;
    shownSheets().push_back(retained(this));
    setNeedsDisplay();
}

bool UIActionSheet::isVisible() const {
    const auto& sheets = shownSheets();
    return std::any_of(sheets.begin(), sheets.end(),
                       [this](const auto& sheet) { return sheet.get() == this; });
}

void UIActionSheet::dismissWithClickedButtonIndex(int buttonIndex, bool animated) {
    NSThread::assertMainThread("UIActionSheet", __func__);
    (void)buttonIndex;
    (void)animated;
    auto& sheets = shownSheets();
    sheets.erase(std::remove_if(sheets.begin(), sheets.end(),
                                [this](const auto& sheet) { return sheet.get() == this; }),
                 sheets.end());
    setNeedsDisplay();
}

bool UIActionSheet::pressButtonAtIndex(int buttonIndex) {
    if (buttonIndex < 0 || buttonIndex >= numberOfButtons() || !isVisible())
        return false;
    if (UIAlertView::topAlert())
        return false;
    if (UIApplication::sharedApplication()->isIgnoringInteractionEvents())
        return false;
    // The screen may hold the last reference, and the delegate may act on the sheet.
    auto self = retained(this);
    if (auto delegate = delegate_.lock())
        delegate->actionSheetClickedButtonAtIndex(this, buttonIndex);
    dismissWithClickedButtonIndex(buttonIndex, true);
    return true;
}

bool UIActionSheet::pressButtonWithTitle(const std::string& title) {
    auto it = std::find(buttons_.begin(), buttons_.end(), title);
    if (it == buttons_.end())
        return false;
    return pressButtonAtIndex(static_cast<int>(it - buttons_.begin()));
}

std::vector<std::shared_ptr<UIActionSheet>> UIActionSheet::visibleSheets() {
    return shownSheets();
}

std::shared_ptr<UIActionSheet> UIActionSheet::topSheet() {
    const auto& sheets = shownSheets();
    return sheets.empty() ? nullptr : sheets.back();
}

void UIActionSheet::drawVisibleSheets(cairo_t* cr) {
    auto sheets = shownSheets();
    if (sheets.empty())
        return;
    cairo_save(cr);
    cairo_set_source_rgba(cr, 0, 0, 0, 0.4);
    cairo_paint(cr);
    cairo_restore(cr);
    for (const auto& sheet : sheets) {
        cairo_save(cr);
        sheet->drawContent(cr);
        cairo_restore(cr);
    }
}

// In screen coordinates, along the bottom edge: title, then one row per button, the cancel
// button set apart below the others.
UIActionSheet::Layout UIActionSheet::layOut() const {
    Layout layout;
    const double width = Screen::kWidth;
    const double height = kMargin + (title_.empty() ? 0 : kTitleHeight) +
                          buttons_.size() * kButtonHeight +
                          (cancelButtonIndex_ >= 0 ? kCancelGap : 0) + kMargin;
    layout.panel = CGRectMake(0, Screen::kHeight - height, width, height);
    double top = layout.panel.origin.y + kMargin + (title_.empty() ? 0 : kTitleHeight);
    for (int i = 0; i < numberOfButtons(); ++i) {
        if (i == cancelButtonIndex_)
            top += kCancelGap;
        layout.buttons.push_back(CGRectMake(kMargin, top, width - 2 * kMargin, kButtonHeight));
        top += kButtonHeight;
    }
    return layout;
}

int UIActionSheet::buttonAt(CGPoint point) const {
    const Layout layout = layOut();
    return UIButtonPanelTouch::buttonAt(layout.buttons, frame(), point);
}

bool UIActionSheet::touchBegan(CGPoint point) {
    touch_.began(buttonAt(point));
    return true;
}

void UIActionSheet::touchEnded(CGPoint point) {
    if (const int button = touch_.ended(buttonAt(point)); button >= 0)
        pressButtonAtIndex(button);
}

void UIActionSheet::drawContent(cairo_t* cr) {
    const Layout layout = layOut();
    setFrame(layout.panel);
    cairo_set_source_rgba(cr, 0.15, 0.17, 0.22, 0.92);
    cairo_rectangle(cr, 0, layout.panel.origin.y, layout.panel.size.width,
                    layout.panel.size.height);
    cairo_fill(cr);
    if (!title_.empty()) {
        drawStringInRect(cr, title_,
                         CGRectMake(kMargin, layout.panel.origin.y + kMargin,
                                    layout.panel.size.width - 2 * kMargin, kTitleHeight),
                         UIFont::systemFontOfSize(14), UIColor::whiteColor(),
                         UITextAlignmentCenter);
    }
    for (int i = 0; i < numberOfButtons(); ++i) {
        const CGRect rect = layout.buttons[static_cast<size_t>(i)];
        if (i == destructiveButtonIndex_)
            cairo_set_source_rgba(cr, 0.85, 0.15, 0.15, 1);
        else if (i == cancelButtonIndex_)
            cairo_set_source_rgba(cr, 0.3, 0.32, 0.38, 1);
        else
            cairo_set_source_rgba(cr, 0.92, 0.92, 0.94, 1);
        cairo_rectangle(cr, rect.origin.x, rect.origin.y + 3, rect.size.width, kButtonHeight - 6);
        cairo_fill(cr);
        const bool dark = i == cancelButtonIndex_ || i == destructiveButtonIndex_;
        drawStringInRect(
            cr, buttons_[static_cast<size_t>(i)], rect, UIFont::boldSystemFontOfSize(19),
            dark ? UIColor::whiteColor() : UIColor::blackColor(), UITextAlignmentCenter);
    }
}

#include "platform/UIKit/UIAlertView.h"

#include <algorithm>
#include <sstream>

#include "platform/Device/Screen.h"
#include "platform/Foundation/NSThread.h"
#include "platform/UIKit/UIStringDrawing.h"

namespace {

std::vector<std::shared_ptr<UIAlertView>>& shownAlerts() {
    static std::vector<std::shared_ptr<UIAlertView>> alerts;
    return alerts;
}

constexpr double kBoxWidth = 284;
constexpr double kMargin = 12;
constexpr double kTitleHeight = 28;
constexpr double kLineHeight = 20;
constexpr double kButtonHeight = 44;
constexpr double kMessageFontSize = 15;

}  // namespace

std::shared_ptr<UIAlertView> UIAlertView::initWithTitle(
    std::string title, std::string message, std::weak_ptr<UIAlertViewDelegate> delegate,
    const std::string& cancelButtonTitle, const std::vector<std::string>& otherButtonTitles) {
    auto alert = std::make_shared<UIAlertView>();
    alert->title_ = std::move(title);
    alert->message_ = std::move(message);
    alert->delegate_ = std::move(delegate);
    if (!cancelButtonTitle.empty())
        alert->cancelButtonIndex_ = alert->addButtonWithTitle(cancelButtonTitle);
    for (const auto& other : otherButtonTitles) alert->addButtonWithTitle(other);
    return alert;
}

std::string UIAlertView::buttonTitleAtIndex(int index) const {
    if (index < 0 || index >= numberOfButtons())
        return "";
    return buttons_[static_cast<size_t>(index)];
}

int UIAlertView::addButtonWithTitle(const std::string& title) {
    buttons_.push_back(title);
    setNeedsDisplay();
    return numberOfButtons() - 1;
}

void UIAlertView::show() {
    NSThread::assertMainThread("UIAlertView", __func__);
    if (isVisible())
        return;
    shownAlerts().push_back(retained(this));
    setNeedsDisplay();
}

bool UIAlertView::isVisible() const {
    const auto& alerts = shownAlerts();
    return std::any_of(alerts.begin(), alerts.end(),
                       [this](const auto& alert) { return alert.get() == this; });
}

void UIAlertView::dismissWithClickedButtonIndex(int buttonIndex, bool animated) {
    NSThread::assertMainThread("UIAlertView", __func__);
    (void)buttonIndex;
    (void)animated;
    auto& alerts = shownAlerts();
    alerts.erase(std::remove_if(alerts.begin(), alerts.end(),
                                [this](const auto& alert) { return alert.get() == this; }),
                 alerts.end());
    setNeedsDisplay();
}

bool UIAlertView::pressButtonAtIndex(int buttonIndex) {
    if (buttonIndex < 0 || buttonIndex >= numberOfButtons() || !isVisible())
        return false;
    // The screen may hold the last reference, and the delegate may act on the alert.
    auto self = retained(this);
    if (auto delegate = delegate_.lock())
        delegate->alertViewClickedButtonAtIndex(this, buttonIndex);
    dismissWithClickedButtonIndex(buttonIndex, true);
    return true;
}

bool UIAlertView::pressButtonWithTitle(const std::string& title) {
    auto it = std::find(buttons_.begin(), buttons_.end(), title);
    if (it == buttons_.end())
        return false;
    return pressButtonAtIndex(static_cast<int>(it - buttons_.begin()));
}

std::vector<std::shared_ptr<UIAlertView>> UIAlertView::visibleAlerts() {
    return shownAlerts();
}

std::shared_ptr<UIAlertView> UIAlertView::topAlert() {
    const auto& alerts = shownAlerts();
    return alerts.empty() ? nullptr : alerts.back();
}

void UIAlertView::drawVisibleAlerts(cairo_t* cr) {
    auto alerts = shownAlerts();
    if (alerts.empty())
        return;
    cairo_save(cr);
    cairo_set_source_rgba(cr, 0, 0, 0, 0.4);
    cairo_paint(cr);
    cairo_restore(cr);
    for (const auto& alert : alerts) {
        cairo_save(cr);
        alert->drawContent(cr);
        cairo_restore(cr);
    }
}

std::vector<std::string> UIAlertView::messageLines(cairo_t* cr, double width) const {
    cairo_save(cr);
    cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, kMessageFontSize);
    std::vector<std::string> lines;
    std::istringstream words(message_);
    std::string word;
    std::string line;
    while (words >> word) {
        std::string candidate = line.empty() ? word : line + " " + word;
        cairo_text_extents_t extents;
        cairo_text_extents(cr, candidate.c_str(), &extents);
        if (!line.empty() && extents.x_advance > width) {
            lines.push_back(line);
            line = word;
        } else {
            line = candidate;
        }
    }
    if (!line.empty())
        lines.push_back(line);
    cairo_restore(cr);
    return lines;
}

// In screen coordinates, centred: title, message lines, then one row per button.
UIAlertView::Layout UIAlertView::layOut(cairo_t* cr) const {
    Layout layout;
    const double innerWidth = kBoxWidth - 2 * kMargin;
    layout.lines = messageLines(cr, innerWidth);
    const double height = kMargin + kTitleHeight + layout.lines.size() * kLineHeight + kMargin +
                          buttons_.size() * kButtonHeight + kMargin / 2;
    layout.box = CGRectMake((Screen::kWidth - kBoxWidth) / 2, (Screen::kHeight - height) / 2,
                            kBoxWidth, height);
    double top =
        layout.box.origin.y + kMargin + kTitleHeight + layout.lines.size() * kLineHeight + kMargin;
    for (size_t i = 0; i < buttons_.size(); ++i) {
        layout.buttons.push_back(
            CGRectMake(layout.box.origin.x + kMargin, top, innerWidth, kButtonHeight));
        top += kButtonHeight;
    }
    return layout;
}

int UIAlertView::buttonAt(CGPoint point) const {
    Layout layout;
    measureWithScratchContext([&](cairo_t* cr) { layout = layOut(cr); });
    return UIButtonPanelTouch::buttonAt(layout.buttons, frame(), point);
}

bool UIAlertView::touchBegan(CGPoint point) {
    touch_.began(buttonAt(point));
    return true;
}

void UIAlertView::touchEnded(CGPoint point) {
    if (const int button = touch_.ended(buttonAt(point)); button >= 0)
        pressButtonAtIndex(button);
}

void UIAlertView::drawContent(cairo_t* cr) {
    const Layout layout = layOut(cr);
    setFrame(layout.box);
    const double x = layout.box.origin.x, y = layout.box.origin.y;
    const double innerWidth = kBoxWidth - 2 * kMargin;
    cairo_set_source_rgba(cr, 0.1, 0.15, 0.35, 0.92);
    cairo_rectangle(cr, x, y, kBoxWidth, layout.box.size.height);
    cairo_fill(cr);
    double top = y + kMargin;
    UIColor white = UIColor::whiteColor();
    drawStringInRect(cr, title_, CGRectMake(x + kMargin, top, innerWidth, kTitleHeight),
                     UIFont::boldSystemFontOfSize(17), white, UITextAlignmentCenter);
    top += kTitleHeight;
    for (const auto& line : layout.lines) {
        drawStringInRect(cr, line, CGRectMake(x + kMargin, top, innerWidth, kLineHeight),
                         UIFont::systemFontOfSize(kMessageFontSize), white, UITextAlignmentCenter);
        top += kLineHeight;
    }
    for (size_t i = 0; i < buttons_.size(); ++i) {
        const CGRect rect = layout.buttons[i];
        cairo_set_source_rgba(cr, 0.6, 0.65, 0.8, 0.9);
        cairo_rectangle(cr, rect.origin.x, rect.origin.y + 2, rect.size.width, kButtonHeight - 4);
        cairo_fill(cr);
        drawStringInRect(cr, buttons_[i], rect, UIFont::boldSystemFontOfSize(17), white,
                         UITextAlignmentCenter);
    }
}

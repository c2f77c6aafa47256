#include "platform/Automation/AutomationDriver.h"

#include <cstdio>
#include <functional>
#include <map>

#include "platform/CoreLocation/CLLocationManager.h"
#include "platform/Device/Screen.h"
#include "platform/MessageUI/MFMailComposeViewController.h"
#include "platform/UIKit/UIActionSheet.h"
#include "platform/UIKit/UIAlertView.h"
#include "platform/UIKit/UIButton.h"
#include "platform/UIKit/UIImageView.h"
#include "platform/UIKit/UILabel.h"
#include "platform/UIKit/UINavigationBar.h"
#include "platform/UIKit/UIProgressView.h"
#include "platform/UIKit/UISlider.h"
#include "platform/UIKit/UITableView.h"
#include "platform/UIKit/UITableViewCell.h"
#include "platform/UIKit/UIToolbar.h"
#include "platform/UIKit/UIWindow.h"

namespace {

constexpr std::string_view kTitlePrefix = "title:";

std::string yesNo(bool value) {
    return value ? "YES" : "NO";
}

std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

constexpr std::string_view kRowPrefix = "row:";

// The views of the key window and of the alerts in drawing order (depth first, bottom first),
// hidden or faded ones too when `all` is set.
std::vector<std::shared_ptr<UIView>> viewsOnScreen(bool all) {
    std::vector<std::shared_ptr<UIView>> views;
    std::function<void(const std::shared_ptr<UIView>&)> visit = [&](const auto& view) {
        if (!view || (!all && !view->isVisibleOnScreen()))
            return;
        views.push_back(view);
        for (const auto& child : view->subviews()) visit(child);
    };
    visit(UIWindow::keyWindow());
    for (const auto& alert : UIAlertView::visibleAlerts()) visit(alert);
    return views;
}

// The topmost visible view of class T for which `match` holds; else the topmost hidden or faded
// one (its properties can still be read).
template <class T>
std::shared_ptr<T> topmost(const std::function<bool(T&)>& match = [](T&) { return true; }) {
    for (bool all : {false, true}) {
        auto views = viewsOnScreen(all);
        for (auto it = views.rbegin(); it != views.rend(); ++it) {
            auto typed = std::dynamic_pointer_cast<T>(*it);
            if (typed && match(*typed))
                return typed;
        }
    }
    return nullptr;
}

std::optional<int> rowNumberIn(const std::string& text) {
    char* end = nullptr;
    long row = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || row < 0)
        return std::nullopt;
    return static_cast<int>(row);
}

using Reader = std::function<std::optional<std::string>(UIView&)>;

template <class T>
Reader readerOf(std::function<std::string(T&)> read) {
    return [read](UIView& view) -> std::optional<std::string> {
        if (auto* typed = dynamic_cast<T*>(&view))
            return read(*typed);
        return std::nullopt;
    };
}

const std::map<std::string, std::vector<Reader>>& readers() {
    static const std::map<std::string, std::vector<Reader>> table = {
        {"title", {readerOf<UIButton>([](UIButton& b) { return b.currentTitle(); })}},
        {"titleColor",
         {readerOf<UIButton>([](UIButton& b) { return b.currentTitleColor().description(); })}},
        {"enabled", {readerOf<UIControl>([](UIControl& c) { return yesNo(c.isEnabled()); })}},
        {"hidden", {readerOf<UIView>([](UIView& v) { return yesNo(v.isHidden()); })}},
        {"alpha", {readerOf<UIView>([](UIView& v) { return number(v.alpha()); })}},
        {"text",
         {readerOf<UILabel>([](UILabel& l) { return l.text(); }),
          readerOf<UITableViewCell>([](UITableViewCell& c) { return c.textLabel()->text(); })}},
        {"detail", {readerOf<UITableViewCell>([](UITableViewCell& c) {
             return c.detailTextLabel()->text();
         })}},
        {"value", {readerOf<UISlider>([](UISlider& s) { return number(s.value()); })}},
        {"progress",
         {readerOf<UIProgressView>([](UIProgressView& p) { return number(p.progress()); })}},
        {"rows", {readerOf<UITableView>([](UITableView& t) {
             return std::to_string(t.numberOfRowsInSection(0));
         })}},
        {"items", {readerOf<UIToolbar>([](UIToolbar& t) { return t.itemNames(); })}},
        // The image view's owner keeps the index of the picture it shows as its accessibility
        // value; none shown is -1.
        {"frameIndex", {readerOf<UIImageView>([](UIImageView& v) {
             return v.accessibilityValue().empty() ? std::string("-1") : v.accessibilityValue();
         })}},
    };
    return table;
}

// The application's own state, under the names statusBar and idleTimer.
std::optional<std::string> applicationProperty(UIApplication& application, const std::string& name,
                                               const std::string& property) {
    if (name == "statusBar" && property == "hidden")
        return yesNo(application.isStatusBarHidden());
    if (name == "statusBar" && property == "style")
        return std::to_string(static_cast<int>(application.statusBarStyle()));
    if (name == "idleTimer" && property == "disabled")
        return yesNo(application.isIdleTimerDisabled());
    return std::nullopt;
}

// The title and message (text) of the alert on top, under the name alert.
std::optional<std::string> alertProperty(const std::string& name, const std::string& property) {
    auto alert = name == "alert" ? UIAlertView::topAlert() : nullptr;
    if (alert && property == "title")
        return alert->title();
    if (alert && property == "text")
        return alert->message();
    return std::nullopt;
}

// The title or enabled state of the bar item `name` on the topmost bar that has one.
std::optional<std::string> barItemProperty(const std::string& name, const std::string& property) {
    std::shared_ptr<UIBarButtonItem> item;
    if (auto bar =
            topmost<UINavigationBar>([&name](UINavigationBar& b) { return !!b.itemNamed(name); }))
        item = bar->itemNamed(name);
    else if (auto toolbar =
                 topmost<UIToolbar>([&name](UIToolbar& t) { return !!t.itemNamed(name); }))
        item = toolbar->itemNamed(name);
    if (!item)
        return std::nullopt;
    if (property == "enabled")
        return yesNo(item->isEnabled());
    if (property == "title")
        return item->title();
    return std::nullopt;
}

}  // namespace

const std::string& AutomationResult::failure() const {
    static const std::string none;
    return failure_ ? *failure_ : none;
}

AutomationDriver::AutomationDriver(std::shared_ptr<UIApplication> application)
    : application_(std::move(application)) {}

std::shared_ptr<UIView> AutomationDriver::findView(const std::string& name) const {
    if (name == "table")
        return topmost<UITableView>();
    if (name.starts_with(kRowPrefix)) {
        auto table = topmost<UITableView>();
        auto row = rowNumberIn(name.substr(kRowPrefix.size()));
        if (!table || !row || *row >= table->numberOfRowsInSection(0))
            return nullptr;
        // As a person would, scroll the row into view first.
        table->scrollToRowAtIndexPath(NSIndexPath::indexPathForRow(*row, 0));
        return table->cellForRowAtIndexPath(NSIndexPath::indexPathForRow(*row, 0));
    }
    if (name.starts_with(kTitlePrefix)) {
        std::string title = name.substr(kTitlePrefix.size());
        return topmost<UIButton>([&title](UIButton& b) { return b.currentTitle() == title; });
    }
    return topmost<UIView>([&name](UIView& view) { return view.name() == name; });
}

AutomationResult AutomationDriver::tap(const std::string& name) {
    if (auto control = std::dynamic_pointer_cast<UIControl>(findView(name))) {
        if (!control->tap())
            return AutomationResult::failed("expected " + name + " to take a tap, found it " +
                                            (control->isEnabled() ? "not visible" : "disabled"));
        return AutomationResult::ok();
    }
    // A bar item: on the topmost navigation bar or toolbar that has one of that name.
    auto bar =
        topmost<UINavigationBar>([&name](UINavigationBar& b) { return !!b.itemNamed(name); });
    auto toolbar = topmost<UIToolbar>([&name](UIToolbar& t) { return !!t.itemNamed(name); });
    if (!bar && !toolbar)
        return AutomationResult::failed("expected a control or bar item " + name +
                                        " on screen, found none");
    if (!(bar ? bar->pressItemNamed(name) : toolbar->pressItemNamed(name)))
        return AutomationResult::failed("expected the bar item " + name +
                                        " to take a press, found it disabled");
    return AutomationResult::ok();
}

AutomationResult AutomationDriver::selectRow(int row) {
    auto table = topmost<UITableView>();
    if (!table)
        return AutomationResult::failed("expected a table on screen, found none");
    if (!table->selectRow(row))
        return AutomationResult::failed("expected row " + std::to_string(row) +
                                        " to be selectable, found " +
                                        std::to_string(table->numberOfRowsInSection(0)) + " rows");
    return AutomationResult::ok();
}

AutomationResult AutomationDriver::deleteRow(int row) {
    auto table = topmost<UITableView>();
    if (!table)
        return AutomationResult::failed("expected a table on screen, found none");
    if (!table->commitDeleteOnRow(row))
        return AutomationResult::failed("expected row " + std::to_string(row) +
                                        " to be deletable, found " +
                                        std::to_string(table->numberOfRowsInSection(0)) + " rows");
    return AutomationResult::ok();
}

AutomationResult AutomationDriver::back() {
    auto bar = topmost<UINavigationBar>();
    if (!bar)
        return AutomationResult::failed("expected a navigation bar on screen, found none");
    if (!bar->pressBackButton())
        return AutomationResult::failed("expected a back button on the navigation bar, found none");
    return AutomationResult::ok();
}

AutomationResult AutomationDriver::slide(const std::string& name, float value) {
    auto slider = std::dynamic_pointer_cast<UISlider>(findView(name));
    if (!slider)
        return AutomationResult::failed("expected a slider " + name + " on screen, found none");
    if (!slider->slide(value))
        return AutomationResult::failed("expected the slider " + name + " to take a touch");
    return AutomationResult::ok();
}

AutomationResult AutomationDriver::pressSheetButton(const std::string& title) {
    auto sheet = UIActionSheet::topSheet();
    if (!sheet)
        return AutomationResult::failed("expected an action sheet with the button " + title +
                                        ", found no sheet");
    if (!sheet->pressButtonWithTitle(title)) {
        std::string buttons;
        for (int i = 0; i < sheet->numberOfButtons(); ++i)
            buttons += (i ? ", " : "") + sheet->buttonTitleAtIndex(i);
        return AutomationResult::failed("expected the button " + title +
                                        " on the action sheet to take a press, found " + buttons);
    }
    return AutomationResult::ok();
}

AutomationResult AutomationDriver::answerMail(const std::string& answer) {
    auto composer = MFMailComposeViewController::visibleComposer();
    if (!composer)
        return AutomationResult::failed("expected a mail composer on screen, found none");
    bool answered = false;
    if (answer == "send")
        answered = composer->send();
    else if (answer == "save")
        answered = composer->save();
    else if (answer == "cancel")
        answered = composer->cancel();
    else
        return AutomationResult::failed(
            "expected send, save or cancel for the mail composer, found " + answer);
    if (!answered)
        return AutomationResult::failed("expected the mail composer to take " + answer +
                                        ", found it answered");
    return AutomationResult::ok();
}

AutomationResult AutomationDriver::pressAlertButton(const std::string& title) {
    auto alert = UIAlertView::topAlert();
    if (!alert)
        return AutomationResult::failed("expected an alert with the button " + title +
                                        ", found no alert");
    if (!alert->pressButtonWithTitle(title)) {
        std::string buttons;
        for (int i = 0; i < alert->numberOfButtons(); ++i)
            buttons += (i ? ", " : "") + alert->buttonTitleAtIndex(i);
        return AutomationResult::failed("expected the button " + title + " on the alert \"" +
                                        alert->title() + "\", found " + buttons);
    }
    return AutomationResult::ok();
}

std::optional<std::string> AutomationDriver::readProperty(const std::string& name,
                                                          const std::string& property,
                                                          std::string* error) const {
    if (auto text = applicationProperty(*application_, name, property))
        return text;
    if (auto text = alertProperty(name, property))
        return text;
    auto it = readers().find(property);
    if (it == readers().end()) {
        *error = "unknown property " + property;
        return std::nullopt;
    }
    auto view = findView(name);
    if (!view) {
        if (auto text = barItemProperty(name, property))
            return text;
        *error = "expected a view " + name + " on screen, found none";
        return std::nullopt;
    }
    for (const auto& read : it->second)
        if (auto text = read(*view))
            return text;
    *error = name + " has no property " + property;
    return std::nullopt;
}

AutomationResult AutomationDriver::screenshot(const std::string& path) {
    application_->refreshScreen();
    NSErrorPtr error = Screen::mainScreen().writePNG(path);
    if (error)
        return AutomationResult::failed("could not write the screenshot: " +
                                        error->localizedDescription());
    return AutomationResult::ok();
}

void AutomationDriver::background() {
    application_->resignActive();
}

void AutomationDriver::deliverLocation(double latitude, double longitude) {
    CLLocationManager::deliverLocation(latitude, longitude);
}

void AutomationDriver::quit() {
    application_->terminate();
}

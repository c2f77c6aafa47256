#include "platform/Automation/AutomationDriver.h"

#include <cstdio>
#include <functional>
#include <map>

#include "platform/CoreLocation/CLLocationManager.h"
#include "platform/Device/Screen.h"
#include "platform/UIKit/UIAlertView.h"
#include "platform/UIKit/UIButton.h"
#include "platform/UIKit/UILabel.h"
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

// The first view (depth first, in order) for which `match` holds.
std::shared_ptr<UIView> findIn(const std::shared_ptr<UIView>& root,
                               const std::function<bool(UIView&)>& match) {
    if (!root)
        return nullptr;
    if (match(*root))
        return root;
    for (const auto& child : root->subviews())
        if (auto found = findIn(child, match))
            return found;
    return nullptr;
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
        {"text", {readerOf<UILabel>([](UILabel& l) { return l.text(); })}},
    };
    return table;
}

}  // namespace

AutomationDriver::AutomationDriver(std::shared_ptr<UIApplication> application)
    : application_(std::move(application)) {}

std::shared_ptr<UIView> AutomationDriver::findView(const std::string& name) const {
    std::function<bool(UIView&)> match;
    if (name.starts_with(kTitlePrefix)) {
        std::string title = name.substr(kTitlePrefix.size());
        match = [title](UIView& view) {
            auto* button = dynamic_cast<UIButton*>(&view);
            return button && button->isVisibleOnScreen() && button->currentTitle() == title;
        };
    } else {
        match = [&name](UIView& view) { return view.name() == name; };
    }
    if (auto found = findIn(UIWindow::keyWindow(), match))
        return found;
    for (const auto& alert : UIAlertView::visibleAlerts())
        if (auto found = findIn(alert, match))
            return found;
    return nullptr;
}

std::string AutomationDriver::tap(const std::string& name) {
    auto control = std::dynamic_pointer_cast<UIControl>(findView(name));
    if (!control)
        return "expected a control " + name + " on screen, found none";
    if (!control->tap())
        return "expected " + name + " to take a tap, found it " +
               (control->isEnabled() ? "not visible" : "disabled");
    return "";
}

std::string AutomationDriver::pressAlertButton(const std::string& title) {
    auto alert = UIAlertView::topAlert();
    if (!alert)
        return "expected an alert with the button " + title + ", found no alert";
    if (!alert->pressButtonWithTitle(title)) {
        std::string buttons;
        for (int i = 0; i < alert->numberOfButtons(); ++i)
            buttons += (i ? ", " : "") + alert->buttonTitleAtIndex(i);
        return "expected the button " + title + " on the alert \"" + alert->title() + "\", found " +
               buttons;
    }
    return "";
}

std::optional<std::string> AutomationDriver::readProperty(const std::string& name,
                                                          const std::string& property,
                                                          std::string* error) const {
    auto it = readers().find(property);
    if (it == readers().end()) {
        *error = "unknown property " + property;
        return std::nullopt;
    }
    auto view = findView(name);
    if (!view) {
        *error = "expected a view " + name + " on screen, found none";
        return std::nullopt;
    }
    for (const auto& read : it->second)
        if (auto text = read(*view))
            return text;
    *error = name + " has no property " + property;
    return std::nullopt;
}

std::string AutomationDriver::screenshot(const std::string& path) {
    application_->refreshScreen();
    NSErrorPtr error = Screen::mainScreen().writePNG(path);
    return error ? "could not write the screenshot: " + error->localizedDescription() : "";
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

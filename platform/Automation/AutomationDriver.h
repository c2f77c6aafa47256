#pragma once
// Operates the running application as a person would: taps controls, answers alerts, reads what
// the screen shows, takes screenshots, sends the application to the background, quits. The
// touch-script runner (AutomationScript) and end-to-end tests use it alike.
//
// Controls and views are found by name: an outlet name (the view's id in its interface file,
// such as `button` or `albumButton`), or "title:TEXT" for the control on screen whose title is
// TEXT. The search covers the key window with what is presented on it, then the alerts on
// screen.
//
// Property texts: YES or NO for booleans, numbers with up to 6 significant digits (%g), colours
// as "red green blue alpha". Readable properties: title, titleColor, enabled, hidden, alpha,
// text.
//
// Errors come back as texts ("" for success) saying what was expected and what was found.
//
// Threads: main thread only, between events of the main run loop.

#include <memory>
#include <optional>
#include <string>

#include "platform/UIKit/UIApplication.h"
#include "platform/UIKit/UIView.h"

class AutomationDriver {
  public:
    explicit AutomationDriver(std::shared_ptr<UIApplication> application);

    // The view called `name` on screen, or null.
    std::shared_ptr<UIView> findView(const std::string& name) const;

    // Touch down and up inside the control `name`.
    std::string tap(const std::string& name);
    // Presses the button titled `title` on the topmost alert.
    std::string pressAlertButton(const std::string& title);
    // The text of `property` of the view `name`, or nullopt with `*error`.
    std::optional<std::string> readProperty(const std::string& name, const std::string& property,
                                            std::string* error) const;
    // Composes the screen and writes it as a PNG file.
    std::string screenshot(const std::string& path);
    // The application resigns active.
    void background();
    // A fix for the device's location manager.
    void deliverLocation(double latitude, double longitude);
    // The termination sequence.
    void quit();

    UIApplication& application() const { return *application_; }

  private:
    std::shared_ptr<UIApplication> application_;
};

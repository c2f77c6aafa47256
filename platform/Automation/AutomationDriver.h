#pragma once
// Operates the running application as a person would: taps controls and bar items, answers
// alerts, picks and deletes table rows, goes back, drags sliders, reads what the screen shows,
// takes screenshots, sends the application to the background, quits. The touch-script runner
// (AutomationScript) and end-to-end tests use it alike.
//
// Views are found by name, the topmost first: an outlet name (the view's id in its interface
// file, such as `button` or `albumButton`), "title:TEXT" for the control on screen whose title is
// TEXT, "table" for the table on screen, "row:N" for its cell of row N (from 0). The search covers
// the key window with what is presented on it, then the alerts on screen. Bar button items (the
// navigation bar's `done` and `edit`, a toolbar's items) are found by their names for `tap`.
//
// Properties and their texts: YES or NO for booleans, numbers with up to 6 significant digits
// (%g), colours as "red green blue alpha".
//   title, titleColor, enabled, hidden, alpha   buttons / controls / views; title and enabled
//                                               also of bar items, by name
//   text                                        labels; a table cell's text
//   detail                                      a table cell's detail text
//   value                                       sliders
//   progress                                    progress views
//   rows                                        the table: its number of rows
//   items                                       toolbars: the items' names joined by blanks
//   frameIndex                                  image views: the index of the picture shown
//   statusBar.hidden, statusBar.style, idleTimer.disabled   the application
//
// A command answers an AutomationResult: true on success; on failure false, with a text saying
// what was expected and what was found.
//
// Threads: main thread only, between events of the main run loop.

#include <memory>
#include <optional>
#include <string>

#include "platform/UIKit/UIApplication.h"
#include "platform/UIKit/UIView.h"

class [[nodiscard]] AutomationResult {
  public:
    static AutomationResult ok() { return AutomationResult(std::nullopt); }
    static AutomationResult failed(std::string what) { return AutomationResult(std::move(what)); }

    explicit operator bool() const { return !failure_; }
    // What went wrong; empty on success.
    const std::string& failure() const;

  private:
    explicit AutomationResult(std::optional<std::string> failure) : failure_(std::move(failure)) {}
    std::optional<std::string> failure_;
};

class AutomationDriver {
  public:
    explicit AutomationDriver(std::shared_ptr<UIApplication> application);

    // The view called `name` on screen, or null.
    std::shared_ptr<UIView> findView(const std::string& name) const;

    // Touch down and up inside the control `name`, or a press of the bar item `name`.
    AutomationResult tap(const std::string& name);
    // Selects row `row` of the table on screen.
    AutomationResult selectRow(int row);
    // Commits the delete editing style on row `row` of the table on screen.
    AutomationResult deleteRow(int row);
    // The navigation bar's back button.
    AutomationResult back();
    // Touch down on the slider `name`, its value changed to `value`, touch up inside.
    AutomationResult slide(const std::string& name, float value);
    // Presses the button titled `title` on the topmost alert.
    AutomationResult pressAlertButton(const std::string& title);
    // Presses the button titled `title` on the topmost action sheet.
    AutomationResult pressSheetButton(const std::string& title);
    // Answers the mail composer on screen: "send", "save" or "cancel".
    AutomationResult answerMail(const std::string& answer);
    // The text of `property` of the view `name`, or nullopt with `*error`.
    std::optional<std::string> readProperty(const std::string& name, const std::string& property,
                                            std::string* error) const;
    // Composes the screen and writes it as a PNG file.
    AutomationResult screenshot(const std::string& path);
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

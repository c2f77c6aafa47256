#pragma once
// The phone on a Linux desktop: an SDL window that shows the phone's screen as the compositor
// drew it, at a whole-number scale and kept sharp (nearest neighbour). At every display refresh
// on the main run loop it handles the window's events and presents the screen's last composed
// picture when that differs from the one shown.
//
// Events: the left mouse button is the finger (DesktopMouse) and its touches go to the
// application as a person's (UIApplication::sendTouch); Ctrl+H is the home button (the
// application resigns active); Ctrl+Q and closing the window end the application as the
// phone's termination does. While a view takes typing (UIApplication::keyInput), every key is
// typing: SDL's text input (so that accents and input methods work), Backspace, Tab and
// Shift+Tab, Return, and Ctrl+V, which pastes the desktop's clipboard text (the phone's
// pasteboard when the desktop has none); SDL's text input is on only then, and never while the
// screen is off. Where no view takes
// typing, plain H and Q are the home button and termination too. The title names the
// application and the two keys.
//
// After the home button the window shows the phone's screen turned off (black, with one line
// saying how to come back); the next mouse press or key press there only brings the application
// back (UIApplication::becomeActive) and the phone's screen with it: that key types nothing.
//
// The window lost from outside (destroyed by another client, the display's connection broken:
// DesktopDisplayLoss) ends the application as its termination does, with one line in the log.
// Destroying the window asks nothing of a broken connection. After the application's
// termination (the process ends next) the window first asks the server whether it is still
// there, since a termination signal may have come with its end (a logout); should the
// connection break during the teardown itself, the process ends there with the application's
// exit status.
//
// Threads: main thread only. The window keeps the application alive; destroying the window
// closes it.

#include <memory>
#include <optional>
#include <string>

#include "platform/CoreGraphics/CGImage.h"
#include "platform/Desktop/DesktopDisplayLoss.h"
#include "platform/Desktop/DesktopMouse.h"
#include "platform/Foundation/NSError.h"
#include "platform/QuartzCore/CADisplayLink.h"
#include "platform/UIKit/UIApplication.h"

struct SDL_Window;
struct SDL_Renderer;
struct SDL_Texture;
union SDL_Event;

class DesktopWindow {
  public:
    // The title's key list, after the application's name.
    static constexpr const char* kKeys = "Ctrl+H: home button, Ctrl+Q: quit";

    // A display to open a window on is named (DISPLAY or WAYLAND_DISPLAY).
    static bool isDisplayAvailable();
    // The scale setting: a whole number from 1 to 16, or 0 for "auto"; nullopt for anything
    // else.
    static std::optional<int> parseScale(const std::string& setting);
    // The scale to open with: `setting` when it is a number, brought down to the largest whole
    // scale at which the phone's screen fits into the desktop's usable area (at least 1; an
    // area of 0 x 0 is unknown and takes any scale); else ("auto", 0) 2 where twice the
    // phone's screen fits, else 1.
    static int chooseScale(int setting, int usableWidth, int usableHeight);
    // The one line that says how to come back from the screen turned off.
    static constexpr const char* kScreenOffLine = "Screen off: click or press a key to come back";

    // Opens the window titled "NAME (keys)" at the scale `scaleSetting` (as parseScale gives;
    // a scale brought down to fit is said in the log) and starts its refresh. Null with
    // `*error` when SDL cannot open it.
    static std::unique_ptr<DesktopWindow> open(std::shared_ptr<UIApplication> application,
                                               const std::string& name, int scaleSetting,
                                               NSErrorPtr* error);
    ~DesktopWindow();
    DesktopWindow(const DesktopWindow&) = delete;
    DesktopWindow& operator=(const DesktopWindow&) = delete;

    int scale() const { return mouse_.scale(); }
    std::string title() const;

  private:
    DesktopWindow(std::shared_ptr<UIApplication> application, int scale);
    void refresh();
    void handle(const SDL_Event& event);
    void pressHome();
    // Takes the mouse and key events while the screen is off; true when it took `event`.
    bool handleWhileOff(const SDL_Event& event);
    // A key press or text typed.
    void handleKey(const SDL_Event& event);
    void pasteText();
    // SDL's text input on while a view takes typing, off while none does.
    void followTyping();
    void present(bool always);

    std::shared_ptr<UIApplication> application_;
    DesktopMouse mouse_;
    SDL_Window* window_ = nullptr;
    SDL_Renderer* renderer_ = nullptr;
    SDL_Texture* texture_ = nullptr;
    std::unique_ptr<DesktopDisplayLoss> loss_;
    std::shared_ptr<CADisplayLink> link_;
    CGImageRef shown_;
    CGImageRef screenOff_;  // the picture shown while the screen is off; null while it is on
};

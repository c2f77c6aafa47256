#pragma once
// A test's hands and eyes on an X display (kept apart from the project's headers, whose names
// Xlib's macros and types would clash with): finds a window by its title, reads its pixels,
// moves the pointer, presses the first mouse button and keys through the XTest extension, and
// destroys the window or kills its client as another client may.

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class XDisplay {
  public:
    // Null when the display cannot be opened. Calls XInitThreads first: call before anything
    // else in the process talks to X.
    static std::unique_ptr<XDisplay> open(const std::string& name);
    ~XDisplay();

    // Waits (up to `limit`) for a mapped top-level window titled `title`; false when none came.
    bool findWindow(const std::string& title, std::chrono::seconds limit);
    int width() const;
    int height() const;
    // The window's pixels as 0xRRGGBB, row by row; empty when it cannot be read.
    std::vector<uint32_t> pixels() const;

    // The pointer to pixel (x, y) of the window.
    void movePointer(int x, int y);
    void pressButton(bool down);
    // A press and release of the key named `keysym` ("q", "h").
    void tapKey(const std::string& keysym);
    // The same with Control held down.
    void tapKeyWithControl(const std::string& keysym);
    // Types printable ASCII `text` key by key, with Shift where the keyboard needs it.
    void typeText(const std::string& text);

    // What another client can do to the window found: destroy it (as a crashed window manager
    // or `xdotool windowclose` does), or kill the connection of the client that made it.
    void destroyWindow();
    void killClient();

  private:
    XDisplay() = default;
    struct State;
    std::unique_ptr<State> state_;
};

#pragma once
// Notices that the desktop window is lost from outside the program: the X window destroyed by
// another client (a crashed window manager, xdotool windowclose, the session's end) or the
// connection to the X server broken (the server ended, the client killed). Xlib's default
// handlers end the process at once in both cases, before the application could store anything;
// the handlers installed here only take note, so that the window can end the application the
// way its termination does.
//
// On a video driver other than X11 it watches nothing and never reports a loss.
//
// Threads: main thread only. Xlib's handlers are the process's own, so one watch at a time.

#include <string>

struct SDL_Window;
union SDL_Event;

class DesktopDisplayLoss {
  public:
    // Installs the error and I/O-error handlers for `window`'s X display, in place of SDL's and
    // Xlib's (call after SDL's video init), and asks SDL for the X events that tell of the
    // window's destruction.
    explicit DesktopDisplayLoss(SDL_Window* window);
    // Stops watching; the handlers stay (SDL puts its own back when its video ends).
    ~DesktopDisplayLoss();
    DesktopDisplayLoss(const DesktopDisplayLoss&) = delete;
    DesktopDisplayLoss& operator=(const DesktopDisplayLoss&) = delete;

    // Takes note of an X event from SDL that destroys the window.
    void note(const SDL_Event& event);
    // What was lost, as a phrase ("the window was destroyed"), or "" while nothing is.
    std::string lost() const;
    // The connection is broken: nothing may be asked of the display any more.
    bool isConnectionBroken() const;
    // Has the server answer everything sent so far, so that errors about the lost window come
    // to these handlers rather than to the ones that follow them, and a connection that broke
    // unnoticed is known to be. Nothing once the connection is broken.
    void sync();
    // For a teardown that follows the application's termination: from now on, for the rest of
    // the process, a connection of the process to the display that breaks (SDL keeps a second
    // one of its own) ends the process at once with `status`, its standard streams flushed.
    // Xlib would otherwise go on waiting for the dead server (SDL's wait for the window's unmap
    // spins for good) or exit with status 1.
    static void endProcessOnBreak(int status);

  private:
    bool watching_ = false;
};

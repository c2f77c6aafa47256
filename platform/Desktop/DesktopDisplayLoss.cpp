#include "platform/Desktop/DesktopDisplayLoss.h"

#include <SDL2/SDL.h>
#include <SDL2/SDL_syswm.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "platform/Foundation/NSLog.h"

namespace {

// Xlib calls its handlers from whichever call met the error, with no user data for the error
// handler: the watch's state is the process's.
::Display* watchedDisplay = nullptr;
std::atomic<::Window> watchedWindow{0};
std::atomic<bool> windowDestroyed{false};
std::atomic<bool> connectionBroken{false};
// The status a broken connection ends the process with (endProcessOnBreak); -1 while none.
std::atomic<int> endingStatus{-1};

// An error about the watched window means another client destroyed it; once it is gone, the
// requests SDL still makes for it (input, drawing) fail too and say nothing new. Other errors
// are logged and the program goes on, where Xlib's default would end it.
int onError(::Display*, XErrorEvent* error) {
    const ::Window window = watchedWindow.load();
    if (window && error->resourceid == window)
        windowDestroyed = true;
    else if (!windowDestroyed)
        NSLog("X error %d of request %d.%d on resource 0x%lx ignored",
              static_cast<int>(error->error_code), static_cast<int>(error->request_code),
              static_cast<int>(error->minor_code), error->resourceid);
    return 0;
}

void endIfEnding() {
    if (const int status = endingStatus.load(); status >= 0) {
        std::fflush(nullptr);
        std::_Exit(status);
    }
}

int onIOError(::Display*) {
    connectionBroken = true;
    endIfEnding();
    return 0;
}

// Returning, rather than exiting as Xlib's default does, leaves the display marked broken:
// Xlib's later calls on it return at once.
void onIOErrorExit(::Display*, void*) {
    connectionBroken = true;
    endIfEnding();
}

}  // namespace

DesktopDisplayLoss::DesktopDisplayLoss(SDL_Window* window) {
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11)
        return;
    watchedDisplay = info.info.x11.display;
    watchedWindow = info.info.x11.window;
    windowDestroyed = false;
    connectionBroken = false;
    watching_ = true;
    XSetErrorHandler(onError);
    XSetIOErrorHandler(onIOError);
    XSetIOErrorExitHandler(watchedDisplay, onIOErrorExit, nullptr);
    SDL_EventState(SDL_SYSWMEVENT, SDL_ENABLE);
}

DesktopDisplayLoss::~DesktopDisplayLoss() {
    if (!watching_)
        return;
    SDL_EventState(SDL_SYSWMEVENT, SDL_DISABLE);
    watchedWindow = 0;
    watchedDisplay = nullptr;
}

void DesktopDisplayLoss::note(const SDL_Event& event) {
    if (!watching_ || event.type != SDL_SYSWMEVENT || !event.syswm.msg ||
        event.syswm.msg->subsystem != SDL_SYSWM_X11)
        return;
    const XEvent& x = event.syswm.msg->msg.x11.event;
    if (x.type == DestroyNotify && x.xdestroywindow.window == watchedWindow.load())
        windowDestroyed = true;
}

std::string DesktopDisplayLoss::lost() const {
    if (!watching_)
        return "";
    if (connectionBroken)
        return "the connection to the display broke";
    if (windowDestroyed)
        return "the window was destroyed from outside";
    return "";
}

bool DesktopDisplayLoss::isConnectionBroken() const {
    return watching_ && connectionBroken;
}

void DesktopDisplayLoss::sync() {
    if (watching_ && !connectionBroken)
        XSync(watchedDisplay, False);
}

void DesktopDisplayLoss::endProcessOnBreak(int status) {
    endingStatus = status;
}

#include "tests/app/XDisplay.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <thread>

struct XDisplay::State {
    ::Display* display = nullptr;
    ::Window window = 0;
};

std::unique_ptr<XDisplay> XDisplay::open(const std::string& name) {
    XInitThreads();
    ::Display* display = XOpenDisplay(name.c_str());
    if (!display)
        return nullptr;
    std::unique_ptr<XDisplay> x(new XDisplay());
    x->state_ = std::make_unique<State>();
    x->state_->display = display;
    return x;
}

XDisplay::~XDisplay() {
    if (state_ && state_->display)
        XCloseDisplay(state_->display);
}

bool XDisplay::findWindow(const std::string& title, std::chrono::seconds limit) {
    ::Display* d = state_->display;
    for (auto until = std::chrono::steady_clock::now() + limit;
         std::chrono::steady_clock::now() < until;
         std::this_thread::sleep_for(std::chrono::milliseconds(50))) {
        ::Window root = 0, parent = 0, *children = nullptr;
        unsigned count = 0;
        XQueryTree(d, DefaultRootWindow(d), &root, &parent, &children, &count);
        for (unsigned i = 0; i < count && !state_->window; ++i) {
            char* name = nullptr;
            if (XFetchName(d, children[i], &name) && name && title == name)
                state_->window = children[i];
            XFree(name);
        }
        XFree(children);
        XWindowAttributes attributes;
        if (state_->window && XGetWindowAttributes(d, state_->window, &attributes) &&
            attributes.map_state == IsViewable)
            return true;
    }
    return false;
}

int XDisplay::width() const {
    XWindowAttributes attributes{};
    XGetWindowAttributes(state_->display, state_->window, &attributes);
    return attributes.width;
}

int XDisplay::height() const {
    XWindowAttributes attributes{};
    XGetWindowAttributes(state_->display, state_->window, &attributes);
    return attributes.height;
}

std::vector<uint32_t> XDisplay::pixels() const {
    const int w = width(), h = height();
    XImage* image = XGetImage(state_->display, state_->window, 0, 0, static_cast<unsigned>(w),
                              static_cast<unsigned>(h), AllPlanes, ZPixmap);
    std::vector<uint32_t> out;
    if (!image)
        return out;
    out.reserve(static_cast<size_t>(w) * static_cast<size_t>(h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            out.push_back(static_cast<uint32_t>(XGetPixel(image, x, y) & 0xffffff));
    XDestroyImage(image);
    return out;
}

void XDisplay::movePointer(int x, int y) {
    int rootX = 0, rootY = 0;
    ::Window child = 0;
    XTranslateCoordinates(state_->display, state_->window, DefaultRootWindow(state_->display), x, y,
                          &rootX, &rootY, &child);
    XTestFakeMotionEvent(state_->display, -1, rootX, rootY, 0);
    XSync(state_->display, False);
}

void XDisplay::pressButton(bool down) {
    XTestFakeButtonEvent(state_->display, 1, down ? True : False, 0);
    XSync(state_->display, False);
}

void XDisplay::tapKey(const std::string& keysym) {
    const KeyCode code = XKeysymToKeycode(state_->display, XStringToKeysym(keysym.c_str()));
    XTestFakeKeyEvent(state_->display, code, True, 0);
    XTestFakeKeyEvent(state_->display, code, False, 0);
    XSync(state_->display, False);
}

void XDisplay::destroyWindow() {
    XDestroyWindow(state_->display, state_->window);
    XSync(state_->display, False);
}

void XDisplay::killClient() {
    XKillClient(state_->display, state_->window);
    XSync(state_->display, False);
}

void XDisplay::tapKeyWithControl(const std::string& keysym) {
    const KeyCode control = XKeysymToKeycode(state_->display, XK_Control_L);
    XTestFakeKeyEvent(state_->display, control, True, 0);
    tapKey(keysym);
    XTestFakeKeyEvent(state_->display, control, False, 0);
    XSync(state_->display, False);
}

void XDisplay::typeText(const std::string& text) {
    ::Display* d = state_->display;
    const KeyCode shift = XKeysymToKeycode(d, XK_Shift_L);
    for (char c : text) {
        // Printable ASCII keysyms have the character's own value.
        const KeySym symbol = static_cast<KeySym>(static_cast<unsigned char>(c));
        const KeyCode code = XKeysymToKeycode(d, symbol);
        const bool shifted = XkbKeycodeToKeysym(d, code, 0, 0) != symbol;
        if (shifted)
            XTestFakeKeyEvent(d, shift, True, 0);
        XTestFakeKeyEvent(d, code, True, 0);
        XTestFakeKeyEvent(d, code, False, 0);
        if (shifted)
            XTestFakeKeyEvent(d, shift, False, 0);
        XSync(d, False);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

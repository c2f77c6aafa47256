#include "platform/Desktop/DesktopWindow.h"

#include <SDL2/SDL.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/Device/Screen.h"
#include "platform/Foundation/NSLog.h"
#include "platform/Foundation/NSRunLoop.h"
#include "platform/UIKit/UIStringDrawing.h"

namespace {

constexpr int kMaximumScale = 16;

bool named(const char* variable) {
    const char* value = std::getenv(variable);
    return value && *value;
}

bool samePixels(const CGImage& a, const CGImage& b) {
    if (a.width() != b.width() || a.height() != b.height())
        return false;
    for (size_t y = 0; y < a.height(); ++y) {
        if (std::memcmp(a.data() + y * a.bytesPerRow(), b.data() + y * b.bytesPerRow(),
                        a.width() * 4) != 0)
            return false;
    }
    return true;
}

// The phone's screen turned off: black, with the line that says how to come back.
CGImageRef screenOffPicture() {
    cairo_surface_t* surface = CGImage::newSurface(true, Screen::kWidth, Screen::kHeight);
    if (!surface)
        return nullptr;
    cairo_t* cr = cairo_create(surface);
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_paint(cr);
    drawStringInRect(cr, DesktopWindow::kScreenOffLine,
                     CGRectMake(0, 0, Screen::kWidth, Screen::kHeight),
                     UIFont::systemFontOfSize(12), UIColor::greyColor(), UITextAlignmentCenter);
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    return CGImage::adoptSurface(surface);
}

}  // namespace

bool DesktopWindow::isDisplayAvailable() {
    return named("DISPLAY") || named("WAYLAND_DISPLAY");
}

std::optional<int> DesktopWindow::parseScale(const std::string& setting) {
    if (setting == "auto")
        return 0;
    if (setting.empty() || setting.size() > 2 ||
        setting.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    int scale = std::stoi(setting);
    if (scale < 1 || scale > kMaximumScale)
        return std::nullopt;
    return scale;
}

int DesktopWindow::chooseScale(int setting, int usableWidth, int usableHeight) {
    if (setting > 0 && usableWidth <= 0 && usableHeight <= 0)
        return setting;
    const int fitting = std::min(usableWidth / Screen::kWidth, usableHeight / Screen::kHeight);
    if (setting > 0)
        return std::clamp(fitting, 1, setting);
    return fitting >= 2 ? 2 : 1;
}

std::unique_ptr<DesktopWindow> DesktopWindow::open(std::shared_ptr<UIApplication> application,
                                                   const std::string& name, int scaleSetting,
                                                   NSErrorPtr* error) {
    auto fail = [error](const std::string& what) {
        if (error)
            *error = NSError::make("DesktopErrorDomain", 1,
                                   "The window cannot be opened: " + what + ": " + SDL_GetError());
        return nullptr;
    };
    // The application handles SIGINT and SIGTERM itself.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    SDL_SetHint(SDL_HINT_VIDEO_X11_NET_WM_BYPASS_COMPOSITOR, "0");
    SDL_SetHint(SDL_HINT_MOUSE_FOCUS_CLICKTHROUGH, "1");
    SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "nearest");
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0)
        return fail("no video");
    SDL_Rect usable{0, 0, 0, 0};
    if (SDL_GetDisplayUsableBounds(0, &usable) != 0)
        usable = SDL_Rect{0, 0, 0, 0};
    const int scale = chooseScale(scaleSetting, usable.w, usable.h);
    if (scale < scaleSetting)
        NSLog("The scale %d does not fit the desktop (%d x %d): the window opens at scale %d",
              scaleSetting, usable.w, usable.h, scale);
    std::unique_ptr<DesktopWindow> window(new DesktopWindow(std::move(application), scale));
    window->window_ = SDL_CreateWindow((name + " (" + kKeys + ")").c_str(), SDL_WINDOWPOS_CENTERED,
                                       SDL_WINDOWPOS_CENTERED, Screen::kWidth * scale,
                                       Screen::kHeight * scale, SDL_WINDOW_SHOWN);
    if (!window->window_)
        return fail("no window");
    window->renderer_ = SDL_CreateRenderer(window->window_, -1, 0);
    if (!window->renderer_)
        return fail("no renderer");
    // The screen's pictures are XRGB words in native order.
    window->texture_ =
        SDL_CreateTexture(window->renderer_, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING,
                          Screen::kWidth, Screen::kHeight);
    if (!window->texture_)
        return fail("no texture");
    window->loss_ = std::make_unique<DesktopDisplayLoss>(window->window_);
    DesktopWindow* self = window.get();
    window->link_ =
        CADisplayLink::displayLinkWithTarget([self](CADisplayLink&) { self->refresh(); });
    window->link_->addToRunLoop(NSRunLoop::mainRunLoop());
    window->present(true);
    return window;
}

DesktopWindow::DesktopWindow(std::shared_ptr<UIApplication> application, int scale)
    : application_(std::move(application)), mouse_(scale) {}

DesktopWindow::~DesktopWindow() {
    if (link_)
        link_->invalidate();
    if (loss_ && application_->isTerminated()) {
        // The process ends next. A termination signal at a logout comes with the end of the X
        // server: the connection may have broken since the last refresh, or break during the
        // teardown, where SDL would wait for the dead server for good.
        loss_->sync();
        if (!loss_->isConnectionBroken())
            DesktopDisplayLoss::endProcessOnBreak(application_->exitStatus());
    }
    // Nothing may be asked of a broken connection; the process ends next anyway.
    if (loss_ && loss_->isConnectionBroken())
        return;
    if (texture_)
        SDL_DestroyTexture(texture_);
    if (renderer_)
        SDL_DestroyRenderer(renderer_);
    if (window_)
        SDL_DestroyWindow(window_);
    // Errors about a window destroyed from outside come to our handlers, not to Xlib's.
    if (loss_)
        loss_->sync();
    loss_.reset();
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

std::string DesktopWindow::title() const {
    return SDL_GetWindowTitle(window_);
}

void DesktopWindow::refresh() {
    followTyping();
    SDL_Event event;
    bool exposed = false;
    while (!application_->isTerminated() && SDL_PollEvent(&event)) {
        if (event.type == SDL_WINDOWEVENT && event.window.event == SDL_WINDOWEVENT_EXPOSED)
            exposed = true;
        loss_->note(event);
        handle(event);
    }
    if (const std::string lost = loss_->lost(); !lost.empty() && !application_->isTerminated()) {
        NSLog("The window is lost (%s): the application terminates", lost.c_str());
        application_->terminate();
    }
    if (!application_->isTerminated())
        present(exposed);
}

void DesktopWindow::handle(const SDL_Event& event) {
    if (screenOff_ && handleWhileOff(event))
        return;
    if (auto touch = mouse_.touchFor(event)) {
        application_->sendTouch(touch->phase, touch->point);
        return;
    }
    switch (event.type) {
        case SDL_QUIT:
            application_->terminate();
            break;
        case SDL_WINDOWEVENT:
            if (event.window.event == SDL_WINDOWEVENT_CLOSE)
                application_->terminate();
            break;
        case SDL_KEYDOWN:
        case SDL_TEXTINPUT:
            handleKey(event);
            break;
        default:
            break;
    }
}

void DesktopWindow::pressHome() {
    application_->resignActive();
    screenOff_ = screenOffPicture();
    followTyping();
}

bool DesktopWindow::handleWhileOff(const SDL_Event& event) {
    // A touch begun before the screen went off still ends through the mouse; a press only wakes.
    if (event.type != SDL_MOUSEBUTTONDOWN && event.type != SDL_KEYDOWN)
        return false;
    if (event.type == SDL_KEYDOWN && event.key.repeat)
        return true;
    screenOff_.reset();
    application_->becomeActive();
    return true;
}

void DesktopWindow::handleKey(const SDL_Event& event) {
    const bool typing = application_->keyInput() != nullptr;
    if (event.type == SDL_TEXTINPUT) {
        if (typing)
            application_->sendText(event.text.text);
        return;
    }
    const SDL_Keycode key = event.key.keysym.sym;
    const bool control = (event.key.keysym.mod & KMOD_CTRL) != 0;
    if (event.key.repeat && !(typing && key == SDLK_BACKSPACE))
        return;
    if (key == SDLK_h && (control || !typing))
        pressHome();
    else if (key == SDLK_q && (control || !typing))
        application_->terminate();
    else if (!typing)
        return;
    else if (key == SDLK_v && control)
        pasteText();
    else if (key == SDLK_BACKSPACE)
        application_->sendBackspace();
    else if (key == SDLK_TAB)
        application_->sendTab((event.key.keysym.mod & KMOD_SHIFT) != 0);
    else if (key == SDLK_RETURN || key == SDLK_KP_ENTER)
        application_->sendText("\n");
}

void DesktopWindow::pasteText() {
    if (!SDL_HasClipboardText())
        return application_->sendPaste();
    char* text = SDL_GetClipboardText();
    application_->sendText(text ? text : "");
    SDL_free(text);
}

void DesktopWindow::followTyping() {
    // Off while the screen is: the key that wakes it then makes no text (SDL makes a key's text
    // as it reads the key, before the wake is handled).
    const bool typing = !screenOff_ && application_->keyInput() != nullptr;
    if (typing != static_cast<bool>(SDL_IsTextInputActive()))
        typing ? SDL_StartTextInput() : SDL_StopTextInput();
}

void DesktopWindow::present(bool always) {
    CGImageRef picture = screenOff_ ? screenOff_ : Screen::mainScreen().lastComposed();
    if (!picture)
        return;
    const bool changed = !shown_ || (picture != shown_ && !samePixels(*picture, *shown_));
    shown_ = picture;
    if (!changed && !always)
        return;
    SDL_UpdateTexture(texture_, nullptr, picture->data(), static_cast<int>(picture->bytesPerRow()));
    SDL_RenderClear(renderer_);
    SDL_RenderCopy(renderer_, texture_, nullptr, nullptr);
    SDL_RenderPresent(renderer_);
}

#include "platform/UIKit/UIView.h"

#include <algorithm>
#include <atomic>

#include "platform/Foundation/NSThread.h"
#include "platform/UIKit/UINibValues.h"
#include "platform/UIKit/UIViewController.h"
#include "platform/UIKit/UIWindow.h"

std::shared_ptr<UIView> UIView::initWithFrame(CGRect frame) {
    auto view = std::make_shared<UIView>();
    view->setFrame(frame);
    return view;
}

namespace {
// Set by any thread, taken by the compositor on the main thread.
std::atomic<bool> screenMarked{true};
}  // namespace

void UIView::setScreenNeedsDisplay() {
    screenMarked.store(true, std::memory_order_release);
}

bool UIView::takeScreenNeedsDisplay() {
    return screenMarked.exchange(false, std::memory_order_acq_rel);
}

void UIView::setFrame(CGRect frame) {
    if (frame == frame_)
        return;
    frame_ = frame;
    setNeedsDisplay();
}

void UIView::setBackgroundColor(UIColor color) {
    if (color == backgroundColor_)
        return;
    backgroundColor_ = color;
    setNeedsDisplay();
}

void UIView::setHidden(bool hidden) {
    if (hidden == hidden_)
        return;
    hidden_ = hidden;
    setNeedsDisplay();
}

CGRect UIView::bounds() const {
    return CGRectMake(0, 0, frame_.size.width, frame_.size.height);
}

CGPoint UIView::center() const {
    return CGPointMake(frame_.origin.x + frame_.size.width / 2,
                       frame_.origin.y + frame_.size.height / 2);
}

void UIView::addSubview(const std::shared_ptr<UIView>& view) {
    NSThread::assertMainThread("UIView", __func__);
    insertSubviewAt(view, subviews_.size(), true);
}

void UIView::addSubviewSilently(const std::shared_ptr<UIView>& view) {
    insertSubviewAt(view, subviews_.size(), false);
}

void UIView::insertSubviewAboveSubview(const std::shared_ptr<UIView>& view,
                                       const std::shared_ptr<UIView>& sibling) {
    NSThread::assertMainThread("UIView", __func__);
    if (!view || view == sibling)
        return;
    view->removeFromSuperview();
    auto it = std::find(subviews_.begin(), subviews_.end(), sibling);
    size_t index =
        it == subviews_.end() ? subviews_.size() : static_cast<size_t>(it - subviews_.begin()) + 1;
    insertSubviewAt(view, index, true);
}

void UIView::insertSubviewAt(const std::shared_ptr<UIView>& view, size_t index, bool announce) {
    if (!view || view.get() == this)
        return;
    // Keep the view alive while it moves between superviews.
    std::shared_ptr<UIView> keep = view;
    keep->removeFromSuperview();
    subviews_.insert(subviews_.begin() + std::min(index, subviews_.size()), keep);
    keep->superview_ = weakly(this);
    setNeedsDisplay();
    if (announce)
        announceAppearance(keep);
}

void UIView::removeFromSuperview() {
    NSThread::assertMainThread("UIView", __func__);
    auto parent = superview_.lock();
    if (!parent)
        return;
    auto& siblings = parent->subviews_;
    std::shared_ptr<UIView> self = retained(this);
    siblings.erase(std::remove(siblings.begin(), siblings.end(), self), siblings.end());
    superview_.reset();
    setNeedsDisplay();
}

UIWindow* UIView::window() {
    for (UIView* view = this; view; view = view->superview_.lock().get()) {
        if (auto* window = dynamic_cast<UIWindow*>(view))
            return window;
    }
    return nullptr;
}

std::shared_ptr<UIView> UIView::viewWithTag(int tag) {
    if (tag_ == tag)
        return retained(this);
    for (const auto& subview : subviews_) {
        if (auto found = subview->viewWithTag(tag))
            return found;
    }
    return nullptr;
}

std::shared_ptr<UIView> UIView::viewWithName(const std::string& name) {
    if (name_ == name)
        return retained(this);
    for (const auto& subview : subviews_) {
        if (auto found = subview->viewWithName(name))
            return found;
    }
    return nullptr;
}

bool UIView::isVisibleOnScreen() {
    for (UIView* view = this; view; view = view->superview_.lock().get()) {
        if (view->hidden_ || view->alpha_ <= 0)
            return false;
    }
    return true;
}

CGRect UIView::frameInWindow() {
    CGRect rect = frame_;
    for (auto parent = superview_.lock(); parent && !dynamic_cast<UIWindow*>(parent.get());
         parent = parent->superview_.lock()) {
        rect.origin.x += parent->frame_.origin.x;
        rect.origin.y += parent->frame_.origin.y;
    }
    return rect;
}

std::shared_ptr<UIView> UIView::hitTest(CGPoint point) {
    NSThread::assertMainThread("UIView", __func__);
    if (hidden_ || alpha_ <= 0 || !userInteractionEnabled_ || !CGRectContainsPoint(bounds(), point))
        return nullptr;
    auto children = subviewsToDraw();
    for (auto it = children.rbegin(); it != children.rend(); ++it) {
        const CGPoint origin = (*it)->frame_.origin;
        if (auto hit = (*it)->hitTest(CGPointMake(point.x - origin.x, point.y - origin.y)))
            return hit;
    }
    return retained(this);
}

bool UIView::touchBegan(CGPoint point) {
    (void)point;
    return false;
}

void UIView::touchMoved(CGPoint point) {
    (void)point;
}

void UIView::touchEnded(CGPoint point) {
    (void)point;
}

void UIView::drawHierarchy(cairo_t* cr) {
    NSThread::assertMainThread("UIView", __func__);
    const double alpha = presentationAlpha();
    if (alpha != alpha_)
        setNeedsDisplay();  // the alpha is on its way: the next refresh shows it further on
    if (hidden_ || alpha <= 0)
        return;
    cairo_save(cr);
    cairo_translate(cr, frame_.origin.x, frame_.origin.y);
    bool translucent = alpha < 1;
    if (translucent)
        cairo_push_group(cr);
    cairo_save(cr);
    drawContent(cr);
    cairo_restore(cr);
    cairo_save(cr);
    if (auto clip = subviewsClip()) {
        cairo_rectangle(cr, clip->origin.x, clip->origin.y, clip->size.width, clip->size.height);
        cairo_clip(cr);
    }
    for (const auto& subview : subviewsToDraw()) subview->drawHierarchy(cr);
    cairo_restore(cr);
    if (translucent) {
        cairo_pop_group_to_source(cr);
        cairo_paint_with_alpha(cr, alpha);
    }
    cairo_restore(cr);
}

void UIView::drawContent(cairo_t* cr) {
    if (backgroundColor_.alpha() <= 0)
        return;
    backgroundColor_.setSource(cr);
    cairo_rectangle(cr, 0, 0, frame_.size.width, frame_.size.height);
    cairo_fill(cr);
}

UIViewController* UIView::viewController() const {
    return viewController_.lock().get();
}

void UIView::setViewController(const std::weak_ptr<UIViewController>& controller) {
    viewController_ = controller;
}

void UIView::announceAppearance(const std::shared_ptr<UIView>& view) {
    auto controller = view->viewController_.lock();
    if (!controller)
        return;
    UIWindow* onWindow = window();
    if (!onWindow || onWindow->isHidden())
        return;
    controller->viewWillAppear(false);
    controller->viewDidAppear(false);
}

void UIView::setNibProperties(const Value& properties) {
    if (auto frame = rectFromNibValue(properties["frame"]))
        frame_ = *frame;
    if (auto color = colorFromNibValue(properties["backgroundColor"]))
        backgroundColor_ = *color;
    if (properties["hidden"].isNumber())
        hidden_ = properties["hidden"].boolValue();
    if (properties["alpha"].isNumber())
        alpha_ = properties["alpha"].doubleValue();
    if (properties["tag"].isNumber())
        tag_ = static_cast<int>(properties["tag"].integerValue());
}

#pragma once
// A rectangle of the interface: frame in its superview's coordinates, background colour,
// hidden flag, alpha, subviews drawn in order above it, and a tag and a name to find it by (the
// name is the view's id in the interface file that made it).
//
// Threads: main thread only; the changes of the hierarchy, drawing, hit-testing and the alpha
// with its animation blocks check it (NSThread::assertMainThread), as do the subclasses' own
// operations on shared state (alerts, sheets, the key window, navigation, table reloads,
// control actions). A view retains its subviews; its superview and its view controller are
// not retained.

#include <cairo.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/CoreGraphics/CGGeometry.h"
#include "platform/Foundation/NSObject.h"
#include "platform/UIKit/UIColor.h"
#include "platform/UIKit/UINibConnectable.h"

class UIViewController;
class UIWindow;

// The phases of a person's one finger on the screen.
enum UITouchPhase { UITouchPhaseBegan = 0, UITouchPhaseMoved = 1, UITouchPhaseEnded = 3 };

class UIView : public NSObject, public UINibConnectable {
  public:
    UIView() = default;
    static std::shared_ptr<UIView> initWithFrame(CGRect frame);

    CGRect frame() const { return frame_; }
    void setFrame(CGRect frame);
    // The frame's size at the origin.
    CGRect bounds() const;
    CGPoint center() const;

    UIColor backgroundColor() const { return backgroundColor_; }
    void setBackgroundColor(UIColor color);
    bool isHidden() const { return hidden_; }
    void setHidden(bool hidden);
    // The model value: it changes at once, also inside an animation block.
    double alpha() const { return alpha_; }
    void setAlpha(double alpha);
    // The alpha the screen shows now: the model value, or on its way there while an animation
    // of it runs (on the Clock).
    double presentationAlpha() const;
    int tag() const { return tag_; }
    void setTag(int tag) { tag_ = tag; }
    const std::string& name() const { return name_; }
    void setName(std::string name) { name_ = std::move(name); }

    const std::vector<std::shared_ptr<UIView>>& subviews() const { return subviews_; }
    std::shared_ptr<UIView> superview() const { return superview_.lock(); }
    // Adds `view` on top of the subviews, taking it from its former superview. When this view is
    // on a visible window and `view` is a view controller's view, the controller hears
    // viewWillAppear then viewDidAppear, not animated.
    void addSubview(const std::shared_ptr<UIView>& view);
    // Inserts `view` directly above `sibling` (on top when `sibling` is not a subview).
    void insertSubviewAboveSubview(const std::shared_ptr<UIView>& view,
                                   const std::shared_ptr<UIView>& sibling);
    void removeFromSuperview();
    // The window this view is on, or null.
    UIWindow* window();

    // This view or the first of its descendants (depth first, in order) with the tag or name.
    std::shared_ptr<UIView> viewWithTag(int tag);
    std::shared_ptr<UIView> viewWithName(const std::string& name);
    // This view and its superviews are not hidden and not fully transparent.
    bool isVisibleOnScreen();
    // The frame in the coordinates of the window (or of the topmost superview).
    CGRect frameInWindow();

    // Touches. A view takes part in them while it is not hidden, its alpha is above 0 and it
    // allows user interaction (labels and image views do not).
    bool isUserInteractionEnabled() const { return userInteractionEnabled_; }
    void setUserInteractionEnabled(bool enabled) { userInteractionEnabled_ = enabled; }
    // The topmost view at `point` (in this view's coordinates), among this view and its subviews
    // as they are drawn, that takes part in touches; null when none.
    std::shared_ptr<UIView> hitTest(CGPoint point);
    // A touch that began at `point` (in this view's coordinates) on this view or, when a subview
    // under it declined it, on that subview. False (the default) declines it: it goes on to the
    // superview. The view that takes it hears its moves and its end; each of these runs the
    // same road as the person's commands of the automation (UIControl::tap, UISlider::moveTo,
    // UITableView::selectRow, UIAlertView::pressButtonAtIndex...).
    virtual bool touchBegan(CGPoint point);
    virtual void touchMoved(CGPoint point);
    virtual void touchEnded(CGPoint point);

    // Draws the view and its subviews; `cr` is in the superview's coordinates. Hidden and fully
    // transparent views draw nothing.
    void drawHierarchy(cairo_t* cr);

    // Drawing on demand: the screen is composed again only when something on it was marked as
    // changed since its last composition. The setters of the views mark what they change
    // themselves (a value set again unchanged marks nothing where it is cheap to tell); a view
    // whose picture moves on by itself (an animation) marks itself again while it draws.
    void setNeedsDisplay() { setScreenNeedsDisplay(); }
    // Marks the screen for what shows on it without being a view's own state (the status bar, a
    // bar button item, a camera's new picture, a person's touch or typing). Safe from any thread.
    static void setScreenNeedsDisplay();
    // Whether anything was marked since the last call; takes the mark away. Main thread only
    // (the compositor's).
    static bool takeScreenNeedsDisplay();

    // The controller whose view this is (set by the controller).
    UIViewController* viewController() const;
    void setViewController(const std::weak_ptr<UIViewController>& controller);

    // A text that tells assistive technologies and the automation driver the view's current
    // value ("" for none).
    const std::string& accessibilityValue() const { return accessibilityValue_; }
    void setAccessibilityValue(std::string value) { accessibilityValue_ = std::move(value); }

    // Animation blocks: alpha changes made between beginAnimations and the matching
    // commitAnimations take effect in the model at once; the screen shows each view's alpha going
    // from its shown value to the new one over the block's duration (0.2 s unless set), from the
    // commit on. Blocks nest; the outermost commit starts them. Main thread only.
    static void beginAnimations(const std::string& animationId, void* context = nullptr);
    static void setAnimationDuration(double duration);
    static void commitAnimations();

    // "frame" [x, y, width, height], "backgroundColor" [r, g, b, a], "hidden", "alpha", "tag".
    void setNibProperties(const Value& properties) override;

  protected:
    // The view's own picture in its own coordinates; the default fills the background colour.
    virtual void drawContent(cairo_t* cr);
    // The subviews to draw, bottom first.
    virtual std::vector<std::shared_ptr<UIView>> subviewsToDraw() const { return subviews_; }
    // Where the subviews may draw, in this view's coordinates; none (the default) leaves them
    // unclipped.
    virtual std::optional<CGRect> subviewsClip() const { return std::nullopt; }
    // Sends the appearance messages to the controllers of `view` when this view is on screen.
    void announceAppearance(const std::shared_ptr<UIView>& view);
    // Adds on top without appearance messages (the caller sends its own).
    void addSubviewSilently(const std::shared_ptr<UIView>& view);

  private:
    void insertSubviewAt(const std::shared_ptr<UIView>& view, size_t index, bool announce);

    CGRect frame_{};
    UIColor backgroundColor_ = UIColor::clearColor();
    bool hidden_ = false;
    bool userInteractionEnabled_ = true;
    double alpha_ = 1.0;
    int tag_ = 0;
    std::string name_;
    std::string accessibilityValue_;
    // The running alpha animation: from `from` at clock time `start` to alpha_ at start +
    // duration; none when duration is 0.
    struct AlphaAnimation {
        double from = 0;
        double start = 0;
        double duration = 0;
    } alphaAnimation_;
    std::vector<std::shared_ptr<UIView>> subviews_;
    std::weak_ptr<UIView> superview_;
    std::weak_ptr<UIViewController> viewController_;
};

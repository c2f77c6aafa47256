#pragma once
// A screen's controller. Its view is made on first access: loaded from the controller's
// interface file (the controller is the file's owner and gets its "view" outlet) or, without
// one, a plain full-screen view; then `viewDidLoad` runs. A controller presents another modally
// over the whole screen and dismisses it again.
//
// Threads: main thread only; the operations on the view, the title, the navigation item, the
// edit mode and modal presentation check it (NSThread::assertMainThread). A controller retains
// its view and the controller it presents; the presented controller does not retain its
// presenter.

#include <memory>
#include <string>

#include "platform/UIKit/UINibConnectable.h"
#include "platform/UIKit/UIView.h"

class UIBarButtonItem;
class UINavigationController;
class UINavigationItem;

class UIViewController : public NSObject, public UINibConnectable {
  public:
    UIViewController() = default;

    const std::string& nibName() const { return nibName_; }
    void setNibName(std::string nibName) { nibName_ = std::move(nibName); }
    const std::string& title() const { return title_; }
    // Also the title of the controller's navigation item.
    void setTitle(std::string title);

    // What a navigation bar shows for this controller, made on first use with its title.
    std::shared_ptr<UINavigationItem> navigationItem();
    // The navigation controller whose stack holds this controller, or null. Not retained; set by
    // the navigation controller.
    std::shared_ptr<UINavigationController> navigationController() const {
        return navigationController_.lock();
    }
    void setNavigationController(std::weak_ptr<UINavigationController> controller) {
        navigationController_ = std::move(controller);
    }
    // The standard Edit/Done item, made on first use: titled "Edit" (named "edit"), it turns
    // edit mode on; titled "Done" while editing, it turns it off (setEditing, animated).
    std::shared_ptr<UIBarButtonItem> editButtonItem();
    bool isEditing() const { return editing_; }
    // Edit mode on or off; the edit button item follows.
    virtual void setEditing(bool editing, bool animated);
    // The view goes under the status bar too, when a container lays it out.
    bool wantsFullScreenLayout() const { return wantsFullScreenLayout_; }
    void setWantsFullScreenLayout(bool wants) { wantsFullScreenLayout_ = wants; }

    // Loads the view on the first call. Raises NSInternalInconsistencyException when the
    // interface file cannot be loaded or sets no view.
    std::shared_ptr<UIView> view();
    bool isViewLoaded() const { return view_ != nullptr; }
    void setView(const std::shared_ptr<UIView>& view);

    virtual void loadView();
    virtual void viewDidLoad() {}
    virtual void viewWillAppear(bool animated) { (void)animated; }
    virtual void viewDidAppear(bool animated) { (void)animated; }
    virtual void viewWillDisappear(bool animated) { (void)animated; }
    virtual void viewDidDisappear(bool animated) { (void)animated; }

    // Shows `controller`'s view over the whole screen of the window this controller's view is
    // on (or the key window): this controller hears viewWillDisappear/viewDidDisappear, the
    // presented one viewWillAppear/viewDidAppear. Ignored while this controller presents one.
    void presentModalViewController(const std::shared_ptr<UIViewController>& controller,
                                    bool animated);
    // Takes away the controller this one presents (or, when it presents none, the one that
    // presents this controller) with the reverse messages. Nothing when none is presented.
    void dismissModalViewControllerAnimated(bool animated);
    std::shared_ptr<UIViewController> modalViewController() const { return modal_; }
    // An animated presentation or dismissal (and a navigation controller's animated push or pop)
    // runs for kTransitionDuration on the Clock from its start; while one runs, a person's
    // touches go nowhere (UIApplication::sendTouch), so that a second click meant for the
    // screen below does not land on the screen coming in. The automation's commands are not
    // touches and go on at once.
    static constexpr double kTransitionDuration = 0.4;
    static bool isTransitionRunning();
    // A transition starts now.
    static void beginTransition();

    // The controller that presents this one, or null.
    std::shared_ptr<UIViewController> parentViewController() const { return parent_.lock(); }

    // "nibName", "title".
    void setNibProperties(const Value& properties) override;
    // The outlet "view".
    bool setOutlet(const std::string& name, const std::shared_ptr<NSObject>& object) override;

  private:
    std::string nibName_;
    std::string title_;
    std::shared_ptr<UINavigationItem> navigationItem_;
    std::weak_ptr<UINavigationController> navigationController_;
    std::shared_ptr<UIBarButtonItem> editButtonItem_;
    bool editing_ = false;
    bool wantsFullScreenLayout_ = false;
    std::shared_ptr<UIView> view_;
    std::shared_ptr<UIViewController> modal_;
    std::weak_ptr<UIViewController> parent_;
    std::weak_ptr<UIWindow> presentedOn_;
};

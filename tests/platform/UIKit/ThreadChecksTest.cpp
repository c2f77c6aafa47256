// CTest labels: threads

// The interface's main-thread checks: an entry point called from another thread ends the
// process at once, naming the class and the call.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <ostream>

#include "platform/UIKit/UIAlertView.h"
#include "platform/UIKit/UIApplication.h"
#include "platform/UIKit/UIButton.h"
#include "platform/UIKit/UINavigationController.h"
#include "platform/UIKit/UITableView.h"
#include "platform/UIKit/UIViewController.h"
#include "platform/UIKit/UIWindow.h"
#include "tests/support/ThreadChecks.h"

namespace {

struct OffMainThreadCase {
    const char* name;
    const char* qualifiedCall;
    // Makes the objects on the main thread and gives the call to make from another one.
    std::function<std::function<void()>()> prepare;
};

void PrintTo(const OffMainThreadCase& c, std::ostream* os) {
    *os << c.qualifiedCall;
}

class UIKitThreadChecksTest : public testing::TestWithParam<OffMainThreadCase> {};

TEST_P(UIKitThreadChecksTest, AnEntryPointCalledOffTheMainThreadFailsNamingIt) {
    expectFailsOffMainThread(GetParam().qualifiedCall, GetParam().prepare());
}

std::shared_ptr<UIView> aView() {
    return UIView::initWithFrame(CGRectMake(0, 0, 10, 10));
}

INSTANTIATE_TEST_SUITE_P(
    EntryPoints, UIKitThreadChecksTest,
    testing::Values(
        OffMainThreadCase{
            "addSubview", "UIView::addSubview",
            [] { return [view = aView(), sub = aView()] { view->addSubview(sub); }; }},
        OffMainThreadCase{"removeFromSuperview", "UIView::removeFromSuperview",
                          [] {
                              auto view = aView();
                              auto sub = aView();
                              view->addSubview(sub);
                              return [view, sub] { sub->removeFromSuperview(); };
                          }},
        // Through the base: a subclass's view operations are the view's.
        OffMainThreadCase{"buttonHitTest", "UIView::hitTest",
                          [] {
                              return [button = UIButton::buttonWithType(UIButtonTypeRoundedRect)] {
                                  button->hitTest(CGPointMake(1, 1));
                              };
                          }},
        OffMainThreadCase{"setAlpha", "UIView::setAlpha",
                          [] { return [view = aView()] { view->setAlpha(0.5); }; }},
        OffMainThreadCase{"beginAnimations", "UIView::beginAnimations",
                          [] { return [] { UIView::beginAnimations("fade"); }; }},
        OffMainThreadCase{"controllerView", "UIViewController::view",
                          [] {
                              return [controller = std::make_shared<UIViewController>()] {
                                  controller->view();
                              };
                          }},
        OffMainThreadCase{"presentModal", "UIViewController::presentModalViewController",
                          [] {
                              auto presenter = std::make_shared<UIViewController>();
                              auto presented = std::make_shared<UIViewController>();
                              return [presenter, presented] {
                                  presenter->presentModalViewController(presented, false);
                              };
                          }},
        OffMainThreadCase{"pushViewController", "UINavigationController::pushViewController",
                          [] {
                              auto navigation = UINavigationController::initWithRootViewController(
                                  std::make_shared<UIViewController>());
                              return [navigation] {
                                  navigation->pushViewController(
                                      std::make_shared<UIViewController>(), false);
                              };
                          }},
        OffMainThreadCase{"makeKeyAndVisible", "UIWindow::makeKeyAndVisible",
                          [] {
                              return [window = UIWindow::initWithFrame(CGRectMake(0, 0, 10, 10))] {
                                  window->makeKeyAndVisible();
                              };
                          }},
        OffMainThreadCase{"alertShow", "UIAlertView::show",
                          [] {
                              return [alert = UIAlertView::initWithTitle("Error", "", {}, "OK",
                                                                         {})] { alert->show(); };
                          }},
        OffMainThreadCase{"reloadData", "UITableView::reloadData",
                          [] {
                              return [table = UITableView::initWithFrame(CGRectMake(0, 0, 10, 10),
                                                                         UITableViewStylePlain)] {
                                  table->reloadData();
                              };
                          }},
        OffMainThreadCase{"sendActions", "UIControl::sendActionsForControlEvents",
                          [] {
                              return [button = UIButton::buttonWithType(UIButtonTypeRoundedRect)] {
                                  button->sendActionsForControlEvents(UIControlEventTouchUpInside);
                              };
                          }},
        OffMainThreadCase{"sendTouch", "UIApplication::sendTouch",
                          [] {
                              return [application = UIApplication::sharedApplication()] {
                                  application->sendTouch(UITouchPhaseBegan, CGPointMake(1, 1));
                              };
                          }},
        OffMainThreadCase{"refreshScreenIfNeeded", "UIApplication::refreshScreenIfNeeded",
                          [] {
                              return [application = UIApplication::sharedApplication()] {
                                  application->refreshScreenIfNeeded();
                              };
                          }},
        OffMainThreadCase{"becomeActive", "UIApplication::becomeActive",
                          [] {
                              return [application = UIApplication::sharedApplication()] {
                                  application->becomeActive();
                              };
                          }},
        OffMainThreadCase{"terminate", "UIApplication::terminate",
                          [] {
                              return [application = UIApplication::sharedApplication()] {
                                  application->terminate();
                              };
                          }}),
    [](const testing::TestParamInfo<OffMainThreadCase>& info) { return info.param.name; });

}  // namespace

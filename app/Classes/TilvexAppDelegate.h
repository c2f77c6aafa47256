#pragma once
// The application delegate: wires the recording screen into the window at launch, owns the
// store of recordings ("Videos.sqlite" in Documents, built lazily, once), starts the analytics,
// sends the one-time ad-network open report on a background thread, and at termination stops,
// stores and saves a recording still running (before anything that can wait on the network),
// then ends the analytics session and saves the store.
//
// The launch restores the rows of recordings whose saves all failed before the end
// (RecordingStore::restoreUnsavedRecordings) before the recording screen gets the store.
//
// A store that cannot be opened (a missing or unreadable object model among them), or a failed
// save at termination, is fatal: the message "Unresolved error ..." is logged and the
// process aborts. A store file (or journal) that is a symbolic link is never opened through it:
// one line names the link and the process exits with status 1.
//
// Threads: main thread only, except reportAppOpenToAdNet, which runs on its own thread and
// touches no state of the delegate. The window and view controller come from the main interface
// file's outlets.

#include <memory>
#include <string>

#include "platform/CoreData/NSManagedObjectContext.h"
#include "platform/CoreData/NSManagedObjectModel.h"
#include "platform/CoreData/NSPersistentStoreCoordinator.h"
#include "platform/UIKit/UIApplicationDelegate.h"
#include "platform/UIKit/UINibConnectable.h"
#include "platform/UIKit/UIWindow.h"

class TilvexViewController;

class TilvexAppDelegate : public NSObject, public UIApplicationDelegate, public UINibConnectable {
  public:
    // The marker file in Documents that the first successful report leaves.
    static constexpr const char* kAdNetMarker = "adnet_app_open";
    // The application's store identifier at the ad network.
    static constexpr const char* kAdNetApplicationId = "341278925";

    const std::shared_ptr<UIWindow>& window() const { return window_; }
    void setWindow(std::shared_ptr<UIWindow> window) { window_ = std::move(window); }
    const std::shared_ptr<TilvexViewController>& viewController() const { return viewController_; }
    void setViewController(std::shared_ptr<TilvexViewController> controller);

    void applicationDidFinishLaunching(UIApplication* application) override;
    void applicationWillTerminate(UIApplication* application) override;

    // The store stack, each built on its first call and the same object afterwards.
    std::shared_ptr<NSManagedObjectContext> managedObjectContext();
    std::shared_ptr<NSPersistentStoreCoordinator> persistentStoreCoordinator();
    std::shared_ptr<NSManagedObjectModel> managedObjectModel();
    // The user's Documents folder.
    static std::string applicationDocumentsDirectory();

    // Unless the marker exists: one GET of "<ad network>/f0?isu=<device id>&app_id=<id>"; the
    // marker is made only after an answer of status 200 with a body. Blocks the calling thread.
    void reportAppOpenToAdNet();

    // Outlets "window" and "viewController".
    bool setOutlet(const std::string& name, const std::shared_ptr<NSObject>& object) override;

  private:
    [[noreturn]] static void abortWithError(const NSErrorPtr& error);
    // Prints "tilvex: <the error's description>" and ends the process with status 1.
    [[noreturn]] static void exitAtALink(const NSErrorPtr& error);

    std::shared_ptr<UIWindow> window_;
    std::shared_ptr<TilvexViewController> viewController_;
    std::shared_ptr<NSManagedObjectModel> managedObjectModel_;
    std::shared_ptr<NSManagedObjectContext> managedObjectContext_;
    std::shared_ptr<NSPersistentStoreCoordinator> persistentStoreCoordinator_;
};

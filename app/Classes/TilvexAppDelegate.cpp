#include "app/Classes/TilvexAppDelegate.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "app/AnalyticsCalls.h"
#include "app/Classes/TilvexViewController.h"
#include "app/RecordingStore.h"
#include "platform/Device/DeviceSettings.h"
#include "platform/Foundation/NSBundle.h"
#include "platform/Foundation/NSFileManager.h"
#include "platform/Foundation/NSLog.h"
#include "platform/Foundation/NSPathUtilities.h"
#include "platform/Foundation/NSThread.h"
#include "platform/Foundation/NSURLConnection.h"
#include "platform/UIKit/UIApplication.h"
#include "platform/UIKit/UIDevice.h"

void TilvexAppDelegate::setViewController(std::shared_ptr<TilvexViewController> controller) {
    viewController_ = std::move(controller);
}

bool TilvexAppDelegate::setOutlet(const std::string& name,
                                  const std::shared_ptr<NSObject>& object) {
    if (name == "window")
        return assignOutlet(window_, object);
    if (name == "viewController")
        return assignOutlet(viewController_, object);
    return false;
}

void TilvexAppDelegate::applicationDidFinishLaunching(UIApplication* application) {
    (void)application;
    auto context = managedObjectContext();
    RecordingStore::restoreUnsavedRecordings(context.get());
    viewController_->setManagedObjectContext(context.get());
    window_->addSubview(viewController_->view());
    window_->makeKeyAndVisible();
    startAnalytics();
    performSelectorInBackground(retained(this), &TilvexAppDelegate::reportAppOpenToAdNet);
}

void TilvexAppDelegate::applicationWillTerminate(UIApplication* application) {
    (void)application;
    // The analytics' upload may wait seconds on the network: a recording still running is
    // stopped, stored and saved first, so it keeps its length and survives a kill meanwhile.
    if (viewController_) {
        viewController_->saveUnfinished(
            NSNotification(UIApplicationWillTerminateNotification, nullptr, Value()));
    }
    endAnalytics();
    if (managedObjectContext_ && managedObjectContext_->hasChanges()) {
        NSErrorPtr error;
        if (!RecordingStore::save(managedObjectContext_.get(), &error))
            abortWithError(error);
    }
}

std::shared_ptr<NSManagedObjectContext> TilvexAppDelegate::managedObjectContext() {
    if (managedObjectContext_)
        return managedObjectContext_;
    if (auto coordinator = persistentStoreCoordinator()) {
        managedObjectContext_ = std::make_shared<NSManagedObjectContext>();
        managedObjectContext_->setPersistentStoreCoordinator(coordinator);
    }
    return managedObjectContext_;
}

std::shared_ptr<NSPersistentStoreCoordinator> TilvexAppDelegate::persistentStoreCoordinator() {
    if (persistentStoreCoordinator_)
        return persistentStoreCoordinator_;
    std::string storePath = applicationDocumentsDirectory() + "/Videos.sqlite";
    persistentStoreCoordinator_ =
        NSPersistentStoreCoordinator::initWithManagedObjectModel(managedObjectModel());
    NSErrorPtr error;
    if (!persistentStoreCoordinator_)
        // No model to open the store with: the resources hold no model file that reads.
        error = NSError::make(
            NSCocoaErrorDomain, NSFileReadNoSuchFileError,
            "no readable object model (a .mom file) in " + NSBundle::mainBundle()->resourcePath());
    if (!persistentStoreCoordinator_ || !persistentStoreCoordinator_->addPersistentStoreWithType(
                                            NSSQLiteStoreType, storePath, &error)) {
        if (error && error->domain() == NSPOSIXErrorDomain && error->code() == ELOOP)
            exitAtALink(error);
        abortWithError(error);
    }
    return persistentStoreCoordinator_;
}

std::shared_ptr<NSManagedObjectModel> TilvexAppDelegate::managedObjectModel() {
    if (!managedObjectModel_)
        managedObjectModel_ = NSManagedObjectModel::mergedModelFromBundles();
    return managedObjectModel_;
}

std::string TilvexAppDelegate::applicationDocumentsDirectory() {
    auto paths = NSSearchPathForDirectoriesInDomains(NSDocumentDirectory, NSUserDomainMask, true);
    return paths.empty() ? std::string() : paths.back();
}

void TilvexAppDelegate::reportAppOpenToAdNet() {
    auto paths = NSSearchPathForDirectoriesInDomains(NSDocumentDirectory, NSUserDomainMask, true);
    if (paths.empty())
        return;
    std::string marker = paths.front() + "/" + kAdNetMarker;
    auto& files = NSFileManager::defaultManager();
    if (files.fileExistsAtPath(marker))
        return;

    std::string url = DeviceSettings::current().adnetURL +
                      "/f0?isu=" + UIDevice::currentDevice()->uniqueIdentifier() +
                      "&app_id=" + kAdNetApplicationId;
    NSHTTPURLResponse response;
    NSErrorPtr error;
    auto body = NSURLConnection::sendSynchronousRequest(NSURLRequest::requestWithURL(url),
                                                        &response, &error);
    if (!error && body && response.statusCode() == 200 && !body->empty())
        files.createFileAtPath(marker, nullptr);
}

void TilvexAppDelegate::exitAtALink(const NSErrorPtr& error) {
    std::fflush(stdout);
    std::fprintf(stderr, "tilvex: %s\n", error->localizedDescription().c_str());
    // Nothing has been written yet, and the screen's refresh thread runs: the process ends at
    // once, as an abort would, without running the destructors of what that thread uses.
    std::_Exit(1);
}

void TilvexAppDelegate::abortWithError(const NSErrorPtr& error) {
    NSLog("Unresolved error %s, %s", error ? error->description().c_str() : "(null)",
          error ? error->userInfo().description().c_str() : "(null)");
    std::abort();
}

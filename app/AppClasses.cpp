#include "app/AppClasses.h"

#include "app/Classes/TilvexAppDelegate.h"
#include "app/Classes/TilvexViewController.h"
#include "platform/UIKit/UIClassRegistry.h"

void registerAppClasses() {
    auto& registry = UIClassRegistry::shared();
    registry.registerClass<TilvexAppDelegate>("TilvexAppDelegate");
    registry.registerClass<TilvexViewController>("TilvexViewController");
}

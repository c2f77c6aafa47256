#include "app/AppClasses.h"

#include "platform/UIKit/UIClassRegistry.h"

void registerAppClasses() {
    [[maybe_unused]] auto& registry = UIClassRegistry::shared();
}

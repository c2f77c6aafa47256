#include "platform/UIKit/UIClassRegistry.h"

#include "platform/UIKit/UIBarButtonItem.h"
#include "platform/UIKit/UIButton.h"
#include "platform/UIKit/UIImageView.h"
#include "platform/UIKit/UILabel.h"
#include "platform/UIKit/UIProgressView.h"
#include "platform/UIKit/UISlider.h"
#include "platform/UIKit/UIToolbar.h"
#include "platform/UIKit/UIViewController.h"
#include "platform/UIKit/UIWindow.h"

UIClassRegistry& UIClassRegistry::shared() {
    static UIClassRegistry registry;
    return registry;
}

UIClassRegistry::UIClassRegistry() {
    registerClass<UIView>("UIView");
    registerClass<UIWindow>("UIWindow");
    registerClass<UIButton>("UIButton");
    registerClass<UILabel>("UILabel");
    registerClass<UIImageView>("UIImageView");
    registerClass<UIViewController>("UIViewController");
    registerClass<UIToolbar>("UIToolbar");
    registerClass<UIBarButtonItem>("UIBarButtonItem");
    registerClass<UISlider>("UISlider");
    registerClass<UIProgressView>("UIProgressView");
}

void UIClassRegistry::registerClass(const std::string& name, Factory factory) {
    std::lock_guard lock(mutex_);
    factories_[name] = std::move(factory);
}

std::shared_ptr<NSObject> UIClassRegistry::create(const std::string& name) const {
    Factory factory;
    {
        std::lock_guard lock(mutex_);
        auto it = factories_.find(name);
        if (it == factories_.end())
            return nullptr;
        factory = it->second;
    }
    return factory();
}

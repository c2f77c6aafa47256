#include "platform/CoreData/NSManagedObject.h"

#include <map>

#include "platform/CoreData/NSManagedObjectContext.h"
#include "platform/Foundation/NSException.h"

namespace {

std::map<std::string, NSManagedObject::Factory>& factories() {
    static std::map<std::string, NSManagedObject::Factory> registry;
    return registry;
}

}  // namespace

NSManagedObject::NSManagedObject(std::shared_ptr<const NSEntityDescription> entity)
    : entity_(std::move(entity)), values_(entity_->attributes().size()) {}

bool NSManagedObject::registerClass(const std::string& className, Factory factory) {
    factories()[className] = std::move(factory);
    return true;
}

std::shared_ptr<NSManagedObject> NSManagedObject::make(
    std::shared_ptr<const NSEntityDescription> entity) {
    auto it = factories().find(entity->managedObjectClassName());
    if (it != factories().end())
        return it->second(std::move(entity));
    return std::make_shared<NSManagedObject>(std::move(entity));
}

size_t NSManagedObject::indexOf(const std::string& key) const {
    auto index = entity_->indexOfAttribute(key);
    if (!index)
        NSException::raise("NSUnknownKeyException",
                           "the entity " + entity_->name() + " has no attribute " + key);
    return *index;
}

Value NSManagedObject::valueForKey(const std::string& key) const {
    return values_[indexOf(key)];
}

void NSManagedObject::setValue(Value value, const std::string& forKey) {
    values_[indexOf(forKey)] = std::move(value);
    if (auto context = context_.lock())
        context->objectDidChange(this);
}

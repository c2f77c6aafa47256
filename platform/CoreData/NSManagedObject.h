#pragma once
// A record of one entity, living in one context. Its attribute values are read and written by
// key; a change marks the object as updated in its context. Main thread only, like its context.
//
// A subclass for an entity's class registers itself with REGISTER_MANAGED_OBJECT_CLASS in its
// .cpp; the context then makes every object of that entity of the subclass. An unregistered
// class gives plain NSManagedObjects.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/CoreData/NSEntityDescription.h"
#include "platform/Foundation/NSObject.h"
#include "platform/Foundation/Value.h"

class NSManagedObjectContext;

class NSManagedObject : public NSObject {
  public:
    using Factory =
        std::function<std::shared_ptr<NSManagedObject>(std::shared_ptr<const NSEntityDescription>)>;

    explicit NSManagedObject(std::shared_ptr<const NSEntityDescription> entity);

    // Makes objects of `className` with `factory` from now on.
    static bool registerClass(const std::string& className, Factory factory);
    // An object of the entity's registered class.
    static std::shared_ptr<NSManagedObject> make(std::shared_ptr<const NSEntityDescription> entity);

    const std::shared_ptr<const NSEntityDescription>& entity() const { return entity_; }
    // nullptr once deleted and saved, or when the context is gone.
    std::shared_ptr<NSManagedObjectContext> managedObjectContext() const { return context_.lock(); }

    // Raises NSException "NSUnknownKeyException" for a key that is not an attribute. The value's
    // type is checked when the context saves.
    Value valueForKey(const std::string& key) const;
    void setValue(Value value, const std::string& forKey);

  private:
    friend class NSManagedObjectContext;
    friend class NSPersistentStoreCoordinator;
    size_t indexOf(const std::string& key) const;

    std::shared_ptr<const NSEntityDescription> entity_;
    std::vector<Value> values_;  // in the entity's attribute order
    std::weak_ptr<NSManagedObjectContext> context_;
    int64_t primaryKey_ = 0;  // 0 until first saved
};

#define REGISTER_MANAGED_OBJECT_CLASS(Class)                                               \
    [[maybe_unused]] static const bool registered##Class = NSManagedObject::registerClass( \
        #Class, [](std::shared_ptr<const NSEntityDescription> entity) {                    \
            return std::static_pointer_cast<NSManagedObject>(                              \
                std::make_shared<Class>(std::move(entity)));                               \
        })

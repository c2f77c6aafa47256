#include "platform/UIKit/UINibLoader.h"

#include <map>

#include "platform/Foundation/NSData.h"
#include "platform/Foundation/PropertyList.h"
#include "platform/UIKit/UIBarButtonItem.h"
#include "platform/UIKit/UIClassRegistry.h"
#include "platform/UIKit/UIControl.h"
#include "platform/UIKit/UINibConnectable.h"

namespace {

struct NibFailure {
    std::string reason;
};

class NibReader {
  public:
    NibReader(std::string path, std::shared_ptr<NSObject> owner)
        : path_(std::move(path)), owner_(std::move(owner)) {}

    std::vector<std::shared_ptr<NSObject>> read(const Value& root) {
        if (!root.isDictionary())
            fail("the file is not a dictionary");
        std::vector<std::shared_ptr<NSObject>> topLevel;
        const Value objects = root["objects"];
        if (objects.isArray()) {
            for (const Value& description : objects.arrayRef())
                topLevel.push_back(makeObject(description));
        }
        const Value connections = root["connections"];
        if (connections.isArray()) {
            for (const Value& connection : connections.arrayRef()) connect(connection);
        }
        for (auto* object : made_) object->awakeFromNib();
        return topLevel;
    }

  private:
    [[noreturn]] void fail(const std::string& what) { throw NibFailure{path_ + ": " + what}; }

    std::shared_ptr<NSObject> makeObject(const Value& description) {
        if (!description.isDictionary())
            fail("an object is not a dictionary");
        std::string className = description["class"].string();
        auto object = UIClassRegistry::shared().create(className);
        if (!object)
            fail("unknown class \"" + className + "\"");
        auto* connectable = dynamic_cast<UINibConnectable*>(object.get());
        if (connectable) {
            connectable->setNibProperties(description);
            made_.push_back(connectable);
        }
        std::string id = description["id"].string();
        auto view = std::dynamic_pointer_cast<UIView>(object);
        if (!id.empty()) {
            if (ids_.count(id) || id == UINibFileOwner)
                fail("the id \"" + id + "\" is used twice");
            ids_[id] = object;
            if (view)
                view->setName(id);
        }
        const Value subviews = description["subviews"];
        if (subviews.isArray()) {
            if (!view)
                fail("\"" + className + "\" is not a view but has subviews");
            for (const Value& child : subviews.arrayRef()) {
                auto subview = std::dynamic_pointer_cast<UIView>(makeObject(child));
                if (!subview)
                    fail("a subview of \"" + id + "\" is not a view");
                view->addSubview(subview);
            }
        }
        return object;
    }

    std::shared_ptr<NSObject> object(const Value& id) {
        if (id.string() == UINibFileOwner)
            return owner_;
        auto it = ids_.find(id.string());
        if (it == ids_.end())
            fail("no object with the id \"" + id.string() + "\"");
        return it->second;
    }

    void connect(const Value& connection) {
        auto source = object(connection["source"]);
        auto destination = object(connection["destination"]);
        if (connection["outlet"].isString()) {
            std::string outlet = connection["outlet"].string();
            auto* connectable = dynamic_cast<UINibConnectable*>(source.get());
            if (!connectable || !connectable->setOutlet(outlet, destination))
                fail("no outlet \"" + outlet + "\" for \"" + connection["destination"].string() +
                     "\"");
            return;
        }
        std::string actionName = connection["action"].string();
        auto control = std::dynamic_pointer_cast<UIControl>(source);
        auto item = std::dynamic_pointer_cast<UIBarButtonItem>(source);
        if (!control && !item)
            fail("\"" + connection["source"].string() + "\" is not a control");
        auto* target = dynamic_cast<UINibConnectable*>(destination.get());
        UINibConnectable::Action action = target ? target->actionNamed(actionName) : nullptr;
        if (!action)
            fail("no action \"" + actionName + "\"");
        // A bar button item has one action, sent when it is pressed.
        if (item)
            item->setTarget(destination, std::move(action));
        else
            control->addTarget(destination, std::move(action), eventNamed(connection["event"]));
    }

    unsigned eventNamed(const Value& event) {
        static const std::map<std::string, unsigned> events = {
            {"touchDown", UIControlEventTouchDown},
            {"touchUpInside", UIControlEventTouchUpInside},
            {"touchUpOutside", UIControlEventTouchUpOutside},
            {"valueChanged", UIControlEventValueChanged},
        };
        if (event.isNull())
            return UIControlEventTouchUpInside;
        auto it = events.find(event.string());
        if (it == events.end())
            fail("unknown event \"" + event.string() + "\"");
        return it->second;
    }

    std::string path_;
    std::shared_ptr<NSObject> owner_;
    std::map<std::string, std::shared_ptr<NSObject>> ids_;
    std::vector<UINibConnectable*> made_;  // kept alive by `ids_` or by the views' trees
};

}  // namespace

std::optional<std::vector<std::shared_ptr<NSObject>>> UINibLoader::loadNibNamed(
    const std::string& name, const std::shared_ptr<NSObject>& owner, NSErrorPtr* error) {
    auto bundle = NSBundle::mainBundle();
    auto path = bundle ? bundle->pathForResource(name, "plist") : std::nullopt;
    if (!path) {
        if (error)
            *error = NSError::make(UINibErrorDomain, 1,
                                   "Could not find the interface file \"" + name + "\"");
        return std::nullopt;
    }
    return loadNibFile(*path, owner, error);
}

std::optional<std::vector<std::shared_ptr<NSObject>>> UINibLoader::loadNibFile(
    const std::string& path, const std::shared_ptr<NSObject>& owner, NSErrorPtr* error) {
    auto bytes = NSData::dataWithContentsOfFile(path);
    auto root = bytes ? PropertyList::read(*bytes) : std::nullopt;
    if (!root) {
        if (error)
            *error =
                NSError::make(UINibErrorDomain, 2, "Could not read the interface file " + path);
        return std::nullopt;
    }
    try {
        return NibReader(path, owner).read(*root);
    } catch (const NibFailure& failure) {
        if (error)
            *error = NSError::make(UINibErrorDomain, 3, failure.reason);
        return std::nullopt;
    }
}

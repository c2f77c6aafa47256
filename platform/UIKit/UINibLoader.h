#pragma once
// Loads an interface file: a property list "<name>.plist" among the bundle's resources that
// lists objects to make and the connections between them.
//
//   objects      array of object dictionaries: "class" (a name known to UIClassRegistry), an
//                optional "id" (it also becomes a view's name), optional "subviews" (an array of
//                object dictionaries), and the class's own properties (see each class's
//                setNibProperties)
//   connections  array of dictionaries, either an outlet
//                  {"source": ID, "outlet": NAME, "destination": ID}
//                or an action, sent by a control or a bar button item to a target
//                  {"source": CONTROL ID, "action": NAME, "destination": ID,
//                   "event": "touchUpInside" | "touchDown" | "touchUpOutside" | "valueChanged"}
//                (the event defaults to touchUpInside). The id "File's Owner" is the owner.
//
// Threads: main thread (it makes views).

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Foundation/NSBundle.h"
#include "platform/Foundation/NSError.h"
#include "platform/Foundation/NSObject.h"

inline constexpr const char* UINibFileOwner = "File's Owner";
inline constexpr const char* UINibErrorDomain = "UINibErrorDomain";

class UINibLoader {
  public:
    // Loads the file `name` of the main bundle with `owner` as the file's owner. Returns the
    // top-level objects (the caller keeps whichever it needs alive), or nullopt with `*error`
    // set when the file is missing or malformed, a class is unknown, or a connection names an id,
    // outlet or action that does not exist.
    static std::optional<std::vector<std::shared_ptr<NSObject>>> loadNibNamed(
        const std::string& name, const std::shared_ptr<NSObject>& owner, NSErrorPtr* error);
    // The same for a file at `path`.
    static std::optional<std::vector<std::shared_ptr<NSObject>>> loadNibFile(
        const std::string& path, const std::shared_ptr<NSObject>& owner, NSErrorPtr* error);
};

#pragma once
// One stored recording: the names of its three files in Documents, its duration as M:SS and
// when it was recorded. The storage is the store's; the accessors only name the attributes.

#include <string>

#include "platform/CoreData/NSManagedObject.h"
#include "platform/Foundation/NSDate.h"

class Video : public NSManagedObject {
  public:
    using NSManagedObject::NSManagedObject;

    // Empty strings and the reference date while unset.
    std::string videoPath() const;
    void setVideoPath(std::string value);
    std::string soundPath() const;
    void setSoundPath(std::string value);
    std::string title() const;
    void setTitle(std::string value);
    std::string thumbPath() const;
    void setThumbPath(std::string value);
    NSDate creationDate() const;
    void setCreationDate(NSDate value);
};

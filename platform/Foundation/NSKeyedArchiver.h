#pragma once
// Keyed archives of an array of data objects, in the platform's own format: a binary property
// list with "$archiver", "$version", "$top" and "$objects", so archives are interchangeable with
// the phone's. Both classes are stateless and safe from any thread.

#include <optional>
#include <string>

#include "platform/Foundation/Value.h"

class NSKeyedArchiver {
  public:
    // The archive of `rootObject`, an array whose elements are all data. Raises NSException
    // (NSInvalidArgumentException) for any other root or element.
    static Data archivedDataWithRootObject(const Value& rootObject);
};

class NSKeyedUnarchiver {
  public:
    // The array (of data objects, in archive order) whose root class is NSArray or
    // NSMutableArray; nullopt for any other archive and for damaged or truncated bytes.
    static std::optional<Value> unarchiveObjectWithData(const Data& data);
    // The same for the whole contents of the file at `path`; nullopt when it cannot be read.
    static std::optional<Value> unarchiveObjectWithFile(const std::string& path);
};

#pragma once
// Keyed archives of an array of data objects, in the platform's own format: a binary property
// list with "$archiver", "$version", "$top" and "$objects", so archives are interchangeable with
// the phone's. Both classes are stateless and safe from any thread.
//
// Elements that name one archived object share one data object when read back, as the archive
// means them to. An archive is input: what it may take in memory once read (each element, and
// each data object once) is bounded by its own size, kExpansionFactor times it plus
// kExpansionAllowance, so that a small file never stands for a huge array.

#include <cstdint>
#include <optional>
#include <string>

#include "platform/Foundation/NSError.h"
#include "platform/Foundation/Value.h"

inline constexpr long NSCoderReadCorruptError = 4864;

class NSKeyedArchiver {
  public:
    // The archive of `rootObject`, an array whose elements are all data. Raises NSException
    // (NSInvalidArgumentException) for any other root or element.
    static Data archivedDataWithRootObject(const Value& rootObject);
};

class NSKeyedUnarchiver {
  public:
    static constexpr uint64_t kExpansionFactor = 4;
    static constexpr uint64_t kExpansionAllowance = uint64_t{16} << 20;
    // What one element and one data object cost in memory beyond the data's bytes.
    static constexpr uint64_t kElementCost = sizeof(Value);
    static constexpr uint64_t kDataObjectCost = 64;

    // The array (of data objects, in archive order) whose root class is NSArray or
    // NSMutableArray; nullopt, with *error (NSCocoaErrorDomain, NSCoderReadCorruptError) saying
    // why, for any other archive, for damaged or truncated bytes and for an archive that would
    // pass the bound above.
    static std::optional<Value> unarchiveObjectWithData(const Data& data,
                                                        NSErrorPtr* error = nullptr);
    // The same for the whole contents of the file at `path`, opened as a RegularFile (a named
    // pipe or a link at the name is refused, never waited on); nullopt with *error when it
    // cannot be read.
    static std::optional<Value> unarchiveObjectWithFile(const std::string& path,
                                                        NSErrorPtr* error = nullptr);
};

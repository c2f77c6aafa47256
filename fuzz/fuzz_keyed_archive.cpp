// A frame archive as stored beside a recording, read back by the keyed unarchiver.
#include <cstddef>
#include <cstdint>

#include "platform/Foundation/NSKeyedArchiver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto frames = NSKeyedUnarchiver::unarchiveObjectWithData(Data(data, data + size));
    if (!frames)
        return 0;
    // What the reader accepts is an array of data objects, and it archives again.
    if (!frames->isArray())
        __builtin_trap();
    for (const Value& frame : frames->arrayRef())
        if (!frame.isData())
            __builtin_trap();
    (void)NSKeyedArchiver::archivedDataWithRootObject(*frames);
    return 0;
}

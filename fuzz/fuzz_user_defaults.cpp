// A user-defaults file as found in Library/Preferences, read when the defaults are made.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/Foundation/NSUserDefaults.h"
#include "platform/Foundation/PropertyList.h"

namespace {
const std::string& scratchFile() {
    static const std::string path =
        "/tmp/tilvex-fuzz-defaults-" + std::to_string(::getpid()) + ".plist";
    return path;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& path = scratchFile();
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return 0;
    std::fwrite(data, 1, size, file);
    std::fclose(file);

    NSUserDefaults defaults(path);
    Value all = defaults.dictionaryRepresentation();
    if (!all.isDictionary())
        __builtin_trap();
    for (const auto& [key, value] : all.dictionaryRef()) {
        (void)defaults.boolForKey(key);
        (void)defaults.integerForKey(key);
        (void)defaults.stringForKey(key);
        (void)value.description();
    }
    // What was read can be written back (a null never comes out of a property list).
    if (!PropertyList::writeBinary(all) || !PropertyList::writeXML(all))
        __builtin_trap();
    std::remove(path.c_str());
    return 0;
}

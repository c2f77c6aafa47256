#include "platform/Foundation/NSLocale.h"

#include <cstdlib>
#include <string_view>

NSLocale NSLocale::currentLocale() {
    // Read afresh each time, as the C library's own order for dates does; ICU's default is fixed
    // at its first use and falls back to "en_US_POSIX" for the C locale.
    for (const char* variable : {"LC_ALL", "LC_TIME", "LANG"}) {
        const char* value = std::getenv(variable);
        if (!value || !*value)
            continue;
        std::string_view name(value);
        // "de_DE.UTF-8@euro" -> "de_DE".
        name = name.substr(0, name.find_first_of(".@"));
        if (name.empty() || name == "C" || name == "POSIX")
            break;
        return NSLocale(std::string(name));
    }
    return NSLocale("en_US");
}

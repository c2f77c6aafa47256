#include "platform/Foundation/NSLocale.h"

#include <unicode/uloc.h>

NSLocale NSLocale::currentLocale() {
    return NSLocale(uloc_getDefault());
}

// A host of the analytics library that ends its session and returns from main with debug mode
// and location on, as an application does: the process must then exit normally.
// Settings come from the environment (TILVEX_HOME, TILVEX_ANALYTICS_URL).

#include "analytics/Classes/Interfaces/Beacon.h"

int main() {
    Beacon::initAndStartBeaconWithApplicationCode("0123456789abcdef0123456789ABCDEF", true, false,
                                                  true);
    Beacon::endSharedBeacon();
    return 0;
}

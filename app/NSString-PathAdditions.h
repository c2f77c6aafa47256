#pragma once
// The application's path and text utilities: Documents paths, the numbering of recording files,
// and the two text forms of dates and durations. Nothing is kept between calls.
//
// Threads: findUniquePath is called on the main thread only (the caller writes the file soon
// after, on the same thread); the others may be called from any thread.

#include <set>
#include <string>

#include "platform/Foundation/NSDate.h"

struct PathAdditions {
    // The absolute path of the Documents directory (HOME/Documents).
    static std::string documentsDirectory();

    // "<Documents>/<name>" for a bare file name; "" gives the Documents directory and "/".
    static std::string appendPath(const std::string& name);

    // "<Documents>/<base>_<NNNN><ext>" with the lowest number from 1 at which no directory entry
    // exists (no file, no folder, no symbolic link, even one that points nowhere); at least four
    // digits, more from 10000 on, and whose name is not in `taken` (bare file names: those
    // the store's rows still name). `ext` carries its dot, or is "". Each (base, ext) pair is
    // numbered on its own. Creates nothing.
    static std::string findUniquePath(const std::string& base, const std::string& ext,
                                      const std::set<std::string>& taken = {});

    // "yyyy/MM/dd HH:mm" in the en_US locale and the device's current zone.
    static std::string stringFromDate(const NSDate& date);

    // M:SS, minutes unpadded and without an hour field, fractions of a second dropped
    // (119.9 -> "1:59", 3725 -> "62:05").
    static std::string stringFromInterval(double seconds);
};

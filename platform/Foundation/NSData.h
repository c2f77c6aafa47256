#pragma once
// Reading and writing whole files as bytes.
//
// Threads: any thread. Two atomic writers of one path leave one whole file or the other.

#include <optional>
#include <string>

#include "platform/Foundation/NSError.h"
#include "platform/Foundation/Value.h"

class NSData {
  public:
    // The file's bytes; nullopt when it cannot be read (missing, a directory, no permission).
    static std::optional<Data> dataWithContentsOfFile(const std::string& path);

    // Writes `data` to `path`, replacing what is there. Atomically: into a temporary file in the
    // same folder, flushed to disk, then renamed over `path`, so a reader sees the old file or
    // the whole new one. On failure returns false, sets *error (when given) and leaves no
    // temporary file behind.
    static bool writeToFile(const Data& data, const std::string& path, bool atomically,
                            NSErrorPtr* error = nullptr);
};

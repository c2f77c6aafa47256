#pragma once
// The simulated phone's screen: 320 x 480 pixels, one point one pixel. It keeps the last
// composed picture. The compositor replaces it on the main thread; any thread may read it (the
// capture thread grabs it at every refresh). The picture is immutable, so a reader's reference
// is as good as a copy: a later composition never changes it.

#include <memory>
#include <mutex>
#include <string>

#include "platform/CoreGraphics/CGImage.h"
#include "platform/Foundation/NSError.h"

class Screen {
  public:
    static constexpr int kWidth = 320;
    static constexpr int kHeight = 480;

    // The phone's one screen, made on first use.
    static Screen& mainScreen();

    void setLastComposed(CGImageRef image);
    // Null until the first composition.
    CGImageRef lastComposed() const;

    // Writes the last composed picture as a PNG file; an error when nothing was composed yet or
    // the file cannot be written.
    NSErrorPtr writePNG(const std::string& path) const;

  private:
    mutable std::mutex mutex_;
    CGImageRef last_;
};

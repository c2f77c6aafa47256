#pragma once
// Colour spaces. Only device RGB exists here: 8-bit red, green and blue as the screen shows them.

#include <memory>

class CGColorSpace {
  public:
    enum class Model { RGB };
    explicit CGColorSpace(Model model) : model_(model) {}
    Model model() const { return model_; }

  private:
    Model model_;
};

// Shared: every holder keeps the space alive; letting go of the last reference releases it.
using CGColorSpaceRef = std::shared_ptr<CGColorSpace>;

// A new device RGB colour space; nullptr when it cannot be made (out of memory).
CGColorSpaceRef CGColorSpaceCreateDeviceRGB();

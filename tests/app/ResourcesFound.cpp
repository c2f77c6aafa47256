// test_app reads the application's resources (interface files, model, images) through the main
// bundle, which ctest points at the sources with TILVEX_RESOURCES. Run by hand without them, it
// says where it looked and stops before the first test, rather than crash inside one.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "platform/Foundation/NSBundle.h"

namespace {

class ResourcesFound : public testing::Environment {
  public:
    void SetUp() override {
        if (auto missing = NSBundle::mainBundleNotFound()) {
            std::fprintf(stderr, "test_app: %s\n", missing->c_str());
            std::exit(1);
        }
    }
};

[[maybe_unused]] testing::Environment* const registered =
    testing::AddGlobalTestEnvironment(new ResourcesFound);

}  // namespace

// Cairo and fontconfig keep their font caches for the life of the process; the leak checker would
// report them at exit as leaks. A test programme that draws text registers this environment, which
// empties the caches once every test has run.
#pragma once

#include <cairo.h>
#include <fontconfig/fontconfig.h>
#include <gtest/gtest.h>

namespace testsupport {

class CairoCaches final : public ::testing::Environment {
  public:
    void TearDown() override {
        cairo_debug_reset_static_data();
        FcFini();
    }
};

inline const ::testing::Environment* const cairoCaches =
    ::testing::AddGlobalTestEnvironment(new CairoCaches);

}  // namespace testsupport

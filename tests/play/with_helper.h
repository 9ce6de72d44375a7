// SPDX-License-Identifier: MIT
#pragma once
// Tests that need glitchwerk-play and the tests' core, which are built only
// where libretro.h was found: elsewhere they skip, saying so.

#include <gtest/gtest.h>

#ifndef GLITCHWERK_TEST_CORE
#define GLITCHWERK_TEST_CORE ""
#define GLITCHWERK_TEST_PATH_CORE ""
#endif

namespace glitchwerk::testing {

class WithHelper : public ::testing::Test {
  protected:
    void SetUp() override {
        if (std::string_view(GLITCHWERK_TEST_CORE).empty())
            GTEST_SKIP()
                << "glitchwerk-play was left out: no libretro.h (scripts/fetch-libretro.sh)";
    }
};

} // namespace glitchwerk::testing

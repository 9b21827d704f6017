// A test fixture that turns the debug log on with an empty line store, and off after.
#pragma once

#include "Debug.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace gf::test {

class TLoggedTest : public ::testing::Test {
protected:
  void SetUp() override {
    DebugLogEnabled = true;
    TDebugLines::Instance().Clear();
  }
  void TearDown() override { DebugLogEnabled = false; }

  static std::vector<std::string> Lines() { return TDebugLines::Instance().Snapshot(); }
  // Whether a line starting with Prefix was logged.
  static bool Logged(const std::string& Prefix) {
    auto lines = Lines();
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& l) { return l.rfind(Prefix, 0) == 0; });
  }
};

} // namespace gf::test

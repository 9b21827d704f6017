// A test fixture whose every test runs with the debug log captured (see TLogCapture).
#pragma once

#include "LogCapture.h"

#include <gtest/gtest.h>

namespace gf::test {

class TLoggedTest : public ::testing::Test {
protected:
  std::vector<std::string> Lines() const { return Log.Lines(); }
  bool Logged(const std::string& Prefix) const { return Log.Logged(Prefix); }

  TLogCapture Log;
};

} // namespace gf::test

// Captures the debug log for the lifetime of one object: logging is on and the line
// store empty from its construction; its destruction empties the store and puts
// logging back as it found it, also when a failed assertion leaves the test early.
#pragma once

#include "Debug.h"

#include <algorithm>
#include <string>
#include <vector>

namespace gf::test {

class TLogCapture {
public:
  TLogCapture() : FWasEnabled(DebugLogEnabled.exchange(true)) { TDebugLines::Instance().Clear(); }
  ~TLogCapture() {
    TDebugLines::Instance().Clear();
    DebugLogEnabled = FWasEnabled;
  }
  TLogCapture(const TLogCapture&) = delete;
  TLogCapture& operator=(const TLogCapture&) = delete;

  std::vector<std::string> Lines() const { return TDebugLines::Instance().Snapshot(); }
  // Whether a line starting with Prefix was logged.
  bool Logged(const std::string& Prefix) const {
    auto lines = Lines();
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& l) { return l.rfind(Prefix, 0) == 0; });
  }
  // Whether exactly this line was logged.
  bool Has(const std::string& Line) const {
    auto lines = Lines();
    return std::find(lines.begin(), lines.end(), Line) != lines.end();
  }
  void Clear() const { TDebugLines::Instance().Clear(); }

private:
  bool FWasEnabled;
};

} // namespace gf::test

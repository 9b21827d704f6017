// The program's one diagnostic channel. DebugLog formats a line and appends it to
// the process-wide line store; the call returns when the line is in the store, so
// lines from the scan worker and the user-interface thread are never lost or split.
#pragma once

#include "Format.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace gf {

// Off when the program loads; the start-up turns it on before any window exists.
extern std::atomic<bool> DebugLogEnabled;

class TDebugLines {
public:
  static TDebugLines& Instance();

  void Add(std::string Line);
  void Clear();
  std::vector<std::string> Snapshot() const;
  std::size_t Count() const;
  // Lines added since the line numbered From (0-based) in the current contents.
  std::vector<std::string> Since(std::size_t From) const;
  // Grows with every change (add or clear), so a viewer can tell whether to refresh.
  uint64_t Version() const;
  // Called, from the adding thread, after every change; keep it cheap.
  void SetOnChange(std::function<void()> OnChange);

private:
  mutable std::mutex FMutex;
  std::vector<std::string> FLines;
  uint64_t FVersion = 0;
  std::function<void()> FOnChange;
};

void DebugLogLine(std::string Line);

template <typename... A> void DebugLog(TLiteralFormat Fmt, const A&... Args) {
  if (!DebugLogEnabled.load(std::memory_order_relaxed))
    return;
  DebugLogLine(Format(Fmt.Text(), Args...));
}

} // namespace gf

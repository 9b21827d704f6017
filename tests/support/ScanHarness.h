// Runs a scan to its end on the calling thread's message loop and collects what it reports.
#pragma once

#include "Scanner.h"

#include <string>
#include <thread>
#include <vector>

namespace gf::test {

struct TFound {
  std::string Name;
  std::vector<uint8_t> Bytes;
};

struct TScanResult {
  std::vector<TFound> Files;
  std::vector<std::pair<int64_t, int64_t>> Progress;
  int DoneCount = 0;
  bool Completed = false;
};

// Hooks the scanner's events (OnFileFound may be replaced after this returns a result).
inline void Collect(TScanner& S, TScanResult& R) {
  S.OnFileFound = [&R](TScanner&, std::unique_ptr<TMemoryStream> s, const std::string& name) {
    R.Files.push_back({name, std::vector<uint8_t>(s->Memory(), s->Memory() + s->GetSize())});
  };
  S.OnProgress = [&R](TScanner&, int32_t, int64_t pos, int64_t count) {
    R.Progress.emplace_back(pos, count);
  };
  S.OnDone = [&R](TScanner&, bool completed) {
    ++R.DoneCount;
    R.Completed = completed;
  };
}

inline void PumpUntilDone(TScanner& S) {
  while (S.IsRunning())
    if (ProcessMessages() == 0)
      std::this_thread::yield();
}

inline TScanResult Scan(TMedium& M, const TRecognizers& Registry) {
  TScanner s(&Registry);
  TScanResult r;
  Collect(s, r);
  s.Start(&M);
  PumpUntilDone(s);
  return r;
}

} // namespace gf::test

// libFuzzer target: arbitrary bytes on a medium in memory, scanned end to end by
// every built-in recognizer. The first byte picks the sector size. Besides the
// sanitizers' findings, a scan that does not complete (an error left the worker)
// or a found file longer than the medium aborts.
#include "LogCapture.h"
#include "MemoryMedium.h"
#include "ScanHarness.h"

#include <cstdio>
#include <cstdlib>

using namespace gf;

namespace {
const TRecognizers& Registry() {
  static const TRecognizers& registry = []() -> const TRecognizers& {
    static TRecognizers r;
    RegisterBuiltinRecognizers(r);
    return r;
  }();
  return registry;
}

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "scan_fuzz: %s\n", what);
  std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size == 0)
    return 0;
  static constexpr uint32_t sectorSizes[] = {512, 2048, 32};
  const uint32_t sectorSize = sectorSizes[Data[0] % 3];
  test::TMemoryMedium m(std::vector<uint8_t>(Data + 1, Data + Size), sectorSize);
  const uint64_t mediumBytes = uint64_t{m.SectorCount()} * sectorSize;

  static test::TLogCapture log; // log lines format hostile values too
  TScanner s(&Registry());
  bool completed = false;
  s.OnDone = [&](TScanner&, bool c) { completed = c; };
  s.OnFileFound = [&](TScanner&, std::unique_ptr<TMemoryStream> f, const std::string&) {
    if (f->GetSize() <= 0 || static_cast<uint64_t>(f->GetSize()) > mediumBytes)
      Fail("a found file is empty or longer than the medium");
  };
  s.Start(&m);
  test::PumpUntilDone(s);
  log.Clear();
  if (!completed)
    Fail("the scan did not complete");
  return 0;
}

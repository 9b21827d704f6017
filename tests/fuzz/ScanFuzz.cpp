// libFuzzer target: arbitrary bytes on a medium in memory, scanned end to end by
// every built-in recognizer. The first byte picks the sector size. Besides the
// sanitizers' findings, a scan that does not complete (an error left the worker),
// a found file longer than the medium, or files that differ when the medium reads
// ahead abort.
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
  static test::TLogCapture log; // log lines format hostile values too
  std::vector<test::TFound> found[2];
  for (int ahead = 0; ahead < 2; ++ahead) {
    test::TMemoryMedium m(std::vector<uint8_t>(Data + 1, Data + Size), sectorSize);
    if (ahead)
      m.SetReadAhead(4 * TMedium::MaxBlockBytes);
    const uint64_t mediumBytes = uint64_t{m.SectorCount()} * sectorSize;
    TScanner s(&Registry());
    bool completed = false;
    s.OnDone = [&](TScanner&, bool c) { completed = c; };
    s.OnFileFound = [&](TScanner&, std::unique_ptr<TMemoryStream> f, const std::string& name) {
      if (f->GetSize() <= 0 || static_cast<uint64_t>(f->GetSize()) > mediumBytes)
        Fail("a found file is empty or longer than the medium");
      found[ahead].push_back({name, std::vector<uint8_t>(f->Memory(), f->Memory() + f->GetSize())});
    };
    s.Start(&m);
    test::PumpUntilDone(s);
    log.Clear();
    if (!completed)
      Fail("the scan did not complete");
  }
  if (found[0].size() != found[1].size())
    Fail("reading ahead found another number of files");
  for (std::size_t i = 0; i < found[0].size(); ++i)
    if (found[0][i].Name != found[1][i].Name || found[0][i].Bytes != found[1][i].Bytes)
      Fail("reading ahead found other bytes");
  return 0;
}

// libFuzzer target for one recognizer, the one whose type key GF_FUZZ_RECOGNIZER
// names (the build compiles this file once per recognizer): arbitrary bytes on a
// medium in memory, the first byte picking the sector size as in scan_fuzz; Check
// at sector 0 and, when it matches, Extract into an empty memory stream (the scanner
// presizes its streams; scan_fuzz covers that, and without the presize each run is
// ten times faster). Besides the sanitizers' findings, an Extract that answers True
// with an empty file or a file longer than the medium aborts. The one empty file a
// format's rules give is a BMP whose header declares 0 bytes.
#include "LogCapture.h"
#include "MemoryMedium.h"
#include "Recognizer.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#ifndef GF_FUZZ_RECOGNIZER
#error "GF_FUZZ_RECOGNIZER must name the recognizer to fuzz by its type key"
#endif

using namespace gf;

namespace {

[[noreturn]] void Fail(const std::string& What) {
  std::fprintf(stderr, "%s fuzz: %s\n", GF_FUZZ_RECOGNIZER, What.c_str());
  std::abort();
}

TRecognizer& Recognizer() {
  static TRecognizers registry;
  static TRecognizer* recognizer = [] {
    RegisterBuiltinRecognizers(registry);
    for (int i = 0; i < registry.Count(); ++i)
      if (registry.GetItem(i)->GetName() == GF_FUZZ_RECOGNIZER)
        return registry.GetItem(i);
    Fail("no built-in recognizer has this type key");
  }();
  return *recognizer;
}

bool MayBeEmpty(const std::vector<uint8_t>& Medium) {
  return std::string(GF_FUZZ_RECOGNIZER) == "BMP" && Medium.size() >= 6 &&
         std::all_of(Medium.begin() + 2, Medium.begin() + 6, [](uint8_t b) { return b == 0; });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size == 0)
    return 0;
  static test::TLogCapture log; // log lines format hostile values too
  static constexpr uint32_t sectorSizes[] = {512, 2048, 32};
  const uint32_t sectorSize = sectorSizes[Data[0] % 3];
  std::vector<uint8_t> bytes(Data + 1, Data + Size);
  test::TMemoryMedium m(bytes, sectorSize);
  const uint64_t mediumBytes = uint64_t{m.SectorCount()} * sectorSize;

  TRecognizer& rec = Recognizer();
  rec.BeginScan();
  m.SetPosition(0);
  const bool found = rec.Check(m);
  if (found) {
    m.SetPosition(0);
    TMemoryStream stream;
    if (rec.Extract(m, stream)) {
      const int64_t length = stream.GetPosition();
      if (length <= 0 && !MayBeEmpty(bytes))
        Fail("Extract answered True with an empty file");
      if (static_cast<uint64_t>(length) > mediumBytes)
        Fail("Extract answered True with a file longer than the medium");
    }
  }
  log.Clear();
  return 0;
}

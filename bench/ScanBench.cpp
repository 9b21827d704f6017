// Scan throughput on a generated medium in memory beside a plain sequential read of
// the same bytes. Usage: scan_bench [MiB] (default 512).
#include "MemoryMedium.h"
#include "MessageWindow.h"
#include "Scanner.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <sys/resource.h>
#include <thread>

using namespace gf;

namespace {

double Seconds(std::chrono::steady_clock::time_point from) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
}

std::vector<uint8_t> MakeImage(std::size_t mib) {
  std::vector<uint8_t> img(mib << 20);
  std::mt19937_64 rng(12345);
  for (std::size_t i = 0; i + 8 <= img.size(); i += 8) {
    uint64_t v = rng();
    std::memcpy(img.data() + i, &v, 8);
  }
  // A JPEG header every 2 MiB at a sector start.
  for (std::size_t at = 0; at + 4 <= img.size(); at += 2 << 20)
    std::memcpy(img.data() + at, "\xFF\xD8\xFF\xE1", 4);
  return img;
}

} // namespace

int main(int argc, char** argv) {
  std::size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 512;
  if (mib == 0)
    mib = 512;
  auto img = MakeImage(mib);
  const double mb = static_cast<double>(img.size()) / 1e6;

  // Plain read: every block of the same medium through its cache, touching each byte.
  double readSecs;
  {
    test::TMemoryMedium m(img);
    auto t0 = std::chrono::steady_clock::now();
    uint64_t sum = 0;
    m.SetPosition(0);
    while (const uint8_t* d = m.GetData()) {
      sum += d[0] + d[511];
      m.Next();
    }
    readSecs = Seconds(t0);
    std::printf("plain read: %.0f MB in %.3f s = %.0f MB/s (checksum %llu)\n", mb, readSecs,
                mb / readSecs, static_cast<unsigned long long>(sum & 0xff));
  }

  RegisterRecognizers();
  test::TMemoryMedium m(std::move(img));
  TScanner s;
  int files = 0;
  uint64_t bytes = 0;
  s.OnFileFound = [&](TScanner&, std::unique_ptr<TMemoryStream> st, const std::string&) {
    ++files;
    bytes += static_cast<uint64_t>(st->GetSize());
  };
  auto t0 = std::chrono::steady_clock::now();
  s.Start(&m);
  while (s.IsRunning())
    if (ProcessMessages() == 0)
      std::this_thread::yield();
  double scanSecs = Seconds(t0);
  struct rusage ru {};
  getrusage(RUSAGE_SELF, &ru);
  std::printf("scan (%d recognizers): %.0f MB in %.3f s = %.0f MB/s, %d files, %.1f MB found\n",
              Recognizers().Count(), mb, scanSecs, mb / scanSecs, files,
              static_cast<double>(bytes) / 1e6);
  std::printf("scan / plain read = %.2f\n", readSecs / scanSecs);
  std::printf("peak memory (RSS): %.1f MB, medium itself %.1f MB\n",
              static_cast<double>(ru.ru_maxrss) / 1024.0, mb);
  return 0;
}

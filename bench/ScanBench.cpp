// Scan throughput on a generated card image beside a plain sequential read of the
// same bytes, with every registered recognizer.
//
//   scan_bench [MiB] [--random] [--save FILE]
//
// The default image (1024 MiB) holds a realistic mix: mostly zero and random
// sectors, with pictures, MP3, WAV, AVI, MOV and MPEG files at sector starts, as a
// camera or a player leaves them, with the damage of real cards (MixedImage.h). It
// is scanned twice: from memory, and from an image file in the page cache through
// positioned reads, the way a card image is read; both read ahead as the program's
// image files and devices do. --random gives the old image: random bytes with a JPEG
// header every 2 MiB. --save writes the image to FILE and stops (for profiling the
// scan elsewhere). Last, an untimed scan prints a digest of the found files of each
// type, so that a change can be shown to leave every found byte as it was.
#include "Digest.h"
#include "Drives.h"
#include "MemoryMedium.h"
#include "MessageWindow.h"
#include "MixedImage.h"
#include "Scanner.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

using namespace gf;
using namespace gf::bench;

namespace {

double Seconds(std::chrono::steady_clock::time_point from) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
}

// A card image in a file, read with positioned reads (the page cache serves them).
class TImageFile : public TMedium {
public:
  TImageFile(int Fd, uint64_t Bytes) : TMedium(nullptr), FFd(Fd), FBytes(Bytes) {
    SetReadAhead(ReadAheadBytes); // as the program's image files and devices read
    Reinit();
  }

protected:
  uint32_t ReadBlocks(uint32_t Start, uint32_t Count, uint8_t* Buffer) override {
    std::size_t want = std::size_t{Count} * 512;
    off_t from = static_cast<off_t>(Start) * 512;
    while (want > 0) {
      ssize_t n = ::pread(FFd, Buffer, want, from);
      if (n <= 0)
        return 23; // ERROR_CRC
      Buffer += n;
      want -= static_cast<std::size_t>(n);
      from += n;
    }
    return 0;
  }
  void Init() override {
    ResetGeometry();
    FSectorSize = 512;
    FSectorCount = static_cast<uint32_t>(FBytes / 512);
  }

private:
  int FFd;
  uint64_t FBytes;
};

double PlainRead(TMedium& M, double Mb, const char* What) {
  auto t0 = std::chrono::steady_clock::now();
  uint64_t sum = 0;
  M.SetPosition(0);
  while (const uint8_t* d = M.GetData()) {
    sum += d[0] + d[511];
    M.Next();
  }
  double secs = Seconds(t0);
  std::printf("plain read, %s: %.0f MB in %.3f s = %.0f MB/s (checksum %llu)\n", What, Mb, secs,
              Mb / secs, static_cast<unsigned long long>(sum & 0xff));
  return secs;
}

double Scan(TMedium& M, double Mb, const char* What, std::map<std::string, int>& Found,
            std::map<std::string, uint64_t>& Bytes,
            std::map<std::string, TDigest>* Digests = nullptr) {
  TScanner s;
  Found.clear();
  Bytes.clear();
  s.OnFileFound = [&](TScanner&, std::unique_ptr<TMemoryStream> st, const std::string& name) {
    ++Found[name];
    Bytes[name] += static_cast<uint64_t>(st->GetSize());
    if (Digests)
      (*Digests)[name].Add(st->Memory(), static_cast<std::size_t>(st->GetSize()));
  };
  // The user-interface side as an event loop runs it: asleep until a message
  // wakes it, then handling everything pending.
  std::mutex mutex;
  std::condition_variable cond;
  bool woken = false;
  SetMessageWakeup([&](std::chrono::milliseconds Delay) {
    if (Delay.count() > 0)
      return; // the loop below looks again within 50 ms
    {
      std::lock_guard lock(mutex);
      woken = true;
    }
    cond.notify_one();
  });
  auto t0 = std::chrono::steady_clock::now();
  s.Start(&M);
  while (s.IsRunning()) {
    ProcessMessages();
    std::unique_lock lock(mutex);
    cond.wait_for(lock, std::chrono::milliseconds(50), [&] { return woken; });
    woken = false;
  }
  double secs = Seconds(t0);
  SetMessageWakeup(nullptr);
  int files = 0;
  for (auto& [k, n] : Found)
    files += n;
  if (What)
    std::printf("scan, %s (%d recognizers): %.0f MB in %.3f s = %.0f MB/s, %d files\n", What,
                Recognizers().Count(), Mb, secs, Mb / secs, files);
  return secs;
}

} // namespace

int main(int argc, char** argv) {
  std::size_t mib = 1024;
  bool random = false;
  const char* save = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--random") == 0)
      random = true;
    else if (std::strcmp(argv[i], "--save") == 0 && i + 1 < argc)
      save = argv[++i];
    else if (std::size_t v = std::strtoul(argv[i], nullptr, 10); v > 0)
      mib = v;
  }
  TPlaced placed;
  auto t0 = std::chrono::steady_clock::now();
  TBytes img = random ? MakeRandomImage(mib) : MakeMixedImage(mib, placed);
  const double mb = static_cast<double>(img.size()) / 1e6;
  std::printf("image: %s, %zu MiB, generated in %.1f s\n", random ? "random" : "mixed", mib,
              Seconds(t0));
  if (!random)
    std::printf("  of its AVI files %d are cut short, of its MPEG streams %d have no end code\n",
                placed.Damaged, placed.NoEndCode);
  if (save) {
    FILE* f = std::fopen(save, "wb");
    bool ok = f && std::fwrite(img.data(), 1, img.size(), f) == img.size();
    ok = f && std::fclose(f) == 0 && ok;
    std::printf("%s %s\n", ok ? "saved" : "cannot save", save);
    return ok ? 0 : 1;
  }
  RegisterRecognizers();

  std::map<std::string, int> found;
  std::map<std::string, uint64_t> bytes;
  char path[] = "/tmp/gf_scan_bench_XXXXXX";
  int fd = ::mkstemp(path);
  if (fd >= 0)
    ::unlink(path); // gone when closed
  bool written = fd >= 0;
  for (std::size_t done = 0; written && done < img.size();) { // one write stops at 2 GiB
    const ssize_t n = ::write(fd, img.data() + done, img.size() - done);
    written = n > 0;
    done += written ? static_cast<std::size_t>(n) : 0;
  }

  test::TMemoryMedium mem(std::move(img));
  mem.SetReadAhead(TMedium::ReadAheadBytes);
  double memRead = PlainRead(mem, mb, "memory");
  double memScan = Scan(mem, mb, "memory", found, bytes);
  std::printf("  scan / plain read = %.2f\n", memRead / memScan);
  std::printf("  %-5s %8s %8s %12s %12s\n", "type", "placed", "found", "MB placed", "MB found");
  std::map<std::string, int> keys;
  for (auto& [k, n] : placed.Files)
    keys[k] = 1;
  for (auto& [k, n] : found)
    keys[k] = 1;
  for (auto& [k, one] : keys)
    std::printf("  %-5s %8d %8d %12.1f %12.1f\n", k.c_str(), placed.Files[k], found[k],
                static_cast<double>(placed.Bytes[k]) / 1e6, static_cast<double>(bytes[k]) / 1e6);

  if (written) {
    TImageFile file(fd, static_cast<uint64_t>(mb * 1e6));
    PlainRead(file, mb, "image file, warming the page cache");
    double fileRead = PlainRead(file, mb, "image file (warm page cache)");
    double fileScan = Scan(file, mb, "image file (warm page cache)", found, bytes);
    std::printf("  scan / plain read = %.2f\n", fileRead / fileScan);
  } else {
    std::printf("cannot write the image file; its figures are left out\n");
  }
  if (fd >= 0)
    ::close(fd);

  std::map<std::string, TDigest> digests;
  Scan(mem, mb, nullptr, found, bytes, &digests);
  TDigest all;
  std::printf("found files' digests:");
  for (auto& [k, d] : digests) {
    std::printf(" %s %s", k.c_str(), d.Hex().c_str());
    all.Add(k);
    all.Add(d.Hex());
  }
  std::printf("; all %s\n", all.Hex().c_str());

  struct rusage ru {};
  getrusage(RUSAGE_SELF, &ru);
  // ru_maxrss counts KiB.
  std::printf("peak memory (RSS): %.1f MB, of which the image held in memory %.1f MB\n",
              static_cast<double>(ru.ru_maxrss) * 1024 / 1e6, mb);
  return 0;
}

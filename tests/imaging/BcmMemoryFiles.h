// Files in memory behind the bitmap codec module's I/O hooks, for tests and fuzz
// targets.
#pragma once

#include "Bcm.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <map>
#include <vector>

namespace gf::test {

// Files in memory for the module. Io() hooks that a call carries reach them; while a
// process-wide set lives, the module's process-wide hooks reach it too, instead of the
// disk (one such set at a time).
class TMemoryFiles {
public:
  enum TScope { ProcessWide, CarriedOnly };
  explicit TMemoryFiles(TScope Scope = ProcessWide) : FProcessWide(Scope == ProcessWide) {
    if (FProcessWide) {
      Current() = this;
      BcmSetIoHooks([](const char* N, int F) { return Open(Current(), N, F); },
                    [](const char* N, int F) { return Open(Current(), N, F); },
                    [](int H) { return Close(Current(), H); },
                    [](int H, int64_t O, int W) { return Seek(Current(), H, O, W); },
                    [](int H, void* B, int C) { return Read(Current(), H, B, C); },
                    [](int H, const void* B, int C) { return Write(Current(), H, B, C); });
    }
  }
  ~TMemoryFiles() {
    if (FProcessWide) {
      BcmSetIoHooks(BcmDefaultOpen, BcmDefaultCreate, BcmDefaultClose, BcmDefaultSeek,
                    BcmDefaultRead, BcmDefaultWrite);
      Current() = nullptr;
    }
  }
  TMemoryFiles(const TMemoryFiles&) = delete;
  TMemoryFiles& operator=(const TMemoryFiles&) = delete;

  // Hooks over these files alone, for the calls that carry them.
  const BcmIo& Io() const { return FIo; }

  int Add(std::vector<uint8_t> Bytes) {
    const int h = FNext++;
    FFiles[h] = {std::move(Bytes), 0};
    return h;
  }
  std::vector<uint8_t>& Bytes(int Handle) { return FFiles.at(Handle).Bytes; }
  // Writes stop (answer short) once this many bytes have been written in all.
  void FailWritesAfter(std::size_t N) { FWriteBudget = N; }
  std::size_t ReadCalls() const { return FReadCalls; }
  std::size_t WriteCalls() const { return FWriteCalls; }

private:
  struct TFile {
    std::vector<uint8_t> Bytes;
    std::size_t Pos;
  };
  static TMemoryFiles*& Current() {
    static TMemoryFiles* current = nullptr;
    return current;
  }
  static TMemoryFiles* Self(void* Context) { return static_cast<TMemoryFiles*>(Context); }
  TFile* Find(int H) {
    auto it = FFiles.find(H);
    return it == FFiles.end() ? nullptr : &it->second;
  }
  static int Open(void* C, const char*, int) { return Self(C)->Add({}); }
  static int Close(void* C, int H) { return Self(C)->FFiles.erase(H) ? 0 : -1; }
  static int64_t Seek(void* C, int H, int64_t Offset, int Whence) {
    TFile* f = Self(C)->Find(H);
    if (!f)
      return -1;
    int64_t base = Whence == 0   ? 0
                   : Whence == 2 ? static_cast<int64_t>(f->Bytes.size())
                                 : static_cast<int64_t>(f->Pos);
    if (Offset < -base)
      return -1;
    f->Pos = static_cast<std::size_t>(base + Offset);
    return base + Offset;
  }
  static int Read(void* C, int H, void* Buffer, int Count) {
    TMemoryFiles& self = *Self(C);
    TFile* f = self.Find(H);
    ++self.FReadCalls;
    if (!f || Count < 0)
      return -1;
    if (f->Pos >= f->Bytes.size())
      return 0;
    std::size_t n =
        std::min<std::size_t>(static_cast<std::size_t>(Count), f->Bytes.size() - f->Pos);
    std::memcpy(Buffer, f->Bytes.data() + f->Pos, n);
    f->Pos += n;
    return static_cast<int>(n);
  }
  static int Write(void* C, int H, const void* Buffer, int Count) {
    TMemoryFiles& self = *Self(C);
    TFile* f = self.Find(H);
    ++self.FWriteCalls;
    if (!f || Count < 0)
      return -1;
    std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(Count), self.FWriteBudget);
    self.FWriteBudget -= n;
    if (n == 0)
      return 0;
    if (f->Pos + n > f->Bytes.size())
      f->Bytes.resize(f->Pos + n);
    std::memcpy(f->Bytes.data() + f->Pos, Buffer, n);
    f->Pos += n;
    return static_cast<int>(n);
  }

  const bool FProcessWide;
  const BcmIo FIo{this, Open, Open, Close, Seek, Read, Write};
  std::map<int, TFile> FFiles;
  int FNext = 3;
  std::size_t FWriteBudget = std::numeric_limits<std::size_t>::max();
  std::size_t FReadCalls = 0, FWriteCalls = 0;
};

} // namespace gf::test

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

// While it lives, the module's hooks reach these files instead of the disk.
class TMemoryFiles {
public:
  TMemoryFiles() {
    Current() = this;
    BcmSetIoHooks(Open, Open, Close, Seek, Read, Write);
  }
  ~TMemoryFiles() {
    BcmSetIoHooks(BcmDefaultOpen, BcmDefaultCreate, BcmDefaultClose, BcmDefaultSeek, BcmDefaultRead,
                  BcmDefaultWrite);
    Current() = nullptr;
  }
  TMemoryFiles(const TMemoryFiles&) = delete;
  TMemoryFiles& operator=(const TMemoryFiles&) = delete;

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
  static TFile* Find(int H) {
    auto it = Current()->FFiles.find(H);
    return it == Current()->FFiles.end() ? nullptr : &it->second;
  }
  static int Open(const char*, int) { return Current()->Add({}); }
  static int Close(int H) { return Current()->FFiles.erase(H) ? 0 : -1; }
  static int64_t Seek(int H, int64_t Offset, int Whence) {
    TFile* f = Find(H);
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
  static int Read(int H, void* Buffer, int Count) {
    TFile* f = Find(H);
    ++Current()->FReadCalls;
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
  static int Write(int H, const void* Buffer, int Count) {
    TFile* f = Find(H);
    ++Current()->FWriteCalls;
    if (!f || Count < 0)
      return -1;
    std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(Count), Current()->FWriteBudget);
    Current()->FWriteBudget -= n;
    if (n == 0)
      return 0;
    if (f->Pos + n > f->Bytes.size())
      f->Bytes.resize(f->Pos + n);
    std::memcpy(f->Bytes.data() + f->Pos, Buffer, n);
    f->Pos += n;
    return static_cast<int>(n);
  }

  std::map<int, TFile> FFiles;
  int FNext = 3;
  std::size_t FWriteBudget = std::numeric_limits<std::size_t>::max();
  std::size_t FReadCalls = 0, FWriteCalls = 0;
};

} // namespace gf::test

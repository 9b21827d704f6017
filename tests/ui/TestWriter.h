// A destination for the window tests and benches: saves into the real folder, but as
// slowly as a cheap stick (each save takes at least SaveDelay, and its bytes at
// BytesPerSecond), flushes as slowly as asked, and can fail.
#pragma once

#include "ScanResults.h"
#include "Streams.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

namespace gf::test {

class TTestWriter : public TFoundFileWriter {
public:
  std::chrono::milliseconds SaveDelay{0};
  double BytesPerSecond = 0; // 0: as fast as the folder takes them
  std::chrono::milliseconds FlushDelay{0};
  std::string SaveError;         // not empty: every save fails with it, after its time
  std::function<void()> OnSave;  // on the saver thread, as each save begins
  std::function<void()> OnSaved; // on the saver thread, as each save ends

  std::atomic<int> Saves{0}, Flushes{0};
  std::atomic<bool> Saving{false}, Flushing{false};

  void Begin(const std::string& DestPath) override { FReal.Begin(DestPath); }

  TSaveResult Save(const std::string& DestPath, const std::string& Prefix, int64_t First,
                   const std::string& Key, TMemoryStream& Stream) override {
    Saving = true;
    if (OnSave)
      OnSave();
    auto until = std::chrono::steady_clock::now() + SaveDelay;
    if (BytesPerSecond > 0)
      until += std::chrono::duration_cast<std::chrono::steady_clock::duration>(
          std::chrono::duration<double>(double(Stream.GetSize()) / BytesPerSecond));
    TSaveResult r;
    if (SaveError.empty())
      r = FReal.Save(DestPath, Prefix, First, Key, Stream);
    else
      r.Error = SaveError;
    std::this_thread::sleep_until(until);
    if (OnSaved)
      OnSaved();
    ++Saves;
    Saving = false;
    return r;
  }

  TResult<> Flush() override {
    Flushing = true;
    std::this_thread::sleep_for(FlushDelay);
    TResult<> e = FReal.Flush();
    ++Flushes;
    Flushing = false;
    return e;
  }

  void End() override { FReal.End(); }

private:
  TDestinationWriter FReal;
};

} // namespace gf::test

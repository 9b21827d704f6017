#include "FakeRecognizer.h"
#include "GeneratedMedium.h"
#include "LogCapture.h"
#include "MemoryMedium.h"
#include "ScanHarness.h"
#include "recognizers/RecognizerJPG.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <thread>

using namespace gf;
using namespace gf::test;

namespace {

const std::string Jfif("\xFF\xD8\xFF\xE0", 4);

std::vector<uint8_t> Image(uint32_t sectors, uint8_t fill = 0x55) {
  return std::vector<uint8_t>(std::size_t{sectors} * 512, fill);
}

std::vector<uint8_t> Slice(const std::vector<uint8_t>& img, uint32_t from, uint32_t sectors) {
  auto b = img.begin() + static_cast<long>(from) * 512;
  return {b, b + static_cast<long>(sectors) * 512};
}

struct Registry {
  TRecognizers reg;
  TFakeRecognizer* bmp;
  Registry() {
    reg.Register(std::make_unique<TJPGRecognizer>());
    auto b = std::make_unique<TFakeRecognizer>("BMP", "BM", 1000, 8388608);
    b->Measure = true;
    bmp = b.get();
    reg.Register(std::move(b));
  }
};

} // namespace

TEST(Scanner, EmptyAndUnreadableMedia) {
  Registry r;
  {
    TMemoryMedium m({});
    auto res = Scan(m, r.reg);
    EXPECT_EQ(res.DoneCount, 1);
    EXPECT_TRUE(res.Completed);
    EXPECT_TRUE(res.Files.empty());
  }
  {
    TMemoryMedium m(Image(100));
    m.FailSector(0);
    auto res = Scan(m, r.reg);
    EXPECT_EQ(res.DoneCount, 1);
    EXPECT_FALSE(res.Completed);
    EXPECT_TRUE(res.Progress.empty());
    EXPECT_TRUE(res.Files.empty());
  }
}

// A medium whose device holds more sectors than can be numbered ends at the last one
// that can: that is no completed scan, and the scanner tells it from an unreadable block.
TEST(Scanner, AMediumReadOnlyInPartIsNotCompleted) {
  struct {
    const char* what;
    uint64_t device;
    uint32_t bad;
    bool completed, atLimit;
    std::size_t files;
  } cases[] = {
      {"the whole medium", 0, UINT32_MAX, true, false, 1},
      {"a device of more sectors", uint64_t{1} << 33, UINT32_MAX, false, true, 1},
      {"an unreadable block before the limit", uint64_t{1} << 33, 150, false, false, 1},
  };
  Registry r;
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto img = Image(200);
    Put(img, 0, Jfif);
    TMemoryMedium m(img);
    if (c.device)
      m.SetDeviceSectors(c.device);
    if (c.bad != UINT32_MAX)
      m.FailSector(c.bad);
    TScanner s(&r.reg);
    TScanResult res;
    Collect(s, res);
    bool atLimitInDone = false;
    s.OnDone = [&](TScanner& sender, bool completed) {
      ++res.DoneCount;
      res.Completed = completed;
      atLimitInDone = sender.EndedAtSectorLimit();
      EXPECT_EQ(sender.Medium(), &m) << "the medium is still at hand in the done event";
    };
    s.Start(&m);
    PumpUntilDone(s);
    EXPECT_EQ(res.DoneCount, 1);
    EXPECT_EQ(res.Completed, c.completed);
    EXPECT_EQ(atLimitInDone, c.atLimit);
    EXPECT_EQ(s.Medium(), nullptr);
    EXPECT_EQ(res.Files.size(), c.files) << "the files found are handed over all the same";
  }
}

TEST(Scanner, ProgressCadence) {
  Registry r;
  TMemoryMedium m(Image(100));
  TScanner s(&r.reg);
  s.SetProgressInterval(std::chrono::milliseconds(0)); // every post reaches the handler
  TScanResult res;
  Collect(s, res);
  s.Start(&m);
  PumpUntilDone(s);
  ASSERT_GE(res.Progress.size(), 2u);
  EXPECT_EQ(res.Progress[0], std::make_pair(int64_t{11}, int64_t{100}));
  EXPECT_EQ(res.Progress[1].first, 22);
  for (std::size_t i = 1; i < res.Progress.size(); ++i)
    EXPECT_GT(res.Progress[i].first - res.Progress[i - 1].first, 10);
  EXPECT_TRUE(res.Completed);
}

// With the window's reports coalesced, the handler sees positions from 11 on, each
// further on, and the last one the worker posted before the done message.
TEST(Scanner, CoalescedProgressEndsWithTheLastPosition) {
  Registry r;
  TMemoryMedium m(Image(5000));
  auto res = Scan(m, r.reg);
  ASSERT_FALSE(res.Progress.empty());
  EXPECT_GE(res.Progress.front().first, 11);
  EXPECT_EQ(res.Progress.front().second, 5000);
  for (std::size_t i = 1; i < res.Progress.size(); ++i)
    EXPECT_GT(res.Progress[i].first - res.Progress[i - 1].first, 10);
  EXPECT_EQ(res.Progress.back().first, 4994) << "posted at 11, 22, ... 4994";
  EXPECT_TRUE(res.Completed);
}

TEST(Scanner, CarveEnds) {
  struct {
    const char* what;
    uint32_t sectors;
    std::vector<std::pair<uint32_t, std::string>> headers;
    uint32_t badSector;
    std::vector<std::pair<std::string, uint32_t>> want; // name, length in sectors
    bool completed;
  } cases[] = {
      {"next header", 40, {{2, Jfif}, {10, "BM"}}, 0, {{"JPG", 8}, {"BMP", 0}}, true},
      {"two jpegs", 40, {{0, Jfif}, {5, Jfif}}, 0, {{"JPG", 5}, {"JPG", 35}}, true},
      {"end of medium", 30, {{3, Jfif}}, 0, {{"JPG", 27}}, true},
      {"unreadable block", 200, {{3, Jfif}}, 100, {{"JPG", 61}}, false}, // block 64..127 fails
      {"max size", 7000, {{0, Jfif}}, 0, {{"JPG", 6144}}, true},
  };
  for (auto& c : cases) {
    Registry r;
    auto img = Image(c.sectors);
    for (auto& [s, h] : c.headers)
      Put(img, s, h);
    TMemoryMedium m(img);
    if (c.badSector)
      m.FailSector(c.badSector);
    auto res = Scan(m, r.reg);
    ASSERT_EQ(res.Files.size(), c.want.size()) << c.what;
    for (std::size_t i = 0; i < c.want.size(); ++i) {
      EXPECT_EQ(res.Files[i].Name, c.want[i].first) << c.what;
      if (c.want[i].first == "JPG") {
        EXPECT_EQ(res.Files[i].Bytes.size(), std::size_t{c.want[i].second} * 512) << c.what;
      }
    }
    EXPECT_EQ(res.Completed, c.completed) << c.what;
  }
}

TEST(Scanner, CarveAtLimitThenScanGoesOn) {
  Registry r;
  auto img = Image(7000);
  Put(img, 0, Jfif);
  Put(img, 6500, Jfif);
  TMemoryMedium m(img);
  auto res = Scan(m, r.reg);
  ASSERT_EQ(res.Files.size(), 2u);
  EXPECT_EQ(res.Files[0].Bytes.size(), 3145728u);
  EXPECT_EQ(res.Files[0].Bytes, Slice(img, 0, 6144));
  EXPECT_EQ(res.Files[1].Bytes, Slice(img, 6500, 500));
}

TEST(Scanner, MeasuredFileSkipsItsSectors) {
  Registry r;
  auto img = Image(20);
  Put(img, 3, "BM");
  Put(img, 5, "BM"); // examined: 3 + ceil(1000 / 512) = 5
  TMemoryMedium m(img);
  auto res = Scan(m, r.reg);
  ASSERT_EQ(res.Files.size(), 2u);
  EXPECT_EQ(res.Files[0].Bytes.size(), 1000u);
  EXPECT_EQ(res.Files[0].Bytes,
            std::vector<uint8_t>(img.begin() + 3 * 512, img.begin() + 3 * 512 + 1000));
}

// Each found file takes up the buffer its predecessor left; sectors that differ from
// one another show any byte of an earlier, longer file that would remain in it.
TEST(Scanner, EachFileHoldsOnlyItsOwnBytesWhereAnEarlierOneWasLonger) {
  Registry r;
  std::vector<uint8_t> img(50 * 512);
  for (std::size_t i = 0; i < img.size(); ++i)
    img[i] = static_cast<uint8_t>(i / 512 * 13 + i % 7);
  Put(img, 0, Jfif);  // carved: 0..29
  Put(img, 30, "BM"); // measured: 1000 bytes
  Put(img, 32, Jfif); // carved: 32..36
  Put(img, 37, "BM");
  Put(img, 39, Jfif); // carved to the end
  TMemoryMedium m(img);
  auto res = Scan(m, r.reg);
  ASSERT_EQ(res.Files.size(), 5u);
  EXPECT_EQ(res.Files[0].Bytes, Slice(img, 0, 30));
  EXPECT_EQ(res.Files[1].Bytes,
            std::vector<uint8_t>(img.begin() + 30 * 512, img.begin() + 30 * 512 + 1000));
  EXPECT_EQ(res.Files[2].Bytes, Slice(img, 32, 5));
  EXPECT_EQ(res.Files[3].Bytes,
            std::vector<uint8_t>(img.begin() + 37 * 512, img.begin() + 37 * 512 + 1000));
  EXPECT_EQ(res.Files[4].Bytes, Slice(img, 39, 11));
}

TEST(Scanner, EmptyMeasuredFileMovesOn) {
  TRecognizers reg;
  auto z = std::make_unique<TFakeRecognizer>("BMP", "BM", 0);
  z->Measure = true;
  reg.Register(std::move(z));
  auto img = Image(10);
  Put(img, 2, "BM");
  TMemoryMedium m(img);
  auto res = Scan(m, reg);
  EXPECT_TRUE(res.Files.empty()) << "an empty file is not announced";
  EXPECT_TRUE(res.Completed);
}

TEST(Scanner, CarveAfterPartialExtractStartsAtByteZero) {
  // Extract copies part of the file, meets an unreadable block and answers False.
  TRecognizers reg;
  auto p = std::make_unique<TFakeRecognizer>("PNG", "PNG", 100 * 512, 1048576);
  p->Measure = true;
  reg.Register(std::move(p));
  auto img = Image(200);
  Put(img, 1, "PNG");
  TMemoryMedium m(img);
  m.FailSector(90); // block 65..128 is unreadable
  auto res = Scan(m, reg);
  ASSERT_EQ(res.Files.size(), 1u);
  EXPECT_EQ(res.Files[0].Bytes, Slice(img, 1, 64)) << "carve holds sectors 1..64 from byte 0";
  EXPECT_FALSE(res.Completed);
}

namespace {
// Matches at sectors beginning with "FLAKY"; its extract finds the header sector gone
// bad (as a failing card's sector may be on a second read), reads a block further on
// as an extract may, and answers that the file is to be carved.
class TFlakyRecognizer : public TRecognizer {
public:
  explicit TFlakyRecognizer(TMemoryMedium& Medium) : FMedium(Medium) {}
  std::string GetName() const override { return "WAV"; }
  bool Check(TMedium& m) override {
    char head[5];
    return ReadBytes(m, m.GetPosition(), 0, 5, head) && std::memcmp(head, "FLAKY", 5) == 0;
  }
  bool Extract(TMedium& m, TStream&) override {
    FMedium.FailSector(m.GetPosition());
    uint8_t b;
    ReadBytes(m, m.GetPosition(), 64 * 512, 1, &b);
    return false;
  }

private:
  TMemoryMedium& FMedium;
};
} // namespace

// A carve whose header sector cannot be read when the carve takes it holds nothing:
// it is neither announced nor counted, and the log says why.
TEST(Scanner, CarveThatGotNoSectorIsDroppedAndLogged) {
  struct {
    const char* what;
    std::vector<std::pair<uint32_t, std::string>> headers;
    uint32_t badSector;                                 // 0: none
    std::vector<std::pair<std::string, uint32_t>> want; // name, first sector
    std::string line;
    bool completed;
  } cases[] = {
      // The check reads sector 63 from the block 0..63; the extract's read of 64..127
      // fails, and so does the block 63..126 that the carve then loads.
      {"the scan ends",
       {{63, "PNG"}},
       70,
       {},
       "SCANNER: PNG file at sector 63 dropped: "
       "none of its sectors could be read",
       false},
      {"a new header ends it",
       {{5, "FLAKY"}, {6, Jfif}},
       0,
       {{"JPG", 6}},
       "SCANNER: WAV file at sector 5 dropped: none of its sectors could be read",
       true},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    TLogCapture log;
    auto img = Image(200);
    for (auto& [sector, header] : c.headers)
      Put(img, sector, header);
    TMemoryMedium m(img);
    if (c.badSector)
      m.FailSector(c.badSector);
    TRecognizers reg;
    reg.Register(std::make_unique<TJPGRecognizer>());
    auto png = std::make_unique<TFakeRecognizer>("PNG", "PNG", 100 * 512, 1048576);
    png->Measure = true;
    reg.Register(std::move(png));
    reg.Register(std::make_unique<TFlakyRecognizer>(m));
    TScanner s(&reg);
    TScanResult res;
    Collect(s, res);
    s.Start(&m);
    PumpUntilDone(s);
    ASSERT_EQ(res.Files.size(), c.want.size());
    for (std::size_t i = 0; i < c.want.size(); ++i) {
      EXPECT_EQ(res.Files[i].Name, c.want[i].first);
      EXPECT_EQ(res.Files[i].Bytes, Slice(img, c.want[i].second, 200 - c.want[i].second));
    }
    EXPECT_EQ(s.FoundCount(), static_cast<int32_t>(c.want.size()));
    EXPECT_EQ(s.TypeCounts().size(), c.want.size());
    EXPECT_TRUE(log.Has(c.line));
    EXPECT_EQ(res.DoneCount, 1);
    EXPECT_EQ(res.Completed, c.completed);
  }
}

TEST(Scanner, TypeCountsAndFoundCount) {
  Registry r;
  auto img = Image(40);
  Put(img, 0, Jfif);
  Put(img, 10, Jfif);
  TMemoryMedium m(img);
  TScanner s(&r.reg);
  TScanResult res;
  Collect(s, res);
  s.Start(&m);
  PumpUntilDone(s);
  EXPECT_EQ(s.FoundCount(), 2);
  ASSERT_EQ(s.TypeCounts().size(), 1u);
  EXPECT_EQ(s.TypeCounts()[0], std::make_pair(std::string("JPG"), 2));
}

TEST(Scanner, StopFromFileFoundReturnsAtOnceAndDropsPendingCarve) {
  // The second header ends the first carve, whose hand-over stops the scan, and
  // starts a carve of its own in the same step: pending when the worker sees the stop.
  Registry r;
  auto img = Image(400);
  Put(img, 0, Jfif);
  Put(img, 10, Jfif);
  TMemoryMedium m(img);
  TScanner s(&r.reg);
  TScanResult res;
  Collect(s, res);
  bool returned = false;
  s.OnFileFound = [&](TScanner& sc, std::unique_ptr<TMemoryStream> f, const std::string& name) {
    res.Files.push_back({name, std::vector<uint8_t>(f->Memory(), f->Memory() + f->GetSize())});
    sc.Stop();
    returned = true;
    EXPECT_TRUE(sc.IsRunning());
  };
  s.Start(&m);
  PumpUntilDone(s);
  EXPECT_TRUE(returned);
  ASSERT_EQ(res.Files.size(), 1u) << "the carve pending at the stop is dropped";
  EXPECT_EQ(res.Files[0].Bytes, Slice(img, 0, 10));
  EXPECT_EQ(res.DoneCount, 1);
  EXPECT_FALSE(res.Completed);
}

TEST(Scanner, StopWaitsAndRaisesEventsWithin) {
  Registry r;
  auto img = Image(20000);
  TMemoryMedium m(img);
  TScanner s(&r.reg);
  TScanResult res;
  Collect(s, res);
  s.Stop(); // idle: returns at once
  s.Start(&m);
  s.Start(&m); // running: ignored
  s.Paused = true;
  std::this_thread::sleep_for(std::chrono::milliseconds(10));
  s.Stop();
  EXPECT_FALSE(s.IsRunning());
  EXPECT_EQ(res.DoneCount, 1);
  EXPECT_FALSE(res.Completed);
}

namespace {
// Never matches; at one sector its check pauses the scan, so that the test knows
// where the worker holds.
class TPausingRecognizer : public TRecognizer {
public:
  TPausingRecognizer(TScanner*& Scanner, uint32_t At) : FScanner(Scanner), FAt(At) {}
  std::string GetName() const override { return "PAUSE"; }
  bool Check(TMedium& m) override {
    if (m.GetPosition() == FAt) {
      FScanner->Paused = true;
      Reached = true;
    }
    return false;
  }
  std::atomic<bool> Reached{false};

private:
  TScanner*& FScanner;
  uint32_t FAt;
};
} // namespace

TEST(Scanner, CancelDropsPendingCarve) {
  TScanner* scanner = nullptr;
  TRecognizers reg;
  reg.Register(std::make_unique<TJPGRecognizer>());
  auto pauser = std::make_unique<TPausingRecognizer>(scanner, 20);
  auto& reached = pauser->Reached;
  reg.Register(std::move(pauser));
  auto img = Image(400);
  Put(img, 0, Jfif);
  TMemoryMedium m(img);
  TScanner s(&reg);
  scanner = &s;
  TScanResult res;
  Collect(s, res);
  s.Start(&m);
  while (!reached) // the carve from sector 0 is pending from here on
    std::this_thread::yield();
  s.Stop();
  EXPECT_TRUE(res.Files.empty()) << "a cancelled carve is not announced";
  EXPECT_EQ(res.DoneCount, 1);
  EXPECT_FALSE(res.Completed);
}

namespace {
// Throws at one sector, from its check or, after a match, from its extract.
class TThrowingRecognizer : public TRecognizer {
public:
  enum class TThrow { CheckOutOfMemory, CheckUnknown, ExtractError };
  TThrowingRecognizer(std::string Name, uint32_t At, TThrow What)
      : FName(std::move(Name)), FAt(At), FWhat(What) {}
  std::string GetName() const override { return FName; }
  bool Check(TMedium& m) override {
    if (m.GetPosition() != FAt)
      return false;
    if (FWhat == TThrow::CheckOutOfMemory)
      throw std::bad_alloc();
    if (FWhat == TThrow::CheckUnknown)
      throw 7;
    return true;
  }
  bool Extract(TMedium&, TStream&) override { throw std::runtime_error("boom"); }

private:
  std::string FName;
  uint32_t FAt;
  TThrow FWhat;
};
} // namespace

TEST(Scanner, ErrorInWorkerStillPostsDone) {
  using TThrow = TThrowingRecognizer::TThrow;
  struct {
    const char* what;
    TThrow thrown;
    uint64_t mediumFailsFrom; // byte offset from which the medium's reads throw
    std::string line;
  } cases[] = {
      {"a check runs out of memory", TThrow::CheckOutOfMemory, UINT64_MAX,
       "SCANNER: Scan ended by an error at sector 5 (BAD): std::bad_alloc"},
      {"an extract fails", TThrow::ExtractError, UINT64_MAX,
       "SCANNER: Scan ended by an error at sector 5 (BAD): boom"},
      {"a check throws something else", TThrow::CheckUnknown, UINT64_MAX,
       "SCANNER: Scan ended by an unknown error at sector 5 (BAD)"},
      {"the medium fails between two steps", TThrow::CheckOutOfMemory, 64 * 512,
       "SCANNER: Scan ended by an error at sector 64 (no recognizer at work): read failed"},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    TLogCapture log;
    TRecognizers reg;
    reg.Register(std::make_unique<TJPGRecognizer>());
    // Beyond the medium's first block in the last case, so that only the medium fails.
    const uint32_t at = c.mediumFailsFrom == UINT64_MAX ? 5 : 100000;
    reg.Register(std::make_unique<TThrowingRecognizer>("BAD", at, c.thrown));
    TGeneratedMedium m(200 * 512, [&](uint64_t offset, uint8_t* b, std::size_t n) {
      if (offset + n > c.mediumFailsFrom)
        throw std::runtime_error("read failed");
      std::memset(b, 0x55, n);
    });
    auto res = Scan(m, reg);
    EXPECT_EQ(res.DoneCount, 1);
    EXPECT_FALSE(res.Completed);
    auto lines = log.Lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), c.line);
  }
}

TEST(Scanner, DestroyWhileRunningStops) {
  Registry r;
  TMemoryMedium m(Image(50000));
  {
    TScanner s(&r.reg);
    s.Start(&m);
  }
  SUCCEED();
}

namespace {
// Aborts the test program when its scope lasts longer than Limit: a hang fails
// at once, with a message, instead of at the test runner's timeout.
class TWatchdog {
public:
  explicit TWatchdog(std::chrono::seconds Limit)
      : FThread([this, Limit] {
          std::unique_lock lock(FMutex);
          if (!FCond.wait_for(lock, Limit, [this] { return FDone; })) {
            std::fprintf(stderr, "TWatchdog: the scope hangs\n");
            std::abort();
          }
        }) {}
  ~TWatchdog() {
    {
      std::lock_guard lock(FMutex);
      FDone = true;
    }
    FCond.notify_all();
    FThread.join();
  }

private:
  std::mutex FMutex;
  std::condition_variable FCond;
  bool FDone = false;
  std::thread FThread; // last: starts once the members above exist
};

// A scanner and its medium that one of the scanner's handlers destroys.
struct TDoomed {
  std::unique_ptr<TMemoryMedium> Medium;
  std::unique_ptr<TScanner> Scanner;
  bool Destroying = false;
  bool Gone = false;
};

// Frees the medium right after the scanner: a worker still reading it would be
// caught by the sanitizers. Touches nothing of the handler that called it. A
// destructor that waits for the scan's end raises the events that arrive
// meanwhile, this handler's too: only the first call destroys.
void DestroyBoth(TDoomed* D) {
  if (D->Destroying)
    return;
  D->Destroying = true;
  D->Scanner.reset();
  D->Medium.reset();
  D->Gone = true;
}
} // namespace

TEST(Scanner, DestroyedFromItsOwnHandlerNeitherHangsNorOutlivesWhatItUses) {
  enum class TWhere { FileFound, FileFoundWhileStopWaits, Done, Progress };
  struct {
    const char* what;
    TWhere where;
    std::vector<std::pair<uint32_t, std::string>> headers;
    uint32_t sectors;
  } cases[] = {
      // The JPEG's hand-over comes from the step that goes on to extract the BMP.
      {"file found, the worker goes on extracting",
       TWhere::FileFound,
       {{0, Jfif}, {10, "BM"}},
       400},
      {"file found while Stop waits", TWhere::FileFoundWhileStopWaits, {{0, "BM"}}, 400},
      {"done", TWhere::Done, {}, 30},
      {"progress", TWhere::Progress, {{0, Jfif}}, 20000},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    Registry r;
    auto img = Image(c.sectors);
    for (auto& [sector, header] : c.headers)
      Put(img, sector, header);
    TDoomed d;
    d.Medium = std::make_unique<TMemoryMedium>(img);
    d.Scanner = std::make_unique<TScanner>(&r.reg);
    TDoomed* doomed = &d;
    switch (c.where) {
    case TWhere::FileFound:
    case TWhere::FileFoundWhileStopWaits:
      d.Scanner->OnFileFound = [doomed](TScanner&, std::unique_ptr<TMemoryStream>,
                                        const std::string&) { DestroyBoth(doomed); };
      break;
    case TWhere::Done:
      d.Scanner->OnDone = [doomed](TScanner&, bool) { DestroyBoth(doomed); };
      break;
    case TWhere::Progress:
      d.Scanner->OnProgress = [doomed](TScanner&, int32_t, int64_t, int64_t) {
        DestroyBoth(doomed);
      };
      break;
    }
    TWatchdog dog(std::chrono::seconds(20));
    d.Scanner->Start(d.Medium.get());
    if (c.where == TWhere::FileFoundWhileStopWaits) {
      while (!MessagesPending()) // the worker waits in the BMP's hand-over
        std::this_thread::yield();
      d.Scanner->Stop(); // its handler destroys the scanner within
    }
    while (!d.Gone)
      if (ProcessMessages() == 0)
        std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(ProcessMessages(), 0) << "nothing more reaches the destroyed scanner";
  }
}

namespace {
// Its check reads a byte a whole block ahead, as a check may, and never matches.
class TPeekingRecognizer : public TRecognizer {
public:
  std::string GetName() const override { return "PEEK"; }
  bool Check(TMedium& m) override {
    uint8_t b;
    ReadBytes(m, m.GetPosition(), 64 * 512, 1, &b);
    return false;
  }
};
} // namespace

TEST(Scanner, CarveTakesItsSectorsAfterChecksThatReadElsewhere) {
  TRecognizers reg;
  reg.Register(std::make_unique<TJPGRecognizer>());
  reg.Register(std::make_unique<TPeekingRecognizer>());
  auto img = Image(300);
  for (std::size_t i = 0; i < img.size(); ++i)
    img[i] = static_cast<uint8_t>(i / 512);
  Put(img, 0, Jfif);
  TMemoryMedium m(img);
  auto res = Scan(m, reg);
  ASSERT_EQ(res.Files.size(), 1u);
  EXPECT_EQ(res.Files[0].Bytes, img) << "every carved sector holds its own bytes";
}

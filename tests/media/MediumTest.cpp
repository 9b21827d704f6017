#include "ByteOrder.h"
#include "LogCapture.h"
#include "MemoryMedium.h"

#include <gtest/gtest.h>

using namespace gf;
using gf::test::TMemoryMedium;

namespace {
std::vector<uint8_t> Numbered(uint32_t sectors, uint32_t size = 512) {
  std::vector<uint8_t> b(static_cast<std::size_t>(sectors) * size);
  for (uint32_t s = 0; s < sectors; ++s)
    PutLe32(b.data() + static_cast<std::size_t>(s) * size, s);
  return b;
}
uint32_t SectorNo(const uint8_t* d) {
  return Le32(d);
}
} // namespace

TEST(Medium, BlockSizeAndLastShortBlock) {
  struct {
    uint32_t sectorSize, sectors, missAt, wantBlockSectors, wantBufferCount;
  } cases[] = {
      {512, 1000, 0, 64, 64}, {512, 1000, 960, 64, 40}, {512, 1000, 999, 64, 1},
      {2048, 100, 0, 16, 16}, {2048, 100, 90, 16, 10},  {4096, 10, 3, 8, 7},
  };
  for (auto& c : cases) {
    TMemoryMedium m(Numbered(c.sectors, c.sectorSize), c.sectorSize);
    EXPECT_EQ(m.BlockSectors(), c.wantBlockSectors);
    m.SetPosition(c.missAt);
    const uint8_t* d = m.GetData();
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(SectorNo(d), c.missAt);
    EXPECT_EQ(m.BufferStart(), c.missAt);
    EXPECT_EQ(m.BufferCount(), c.wantBufferCount) << c.sectorSize << " @" << c.missAt;
  }
}

TEST(Medium, HitsInsideTheBlockMakeNoDeviceCall) {
  TMemoryMedium m(Numbered(200));
  m.SetPosition(10);
  ASSERT_NE(m.GetData(), nullptr);
  EXPECT_EQ(m.ReadCalls, 1);
  for (uint32_t p : {70u, 11u, 73u, 10u}) { // forwards and backwards within 10..73
    m.SetPosition(p);
    const uint8_t* d = m.GetData();
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(SectorNo(d), p);
  }
  EXPECT_EQ(m.ReadCalls, 1);
  m.SetPosition(74); // leaves the block: dropped, next read loads anew
  EXPECT_FALSE(m.HasBuffer());
  ASSERT_NE(m.GetData(), nullptr);
  EXPECT_EQ(m.ReadCalls, 2);
}

TEST(Medium, PositionClampsAndEndDropsBlock) {
  TMemoryMedium m(Numbered(100));
  m.SetPosition(99);
  ASSERT_NE(m.GetData(), nullptr);
  m.SetPosition(105);
  EXPECT_EQ(m.GetPosition(), 100u);
  EXPECT_FALSE(m.HasBuffer());
  EXPECT_EQ(m.GetData(), nullptr);
  m.Next();
  EXPECT_EQ(m.GetPosition(), 100u);
}

TEST(Medium, EmptyAndUnreadableMedia) {
  struct {
    std::size_t bytes;
    uint32_t sectorSize;
  } cases[] = {{0, 512}, {4096, 0}, {65536 * 2, 65536}};
  for (auto& c : cases) {
    TMemoryMedium m(std::vector<uint8_t>(c.bytes), c.sectorSize);
    m.SetPosition(5);
    EXPECT_EQ(m.GetData(), nullptr) << c.sectorSize;
    EXPECT_EQ(m.ReadCalls, 0);
    if (m.SectorCount() == 0) {
      EXPECT_EQ(m.GetPosition(), 0u);
      m.Next();
      EXPECT_EQ(m.GetPosition(), 0u);
    }
  }
}

TEST(Medium, FailedLoadLogsAndRetriesOnNextRead) {
  test::TLogCapture log;
  TDrive drive("E:\\");
  TMemoryMedium m(Numbered(100), 512, &drive);
  m.FailSector(20);
  m.SetPosition(5); // block 5..68 holds the bad sector
  EXPECT_EQ(m.GetData(), nullptr);
  EXPECT_FALSE(m.HasBuffer());
  EXPECT_EQ(m.GetPosition(), 5u);
  EXPECT_EQ(m.SectorCount(), 100u);
  auto lines = log.Lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "MEDIUM: LoadBlocks failed for E:\\ with error 23 (Data error (cyclic "
                      "redundancy check).)");
  m.HealSector(20);
  EXPECT_NE(m.GetData(), nullptr);
  EXPECT_EQ(m.ReadCalls, 2);
}

TEST(Medium, ReinitShrinkClampsPositionAndEmptiesCache) {
  TMemoryMedium m(Numbered(100));
  m.SetPosition(80);
  ASSERT_NE(m.GetData(), nullptr);
  m.SetBytes(Numbered(50));
  m.Reinit();
  EXPECT_FALSE(m.HasBuffer());
  EXPECT_EQ(m.SectorCount(), 50u);
  EXPECT_EQ(m.GetPosition(), 50u);
  m.SetWantSectorSize(2048);
  m.SetBytes(Numbered(10, 2048));
  m.Reinit();
  EXPECT_EQ(m.BlockSectors(), 16u);
}

// Reading ahead changes how often the device is asked, never what the medium answers:
// every position gives the same bytes or the same failure, the same cached block and
// the same log lines as reading each block by itself.
TEST(Medium, ReadingAheadAnswersAsBlockByBlock) {
  struct {
    const char* what;
    std::vector<uint32_t> bad;
  } cases[] = {
      {"all readable", {}},
      {"bad in the first block", {5}},
      {"bad beyond the first block, within the read ahead", {100}},
      {"bad at the very end", {999}},
      {"two bad ones far apart", {300, 700}},
  };
  // Forwards sector by sector, as a scan goes, with jumps back and far ahead between.
  std::vector<uint32_t> walk;
  for (uint32_t p = 0; p < 1000; ++p) {
    walk.push_back(p);
    if (p % 97 == 0)
      walk.insert(walk.end(), {p / 2, p + 333, 1000, p});
  }
  struct TStep {
    uint32_t Position, Sector, Start, Count;
    bool Ok;
    bool operator==(const TStep&) const = default;
  };
  for (auto& c : cases) {
    std::vector<TStep> traces[2];
    std::vector<std::string> logs[2];
    int reads[2] = {};
    for (int ahead = 0; ahead < 2; ++ahead) {
      test::TLogCapture log;
      TMemoryMedium m(Numbered(1000));
      if (ahead)
        m.SetReadAhead(256 * 512);
      for (uint32_t b : c.bad)
        m.FailSector(b);
      for (uint32_t p : walk) {
        m.SetPosition(p);
        const uint8_t* d = m.GetData();
        traces[ahead].push_back(
            {m.GetPosition(), d ? SectorNo(d) : 0, m.BufferStart(), m.BufferCount(), d != nullptr});
      }
      logs[ahead] = log.Lines();
      reads[ahead] = m.ReadCalls;
    }
    ASSERT_EQ(traces[0].size(), traces[1].size());
    for (std::size_t i = 0; i < traces[0].size(); ++i)
      ASSERT_EQ(traces[1][i], traces[0][i])
          << c.what << ", step " << i << " at " << traces[0][i].Position;
    EXPECT_EQ(logs[1], logs[0]) << c.what;
    EXPECT_LT(reads[1], reads[0]) << c.what;
  }
}

// A run of whole blocks read ahead is one device read; the pointer to a block stays
// valid while the following blocks come from the same read.
TEST(Medium, ReadingAheadMakesFewReads) {
  TMemoryMedium m(Numbered(5000));
  m.SetReadAhead(TMedium::ReadAheadBytes);
  m.SetPosition(0);
  uint32_t run = 0;
  const uint8_t* first = m.GetData(run);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(run, 64u);
  for (uint32_t p = 0; p < 5000; ++p) {
    m.SetPosition(p);
    ASSERT_NE(m.GetData(), nullptr);
    ASSERT_EQ(SectorNo(m.GetData()), p);
  }
  EXPECT_EQ(m.ReadCalls, 3) << "5000 sectors in reads of 2048";
  m.SetPosition(5000); // the end: the next scan reads the medium afresh
  m.SetPosition(0);
  ASSERT_NE(m.GetData(), nullptr);
  EXPECT_EQ(m.ReadCalls, 4);
}

// A block is taken from what was read ahead only when all of it lies inside: the one
// that ends at the window's last sector is, the one that would end a sector beyond it
// is read anew, never handed out with a sector that was not read.
TEST(Medium, ReadAheadWindowEdge) {
  constexpr uint32_t window = 256, block = 64, last = window - block; // the last block's start
  struct {
    uint32_t position;
    bool fromWindow;
  } cases[] = {
      {last - 1, true}, {last, true}, {last + 1, false}, {window - 1, false}, {window, false},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.position);
    TMemoryMedium m(Numbered(5000));
    m.SetReadAhead(window * 512);
    m.SetPosition(0);
    ASSERT_NE(m.GetData(), nullptr);
    ASSERT_EQ(m.ReadCalls, 1);
    m.SetPosition(c.position);
    uint32_t run = 0;
    const uint8_t* d = m.GetData(run);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(m.ReadCalls, c.fromWindow ? 1 : 2);
    ASSERT_EQ(run, block);
    for (uint32_t i = 0; i < run; ++i)
      ASSERT_EQ(SectorNo(d + std::size_t{i} * 512), c.position + i) << "sector " << i;
  }
}

namespace {
// Records each read it is asked for, and how.
class TRecordingMedium : public TMemoryMedium {
public:
  using TMemoryMedium::TMemoryMedium;
  struct TRead {
    uint32_t Start, Count;
    bool Ahead, Rereading;
    bool operator==(const TRead&) const = default;
  };
  std::vector<TRead> Reads;

protected:
  uint32_t ReadBlocks(uint32_t Start, uint32_t Count, uint8_t* Buffer) override {
    Reads.push_back({Start, Count, ReadingAhead(), RereadingFailure()});
    return TMemoryMedium::ReadBlocks(Start, Count, Buffer);
  }
};
} // namespace

// The blocks read by themselves over sectors that a failed read ahead covered are told
// apart, so that a reader can take them past a cache that keeps the failure; blocks
// that only lie near such sectors, and reads ahead, are not.
TEST(Medium, BlocksOverAFailedReadAheadAreToldApart) {
  using TRead = TRecordingMedium::TRead;
  TRecordingMedium m(Numbered(5000));
  m.SetReadAhead(256 * 512);
  m.FailSector(400);
  m.SetPosition(0);
  while (m.GetData() != nullptr) // as a scan goes, up to the block of the bad sector
    m.Next();
  EXPECT_EQ(m.GetPosition(), 384u);
  for (uint32_t p : {250u, 512u, 100u, 200u}) {
    m.SetPosition(p);
    ASSERT_NE(m.GetData(), nullptr) << p;
  }
  const std::vector<TRead> want = {
      {0, 256, true, false},   {256, 256, true, false}, // the read ahead that fails
      {256, 64, false, true},  {320, 64, false, true},
      {384, 64, false, true},  {250, 64, false, true}, // reaches into the failed stretch
      {512, 256, true, false},                         // just beyond it
      {100, 156, true, false},                         // up to its start
      {200, 64, false, true},                          // too near to read ahead, reaches in
  };
  EXPECT_EQ(m.Reads, want);
}

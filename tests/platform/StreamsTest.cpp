#include "Streams.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <unistd.h>

using namespace gf;

TEST(MemoryStream, PresetSizeThenCutToPosition) {
  TMemoryStream s;
  s.SetSize(2097152);
  EXPECT_EQ(s.GetPosition(), 0);
  EXPECT_EQ(s.GetSize(), 2097152);
  s.WriteBuffer("abcdef", 6);
  EXPECT_EQ(s.GetPosition(), 6);
  s.SetSize(s.GetPosition());
  EXPECT_EQ(s.GetSize(), 6);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(s.Memory()), 6), "abcdef");
}

TEST(MemoryStream, WriteExtendsAndShrinkClampsPosition) {
  TMemoryStream s;
  s.WriteBuffer("0123456789", 10);
  s.SetSize(4);
  EXPECT_EQ(s.GetPosition(), 4);
  s.SetPosition(8); // past the end: the gap reads as zeros after a write
  s.WriteBuffer("x", 1);
  EXPECT_EQ(s.GetSize(), 9);
  EXPECT_EQ(s.Memory()[5], 0);
  s.SetPosition(0);
  char buf[16];
  EXPECT_EQ(s.Read(buf, sizeof buf), 9u);
  EXPECT_THROW(s.ReadBuffer(buf, 1), EStreamError);
}

TEST(MemoryStream, GrowingAfterAShrinkReadsAsZeros) {
  // Capacity after the first write is 10 bytes; the shrink keeps "456789" in it.
  struct {
    const char* what;
    int64_t grow;
  } cases[] = {{"within the capacity", 8}, {"to the capacity", 10}, {"past the capacity", 4096}};
  for (auto& c : cases) {
    TMemoryStream s;
    s.WriteBuffer("0123456789", 10);
    s.SetSize(4);
    s.SetSize(c.grow);
    ASSERT_EQ(s.GetSize(), c.grow) << c.what;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(s.Memory()), 4), "0123") << c.what;
    for (int64_t i = 4; i < c.grow; ++i)
      ASSERT_EQ(s.Memory()[i], 0) << c.what << " at " << i;
  }
}

// A buffer that comes back from an earlier stream still holds that stream's bytes;
// none of them may show through in the next one, whichever way it grows.
TEST(MemoryStream, ABufferTakenUpAgainShowsNoneOfItsOldBytes) {
  struct {
    const char* what;
    void (*use)(TMemoryStream&);
    std::string want;
  } cases[] = {
      {"a size set ahead", [](TMemoryStream& s) { s.SetSize(8); }, std::string(8, '\0')},
      {"a write past a seek",
       [](TMemoryStream& s) {
         s.SetPosition(5);
         s.WriteBuffer("xy", 2);
       },
       std::string(5, '\0') + "xy"},
      {"a size set ahead, then written in part",
       [](TMemoryStream& s) {
         s.SetSize(6);
         s.WriteBuffer("ab", 2);
       },
       "ab" + std::string(4, '\0')},
      {"growing after a cut",
       [](TMemoryStream& s) {
         s.WriteBuffer("abcd", 4);
         s.SetSize(1);
         s.SetSize(4);
       },
       "a" + std::string(3, '\0')},
  };
  for (auto& c : cases) {
    auto pool = std::make_shared<TBufferPool>();
    pool->Open();
    {
      TMemoryStream old(pool);
      old.WriteBuffer("OLDBYTES-OLDBYTES", 17);
    }
    ASSERT_EQ(pool->IdleBytes(), 17u) << c.what;
    TMemoryStream s(pool);
    c.use(s);
    ASSERT_EQ(s.GetSize(), static_cast<int64_t>(c.want.size())) << c.what;
    std::string read(c.want.size(), '?');
    s.SetPosition(0);
    s.ReadBuffer(read.data(), read.size());
    EXPECT_EQ(read, c.want) << c.what << " (Read)";
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(s.Memory()), c.want.size()), c.want)
        << c.what << " (Memory)";
    EXPECT_EQ(pool->IdleBytes(), 0u) << c.what << ": the buffer was not taken up";
  }
}

TEST(MemoryStream, ThePoolKeepsTheLargestBufferWhileOpen) {
  auto pool = std::make_shared<TBufferPool>();
  auto fill = [&](std::size_t n) {
    TMemoryStream s(pool);
    s.SetSize(static_cast<int64_t>(n));
    s.Memory();
  };
  fill(100); // not open yet: freed
  EXPECT_EQ(pool->IdleBytes(), 0u);
  pool->Open();
  fill(100);
  fill(4096); // grows the idle one
  EXPECT_EQ(pool->IdleBytes(), 4096u);
  fill(10); // takes the large one up and gives it back
  EXPECT_EQ(pool->IdleBytes(), 4096u);
  {
    TMemoryStream a(pool), b(pool);
    a.WriteBuffer("a", 1); // takes the idle buffer
    b.WriteBuffer("b", 1); // a new one of its own
    EXPECT_EQ(pool->IdleBytes(), 0u);
  } // b's smaller buffer is freed, a's kept
  EXPECT_EQ(pool->IdleBytes(), 4096u);
  fill(TBufferPool::MaxIdleBytes + 1); // too large to keep idle
  EXPECT_EQ(pool->IdleBytes(), 0u);
  fill(64);
  pool->Close();
  EXPECT_EQ(pool->IdleBytes(), 0u);
  TMemoryStream late(pool); // a stream outliving the scan gives its buffer up
  late.WriteBuffer("x", 1);
  late.Clear();
  EXPECT_EQ(pool->IdleBytes(), 0u);
}

// Sector by sector, as a carve writes: the capacity at most doubles the size, so the
// bytes are moved only a few times in all, and they stay right across every move.
TEST(MemoryStream, GrowsByDoublingAndKeepsItsBytes) {
  TMemoryStream s;
  std::vector<uint8_t> sector(512);
  for (int i = 0; i < 4096; ++i) {
    std::fill(sector.begin(), sector.end(), static_cast<uint8_t>(i * 7));
    s.WriteBuffer(sector.data(), sector.size());
    ASSERT_LE(s.Capacity(), std::size_t{2} * static_cast<std::size_t>(s.GetSize()));
  }
  ASSERT_EQ(s.GetSize(), 4096 * 512);
  for (int i = 0; i < 4096; ++i)
    ASSERT_EQ(s.Memory()[i * 512 + 511], static_cast<uint8_t>(i * 7)) << i;
}

// A stream that gives at most 3 bytes a read, as a pipe may: a whole read goes on
// until the bytes are in, and fails only where the stream ends first.
TEST(Stream, ReadsOnOverShortReads) {
  class TDribble : public TMemoryStream {
  public:
    std::size_t Read(void* Buffer, std::size_t Count) override {
      return TMemoryStream::Read(Buffer, std::min<std::size_t>(Count, 3));
    }
  };
  struct {
    std::size_t want;
    std::size_t got; // by ReadFully
    bool whole;      // ReadBuffer succeeds
  } cases[] = {{0, 0, true}, {2, 2, true}, {10, 10, true}, {11, 10, false}};
  for (auto& c : cases) {
    TDribble s;
    s.WriteBuffer("0123456789", 10);
    char buf[16] = {};
    s.SetPosition(0);
    EXPECT_EQ(s.ReadFully(buf, c.want), c.got) << c.want;
    EXPECT_EQ(std::string(buf, c.got), std::string("0123456789", c.got)) << c.want;
    s.SetPosition(0);
    if (c.whole)
      EXPECT_NO_THROW(s.ReadBuffer(buf, c.want)) << c.want;
    else
      EXPECT_THROW(s.ReadBuffer(buf, c.want), EStreamError) << c.want;
  }
}

TEST(FileStream, ExclusiveCreateNeverOverwrites) {
  auto dir = std::filesystem::temp_directory_path() / ("gf_streams_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  std::string name = (dir / "a.bin").string();
  {
    TFileStream f(name, TFileMode::CreateExclusive);
    f.WriteBuffer("keep", 4);
  }
  EXPECT_THROW(TFileStream(name, TFileMode::CreateExclusive), EFileStreamError);
  TMemoryStream m;
  m.LoadFromFile(name);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(m.Memory()), 4), "keep");
  EXPECT_THROW(TFileStream((dir / "missing").string(), TFileMode::OpenRead), EFileStreamError);
  std::filesystem::remove_all(dir);
}

TEST(FileStream, OpenForWritingKeepsTheFile) {
  auto dir = std::filesystem::temp_directory_path() / ("gf_streams_w_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  std::string name = (dir / "a.bin").string();
  {
    TFileStream f(name, TFileMode::CreateReplace);
    f.WriteBuffer("abcdef", 6);
  }
  {
    TFileStream f(name, TFileMode::OpenWrite);
    EXPECT_EQ(f.GetSize(), 6);
    f.WriteBuffer("XY", 2);
    char c;
    EXPECT_THROW(f.Read(&c, 1), EFileStreamError); // write only
  }
  {
    TFileStream f(name, TFileMode::OpenReadWrite);
    f.Seek(0, TSeekOrigin::End);
    f.WriteBuffer("g", 1);
    f.SetPosition(0);
    char buf[8] = {};
    EXPECT_EQ(f.Read(buf, sizeof buf), 7u);
    EXPECT_EQ(std::string(buf, 7), "XYcdefg");
  }
  EXPECT_THROW(TFileStream((dir / "missing").string(), TFileMode::OpenWrite), EFileStreamError);
  EXPECT_THROW(TFileStream((dir / "missing").string(), TFileMode::OpenReadWrite), EFileStreamError);
  std::filesystem::remove_all(dir);
}

// A rename that would replace anything is refused, in one step or through the fallback
// of file systems without the kernel's flag (a hard link, or a claimed name).
TEST(RenameNoReplace, NeverReplacesWhatIsThere) {
  namespace fs = std::filesystem;
  auto dir = fs::temp_directory_path() / ("gf_rename_" + std::to_string(getpid()));
  enum TWhat { Free, File, EmptyFolder, DanglingLink };
  struct TCase {
    bool Fallback;
    bool Folder; // what is renamed
    TWhat Target;
    int Result;
  };
  const TCase cases[] = {
      {false, false, Free, 0},
      {false, false, File, EEXIST},
      {false, false, EmptyFolder, EEXIST},
      {false, false, DanglingLink, EEXIST},
      {false, true, Free, 0},
      {false, true, EmptyFolder, EEXIST},
      {true, false, Free, 0},
      {true, false, File, EEXIST},
      {true, false, EmptyFolder, EEXIST},
      {true, false, DanglingLink, EEXIST},
      {true, true, Free, 0},
      {true, true, File, EEXIST},
      {true, true, EmptyFolder, EEXIST},
      {true, true, DanglingLink, EEXIST},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.Fallback << c.Folder << c.Target);
    fs::remove_all(dir);
    fs::create_directories(dir);
    std::string from = (dir / "from").string(), to = (dir / "to").string();
    if (c.Folder)
      fs::create_directory(from);
    else
      TFileStream(from, TFileMode::CreateExclusive).WriteBuffer("new", 3);
    if (c.Target == File)
      TFileStream(to, TFileMode::CreateExclusive).WriteBuffer("old", 3);
    else if (c.Target == EmptyFolder)
      fs::create_directory(to);
    else if (c.Target == DanglingLink)
      fs::create_symlink(dir / "nowhere", to);
    int r = c.Fallback ? RenameNoReplaceFallback(from, to) : RenameNoReplace(from, to);
    EXPECT_EQ(r, c.Result) << std::strerror(r);
    EXPECT_EQ(fs::exists(from), r != 0);
    if (r == 0) {
      EXPECT_EQ(fs::is_directory(to), c.Folder);
    } else {
      EXPECT_EQ(fs::is_symlink(to), c.Target == DanglingLink);
      EXPECT_EQ(fs::is_directory(to), c.Target == EmptyFolder);
      if (c.Target == File) {
        TMemoryStream m;
        m.LoadFromFile(to);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(m.Memory()), 3), "old");
      }
    }
    EXPECT_FALSE(fs::exists(dir / "nowhere"));
  }
  fs::remove_all(dir);
}

TEST(FileStream, CloseReportsAndIsFinal) {
  auto dir = std::filesystem::temp_directory_path() / ("gf_close_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  TFileStream f((dir / "a.bin").string(), TFileMode::CreateExclusive);
  f.WriteBuffer("abc", 3);
  EXPECT_NO_THROW(f.Close());
  EXPECT_EQ(f.Handle(), -1);
  EXPECT_NO_THROW(f.Close()); // nothing left to close
  EXPECT_EQ(std::filesystem::file_size(dir / "a.bin"), 3u);
  std::filesystem::remove_all(dir);
}

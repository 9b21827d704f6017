// Real block devices: loop devices attached read-only over files made here, read
// through an image-file drive (the device named on the command line) and through the
// drive letter the Linux backend gives them. They need root and loop support; where
// either is missing, the tests say so and skip.
#include "BlockDevices.h"
#include "ByteOrder.h"
#include "Drives.h"
#include "LinuxDrives.h"
#include "LoopDevice.h"
#include "Streams.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <optional>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace gf;
namespace fs = std::filesystem;

namespace {

struct TTempDir {
  fs::path Path;
  TTempDir() {
    char tmpl[] = "/tmp/gf-blockdev-XXXXXX";
    Path = mkdtemp(tmpl);
  }
  ~TTempDir() {
    std::error_code ec;
    fs::remove_all(Path, ec);
  }
};

// A file whose first Numbered 512-byte sectors each begin with their number, grown
// sparse to Size bytes; empty, with Why set, when the file system refuses that size.
std::string MakeImage(const fs::path& Path, uint32_t Numbered, uint64_t Size, std::string& Why) {
  std::vector<uint8_t> b(std::size_t{Numbered} * 512, 0xA5);
  for (uint32_t s = 0; s < Numbered; ++s)
    PutLe32(b.data() + std::size_t{s} * 512, s);
  std::ofstream(Path, std::ios::binary)
      .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
  if (::truncate(Path.c_str(), static_cast<off_t>(Size)) != 0) {
    Why = "the file system under " + Path.parent_path().string() + " refuses a sparse file of " +
          std::to_string(Size) + " bytes: " + std::strerror(errno);
    return {};
  }
  return Path.string();
}

// The drive of the letter that the backend gave the device at Path, or null.
TDrive* LetterDrive(TLinuxDrives& Platform, TDriveManager& Manager, const std::string& Path) {
  for (int i = 0; i < Manager.Count(); ++i) {
    TDrive* d = Manager.Drives(i);
    if (d->Kind() != dkImageFile && Platform.DevicePath(d->Root()[0]) == Path)
      return d;
  }
  return nullptr;
}

// A file served through FUSE by failing_fuse.py, numbered by 512-byte sectors, whose
// reads fail where they touch one stretch of bytes. Ok() is false, and Why() says what
// is missing, where the machine has no FUSE, no root or no fusepy.
class TFailingFile {
public:
  TFailingFile(const fs::path& Dir, uint64_t Size, uint64_t BadFrom, uint64_t BadLength) {
    if (::geteuid() != 0) {
      FWhy = "a failing file under a loop device needs root (FUSE mount and losetup)";
      return;
    }
    if (::access("/dev/fuse", R_OK | W_OK) != 0) {
      FWhy = std::string("/dev/fuse cannot be used: ") + std::strerror(errno);
      return;
    }
    if (std::system("/usr/bin/python3 -c 'import fusepy' >/dev/null 2>&1") != 0) {
      FWhy = "/usr/bin/python3 cannot import fusepy (Debian package python3-fusepy)";
      return;
    }
    FMount = Dir / "mnt";
    fs::create_directory(FMount);
    const std::string log = (Dir / "fuse.log").string();
    const std::string args[] = {std::to_string(Size), std::to_string(BadFrom),
                                std::to_string(BadLength)};
    FPid = ::fork();
    if (FPid == 0) {
      int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (fd >= 0) {
        ::dup2(fd, 1);
        ::dup2(fd, 2);
      }
      ::execl("/usr/bin/python3", "python3", GF_FAILING_FUSE, FMount.c_str(), args[0].c_str(),
              args[1].c_str(), args[2].c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    if (FPid < 0) {
      FWhy = std::string("fork: ") + std::strerror(errno);
      return;
    }
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (;;) {
      struct stat st {};
      if (::stat(Path().c_str(), &st) == 0 && static_cast<uint64_t>(st.st_size) == Size)
        return;
      int status = 0;
      if (::waitpid(FPid, &status, WNOHANG) == FPid) {
        FPid = -1;
        std::ifstream in(log);
        std::string said((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        FWhy = "failing_fuse.py ended before it served the file: " + said;
        return;
      }
      if (std::chrono::steady_clock::now() > until) {
        Stop();
        FWhy = "failing_fuse.py did not serve the file within 20 s";
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  ~TFailingFile() { Stop(); }
  TFailingFile(const TFailingFile&) = delete;
  TFailingFile& operator=(const TFailingFile&) = delete;

  bool Ok() const { return FPid > 0; }
  const std::string& Why() const { return FWhy; }
  std::string Path() const { return (FMount / "disk.img").string(); }

private:
  // Unmounting ends the server; a server that does not end is told to.
  void Stop() {
    if (FPid <= 0)
      return;
    if (::umount2(FMount.c_str(), 0) != 0)
      ::umount2(FMount.c_str(), MNT_DETACH);
    int status = 0;
    for (int i = 0; i < 250 && ::waitpid(FPid, &status, WNOHANG) == 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (::waitpid(FPid, &status, WNOHANG) == 0) {
      ::kill(FPid, SIGTERM);
      ::waitpid(FPid, &status, 0);
    }
    FPid = -1;
  }

  fs::path FMount;
  pid_t FPid = -1;
  std::string FWhy;
};

// Where a sector-by-sector walk from sector 0 first finds no data, checking that every
// sector before it holds its own bytes (its first 512-byte sector's number).
uint32_t WalkToFirstFailure(TMedium& M) {
  M.SetPosition(0);
  const uint32_t per = M.SectorSize() / 512;
  for (const uint8_t* d; (d = M.GetData()) != nullptr; M.Next()) {
    const uint32_t p = M.GetPosition();
    EXPECT_EQ(Le32(d), p * per) << "sector " << p;
    if (Le32(d) != p * per)
      return p;
  }
  return M.GetPosition();
}

} // namespace

// A block device is read in its own logical sectors whichever way it is named, with its
// whole size, also where that is more than the sectors that can be numbered.
TEST(BlockDevice, ReadInItsOwnSectorsUnderBothNames) {
  struct {
    uint32_t sectorSize;
    uint64_t bytes;
    bool truncated;
  } cases[] = {
      {512, 4 << 20, false},
      {4096, 4 << 20, false},
      {4096, uint64_t{8} << 40, false}, // 2^31 sectors of 4 KiB
      {512, uint64_t{5} << 40, true},   // 10 * 2^31 sectors of 512 bytes
  };
  for (auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.sectorSize << " x " << c.bytes / c.sectorSize);
    TTempDir dir;
    std::string why;
    std::string image = MakeImage(dir.Path / "disk.img", 128, c.bytes, why);
    if (image.empty())
      GTEST_SKIP() << why;
    test::TLoopDevice loop(image, "--sector-size " + std::to_string(c.sectorSize));
    if (!loop.Ok())
      GTEST_SKIP() << loop.Why();
    TLinuxDrives platform;
    TDriveManager m(platform);
    m.Refresh();
    TDrive* letter = LetterDrive(platform, m, loop.Path());
    TDrive* file = m.AddImageFile(loop.Path());
    ASSERT_NE(letter, nullptr) << loop.Path() << " has no drive letter";
    ASSERT_NE(file, nullptr);
    for (TDrive* d : {file, letter}) {
      SCOPED_TRACE(d->Root());
      TMedium* medium = d->Medium();
      ASSERT_NE(medium, nullptr);
      EXPECT_EQ(medium->SectorSize(), c.sectorSize);
      EXPECT_EQ(medium->DeviceSectors(), c.bytes / c.sectorSize);
      EXPECT_EQ(medium->DeviceBytes(), c.bytes);
      EXPECT_EQ(medium->Truncated(), c.truncated);
      EXPECT_EQ(medium->SectorCount(), c.truncated ? UINT32_MAX : c.bytes / c.sectorSize);
      medium->SetPosition(3);
      const uint8_t* d3 = medium->GetData();
      ASSERT_NE(d3, nullptr);
      EXPECT_EQ(Le32(d3), 3 * c.sectorSize / 512) << "sector 3 starts at byte " << 3 * c.sectorSize;
      medium->SetPosition(medium->SectorCount() - 1);
      EXPECT_NE(medium->GetData(), nullptr) << "the last sector that can be numbered reads";
    }
  }
}

// Reads past the page cache give the device's bytes into any buffer, in whole sectors,
// short at its end; a file that is no block device has none.
TEST(BlockDevice, UncachedReads) {
  TTempDir dir;
  std::string why;
  std::string image = MakeImage(dir.Path / "disk.img", 256, 256 * 512, why);
  ASSERT_FALSE(image.empty()) << why;
  {
    TFileStream f(image, TFileMode::OpenReadMedium);
    TUncachedReader file(f.Handle());
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(file.Error(), ENOTBLK);
  }
  test::TLoopDevice loop(image, "--sector-size 4096");
  if (!loop.Ok())
    GTEST_SKIP() << loop.Why();
  TFileStream device(loop.Path(), TFileMode::OpenReadMedium);
  TUncachedReader r(device.Handle());
  ASSERT_TRUE(r.IsOpen()) << std::strerror(r.Error());
  EXPECT_EQ(r.SectorSize(), 4096u);
  std::vector<uint8_t> buffer(3 * 4096 + 1);
  uint8_t* unaligned = buffer.data() + 1;
  struct {
    uint64_t offset;
    std::size_t count;
    ssize_t want;
  } cases[] = {
      {3 * 4096, 2 * 4096, 2 * 4096}, // sectors 3 and 4
      {31 * 4096, 3 * 4096, 4096},    // the last sector, and the end
      {32 * 4096, 4096, 0},           // beyond the end
      {512, 4096, -1},                // not on a sector
      {4096, 512, -1},                // not a whole sector
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.offset);
    errno = 0;
    ssize_t n = r.ReadAt(c.offset, unaligned, c.count);
    ASSERT_EQ(n, c.want);
    if (n < 0) {
      EXPECT_EQ(errno, EINVAL);
    }
    for (ssize_t i = 0; i < n; i += 512)
      EXPECT_EQ(Le32(unaligned + i), (c.offset + static_cast<uint64_t>(i)) / 512);
  }
}

// A read ahead that fails on a block device is followed by reads of its blocks one at a
// time, and only the block that holds the bad sector fails: the failed read must not
// make its good neighbours fail too (through the kernel's page cache, which keeps the
// failure of the whole read and with its own read-ahead of 128 KiB spreads it). An
// image file reads as ever.
TEST(BlockDevice, AFailedReadAheadFailsOnlyTheBlockThatHoldsTheBadSector) {
  // A bad 512-byte sector 80 KiB and 300 KiB into the 1 MiB read ahead that fails: the
  // first within the kernel's read-ahead of the stretch's first block, the second beyond.
  for (uint64_t badFrom :
       {(uint64_t{20} << 20) + (80 << 10) + 1536, (uint64_t{20} << 20) + (300 << 10) + 1536}) {
    SCOPED_TRACE(testing::Message() << "bad bytes from " << badFrom);
    TTempDir dir;
    const uint64_t size = 64 << 20;
    TFailingFile file(dir.Path, size, badFrom, 512);
    if (!file.Ok())
      GTEST_SKIP() << file.Why();
    struct {
      const char* what;
      uint32_t sectorSize; // 0: the file itself as an image
      bool letter;
    } cases[] = {
        {"4096-byte sectors, named by its path", 4096, false},
        {"4096-byte sectors, through its drive letter", 4096, true},
        {"512-byte sectors, named by its path", 512, false},
        {"512-byte sectors, through its drive letter", 512, true},
        {"the file itself as an image", 0, false},
    };
    for (auto& c : cases) {
      SCOPED_TRACE(c.what);
      std::optional<test::TLoopDevice> loop;
      std::string path = file.Path();
      if (c.sectorSize) {
        loop.emplace(file.Path(), "--sector-size " + std::to_string(c.sectorSize));
        if (!loop->Ok())
          GTEST_SKIP() << loop->Why();
        path = loop->Path();
        // The kernel's default read-ahead, whatever this device was given.
        std::ofstream("/sys/block/" + fs::path(path).filename().string() + "/queue/read_ahead_kb")
            << 128;
      }
      TLinuxDrives platform;
      TDriveManager m(platform);
      m.Refresh();
      TDrive* d = c.letter ? LetterDrive(platform, m, path) : m.AddImageFile(path);
      ASSERT_NE(d, nullptr);
      TMedium* medium = d->Medium();
      ASSERT_NE(medium, nullptr);
      const uint32_t sectorSize = c.sectorSize ? c.sectorSize : 512;
      ASSERT_EQ(medium->SectorSize(), sectorSize);
      const uint32_t bad = static_cast<uint32_t>(badFrom / sectorSize);
      const uint32_t block = medium->BlockSectors();
      EXPECT_EQ(WalkToFirstFailure(*medium), bad / block * block)
          << "the bad sector is " << bad << ", in the block of " << block << " sectors from "
          << bad / block * block;
    }
  }
}

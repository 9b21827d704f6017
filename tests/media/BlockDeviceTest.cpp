// Real block devices: loop devices attached read-only over files made here, read
// through an image-file drive (the device named on the command line) and through the
// drive letter the Linux backend gives them. They need root and loop support; where
// either is missing, the tests say so and skip.
#include "ByteOrder.h"
#include "Drives.h"
#include "LinuxDrives.h"
#include "LoopDevice.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
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

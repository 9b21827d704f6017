// Whether a folder's file system reaches a scanned medium, over a small fake sysfs with
// disks, partitions, a mapped device and loop devices over files of the test's own.
#include "BlockDevices.h"
#include "FakeSysfs.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace gf;
using namespace gf::test;
namespace fs = std::filesystem;

TEST(BlockDevices, DeviceNumbersParseOnlyMajorColonMinor) {
  EXPECT_EQ(TDeviceNumber::Parse("8:17"), (TDeviceNumber{8, 17}));
  EXPECT_EQ(TDeviceNumber::Parse("259:0"), (TDeviceNumber{259, 0}));
  EXPECT_EQ((TDeviceNumber{7, 3}).Text(), "7:3");
  for (const char* bad : {"", "8", "8:", ":1", "8:1:2", "a:b", "8:1x", " 8:1", "99999999999:1"})
    EXPECT_FALSE(TDeviceNumber::Parse(bad)) << bad;
}

namespace {

// A disk sda with two partitions, a disk sdb, a mapped device over sda2, loop devices
// over two image files (one of them partitioned), and the test folder's own device
// standing for partition sdc1.
class BlockDevicesTest : public ::testing::Test {
protected:
  void SetUp() override {
    Image = (Tree.Root / "card.img").string();
    Other = (Tree.Root / "other.img").string();
    std::ofstream(Image) << "card";
    std::ofstream(Other) << "other";
    fs::path sda = Tree.Disk("sda", Tree.Fake(0), 10000);
    Sda1 = Tree.Fake(1);
    Tree.Partition(sda, "sda1", Sda1, 2048, 4000);
    fs::path sda2 = Tree.Partition(sda, "sda2", Tree.Fake(2), 6048, 3952);
    Tree.Disk("sdb", Tree.Fake(16), 5000);
    fs::path dm = Tree.Disk("dm-0", Tree.Fake(32), 3000);
    TFakeSysfs::Slave(dm, sda2);
    fs::path loop0 = Tree.Disk("loop0", Tree.Fake(48), 8);
    TFakeSysfs::Backing(loop0, Image);
    Tree.Partition(loop0, "loop0p1", Tree.Fake(49), 2, 6);
    TFakeSysfs::Backing(Tree.Disk("loop1", Tree.Fake(50), 8), Other);
    TFakeSysfs::Backing(Tree.Disk("loop2", Tree.Fake(51), 8), Image);
    // The image files lie in the test's folder, on "sdc1".
    fs::path sdc = Tree.Disk("sdc", Tree.Fake(64), 90000);
    Tree.Link(TFakeSysfs::DeviceOf(Image), Tree.Partition(sdc, "sdc1", Tree.Fake(65), 64, 80000));
  }

  static TScanSource Device(TDeviceNumber N) {
    TScanSource s;
    s.Device = N;
    return s;
  }

  TFakeSysfs Tree;
  std::string Image, Other;
  TDeviceNumber Sda1;
};

} // namespace

TEST_F(BlockDevicesTest, AFolderReachesWhatItsWritesCanLandOn) {
  const TScanSource image = TScanSource::OfPath(Image);
  ASSERT_TRUE(image.IsFile);
  struct TCase {
    const char* What;
    TDeviceNumber Folder;
    TScanSource Scanned;
    bool Reaches;
  };
  const TCase cases[] = {
      {"the scanned partition itself", Sda1, Device(Sda1), true},
      {"a partition of the scanned disk", Sda1, Device(Tree.Fake(0)), true},
      {"the disk of the scanned partition", Tree.Fake(0), Device(Sda1), true},
      {"another partition of the same disk", Sda1, Device(Tree.Fake(2)), false},
      {"another disk", Tree.Fake(16), Device(Tree.Fake(0)), false},
      {"a mapped device over the scanned partition", Tree.Fake(32), Device(Tree.Fake(2)), true},
      {"a mapped device over another partition", Tree.Fake(32), Device(Sda1), false},
      {"a slave of the scanned mapped device", Tree.Fake(2), Device(Tree.Fake(32)), true},
      {"a loop device over the scanned image", Tree.Fake(48), image, true},
      {"a partition of a loop device over the scanned image", Tree.Fake(49), image, true},
      {"a loop device over another file", Tree.Fake(50), image, false},
      {"a loop device over the scanned loop device's file", Tree.Fake(51), Device(Tree.Fake(48)),
       true},
      {"a loop device whose file lies on the scanned disk", Tree.Fake(50), Device(Tree.Fake(64)),
       true},
      {"the scanned image's own file system", TFakeSysfs::DeviceOf(Image), image, false},
      {"a device sysfs does not know (tmpfs)", {0, 1048575}, Device(Tree.Fake(0)), false},
      {"the same device sysfs does not know", Tree.Fake(200), Device(Tree.Fake(200)), true},
      {"nothing known of the scanned medium", Sda1, TScanSource{}, false},
  };
  for (const TCase& c : cases)
    EXPECT_EQ(DeviceOverlaps(c.Folder, c.Scanned, Tree.Sys()), c.Reaches) << c.What;
}

TEST_F(BlockDevicesTest, AFolderIsLookedAtWhereItIs) {
  std::string why;
  EXPECT_EQ(FolderOverlaps(Tree.Root.string(), Device(Tree.Fake(64)), Tree.Sys(), &why),
            TOverlap::Yes);
  EXPECT_EQ(FolderOverlaps(Tree.Root.string(), Device(Tree.Fake(16)), Tree.Sys(), &why),
            TOverlap::No);
  EXPECT_EQ(FolderOverlaps((Tree.Root / "gone").string(), Device(Tree.Fake(64)), Tree.Sys(), &why),
            TOverlap::Unknown);
  EXPECT_EQ(why, "No such file or directory");
  EXPECT_EQ(FolderOverlaps((Tree.Root / "gone").string(), TScanSource{}, Tree.Sys()), TOverlap::No)
      << "nothing to compare with";
}

TEST(BlockDevices, ScanSourceOfAPath) {
  TFakeSysfs tree;
  const std::string file = (tree.Root / "card.img").string();
  std::ofstream(file) << "card";
  struct stat st {};
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  TScanSource s = TScanSource::OfPath(file);
  EXPECT_TRUE(s.IsFile);
  EXPECT_FALSE(s.Device);
  EXPECT_EQ(s.FileDevice, st.st_dev);
  EXPECT_EQ(s.FileInode, st.st_ino);
  for (const char* none : {"/dev/null", "/no/such/file", "/tmp"}) {
    TScanSource n = TScanSource::OfPath(none);
    EXPECT_FALSE(n.IsFile || n.Device) << none;
  }
}

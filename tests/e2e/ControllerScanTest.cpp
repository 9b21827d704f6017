// The whole engine driven through the controller, as the user interface drives it:
// a FAT card with pictures, some deleted, served as an image-file drive on the Linux
// platform, as a real block device (the image attached as a loop device) through its
// drive letter, and by the simulated platform as a 9x disk and as an NT removable drive.
#include "Controller.h"
#include "Drives.h"
#include "FatCard.h"
#include "LinuxDrives.h"
#include "LoopDevice.h"
#include "Registry.h"
#include "SimulatedDrives.h"

#include <gtest/gtest.h>

#include <thread>

using namespace gf;

namespace {

struct TResult {
  std::vector<std::vector<uint8_t>> Jpegs;
  int DoneEvents = 0;
  bool Completed = false;
};

TResult ScanThroughController(TDrivePlatform& Platform, const std::string& ImagePath,
                              const std::string& Root, const std::string& SettingsFile) {
  TRegistry settings(SettingsFile);
  TGlimmerfold c(Platform, settings);
  TResult r;
  c.OnFileFound = [&](TGlimmerfold&, const std::string& name, std::unique_ptr<TMemoryStream> s) {
    if (name == "JPG")
      r.Jpegs.emplace_back(s->Memory(), s->Memory() + s->GetSize());
  };
  c.OnScanDone = [&](TGlimmerfold&, bool completed, bool, const std::string&) {
    ++r.DoneEvents;
    r.Completed = completed;
  };
  c.RefreshDrives();
  std::string root = Root.empty() ? c.AddImageFile(ImagePath) : Root;
  EXPECT_NE(c.FindDriveInfo(root), nullptr) << root;
  c.StartScan(root);
  EXPECT_TRUE(c.IsScanning());
  while (c.IsScanning())
    if (ProcessMessages() == 0)
      std::this_thread::yield();
  return r;
}

class ControllerScan : public ::testing::Test {
protected:
  void SetUp() override {
    if (std::string missing = test::MissingCardTools(); !missing.empty())
      GTEST_SKIP() << missing;
    Card = std::make_unique<test::TFatCard>(2048);
    ASSERT_TRUE(Card->Ok());
    const std::size_t sizes[] = {3000, 800, 15000, 4096, 7000, 26000};
    for (int i = 0; i < 6; ++i)
      ASSERT_TRUE(Card->Put("PIC" + std::to_string(i) + ".JPG", test::Jpeg(i, sizes[i])));
    Card->Layout();
    for (int i : {1, 4})
      ASSERT_TRUE(Card->Delete("PIC" + std::to_string(i) + ".JPG"));
  }

  void ExpectEveryPicture(const TResult& r) {
    EXPECT_EQ(r.DoneEvents, 1);
    EXPECT_TRUE(r.Completed);
    ASSERT_EQ(r.Jpegs.size(), Card->Files().size());
    for (auto& f : Card->Files()) {
      bool found = false;
      for (auto& j : r.Jpegs)
        found |=
            j.size() >= f.Bytes.size() && std::equal(f.Bytes.begin(), f.Bytes.end(), j.begin());
      EXPECT_TRUE(found) << f.Name << (f.Deleted ? " (deleted)" : "");
    }
  }

  std::string SettingsFile() const { return (Card->Dir() / "settings.reg").string(); }
  std::unique_ptr<test::TFatCard> Card;
};

} // namespace

TEST_F(ControllerScan, ImageFileDrive) {
  TLinuxDrives platform;
  ExpectEveryPicture(ScanThroughController(platform, Card->Image().string(), "", SettingsFile()));
}

TEST_F(ControllerScan, SimulatedDrives) {
  struct {
    const char* what;
    uint32_t family;
  } cases[] = {{"9x disk", VER_PLATFORM_WIN32_WINDOWS}, {"NT removable", VER_PLATFORM_WIN32_NT}};
  for (auto& cs : cases) {
    SCOPED_TRACE(cs.what);
    TSimulatedDrives sim(cs.family);
    TSimDrive& e = sim.AddDrive('E');
    e.DriveType = DRIVE_REMOVABLE;
    e.ImageFile = Card->Image().string();
    e.Label = "CARD";
    ExpectEveryPicture(ScanThroughController(sim, "", "E:\\", SettingsFile()));
  }
}

// The card image attached read-only with losetup is a real block device: the Linux
// backend gives it a letter as removable media with the card's label and size, and a
// scan through that letter finds every picture. The same device named on the
// command line is an image-file drive.
TEST_F(ControllerScan, LoopDeviceThroughItsLetter) {
  test::TLoopDevice loop(Card->Image().string());
  if (!loop.Ok())
    GTEST_SKIP() << loop.Why();
  TLinuxDrives platform;
  std::string root;
  {
    TRegistry settings(SettingsFile());
    TGlimmerfold c(platform, settings);
    c.RefreshDrives();
    for (int i = 0; i < c.DriveInfoCount(); ++i) {
      const std::string& name = c.GetDriveInfo(i)->Name();
      if (name.size() == 3 && platform.DevicePath(name[0]) == loop.Path())
        root = name;
    }
    ASSERT_FALSE(root.empty()) << loop.Path() << " has no drive letter";
    TDriveInfo* info = c.FindDriveInfo(root);
    EXPECT_EQ(info->GetKind(), dkRemovable);
    EXPECT_EQ(info->GetDisplayName(), root + " CARD");
    EXPECT_EQ(info->GetSectorSize(), 512u);
    EXPECT_EQ(uint64_t{info->GetSectorCount()} * info->GetSectorSize(),
              std::filesystem::file_size(Card->Image()))
        << "the capacity is the whole card";
  }
  {
    SCOPED_TRACE("through " + root);
    ExpectEveryPicture(ScanThroughController(platform, "", root, SettingsFile()));
  }
  {
    SCOPED_TRACE("as an image-file drive over " + loop.Path());
    ExpectEveryPicture(ScanThroughController(platform, loop.Path(), "", SettingsFile()));
  }
}

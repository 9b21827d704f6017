// A FAT card image built with the file-system tools (no mounting), with JPEG
// pictures on it of which some are deleted, scanned end to end: through an
// image-file drive on the Linux platform, and through a simulated volume that
// reports the file system's cluster count.
#include "Drives.h"
#include "FatCard.h"
#include "LinuxDrives.h"
#include "Recognizer.h"
#include "ScanHarness.h"
#include "SimulatedDrives.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

using namespace gf;
namespace fs = std::filesystem;

namespace {

struct TFound {
  uint32_t Sector;
  std::vector<uint8_t> Bytes;
};

// Every JPG the scanner finds on the medium, with the sector it starts at.
std::vector<TFound> ScanJpegs(TMedium& Medium) {
  TRecognizers registry;
  RegisterBuiltinRecognizers(registry);
  TScanner scanner(&registry);
  std::vector<TFound> found;
  scanner.OnFileFound = [&](TScanner&, std::unique_ptr<TMemoryStream> s, const std::string& name) {
    // The worker waits in the send: the medium stands where the carve ended, one
    // sector past its last.
    uint32_t sectors = static_cast<uint32_t>(s->GetSize() / Medium.SectorSize());
    if (name == "JPG")
      found.push_back({Medium.GetPosition() - sectors,
                       std::vector<uint8_t>(s->Memory(), s->Memory() + s->GetSize())});
  };
  bool completed = false;
  scanner.OnDone = [&](TScanner&, bool c) { completed = c; };
  scanner.Start(&Medium);
  test::PumpUntilDone(scanner);
  EXPECT_TRUE(completed);
  return found;
}

class ImageFileScan : public ::testing::Test {
protected:
  void SetUp() override {
    if (std::string missing = test::MissingCardTools(); !missing.empty())
      GTEST_SKIP() << missing;
    Card = std::make_unique<test::TFatCard>(4096); // 4 MiB
    ASSERT_TRUE(Card->Ok());
    Image = Card->Image();
    const std::size_t sizes[] = {1500, 5000, 12000, 700, 30000, 2048, 9000, 20000};
    for (int i = 0; i < 8; ++i)
      ASSERT_TRUE(Card->Put(Name(i), test::Jpeg(i, sizes[i])));
    // Fill the card so that the last picture lands in its last clusters.
    test::TFatLayout before = Card->Layout();
    uint32_t used = 0;
    for (auto& p : Card->Files())
      used += static_cast<uint32_t>((p.Bytes.size() + 2047) / 2048);
    uint32_t clusterBytes = before.SectorsPerCluster * before.BytesPerSector;
    uint32_t fillerClusters = before.Clusters - used - 3;
    ASSERT_TRUE(
        Card->Put("FILLER.DAT", std::vector<uint8_t>(std::size_t{fillerClusters} * clusterBytes)));
    ASSERT_TRUE(Card->Put(Name(8), test::Jpeg(8, 3 * clusterBytes - 100)));
    Layout = std::make_unique<test::TFatLayout>(Card->Layout());
    for (auto& f : Card->Files())
      if (f.Name.ends_with(".JPG"))
        Pictures.push_back(&f);
    for (int i : {1, 3, 6, 8}) // deleted pictures stay on the card until overwritten
      ASSERT_TRUE(Card->Delete(Name(i)));
    ImageBytes = Card->Bytes();
  }

  static std::string Name(int Index) {
    std::string digits = std::to_string(Index + 1);
    return "IMG" + std::string(5 - digits.size(), '0') + digits + ".JPG";
  }

  // Each picture found at its sector, its bytes at the head of the carve, and the
  // carve the card's own bytes from there.
  void ExpectEveryPicture(const std::vector<TFound>& Found, uint32_t SectorSize) {
    for (auto* p : Pictures) {
      auto it = std::find_if(Found.begin(), Found.end(),
                             [&](const TFound& f) { return f.Sector == p->Sector; });
      ASSERT_NE(it, Found.end()) << p->Name << " at sector " << p->Sector;
      ASSERT_GE(it->Bytes.size(), p->Bytes.size()) << p->Name;
      EXPECT_TRUE(std::equal(p->Bytes.begin(), p->Bytes.end(), it->Bytes.begin())) << p->Name;
      std::size_t from = std::size_t{p->Sector} * SectorSize;
      ASSERT_LE(from + it->Bytes.size(), ImageBytes.size());
      EXPECT_TRUE(std::equal(it->Bytes.begin(), it->Bytes.end(), ImageBytes.begin() + from))
          << p->Name;
    }
    EXPECT_EQ(Found.size(), Pictures.size());
  }

  std::unique_ptr<test::TFatCard> Card;
  fs::path Image;
  std::vector<test::TFatCard::TFile*> Pictures;
  std::unique_ptr<test::TFatLayout> Layout;
  std::vector<uint8_t> ImageBytes;
};

} // namespace

TEST_F(ImageFileScan, ThroughAnImageFileDrive) {
  TLinuxDrives platform;
  TDriveManager manager(platform);
  TDrive* drive = manager.AddImageFile(Image.string());
  ASSERT_NE(drive, nullptr);
  EXPECT_EQ(drive->Kind(), dkImageFile);
  EXPECT_EQ(drive->GetDisplayName(), Image.string() + " card.img");
  TMedium* medium = drive->Medium();
  ASSERT_NE(medium, nullptr);
  EXPECT_EQ(medium->SectorCount(), ImageBytes.size() / 512);
  ExpectEveryPicture(ScanJpegs(*medium), 512);
}

// The volume answers with the file system's clusters, which end before the card
// does: the last picture lies beyond them and is found all the same.
TEST_F(ImageFileScan, ThroughASimulatedVolumeReportingItsClusters) {
  ASSERT_GT(Pictures.back()->Sector, Layout->SectorsPerCluster * Layout->Clusters);
  TSimulatedDrives sim;
  TSimDrive& e = sim.AddDrive('E');
  e.ImageFile = Image.string();
  e.SectorsPerCluster = Layout->SectorsPerCluster;
  e.TotalClusters = Layout->Clusters;
  e.Label = "CARD";
  TDriveManager manager(sim);
  manager.Refresh();
  TDrive* drive = manager.FindDrive("E:\\");
  ASSERT_NE(drive, nullptr);
  EXPECT_EQ(drive->GetDisplayName(), "E:\\ CARD");
  TMedium* medium = drive->Medium();
  ASSERT_NE(medium, nullptr);
  EXPECT_EQ(medium->SectorCount(), Layout->Sectors);
  ExpectEveryPicture(ScanJpegs(*medium), 512);
}

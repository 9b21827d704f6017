// A FAT card image built with the file-system tools (no mounting), with JPEG
// pictures on it of which some are deleted, scanned end to end: through an
// image-file drive on the Linux platform, and through a simulated volume that
// reports the file system's cluster count.
#include "Drives.h"
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

bool HaveTool(const char* Name) {
  std::string cmd = std::string("command -v ") + Name + " >/dev/null 2>&1";
  return std::system(cmd.c_str()) == 0;
}

bool Shell(const std::string& Cmd) {
  return std::system((Cmd + " >/dev/null 2>&1").c_str()) == 0;
}

std::vector<uint8_t> ReadAll(const fs::path& P) {
  std::ifstream in(P, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteAll(const fs::path& P, const std::vector<uint8_t>& B) {
  std::ofstream(P, std::ios::binary)
      .write(reinterpret_cast<const char*>(B.data()), static_cast<std::streamsize>(B.size()));
}

// A small JFIF-like file: SOI, an APP0/APP1 header, a body without 0xFF that is
// unique to Index, and EOI.
std::vector<uint8_t> Jpeg(int Index, std::size_t Size) {
  std::vector<uint8_t> b = {0xFF, 0xD8, 0xFF, static_cast<uint8_t>(Index % 2 ? 0xE1 : 0xE0),
                            0x00, 0x10, 'J',  'F',
                            'I',  'F',  0x00, 0x01,
                            0x01, 0x00, 0x00, 0x01,
                            0x00, 0x01, 0x00, 0x00};
  uint32_t x = 0x9E3779B9u * static_cast<uint32_t>(Index + 1);
  while (b.size() + 2 < Size) {
    x = x * 1664525u + 1013904223u;
    b.push_back(static_cast<uint8_t>((x >> 24) % 0xFF)); // never 0xFF
  }
  b.push_back(0xFF);
  b.push_back(0xD9);
  return b;
}

uint16_t Le16(const std::vector<uint8_t>& B, std::size_t Off) {
  return static_cast<uint16_t>(B[Off] | (B[Off + 1] << 8));
}
uint32_t Le32(const std::vector<uint8_t>& B, std::size_t Off) {
  return Le16(B, Off) | (static_cast<uint32_t>(Le16(B, Off + 2)) << 16);
}

// The layout of a FAT12/16 volume and where each root-directory file starts.
struct TFatLayout {
  uint32_t BytesPerSector = 0, SectorsPerCluster = 0, DataStart = 0, Clusters = 0, Sectors = 0;
  std::map<std::string, uint32_t> StartSector; // "IMG00001JPG" -> sector

  explicit TFatLayout(const std::vector<uint8_t>& Img) {
    BytesPerSector = Le16(Img, 11);
    SectorsPerCluster = Img[13];
    uint32_t reserved = Le16(Img, 14), fats = Img[16], rootEntries = Le16(Img, 17);
    Sectors = Le16(Img, 19) ? Le16(Img, 19) : Le32(Img, 32);
    uint32_t fatSectors = Le16(Img, 22);
    uint32_t rootStart = reserved + fats * fatSectors;
    DataStart = rootStart + (rootEntries * 32 + BytesPerSector - 1) / BytesPerSector;
    Clusters = (Sectors - DataStart) / SectorsPerCluster;
    for (uint32_t e = 0; e < rootEntries; ++e) {
      std::size_t off = std::size_t{rootStart} * BytesPerSector + e * 32;
      uint8_t attr = Img[off + 11];
      if (Img[off] == 0 || Img[off] == 0xE5 || attr == 0x0F || (attr & 0x08))
        continue;
      std::string name(reinterpret_cast<const char*>(&Img[off]), 11);
      StartSector[name] = DataStart + (Le16(Img, off + 26) - 2u) * SectorsPerCluster;
    }
  }
};

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
    for (const char* tool : {"mkfs.vfat", "mcopy", "mdel"})
      if (!HaveTool(tool))
        GTEST_SKIP() << tool << " is missing: install dosfstools and mtools to run this test";
    char tmpl[] = "/tmp/gf-card-XXXXXX";
    Dir = mkdtemp(tmpl);
    Image = Dir / "card.img";
    ASSERT_TRUE(Shell("mkfs.vfat -C -n CARD " + Image.string() + " 4096")); // 4 MiB
    const std::size_t sizes[] = {1500, 5000, 12000, 700, 30000, 2048, 9000, 20000};
    for (int i = 0; i < 8; ++i)
      Put(i, Jpeg(i, sizes[i]));
    // Fill the card so that the last picture lands in its last clusters.
    TFatLayout before(ReadAll(Image));
    uint32_t used = 0;
    for (auto& p : Pictures)
      used += static_cast<uint32_t>((p.Bytes.size() + 2047) / 2048);
    uint32_t clusterBytes = before.SectorsPerCluster * before.BytesPerSector;
    uint32_t fillerClusters = before.Clusters - used - 3;
    WriteAll(Dir / "FILLER.DAT", std::vector<uint8_t>(std::size_t{fillerClusters} * clusterBytes));
    ASSERT_TRUE(Shell("mcopy -i " + Image.string() + " " + (Dir / "FILLER.DAT").string() +
                      " ::/FILLER.DAT"));
    Put(8, Jpeg(8, 3 * clusterBytes - 100));

    std::vector<uint8_t> img = ReadAll(Image);
    Layout = std::make_unique<TFatLayout>(img);
    for (auto& p : Pictures) {
      ASSERT_TRUE(Layout->StartSector.count(p.Entry)) << p.Entry;
      p.Sector = Layout->StartSector[p.Entry];
    }
    for (int i : {1, 3, 6, 8}) // deleted pictures stay on the card until overwritten
      ASSERT_TRUE(Shell("mdel -i " + Image.string() + " ::/" + Pictures[i].Name));
    ImageBytes = ReadAll(Image);
  }
  void TearDown() override {
    std::error_code ec;
    if (!Dir.empty())
      fs::remove_all(Dir, ec);
  }

  void Put(int Index, std::vector<uint8_t> Bytes) {
    char name[16];
    std::snprintf(name, sizeof name, "IMG%05d.JPG", Index + 1);
    WriteAll(Dir / name, Bytes);
    ASSERT_TRUE(Shell("mcopy -i " + Image.string() + " " + (Dir / name).string() + " ::/" + name));
    std::string entry = std::string(name, 8) + "JPG";
    Pictures.push_back({name, entry, std::move(Bytes), 0});
  }

  // Each picture found at its sector, its bytes at the head of the carve, and the
  // carve the card's own bytes from there.
  void ExpectEveryPicture(const std::vector<TFound>& Found, uint32_t SectorSize) {
    for (auto& p : Pictures) {
      auto it = std::find_if(Found.begin(), Found.end(),
                             [&](const TFound& f) { return f.Sector == p.Sector; });
      ASSERT_NE(it, Found.end()) << p.Name << " at sector " << p.Sector;
      ASSERT_GE(it->Bytes.size(), p.Bytes.size()) << p.Name;
      EXPECT_TRUE(std::equal(p.Bytes.begin(), p.Bytes.end(), it->Bytes.begin())) << p.Name;
      std::size_t from = std::size_t{p.Sector} * SectorSize;
      ASSERT_LE(from + it->Bytes.size(), ImageBytes.size());
      EXPECT_TRUE(std::equal(it->Bytes.begin(), it->Bytes.end(), ImageBytes.begin() + from))
          << p.Name;
    }
    EXPECT_EQ(Found.size(), Pictures.size());
  }

  struct TPicture {
    std::string Name, Entry;
    std::vector<uint8_t> Bytes;
    uint32_t Sector;
  };
  fs::path Dir, Image;
  std::vector<TPicture> Pictures;
  std::unique_ptr<TFatLayout> Layout;
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
  ASSERT_GT(Pictures.back().Sector, Layout->SectorsPerCluster * Layout->Clusters);
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

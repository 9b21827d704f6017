// Drive list, medium detection and the sector readers over simulated drives.
#include "Drives.h"
#include "ByteOrder.h"
#include "Errors.h"
#include "FakeSysfs.h"
#include "LogCapture.h"
#include "SimulatedDrives.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sys/stat.h>
#include <typeinfo>
#include <unistd.h>

using namespace gf;

namespace {

// Sector s of the image begins with s as 4 little-endian bytes and is 0xA5 beyond.
std::vector<uint8_t> Numbered(uint32_t Sectors, uint32_t Size = 512) {
  std::vector<uint8_t> b(static_cast<std::size_t>(Sectors) * Size, 0xA5);
  for (uint32_t s = 0; s < Sectors; ++s)
    PutLe32(b.data() + static_cast<std::size_t>(s) * Size, s);
  return b;
}

uint32_t SectorNo(const uint8_t* d) {
  return Le32(d);
}

bool AllZero(const uint8_t* d, std::size_t n) {
  return std::all_of(d, d + n, [](uint8_t b) { return b == 0; });
}

using test::TLogCapture;

TSimDrive Disk(uint32_t DriveType, uint32_t Sectors, uint32_t SectorSize = 512) {
  TSimDrive d;
  d.DriveType = DriveType;
  d.SectorSize = SectorSize;
  d.Image = Numbered(Sectors, SectorSize);
  d.MediaType = DriveType == DRIVE_FIXED ? MEDIA_FIXED : MEDIA_REMOVABLE;
  return d;
}

template <typename T> bool Is(const TMedium* M) {
  return M && typeid(*M) == typeid(T);
}

struct TTempDir {
  std::filesystem::path Path;
  TTempDir() {
    char tmpl[] = "/tmp/gf-drives-XXXXXX";
    Path = mkdtemp(tmpl);
  }
  ~TTempDir() {
    std::error_code ec;
    std::filesystem::remove_all(Path, ec);
  }
  std::string Write(const std::string& Name, const std::vector<uint8_t>& Bytes) const {
    auto p = Path / Name;
    std::ofstream(p, std::ios::binary)
        .write(reinterpret_cast<const char*>(Bytes.data()),
               static_cast<std::streamsize>(Bytes.size()));
    return p.string();
  }
};

} // namespace

// ---- drive list

TEST(DriveManager, LettersAppearAndVanishImageFileDrivesSurvive) {
  TTempDir dir;
  std::string image = dir.Write("card.img", Numbered(8));
  TSimulatedDrives sim;
  sim.AddDrive('C', Disk(DRIVE_FIXED, 64));
  sim.AddDrive('E', Disk(DRIVE_REMOVABLE, 64));
  TDriveManager m(sim);
  EXPECT_EQ(m.Count(), 0);
  TDrive* file = m.AddImageFile(image);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(m.AddImageFile(image), file); // the same path again is the same drive
  m.Refresh();
  ASSERT_EQ(m.Count(), 3);
  // Sorted by root; the image's root is its path, which no letter root can equal.
  EXPECT_EQ(m.Drives(0), file);
  EXPECT_EQ(m.Drives(1)->Root(), "C:\\");
  EXPECT_EQ(m.Drives(2)->Root(), "E:\\");
  EXPECT_EQ(m.GetDrive(3), nullptr);
  EXPECT_EQ(file->Root(), image);
  EXPECT_EQ(file->Kind(), dkImageFile);
  ASSERT_TRUE(Is<TMediumFile>(file->Medium()));
  EXPECT_EQ(file->GetDisplayName(), image + " card.img");
  TDrive* c = m.FindDrive("C:\\");

  sim.RemoveDrive('E');
  sim.AddDrive('F', Disk(DRIVE_REMOVABLE, 64));
  m.RescanDrives();
  ASSERT_EQ(m.Count(), 3);
  EXPECT_EQ(m.FindDrive("E:\\"), nullptr);
  EXPECT_NE(m.FindDrive("F:\\"), nullptr);
  EXPECT_EQ(m.FindDrive("C:\\"), c); // present letters keep their drive object
  EXPECT_EQ(m.FindDrive(image), file);
  ASSERT_TRUE(Is<TMediumFile>(file->Medium()));

  sim.RemoveDrive('C');
  sim.RemoveDrive('F');
  m.RescanDrives();
  ASSERT_EQ(m.Count(), 1);
  EXPECT_EQ(m.Drives(0), file);
  EXPECT_EQ(sim.OpenHandles(), 0); // vanished drives closed their volumes
}

TEST(DriveManager, KindsFromTheDriveType) {
  struct {
    uint32_t driveType;
    TDriveKind kind;
    bool medium;
  } cases[] = {
      {DRIVE_REMOVABLE, dkRemovable, true},  {DRIVE_FIXED, dkFixedDisk, true},
      {DRIVE_REMOTE, dkRemote, false},       {DRIVE_CDROM, dkCDROM, true},
      {DRIVE_RAMDISK, dkRamDisk, true},      {DRIVE_UNKNOWN, dkUnknown, false},
      {DRIVE_NO_ROOT_DIR, dkUnknown, false},
  };
  for (auto& c : cases) {
    TSimulatedDrives sim;
    sim.AddDrive('E', Disk(c.driveType, 32, c.driveType == DRIVE_CDROM ? 2048 : 512));
    TDriveManager m(sim);
    m.Refresh();
    TDrive* d = m.FindDrive("E:\\");
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->Kind(), c.kind) << c.driveType;
    EXPECT_EQ(d->Medium() != nullptr, c.medium) << c.driveType;
  }
}

TEST(DriveManager, RemovableMediaTypeDecidesFloppyAndReplacesTheMedium) {
  struct {
    uint32_t mediaType;
    TDriveKind kind;
    bool floppy;
  } cases[] = {
      {MEDIA_REMOVABLE, dkRemovable, false},
      {MEDIA_FIXED, dkRemovable, false},
      {0x100 | MEDIA_REMOVABLE, dkRemovable, false}, // only the low byte counts
      {MEDIA_UNKNOWN, dkFloppy, true},
      {MEDIA_F3_1Pt44_512, dkFloppy, true},
  };
  for (auto& c : cases) {
    TSimulatedDrives sim;
    TSimDrive& e = sim.AddDrive('E', Disk(DRIVE_REMOVABLE, 100));
    e.MediaType = c.mediaType;
    TDriveManager m(sim);
    m.Refresh();
    TDrive* d = m.FindDrive("E:\\");
    EXPECT_EQ(d->Kind(), c.kind) << c.mediaType;
    EXPECT_TRUE(c.floppy ? Is<TMediumNTFloppy>(d->Medium()) : Is<TMediumNTRemovable>(d->Medium()))
        << c.mediaType;
    // The other class at the next detection: a new medium object (position back at 0).
    d->Medium()->SetPosition(42);
    sim.Drive('E')->MediaType = c.floppy ? MEDIA_REMOVABLE : MEDIA_UNKNOWN;
    m.Refresh();
    EXPECT_EQ(d->Kind(), c.floppy ? dkRemovable : dkFloppy);
    EXPECT_TRUE(c.floppy ? Is<TMediumNTRemovable>(d->Medium()) : Is<TMediumNTFloppy>(d->Medium()));
    EXPECT_EQ(d->Medium()->GetPosition(), 0u);
  }
}

TEST(DriveManager, MediumClassByKindOnNT) {
  struct {
    uint32_t driveType;
    const std::type_info& cls;
    uint32_t geometryCode;
  } cases[] = {
      {DRIVE_FIXED, typeid(TMediumNTHDD), IOCTL_DISK_GET_DRIVE_GEOMETRY},
      {DRIVE_CDROM, typeid(TMediumNTCDROM), IOCTL_CDROM_GET_DRIVE_GEOMETRY},
      {DRIVE_RAMDISK, typeid(TMediumNTRamDisk), IOCTL_DISK_GET_DRIVE_GEOMETRY},
  };
  for (auto& c : cases) {
    TSimulatedDrives sim;
    sim.AddDrive('E', Disk(c.driveType, 40));
    TDriveManager m(sim);
    m.Refresh();
    TMedium* medium = m.FindDrive("E:\\")->Medium();
    ASSERT_NE(medium, nullptr);
    EXPECT_TRUE(typeid(*medium) == c.cls);
    ASSERT_FALSE(sim.Calls.GeometryCodes.empty());
    EXPECT_EQ(sim.Calls.GeometryCodes.back(), c.geometryCode);
  }
}

TEST(DriveManager, RedetectionKeepsTheMediumWithFreshSizesAndNoCache) {
  TSimulatedDrives sim;
  sim.AddDrive('E', Disk(DRIVE_REMOVABLE, 1000));
  TDriveManager m(sim);
  m.Refresh();
  TDrive* d = m.FindDrive("E:\\");
  TMedium* medium = d->Medium();
  ASSERT_NE(medium, nullptr);
  EXPECT_EQ(medium->SectorCount(), 1000u);
  medium->SetPosition(900);
  ASSERT_NE(medium->GetData(), nullptr);
  EXPECT_TRUE(medium->HasBuffer());

  TSimDrive& e = *sim.Drive('E');
  e.Image = Numbered(50, 2048);
  e.SectorSize = 2048;
  m.Refresh();
  EXPECT_EQ(d->Medium(), medium);
  EXPECT_FALSE(medium->HasBuffer());
  EXPECT_EQ(medium->SectorSize(), 2048u);
  EXPECT_EQ(medium->SectorCount(), 50u);
  EXPECT_EQ(medium->BlockSectors(), 16u);
  EXPECT_EQ(medium->GetPosition(), 50u); // the old position, clamped to the new end
}

TEST(DriveManager, DisplayNames) {
  TSimulatedDrives sim;
  TSimDrive& a = sim.AddDrive('A', Disk(DRIVE_REMOVABLE, 10));
  a.HasMedium = false;
  sim.AddDrive('E', Disk(DRIVE_REMOVABLE, 10)).Formatted = false;
  sim.AddDrive('F', Disk(DRIVE_REMOVABLE, 10)).Label = "CANON_DC";
  sim.AddDrive('G', Disk(DRIVE_REMOVABLE, 10));
  sim.AddDrive('H', Disk(DRIVE_REMOVABLE, 10)).OpenError = ERROR_FILE_NOT_FOUND;
  TDriveManager m(sim);
  m.Refresh();
  EXPECT_EQ(m.FindDrive("A:\\")->GetDisplayName(), "A:\\ <Not Ready>");
  EXPECT_EQ(m.FindDrive("E:\\")->GetDisplayName(), "E:\\ <Unformatted>");
  EXPECT_EQ(m.FindDrive("F:\\")->GetDisplayName(), "F:\\ CANON_DC");
  EXPECT_EQ(m.FindDrive("G:\\")->GetDisplayName(), "G:\\ "); // no label: ends in the blank
  EXPECT_EQ(m.FindDrive("H:\\")->GetDisplayName(), "H:\\ <Not Ready>");
}

// The destination folder's device stands, in a sysfs of the test's own, for a disk, a
// partition of it or a loop device over a card image; the drive is a simulated drive of
// a known device, or an image-file drive.
TEST(DriveManager, HoldsFolderWhereSavedFilesWouldLandOnTheMedium) {
  struct TCase {
    const char* What;
    std::string FolderIs;               // the fake device the folder's device stands for
    std::optional<TDeviceNumber> Drive; // the simulated drive's device; none: the image file
    bool Gone;                          // the folder cannot be looked at
    bool Holds;
  };
  const TDeviceNumber sdx = test::TFakeSysfs::Fake(0), sdx1 = test::TFakeSysfs::Fake(1),
                      sdy = test::TFakeSysfs::Fake(16);
  const TCase cases[] = {
      {"the same device", "sdx1", sdx1, false, true},
      {"a partition of the scanned disk", "sdx1", sdx, false, true},
      {"the disk of the scanned partition", "sdx", sdx1, false, true},
      {"another device", "sdx1", sdy, false, false},
      {"a loop device over the scanned image", "loop0", std::nullopt, false, true},
      {"a folder that cannot be looked at", "sdx1", sdx, true, false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    TLogCapture log;
    test::TFakeSysfs tree;
    const std::string image = (tree.Root / "card.img").string();
    std::ofstream(image, std::ios::binary) << std::string(4096, '\0');
    std::map<std::string, std::filesystem::path> dirs;
    dirs["sdx"] = tree.Disk("sdx", sdx, 100000);
    dirs["sdx1"] = tree.Partition(dirs["sdx"], "sdx1", sdx1, 2048, 50000);
    tree.Disk("sdy", sdy, 100000);
    dirs["loop0"] = tree.Disk("loop0", test::TFakeSysfs::Fake(48), 8);
    test::TFakeSysfs::Backing(dirs["loop0"], image);
    std::filesystem::create_directories(tree.Root / "dest");
    tree.Link(test::TFakeSysfs::DeviceOf((tree.Root / "dest").string()), dirs[c.FolderIs]);
    const std::string folder = (tree.Root / (c.Gone ? "gone/dest/" : "dest/")).string();

    TSimulatedDrives sim;
    sim.Sys = tree.Sys();
    sim.AddDrive('E', Disk(DRIVE_REMOVABLE, 10)).Device = c.Drive;
    TDriveManager m(sim);
    m.Refresh();
    TDrive* drive = c.Drive ? m.FindDrive("E:\\") : m.AddImageFile(image);
    ASSERT_NE(drive, nullptr);
    EXPECT_EQ(drive->HoldsFolder(folder), c.Holds);
    const std::string why = " lies on drive E:\\: No such file or directory";
    EXPECT_EQ(log.Has("DRIVES: Cannot tell whether " + folder + why), c.Gone);
  }
}

TEST(DriveManager, LogNamesTheDeviceOnceAndExplainsRefusedAccess) {
  TLogCapture log;
  TSimulatedDrives sim;
  sim.AddDrive('E', Disk(DRIVE_REMOVABLE, 10)).OpenError = ERROR_ACCESS_DENIED;
  TDriveManager m(sim);
  m.Refresh();
  m.Refresh();
  auto lines = log.Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "DRIVES: Drive E:\\ is simulated drive E:");
  EXPECT_EQ(lines[1], "NTHDD: Cannot open drive E:\\ (simulated drive E:): Access is denied. - "
                      "the simulated drive refuses access");
  EXPECT_EQ(m.FindDrive("E:\\")->GetDisplayName(), "E:\\ <Not Ready>");
  EXPECT_EQ(m.FindDrive("E:\\")->NTHandle(), 0);
}

TEST(DriveManager, GeometryFailureLeavesNoMediumAndTheVolumeOpen) {
  TSimulatedDrives sim;
  sim.AddDrive('E', Disk(DRIVE_REMOVABLE, 10)).GeometryError = ERROR_NOT_READY;
  TDriveManager m(sim);
  m.Refresh();
  TDrive* d = m.FindDrive("E:\\");
  EXPECT_EQ(d->Medium(), nullptr);
  EXPECT_NE(d->NTHandle(), 0);
  EXPECT_EQ(sim.OpenHandles(), 1);
  m.Refresh(); // gives the handle up before opening again
  EXPECT_EQ(sim.OpenHandles(), 1);
}

// ---- 9x detection and the shared devices

TEST(DriveManager9x, SharedVWin32HandleIsCounted) {
  TLogCapture log;
  TSimulatedDrives sim(VER_PLATFORM_WIN32_WINDOWS);
  sim.AddDrive('C', Disk(DRIVE_FIXED, 100));
  TDriveManager m(sim);
  m.Refresh();
  EXPECT_EQ(m.VWin32().Count(), 1);
  sim.AddDrive('E', Disk(DRIVE_REMOVABLE, 100));
  m.Refresh();
  EXPECT_EQ(m.VWin32().Count(), 2);
  EXPECT_TRUE(Is<TMedium9XDrive>(m.FindDrive("E:\\")->Medium()));
  int closes = sim.Calls.VWin32Closes;
  sim.RemoveDrive('E');
  sim.Drive('C')->FailingSectors[0] = 0x15; // the probe fails: no medium, handle still held
  m.Refresh();
  EXPECT_EQ(m.VWin32().Count(), 1);
  EXPECT_EQ(m.FindDrive("C:\\")->Medium(), nullptr);
  EXPECT_NE(m.FindDrive("C:\\")->VWin32Handle(), 0);
  sim.RemoveDrive('C');
  m.Refresh();
  EXPECT_EQ(m.VWin32().Count(), 0);
  EXPECT_EQ(m.VWin32().Handle(), 0);
  EXPECT_EQ(sim.Calls.VWin32Closes, closes + 1); // E's release left it open for C
  EXPECT_EQ(sim.OpenHandles(), 0);
  EXPECT_FALSE(log.Logged("Couldn't open"));
}

TEST(DriveManager9x, DevicesThatDoNotOpen) {
  TLogCapture log;
  TSimulatedDrives sim(VER_PLATFORM_WIN32_WINDOWS);
  sim.VWin32OpenError = ERROR_FILE_NOT_FOUND;
  sim.Int2fOpenError = ERROR_FILE_NOT_FOUND;
  sim.AddDrive('C', Disk(DRIVE_FIXED, 100));
  sim.AddDrive('D', Disk(DRIVE_CDROM, 100, 2048));
  TDriveManager m(sim);
  m.Refresh();
  EXPECT_EQ(m.FindDrive("C:\\")->Medium(), nullptr);
  EXPECT_EQ(m.FindDrive("D:\\")->Medium(), nullptr);
  EXPECT_EQ(m.VWin32().Count(), 0);
  EXPECT_TRUE(log.Has("Couldn't open VWIN32 (The system cannot find the file specified.)"));
  EXPECT_TRUE(log.Has("Couldn't open INT2F.VXD (The system cannot find the file specified.)"));
  sim.VWin32OpenError = 0; // the next acquisition tries again
  m.Refresh();
  EXPECT_NE(m.FindDrive("C:\\")->Medium(), nullptr);
  EXPECT_EQ(m.VWin32().Count(), 1);
}

TEST(DriveManager9x, CDROMNeeds2048BytesPerSectorAndIsRecreatedEachTime) {
  TLogCapture log;
  TSimulatedDrives sim(VER_PLATFORM_WIN32_WINDOWS);
  TSimDrive& d = sim.AddDrive('D', Disk(DRIVE_CDROM, 100, 2048));
  d.Label = "PHOTOS";
  TDriveManager m(sim);
  m.Refresh();
  TDrive* drive = m.FindDrive("D:\\");
  ASSERT_TRUE(Is<TMedium9XCDROM>(drive->Medium()));
  EXPECT_EQ(drive->Medium()->SectorSize(), 2048u);
  EXPECT_EQ(drive->Medium()->SectorCount(), 100u);
  EXPECT_EQ(drive->GetDisplayName(), "D:\\ PHOTOS");
  EXPECT_EQ(m.Int2f().Count(), 1);
  drive->Medium()->SetPosition(33);
  m.Refresh();
  ASSERT_TRUE(Is<TMedium9XCDROM>(drive->Medium()));
  EXPECT_EQ(drive->Medium()->GetPosition(), 0u); // a new object
  EXPECT_EQ(m.Int2f().Count(), 1);

  struct {
    uint32_t sectorSize;
    bool formatted;
    std::string line;
  } failures[] = {
      {512, true, "9XCD: BPS value not 2048 but 512 for drive D:\\ - Assuming failure"},
      {2048, false,
       "9XCD: GetDiskFreeSpace failed for D:\\: The volume does not contain a recognized file "
       "system."},
  };
  for (auto& f : failures) {
    log.Clear();
    sim.Drive('D')->SectorSize = f.sectorSize;
    sim.Drive('D')->Formatted = f.formatted;
    m.Refresh();
    EXPECT_EQ(drive->Medium(), nullptr);
    EXPECT_TRUE(log.Has(f.line)) << f.line;
    EXPECT_EQ(m.Int2f().Count(), 1); // held with or without a medium
  }
}

// ---- 9x readers

TEST(Reader9xCD, SectorsBelow16AreZerosWithoutADeviceCall) {
  TSimulatedDrives sim(VER_PLATFORM_WIN32_WINDOWS);
  sim.AddDrive('D', Disk(DRIVE_CDROM, 100, 2048));
  TDriveManager m(sim);
  m.Refresh();
  TMedium* medium = m.FindDrive("D:\\")->Medium();
  ASSERT_NE(medium, nullptr);
  medium->SetPosition(10);
  ASSERT_NE(medium->GetData(), nullptr); // loads the block 10..25
  EXPECT_EQ(medium->BufferCount(), 16u);
  std::vector<uint32_t> want;
  for (uint32_t s = 16; s <= 25; ++s)
    want.push_back(s);
  EXPECT_EQ(sim.Calls.Int2fSectors, want);
  for (uint32_t s = 10; s <= 25; ++s) {
    medium->SetPosition(s);
    const uint8_t* d = medium->GetData();
    ASSERT_NE(d, nullptr);
    if (s < 16)
      EXPECT_TRUE(AllZero(d, 2048)) << s;
    else
      EXPECT_EQ(SectorNo(d), s);
  }
}

TEST(Reader9xCD, AFailingSectorFailsTheBlock) {
  struct {
    uint32_t error;
    std::string medium;
  } cases[] = {
      {ERROR_CRC, "MEDIUM: LoadBlocks failed for D:\\ with error 23 (Data error (cyclic "
                  "redundancy check).)"},
      {0, "MEDIUM: LoadBlocks failed for D:\\ with error 1 (Incorrect function.)"},
  };
  for (auto& c : cases) {
    TLogCapture log;
    TSimulatedDrives sim(VER_PLATFORM_WIN32_WINDOWS);
    sim.AddDrive('D', Disk(DRIVE_CDROM, 100, 2048)).FailingSectors[20] = c.error;
    TDriveManager m(sim);
    m.Refresh();
    TMedium* medium = m.FindDrive("D:\\")->Medium();
    log.Clear();
    medium->SetPosition(16);
    EXPECT_EQ(medium->GetData(), nullptr);
    EXPECT_EQ(sim.Calls.Int2fSectors.back(), 20u); // stops at the failing sector
    auto lines = log.Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0],
              "9XCD: DIOC_READSECTORS failed for drive D:\\: " + SysErrorMessage(c.error));
    EXPECT_EQ(lines[1], c.medium);
  }
}

namespace {
// A 9x drive E: whose 7305h reads see the failing sectors given.
struct T9xDisk {
  TSimulatedDrives Sim{VER_PLATFORM_WIN32_WINDOWS};
  std::unique_ptr<TDriveManager> Manager;
  TDrive* Drive = nullptr;
  T9xDisk(uint32_t Sectors, uint32_t DriveType = DRIVE_REMOVABLE) {
    Sim.AddDrive('E', Disk(DriveType, Sectors));
    Manager = std::make_unique<TDriveManager>(Sim);
    Manager->Refresh();
    Drive = Manager->FindDrive("E:\\");
  }
  TMedium& Medium() { return *Drive->Medium(); }
};
} // namespace

TEST(Reader9xDisk, WholeBlockFailsPartialSectorsSucceed) {
  T9xDisk disk(200);
  ASSERT_TRUE(Is<TMedium9XDrive>(disk.Drive->Medium()));
  TLogCapture log;
  disk.Sim.Drive('E')->FailingSectors[40] = 0x17;
  disk.Sim.Calls = {};
  disk.Medium().SetPosition(0);
  const uint8_t* d = disk.Medium().GetData();
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(disk.Medium().BufferCount(), 64u);
  // One block call, then single sectors 0..40.
  ASSERT_EQ(disk.Sim.Calls.Reads.size(), 42u);
  EXPECT_EQ(disk.Sim.Calls.Reads[0], std::make_pair(0u, 64u));
  EXPECT_EQ(disk.Sim.Calls.Reads[41], std::make_pair(40u, 1u));
  for (uint32_t s = 0; s < 64; ++s) {
    disk.Medium().SetPosition(s);
    const uint8_t* p = disk.Medium().GetData();
    if (s < 40)
      EXPECT_EQ(SectorNo(p), s);
    else
      EXPECT_TRUE(AllZero(p, 512)) << s;
  }
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{
                             "9XHDD: INT21/7305 failed for E:\\ (0, 40): 17",
                             "9XHDD: Got partial data (28 sectors), returning OK",
                         }));
  EXPECT_EQ(disk.Sim.Calls.Locks, 1); // removable: locked and unlocked around each block
  EXPECT_EQ(disk.Sim.Calls.Unlocks, 1);
}

TEST(Reader9xDisk, FirstSectorFailureAndTheLast128KiB) {
  struct {
    uint32_t sectors, blockAt;
    bool ok;
  } cases[] = {
      {1000, 800, true},  // 800 + 256 >= 1000
      {1000, 744, true},  // exactly at the window's edge
      {1000, 743, false}, // one sector before it
      {1000, 0, false},
      {200, 0, true}, // a medium of fewer than 256 sectors lies wholly in the window
  };
  for (auto& c : cases) {
    T9xDisk disk(c.sectors);
    TLogCapture log;
    disk.Sim.Drive('E')->FailingSectors[c.blockAt] = 0x17;
    disk.Medium().SetPosition(c.blockAt);
    const uint8_t* d = disk.Medium().GetData();
    EXPECT_EQ(d != nullptr, c.ok) << c.sectors << " @" << c.blockAt;
    std::vector<std::string> want{Format("9XHDD: INT21/7305 failed for E:\\ (%x, %x): 17",
                                         c.blockAt, std::min(64u, c.sectors - c.blockAt))};
    if (c.ok) {
      EXPECT_TRUE(AllZero(d, 512u * disk.Medium().BufferCount()));
      want.push_back("9XHDD: Failure within last 128k of E:\\ - returning OK");
    } else {
      want.push_back("9XHDD: failed on first sector, returning error");
      want.push_back("MEDIUM: LoadBlocks failed for E:\\ with error 23 (Data error (cyclic "
                     "redundancy check).)");
    }
    EXPECT_EQ(log.Lines(), want);
  }
}

TEST(Reader9xDisk, ErrorCodeOfAFirstSectorFailure) {
  struct {
    uint32_t dosError, callError;
    std::string medium;
  } cases[] = {
      {0x17, 0,
       "MEDIUM: LoadBlocks failed for E:\\ with error 23 (Data error (cyclic redundancy "
       "check).)"},
      {0x17, ERROR_GEN_FAILURE,
       "MEDIUM: LoadBlocks failed for E:\\ with error 31 (A device "
       "attached to the system is not functioning.)"},
      {0, 0, "MEDIUM: LoadBlocks failed for E:\\ with error 4294967295 ()"},
  };
  for (auto& c : cases) {
    T9xDisk disk(1000, DRIVE_FIXED);
    TSimDrive& e = *disk.Sim.Drive('E');
    e.FailingSectors[0] = c.dosError;
    e.DosReadCallError = c.callError;
    TLogCapture log;
    disk.Medium().SetPosition(0);
    EXPECT_EQ(disk.Medium().GetData(), nullptr);
    EXPECT_EQ(log.Lines().back(), c.medium);
    EXPECT_EQ(disk.Sim.Calls.Locks, 0); // fixed disks are not locked
  }
}

TEST(Reader9xDisk, LockAndUnlockFailuresAreOnlyLogged) {
  T9xDisk disk(100);
  disk.Sim.Drive('E')->LockDosError = 0x05;
  disk.Sim.Drive('E')->UnlockDosError = 0x06;
  TLogCapture log;
  disk.Medium().SetPosition(0);
  EXPECT_NE(disk.Medium().GetData(), nullptr);
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{"9XHDD: Drive lock failed for E:\\: 5",
                                                   "9XHDD: Drive unlock failed for E:\\: 6"}));
}

TEST(Reader9xDisk, InitFromTheDeviceParameters) {
  struct TCase {
    const char* what;
    TSimDeviceParams medium, drive;
    uint32_t wantSize, wantCount;
    TDriveKind wantKind;
    std::vector<std::string> lines;
  };
  auto params = [](uint16_t c, uint16_t h, uint16_t s, uint16_t total, uint32_t big,
                   uint8_t type = 5, uint16_t bps = 512) {
    TSimDeviceParams p;
    p.Cylinders = c;
    p.Heads = h;
    p.SectorsPerTrack = s;
    p.TotalSectors = total;
    p.BigTotalSectors = big;
    p.DeviceType = type;
    p.BytesPerSector = bps;
    return p;
  };
  TSimDeviceParams dosFail = params(0, 0, 0, 0, 0);
  dosFail.DosError = 0x15;
  TSimDeviceParams callFail = params(0, 0, 0, 0, 0);
  callFail.CallError = ERROR_GEN_FAILURE;
  std::vector<TCase> cases = {
      {"CHS is largest",
       params(100, 2, 10, 500, 1000),
       params(1, 1, 1, 1, 1),
       512,
       2000,
       dkRemovable,
       {"9XHDD: Medium E:\\ init with disk DPB: BPS=200, TS=7D0",
        "9XHDD: Medium E:\\ init with drive DPB: BPS=200, TS=7D0"}},
      {"total sectors",
       params(1, 1, 1, 3000, 0),
       params(0, 0, 0, 0, 0),
       512,
       3000,
       dkRemovable,
       {"9XHDD: Medium E:\\ init with disk DPB: BPS=200, TS=BB8",
        "9XHDD: Medium E:\\ init with drive DPB: BPS=200, TS=BB8"}},
      {"big total, top bit clear",
       params(1, 1, 1, 10, 70000),
       params(0, 0, 0, 0, 0),
       512,
       70000,
       dkRemovable,
       {"9XHDD: Medium E:\\ init with disk DPB: BPS=200, TS=11170",
        "9XHDD: Medium E:\\ init with drive DPB: BPS=200, TS=11170"}},
      {"big total, top bit set",
       params(1, 1, 1, 10, 0x80000001u),
       params(0, 0, 0, 0, 0),
       512,
       10,
       dkRemovable,
       {"9XHDD: Medium E:\\ init with disk DPB: BPS=200, TS=A",
        "9XHDD: Medium E:\\ init with drive DPB: BPS=200, TS=A"}},
      {"floppy device type",
       params(80, 2, 18, 2880, 0, 2),
       params(0, 0, 0, 0, 0),
       512,
       2880,
       dkFloppy,
       {"9XHDD: Medium E:\\ init with disk DPB: BPS=200, TS=B40",
        "9XHDD: Medium E:\\ init with drive DPB: BPS=200, TS=B40"}},
      {"second fills the sector size",
       params(1, 1, 1, 100, 0, 5, 0),
       params(9, 9, 9, 9, 9, 5, 512),
       512,
       100,
       dkRemovable,
       {"9XHDD: Medium E:\\ init with disk DPB: BPS=0, TS=64",
        "9XHDD: Medium E:\\ init with drive DPB: BPS=200, TS=64"}},
      {"first fails with a DOS error",
       dosFail,
       params(10, 1, 1, 0, 0),
       512,
       10,
       dkRemovable,
       {"9XHDD: E:\\: GDP func 1 failed with DOS error 0x15",
        "9XHDD: Medium E:\\ init with drive DPB: BPS=200, TS=A"}},
      {"CHS beyond 32 bits",
       params(65535, 255, 512, 0, 0),
       params(0, 0, 0, 0, 0),
       512,
       UINT32_MAX,
       dkRemovable,
       {"MEDIUM: E:\\ holds 8556249600 sectors, more than can be numbered; only the first "
        "4294967295 are read",
        "9XHDD: Medium E:\\ init with disk DPB: BPS=200, TS=FFFFFFFF",
        "9XHDD: Medium E:\\ init with drive DPB: BPS=200, TS=FFFFFFFF"}},
      {"both calls fail",
       callFail,
       callFail,
       0,
       0,
       dkRemovable,
       {"9XHDD: Failing E:\\: GDP func 1 failed with DIOCTL error 31 (A device attached to the "
        "system is not functioning.)",
        "9XHDD: Failing E:\\: GDP func 0 failed with DIOCTL error 31 (A device attached to the "
        "system is not functioning.)"}},
  };
  for (auto& c : cases) {
    TSimulatedDrives sim(VER_PLATFORM_WIN32_WINDOWS);
    TSimDrive& e = sim.AddDrive('E', Disk(DRIVE_REMOVABLE, 64));
    e.Formatted = false;
    e.MediumParams = c.medium;
    e.DriveParams = c.drive;
    TLogCapture log;
    TDriveManager m(sim);
    m.Refresh();
    TDrive* d = m.FindDrive("E:\\");
    ASSERT_TRUE(Is<TMedium9XDrive>(d->Medium())) << c.what;
    EXPECT_EQ(d->Medium()->SectorSize(), c.wantSize) << c.what;
    EXPECT_EQ(d->Medium()->SectorCount(), c.wantCount) << c.what;
    EXPECT_EQ(d->Medium()->Truncated(), c.wantCount == UINT32_MAX) << c.what;
    EXPECT_EQ(d->Kind(), c.wantKind) << c.what;
    auto lines = log.Lines();
    lines.erase(lines.begin()); // the device line
    EXPECT_EQ(lines, c.lines) << c.what;
  }
}

TEST(Reader9xDisk, FormattedMediumTakesTheLabelButNotTheSizes) {
  TSimulatedDrives sim(VER_PLATFORM_WIN32_WINDOWS);
  TSimDrive& e = sim.AddDrive('E', Disk(DRIVE_REMOVABLE, 64));
  e.Label = "CARD";
  e.SectorsPerCluster = 4;
  e.TotalClusters = 10;
  TLogCapture log;
  TDriveManager m(sim);
  m.Refresh();
  TDrive* d = m.FindDrive("E:\\");
  EXPECT_EQ(d->GetDisplayName(), "E:\\ CARD");
  EXPECT_EQ(d->Medium()->SectorCount(), 64u);
  EXPECT_TRUE(log.Has("9XHDD: Formatted medium E:\\ init claimed BPS=200, TS=28"));
}

// ---- NT reader

TEST(ReaderNT, UnformattedGeometry) {
  TSimulatedDrives sim;
  TSimDrive& e = sim.AddDrive('E', Disk(DRIVE_REMOVABLE, 360));
  e.MediaType = MEDIA_F3_1Pt44_512;
  e.Formatted = false;
  e.Cylinders = 20;
  e.TracksPerCylinder = 2;
  e.SectorsPerTrack = 9;
  TDriveManager m(sim);
  m.Refresh();
  TDrive* d = m.FindDrive("E:\\");
  ASSERT_TRUE(Is<TMediumNTFloppy>(d->Medium()));
  EXPECT_EQ(d->Medium()->SectorCount(), 360u);
  EXPECT_EQ(d->Medium()->SectorSize(), 512u);
  EXPECT_FALSE(d->Medium()->Formatted());
  EXPECT_EQ(d->GetDisplayName(), "E:\\ <Unformatted>");
}

// The clusters of a file system, counted from sector 0, stop short of the volume's
// end by its reserved area, FATs and root directory: the count is the larger one.
TEST(ReaderNT, FormattedCountCoversTheWholeVolume) {
  struct {
    uint32_t sectors, spc, clusters, freeBps;
    uint32_t wantSize, wantCount;
  } cases[] = {
      {8192, 4, 2041, 0, 512, 8192},     // FAT16 card: 8164 cluster sectors < 8192
      {8192, 4, 2100, 0, 512, 8400},     // a file system that claims more keeps its count
      {8192, 1, 2000, 2048, 2048, 2048}, // 2048-byte file-system sectors over a 512-byte geometry
  };
  for (auto& c : cases) {
    TSimulatedDrives sim;
    TSimDrive& e = sim.AddDrive('E', Disk(DRIVE_REMOVABLE, c.sectors));
    e.SectorsPerCluster = c.spc;
    e.TotalClusters = c.clusters;
    e.FreeSpaceBytesPerSector = c.freeBps;
    e.Label = "CARD";
    TDriveManager m(sim);
    m.Refresh();
    TMedium* medium = m.FindDrive("E:\\")->Medium();
    ASSERT_NE(medium, nullptr);
    EXPECT_TRUE(medium->Formatted());
    EXPECT_EQ(medium->VolumeLabel(), "CARD");
    EXPECT_EQ(medium->SectorSize(), c.wantSize);
    EXPECT_EQ(medium->SectorCount(), c.wantCount) << c.sectors << " " << c.clusters;
  }
  // The last sector of the volume is read.
  TSimulatedDrives sim;
  TSimDrive& e = sim.AddDrive('E', Disk(DRIVE_REMOVABLE, 8192));
  e.SectorsPerCluster = 4;
  e.TotalClusters = 2041;
  TDriveManager m(sim);
  m.Refresh();
  TMedium* medium = m.FindDrive("E:\\")->Medium();
  medium->SetPosition(8191);
  const uint8_t* last = medium->GetData();
  ASSERT_NE(last, nullptr);
  EXPECT_EQ(SectorNo(last), 8191u);
}

// The medium keeps the device's true size: it is read up to its last numbered sector
// and says that it holds more.
TEST(ReaderNT, CountsBeyond32BitsAreCappedWithALogLine) {
  struct {
    int64_t cylinders;
    uint32_t tracks, sectors;
    bool formatted;
    uint32_t spc, clusters;
    uint64_t device;
  } cases[] = {
      // the low 32 bits would be 0
      {int64_t{1} << 33, 1, 1, false, 0, 0, uint64_t{1} << 33},
      {0x100000001, 1, 1, false, 0, 0, 0x100000001}, // and here 1
      // the product overflows 64 bits
      {INT64_MAX, UINT32_MAX, UINT32_MAX, false, 0, 0, UINT64_MAX},
      // clusters x sectors per cluster
      {4096, 1, 1, true, 0x10000, 0x10001, 0x100010000},
      // every sector can be numbered
      {UINT32_MAX, 1, 1, false, 0, 0, UINT32_MAX},
  };
  for (auto& c : cases) {
    TLogCapture log;
    TSimulatedDrives sim;
    TSimDrive& e = sim.AddDrive('E', Disk(DRIVE_FIXED, 128));
    e.Cylinders = c.cylinders;
    e.TracksPerCylinder = c.tracks;
    e.SectorsPerTrack = c.sectors;
    e.Formatted = c.formatted;
    e.SectorsPerCluster = c.spc;
    e.TotalClusters = c.clusters;
    TDriveManager m(sim);
    m.Refresh();
    TMedium* medium = m.FindDrive("E:\\")->Medium();
    ASSERT_NE(medium, nullptr);
    EXPECT_EQ(medium->SectorCount(), UINT32_MAX) << c.cylinders;
    EXPECT_EQ(medium->DeviceSectors(), c.device) << c.cylinders;
    EXPECT_EQ(medium->Truncated(), c.device > UINT32_MAX) << c.cylinders;
    EXPECT_EQ(log.Logged("MEDIUM: E:\\ holds "), c.device > UINT32_MAX) << c.cylinders;
    medium->SetPosition(7);
    const uint8_t* d = medium->GetData();
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(SectorNo(d), 7u);
  }
}

// Over a backing as large as it says (zeros beyond its first sectors), the last sector
// that can be numbered reads, and the size of the whole device is kept.
TEST(ReaderNT, MediaBeyondTheLastNumberedSector) {
  struct {
    uint32_t sectorSize;
    uint64_t bytes;
    uint32_t wantCount;
    bool truncated;
  } cases[] = {
      {512, uint64_t{5} << 40, UINT32_MAX, true},            // 5 TiB of 512 bytes
      {512, (uint64_t{1} << 41) - 512, UINT32_MAX, false},   // every sector numbered
      {4096, uint64_t{8} << 40, uint32_t{1} << 31, false},   // 8 TiB of 4 KiB
      {4096, (uint64_t{16} << 40) + 4096, UINT32_MAX, true}, // a sector too many
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.bytes);
    TSimulatedDrives sim;
    TSimDrive& e = sim.AddDrive('E', Disk(DRIVE_REMOVABLE, 16, c.sectorSize));
    e.VirtualSize = c.bytes;
    e.Formatted = false;
    TDriveManager m(sim);
    m.Refresh();
    TMedium* medium = m.FindDrive("E:\\")->Medium();
    ASSERT_NE(medium, nullptr);
    EXPECT_EQ(medium->SectorCount(), c.wantCount);
    EXPECT_EQ(medium->Truncated(), c.truncated);
    EXPECT_EQ(medium->DeviceSectors(), c.bytes / c.sectorSize);
    EXPECT_EQ(medium->DeviceBytes(), c.bytes);
    EXPECT_EQ(medium->ReadableBytes(), uint64_t{c.wantCount} * c.sectorSize);
    medium->SetPosition(7);
    ASSERT_NE(medium->GetData(), nullptr);
    EXPECT_EQ(SectorNo(medium->GetData()), 7u);
    medium->SetPosition(c.wantCount - 1);
    uint32_t run = 0;
    const uint8_t* last = medium->GetData(run);
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(run, 1u);
    EXPECT_TRUE(AllZero(last, c.sectorSize));
    medium->Next();
    EXPECT_EQ(medium->GetPosition(), c.wantCount);
    EXPECT_EQ(medium->GetData(), nullptr);
  }
}

TEST(ReaderNT, ReadFailures) {
  struct {
    const char* what;
    uint32_t failSector, seekError;
    uint32_t geometrySectors; // more than the backing holds: a short read
    std::string ntLine, mediumLine;
  } cases[] = {
      {"bad sector", 30, 0, 0,
       "NTHDD: Failed to read 64 blocks starting from 0 on drive E:\\: Data error (cyclic "
       "redundancy check).",
       "MEDIUM: LoadBlocks failed for E:\\ with error 23 (Data error (cyclic redundancy check).)"},
      {"seek", UINT32_MAX, ERROR_SEEK, 0,
       "NTHDD: Failed to seek to 0 on drive E:\\: The drive cannot locate a specific area or "
       "track on the disk.",
       "MEDIUM: LoadBlocks failed for E:\\ with error 25 (The drive cannot locate a specific area "
       "or track on the disk.)"},
      {"short", UINT32_MAX, 0, 120,
       "NTHDD: Failed to read 64 blocks starting from 0 on drive E:\\: The system cannot read "
       "from the specified device.",
       "MEDIUM: LoadBlocks failed for E:\\ with error 30 (The system cannot read from the "
       "specified device.)"},
  };
  for (auto& c : cases) {
    TSimulatedDrives sim;
    TSimDrive& e = sim.AddDrive('E', Disk(DRIVE_FIXED, 100));
    e.Formatted = false;
    if (c.failSector != UINT32_MAX)
      e.FailingSectors[c.failSector] = ERROR_CRC;
    if (c.geometrySectors) {
      e.Cylinders = c.geometrySectors;
      e.TracksPerCylinder = 1;
      e.SectorsPerTrack = 1;
      e.Image = Numbered(40);
    }
    TDriveManager m(sim);
    m.Refresh();
    sim.Drive('E')->SeekError = c.seekError;
    TLogCapture log;
    TMedium* medium = m.FindDrive("E:\\")->Medium();
    medium->SetPosition(0);
    EXPECT_EQ(medium->GetData(), nullptr) << c.what;
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{c.ntLine, c.mediumLine})) << c.what;
  }
}

// A device whose cache keeps the failure of a whole failed read (as a block device's
// page cache does): after a read ahead fails, the blocks over its sectors are read past
// that cache, and the walk stops at the block of the bad sector and no sooner. Where
// the volume cannot be opened so, they are read as before, and the log says why.
TEST(ReaderNT, BlocksAfterAFailedReadAheadArePastTheCache) {
  struct {
    uint32_t bad, openError, wantStop;
    std::vector<std::pair<uint32_t, uint32_t>> uncached;
  } cases[] = {
      {4400, 0, 4352, {{4096, 64}, {4160, 64}, {4224, 64}, {4288, 64}, {4352, 64}}},
      {4096, 0, 4096, {{4096, 64}}},
      {6143, 0, 6080, {}}, // the stretch's last sector: every block of it
      {4400, ERROR_ACCESS_DENIED, 4096, {}},
  };
  cases[2].uncached.clear();
  for (uint32_t b = 4096; b <= 6080; b += 64)
    cases[2].uncached.emplace_back(b, 64);
  for (auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.bad << " " << c.openError);
    TSimulatedDrives sim;
    TSimDrive& e = sim.AddDrive('E', Disk(DRIVE_REMOVABLE, 8192));
    e.Formatted = false;
    e.CachesFailures = true;
    e.FailingSectors[c.bad] = ERROR_CRC;
    e.UncachedOpenError = c.openError;
    TDriveManager m(sim);
    m.Refresh();
    TLogCapture log;
    TMedium* medium = m.FindDrive("E:\\")->Medium();
    medium->SetPosition(0);
    for (const uint8_t* d; (d = medium->GetData()) != nullptr; medium->Next())
      ASSERT_EQ(SectorNo(d), medium->GetPosition());
    EXPECT_EQ(medium->GetPosition(), c.wantStop);
    EXPECT_EQ(sim.Calls.UncachedReads, c.uncached);
    EXPECT_EQ(sim.Calls.UncachedOpens, c.openError ? 0 : 1) << "opened once, when first needed";
    EXPECT_EQ(log.Logged("NTHDD: Cannot read drive E:\\ past the system's cache (Access is "
                         "denied.)"),
              c.openError != 0);
    m.FindDrive("E:\\")->Detect();
    EXPECT_EQ(sim.OpenHandles(), 1) << "a new detection gives the second handle up";
  }
}

// ---- image file

namespace {
class TOpenMediumFile : public TMediumFile {
public:
  using TMediumFile::ReadBlocks;
  using TMediumFile::TMediumFile;
};
} // namespace

TEST(ReaderFile, ThousandBytesAreTwoSectorsWithZerosAfter) {
  TTempDir dir;
  std::vector<uint8_t> bytes(1000);
  for (std::size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<uint8_t>(i * 7 + 1);
  std::string path = dir.Write("dc.img", bytes);
  TSimulatedDrives sim;
  TDriveManager m(sim);
  TDrive* d = m.AddImageFile(path);
  TMedium* medium = d->Medium();
  ASSERT_TRUE(Is<TMediumFile>(medium));
  EXPECT_EQ(medium->SectorSize(), 512u);
  EXPECT_EQ(medium->SectorCount(), 2u);
  EXPECT_TRUE(medium->Formatted());
  EXPECT_EQ(medium->VolumeLabel(), "dc.img");
  medium->SetPosition(0);
  const uint8_t* d0 = medium->GetData();
  ASSERT_NE(d0, nullptr);
  EXPECT_EQ(medium->BufferCount(), 2u);
  EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), d0));
  EXPECT_TRUE(AllZero(d0 + 1000, 24));

  auto direct = TMedium::Create<TOpenMediumFile>(d);
  std::vector<uint8_t> buf(4 * 512);
  EXPECT_EQ(direct->ReadBlocks(1, 1, buf.data()), 0u);
  EXPECT_EQ(direct->ReadBlocks(1, 2, buf.data()), ERROR_SEEK); // short by more than a sector
  EXPECT_EQ(direct->ReadBlocks(2, 1, buf.data()), ERROR_END_OF_MEDIA); // byte 1024 of 1000
}

// A sparse image of 5 TiB takes no disk space; its sectors beyond 2^32 - 1 cannot be
// numbered, and the medium says so instead of passing for a smaller one.
TEST(ReaderFile, ASparseImageBeyondTheLastNumberedSector) {
  TTempDir dir;
  std::string path = dir.Write("big.img", Numbered(16));
  const uint64_t bytes = uint64_t{5} << 40;
  if (::truncate(path.c_str(), static_cast<off_t>(bytes)) != 0)
    GTEST_SKIP() << "the file system under " << dir.Path
                 << " refuses a sparse file of 5 TiB: " << std::strerror(errno);
  TLogCapture log;
  TSimulatedDrives sim;
  TDriveManager m(sim);
  TDrive* d = m.AddImageFile(path);
  ASSERT_NE(d, nullptr);
  TMedium* medium = d->Medium();
  EXPECT_EQ(medium->SectorSize(), 512u);
  EXPECT_EQ(medium->SectorCount(), UINT32_MAX);
  EXPECT_TRUE(medium->Truncated());
  EXPECT_EQ(medium->DeviceSectors(), bytes / 512);
  EXPECT_EQ(medium->DeviceBytes(), bytes);
  EXPECT_TRUE(log.Logged("MEDIUM: " + path +
                         " holds 10737418240 sectors, more than can be numbered; only the first "
                         "4294967295 are read"));
  medium->SetPosition(15);
  ASSERT_NE(medium->GetData(), nullptr);
  EXPECT_EQ(SectorNo(medium->GetData()), 15u);
  medium->SetPosition(UINT32_MAX - 1);
  const uint8_t* last = medium->GetData();
  ASSERT_NE(last, nullptr);
  EXPECT_TRUE(AllZero(last, 512));
}

TEST(ReaderFile, RedetectionAndAMissingFile) {
  TTempDir dir;
  std::string path = dir.Write("a.img", Numbered(10));
  TSimulatedDrives sim;
  TDriveManager m(sim);
  TDrive* d = m.AddImageFile(path);
  TMedium* medium = d->Medium();
  ASSERT_NE(medium, nullptr);
  dir.Write("a.img", Numbered(30));
  m.Refresh(); // the letters only
  EXPECT_EQ(medium->SectorCount(), 10u);
  d->Detect();
  EXPECT_EQ(d->Medium(), medium);
  EXPECT_EQ(medium->SectorCount(), 30u);

  TLogCapture log;
  std::filesystem::remove(path);
  d->Detect();
  EXPECT_EQ(d->Medium(), nullptr);
  EXPECT_EQ(d->GetDisplayName(), path + " <Not Ready>");
  EXPECT_TRUE(log.Logged("MEDIUM: Cannot open image file " + path + ": "));
  EXPECT_EQ(m.Count(), 1);

  EXPECT_EQ(m.AddImageFile(dir.Path.string() + "/none.img"), nullptr);
  EXPECT_EQ(m.Count(), 1) << "a path that cannot be used is not listed";
}

namespace {
// Ends the test program instead of letting it hang when an open blocks.
class THangGuard {
public:
  explicit THangGuard(unsigned Seconds) { alarm(Seconds); }
  ~THangGuard() { alarm(0); }
};
} // namespace

// Only regular files and block devices become image-file drives. Nothing else is
// opened in a way that waits: a FIFO with no writer would block the program for good.
TEST(ReaderFile, OnlyFilesAndBlockDevicesBecomeDrives) {
  TTempDir dir;
  std::string file = dir.Write("card.img", Numbered(4));
  std::string fifo = (dir.Path / "fifo").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::filesystem::create_directory(dir.Path / "folder");
  std::filesystem::create_symlink(file, dir.Path / "link.img");
  std::filesystem::create_symlink(fifo, dir.Path / "link-to-fifo");
  struct {
    std::string path;
    bool listed;
    const char* why; // the start of the log line's reason
  } cases[] = {
      {file, true, ""},
      {(dir.Path / "link.img").string(), true, ""},
      {(dir.Path / "none.img").string(), false, "Cannot open file"},
      {(dir.Path / "folder").string(), false, "Cannot open file"},
      {fifo, false, "Cannot open file"},
      {(dir.Path / "link-to-fifo").string(), false, "Cannot open file"},
      {"/dev/null", false, "Cannot open file"}, // a character device
  };
  THangGuard guard(20);
  for (auto& c : cases) {
    SCOPED_TRACE(c.path);
    TLogCapture log;
    TSimulatedDrives sim;
    TDriveManager m(sim);
    TDrive* d = m.AddImageFile(c.path);
    EXPECT_EQ(d != nullptr, c.listed);
    EXPECT_EQ(m.Count(), c.listed ? 1 : 0);
    if (d) {
      ASSERT_NE(d->Medium(), nullptr);
      EXPECT_EQ(d->Medium()->SectorCount(), 4u);
    } else {
      EXPECT_TRUE(log.Logged("MEDIUM: Cannot open image file " + c.path + ": " + c.why));
    }
  }
}

// The drive list measures image files again at every refresh: a FIFO that took the
// image's place must not hang it.
TEST(ReaderFile, AFifoInTheImagesPlaceAtRedetection) {
  TTempDir dir;
  std::string path = dir.Write("a.img", Numbered(4));
  TSimulatedDrives sim;
  TDriveManager m(sim);
  TDrive* d = m.AddImageFile(path);
  ASSERT_NE(d, nullptr);
  std::filesystem::remove(path);
  ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
  THangGuard guard(20);
  d->Detect();
  EXPECT_EQ(d->Medium(), nullptr);
  EXPECT_EQ(d->GetDisplayName(), path + " <Not Ready>");
  std::filesystem::remove(path);
  std::filesystem::create_directory(path);
  d->Detect();
  EXPECT_EQ(d->Medium(), nullptr) << "a folder is no image either";
}

TEST(ReaderFile, RelativePathsBecomeAbsoluteRoots) {
  TTempDir dir;
  dir.Write("r.img", Numbered(4));
  auto cwd = std::filesystem::current_path();
  std::filesystem::current_path(dir.Path);
  TSimulatedDrives sim;
  TDriveManager m(sim);
  TDrive* a = m.AddImageFile("r.img");
  TDrive* b = m.AddImageFile("./sub/../r.img");
  std::filesystem::current_path(cwd);
  EXPECT_EQ(a, b);
  EXPECT_EQ(a->Root(), (dir.Path / "r.img").string());
  ASSERT_NE(a->Medium(), nullptr);
}

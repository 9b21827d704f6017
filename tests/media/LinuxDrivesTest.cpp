// The Linux backend over a small fake sysfs and /dev tree: directories and files in
// a temporary folder, regular files standing in for the devices.
#include "LinuxDrives.h"
#include "BlockDevices.h"
#include "Drives.h"
#include "FakeSysfs.h"
#include "Errors.h"
#include "LogCapture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>
#include <typeinfo>
#include <unistd.h>

using namespace gf;
namespace fs = std::filesystem;

namespace {

class TFakeTree {
public:
  TFakeTree() {
    char tmpl[] = "/tmp/gf-sysfs-XXXXXX";
    Root = mkdtemp(tmpl);
    fs::permissions(Root, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
    fs::create_directories(Root / "sys" / "block");
    fs::create_directories(Root / "dev");
  }
  ~TFakeTree() {
    std::error_code ec;
    fs::remove_all(Root, ec);
  }

  TLinuxDrives::TRoots Roots() const {
    return {(Root / "sys").string(), (Root / "dev").string(), (Root / "mountinfo").string()};
  }
  std::string Dev(const std::string& Name) const { return (Root / "dev" / Name).string(); }

  static void Put(const fs::path& P, const std::string& Text) {
    fs::create_directories(P.parent_path());
    std::ofstream(P) << Text << "\n";
  }

  // A disk under /sys/block; with Under, a real directory elsewhere linked from there.
  fs::path Disk(const std::string& Name, uint64_t Sectors512, bool Removable,
                const std::string& Under = {}) {
    fs::path dir = Under.empty() ? Root / "sys" / "block" / Name
                                 : Root / "sys" / "devices" / Under / "block" / Name;
    fs::create_directories(dir);
    if (!Under.empty())
      fs::create_directory_symlink(dir, Root / "sys" / "block" / Name);
    Put(dir / "size", std::to_string(Sectors512));
    Put(dir / "removable", Removable ? "1" : "0");
    Put(dir / "dev", "8:" + std::to_string(Minor++));
    return dir;
  }
  void Partition(const fs::path& Disk, const std::string& Name, uint64_t Sectors512) {
    Put(Disk / Name / "partition", "1");
    Put(Disk / Name / "size", std::to_string(Sectors512));
    Put(Disk / Name / "dev", "8:" + std::to_string(Minor++));
  }
  void Device(const std::string& Name, const std::vector<uint8_t>& Bytes) const {
    std::ofstream(Root / "dev" / Name, std::ios::binary)
        .write(reinterpret_cast<const char*>(Bytes.data()),
               static_cast<std::streamsize>(Bytes.size()));
  }

  fs::path Root;
  int Minor = 0;
};

std::vector<uint8_t> Pattern(std::size_t Bytes) {
  std::vector<uint8_t> b(Bytes);
  for (std::size_t i = 0; i < Bytes; ++i)
    b[i] = static_cast<uint8_t>((i / 512) * 31 + i);
  return b;
}

bool HaveTool(const char* Name) {
  std::string cmd = std::string("command -v ") + Name + " >/dev/null 2>&1";
  return std::system(cmd.c_str()) == 0;
}

// A FAT file system labelled Label in a file of Sectors sectors, or an empty vector
// when mkfs.vfat is missing.
std::vector<uint8_t> FatImage(const fs::path& Dir, const std::string& Label, uint32_t Sectors) {
  if (!HaveTool("mkfs.vfat"))
    return {};
  fs::path p = Dir / "fat.tmp";
  std::string cmd = "mkfs.vfat -C -n " + Label + " " + p.string() + " " +
                    std::to_string(Sectors / 2) + " >/dev/null 2>&1";
  if (std::system(cmd.c_str()) != 0)
    return {};
  std::ifstream in(p, std::ios::binary);
  std::vector<uint8_t> b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  fs::remove(p);
  return b;
}

// The tree of a machine with a floppy, an attached loop device and an unattached
// one, a USB card reader with a partitioned card, an empty card slot, a CD drive
// without a disc, a virtual disk and an unconfigured zram device.
struct TMachine {
  TFakeTree Tree;
  std::vector<uint8_t> Card, Fixed, Floppy, Loop;
  bool CardFormatted = false;

  TMachine() {
    Floppy = Pattern(1474560);
    Tree.Disk("fd0", 2880, true);
    Tree.Device("fd0", Floppy);

    fs::path loop0 = Tree.Disk("loop0", 64, false);
    TFakeTree::Put(loop0 / "loop" / "backing_file", "/srv/cards/dc.img");
    Loop = Pattern(64 * 512);
    Tree.Device("loop0", Loop);
    Tree.Disk("loop1", 0, false);

    fs::path sdb = Tree.Disk("sdb", 4096 + 2048, false, "pci0000:00/0000:00:14.0/usb1/1-1");
    TFakeTree::Put(sdb / "queue" / "logical_block_size", "512");
    Tree.Partition(sdb, "sdb1", 4096);
    Card = FatImage(Tree.Root, "CARDLABEL", 4096);
    CardFormatted = !Card.empty();
    if (!CardFormatted)
      Card = Pattern(4096 * 512);
    Tree.Device("sdb1", Card);

    Tree.Disk("sdc", 0, true); // a slot without a card
    Tree.Device("sdc", {});
    Tree.Disk("sr0", 0, true);

    Fixed = Pattern(2048 * 512);
    Tree.Disk("vda", 2048, false);
    Tree.Device("vda", Fixed);
    Tree.Disk("zram0", 0, false);
  }
};

} // namespace

TEST(LinuxDrives, LettersKindsAndLabelsOverAFakeTree) {
  TMachine machine;
  test::TLogCapture log;
  TLinuxDrives platform(machine.Tree.Roots());
  TDriveManager m(platform);
  m.Refresh();

  struct {
    const char* root;
    const char* device;
    TDriveKind kind;
    const std::type_info* medium; // null: no medium
  } want[] = {
      {"A:\\", "fd0", dkFloppy, &typeid(TMediumNTFloppy)},
      {"C:\\", "sdb1", dkRemovable, &typeid(TMediumNTRemovable)},
      {"D:\\", "sdc", dkRemovable, nullptr},
      {"E:\\", "sr0", dkCDROM, nullptr},
      {"F:\\", "vda", dkFixedDisk, &typeid(TMediumNTHDD)},
      {"G:\\", "loop0", dkRemovable, &typeid(TMediumNTRemovable)},
  };
  ASSERT_EQ(m.Count(), 6);
  for (std::size_t i = 0; i < std::size(want); ++i) {
    TDrive* d = m.Drives(static_cast<int>(i));
    EXPECT_EQ(d->Root(), want[i].root);
    EXPECT_EQ(platform.DevicePath(want[i].root[0]), machine.Tree.Dev(want[i].device));
    EXPECT_EQ(d->Kind(), want[i].kind) << want[i].root;
    if (want[i].medium) {
      ASSERT_NE(d->Medium(), nullptr) << want[i].root;
      TMedium& medium = *d->Medium();
      EXPECT_TRUE(typeid(medium) == *want[i].medium) << want[i].root;
    } else {
      EXPECT_EQ(d->Medium(), nullptr) << want[i].root;
      EXPECT_EQ(d->GetDisplayName(), std::string(want[i].root) + " <Not Ready>");
    }
  }
  EXPECT_EQ(m.FindDrive("F:\\")->GetDisplayName(), "F:\\ <Unformatted>");
  EXPECT_EQ(m.FindDrive("F:\\")->Medium()->SectorCount(), 2048u);
  EXPECT_EQ(m.FindDrive("A:\\")->Medium()->SectorCount(), 2880u);
  if (machine.CardFormatted) {
    EXPECT_EQ(m.FindDrive("C:\\")->GetDisplayName(), "C:\\ CARDLABEL");
  }

  auto lines = log.Lines();
  auto has = [&](const std::string& l) {
    return std::find(lines.begin(), lines.end(), l) != lines.end();
  };
  EXPECT_TRUE(has("DRIVES: Drive C:\\ is " + machine.Tree.Dev("sdb1") + " (removable, USB)"));
  EXPECT_TRUE(has("DRIVES: Drive G:\\ is " + machine.Tree.Dev("loop0") +
                  " (removable, image /srv/cards/dc.img)"));
  EXPECT_TRUE(has("DRIVES: Drive E:\\ is " + machine.Tree.Dev("sr0") + " (CD-ROM)"));
  EXPECT_EQ(platform.GetDriveType("Q:\\"), DRIVE_NO_ROOT_DIR);
  EXPECT_EQ(platform.GetDriveType("/srv/cards/dc.img"), DRIVE_NO_ROOT_DIR);
}

TEST(LinuxDrives, TheStandInDeviceReadsThroughTheNTReader) {
  TMachine machine;
  TLinuxDrives platform(machine.Tree.Roots());
  TDriveManager m(platform);
  m.Refresh();
  TMedium* medium = m.FindDrive("C:\\")->Medium();
  ASSERT_NE(medium, nullptr);
  EXPECT_EQ(medium->SectorSize(), 512u);
  EXPECT_EQ(medium->SectorCount(), 4096u);
  EXPECT_EQ(medium->Formatted(), machine.CardFormatted);
  for (uint32_t s : {0u, 1u, 63u, 64u, 2000u, 4095u}) {
    medium->SetPosition(s);
    const uint8_t* d = medium->GetData();
    ASSERT_NE(d, nullptr) << s;
    EXPECT_TRUE(std::equal(d, d + 512, machine.Card.begin() + s * 512)) << s;
  }
  medium->SetPosition(4096);
  EXPECT_EQ(medium->GetData(), nullptr);
  // Reads past the page cache are for block devices; a stand-in file has none.
  EXPECT_EQ(platform.CreateFile("\\\\.\\C:", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING,
                                FILE_FLAG_NO_BUFFERING),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
}

// The card's partition has a letter; a folder on a file system of that partition lies
// on the card, not on the machine's disk.
TEST(LinuxDrives, ALetterKnowsItsDeviceAndTheFoldersOnIt) {
  TMachine machine;
  const fs::path sys = machine.Tree.Root / "sys";
  const fs::path sdb1 = fs::canonical(sys / "block" / "sdb") / "sdb1";
  // The folder's real device may have the number of the card or its disk here: then it
  // lies on the card all the same.
  auto link = [&](const std::string& Number, const fs::path& Dir) {
    fs::create_directories(sys / "dev" / "block");
    if (!fs::is_symlink(sys / "dev" / "block" / Number))
      fs::create_directory_symlink(Dir, sys / "dev" / "block" / Number);
  };
  const std::string card = ReadSysfsText(sdb1 / "dev");
  link(card, sdb1);
  link(ReadSysfsText(sys / "block" / "sdb" / "dev"), fs::canonical(sys / "block" / "sdb"));
  const fs::path dest = machine.Tree.Root / "dest";
  fs::create_directories(dest);
  link(test::TFakeSysfs::DeviceOf(dest.string()).Text(), sdb1);

  TLinuxDrives platform(machine.Tree.Roots());
  TDriveManager m(platform);
  m.Refresh();
  EXPECT_EQ(platform.SysRoot(), sys.string());
  ASSERT_TRUE(platform.DriveDevice("C:\\"));
  EXPECT_EQ(platform.DriveDevice("C:\\")->Text(), card);
  EXPECT_FALSE(platform.DriveDevice("Q:\\"));
  EXPECT_TRUE(m.FindDrive("C:\\")->HoldsFolder(dest.string()));
  EXPECT_FALSE(m.FindDrive("F:\\")->HoldsFolder(dest.string()));
}

TEST(LinuxDrives, LettersStayWithTheirDevices) {
  TMachine machine;
  TLinuxDrives platform(machine.Tree.Roots());
  TDriveManager m(platform);
  m.Refresh();
  TDrive* vda = m.FindDrive("F:\\");
  // The card leaves; the slot's disk now stands alone, and a new stick arrives.
  fs::path sdb = machine.Tree.Root / "sys" / "devices" / "pci0000:00" / "0000:00:14.0" / "usb1" /
                 "1-1" / "block" / "sdb";
  fs::remove_all(sdb / "sdb1");
  fs::remove_all(machine.Tree.Root / "sys" / "block" / "sdc");
  machine.Tree.Disk("sdd", 128, true);
  machine.Tree.Device("sdd", Pattern(128 * 512));
  m.Refresh();
  EXPECT_EQ(platform.DevicePath('A'), machine.Tree.Dev("fd0"));
  EXPECT_EQ(platform.DevicePath('C'), machine.Tree.Dev("sdb")); // new: the lowest free letters
  EXPECT_EQ(platform.DevicePath('D'), machine.Tree.Dev("sdd"));
  EXPECT_EQ(platform.DevicePath('E'), machine.Tree.Dev("sr0"));
  EXPECT_EQ(platform.DevicePath('F'), machine.Tree.Dev("vda"));
  EXPECT_EQ(platform.DevicePath('G'), machine.Tree.Dev("loop0"));
  EXPECT_EQ(m.FindDrive("F:\\"), vda);
  EXPECT_NE(m.FindDrive("D:\\")->Medium(), nullptr);
}

namespace {
// The backend as it answers for a process that runs as root, or not.
class TLinuxDrivesAs : public TLinuxDrives {
public:
  TLinuxDrivesAs(TRoots Roots, bool Root) : TLinuxDrives(std::move(Roots)), FRoot(Root) {}

protected:
  bool Privileged() const override { return FRoot; }

private:
  bool FRoot;
};
} // namespace

TEST(LinuxDrives, RefusedAccessShowsNotReadyAndSaysWhy) {
  struct {
    bool root;
    const char* hint;
  } cases[] = {
      {false, "reading raw devices needs root or membership in the disk group"},
      // Refused to root itself, as a container's device rules do: more rights would not help.
      {true, "the device cannot be opened, not even by root"},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.hint);
    TMachine machine;
    fs::permissions(machine.Tree.Dev("vda"), fs::perms::none);
    // Root reads any file: the refusal is made as an unprivileged user in a child process.
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
        _exit(2);
      test::TLogCapture log;
      TLinuxDrivesAs platform(machine.Tree.Roots(), c.root);
      TDriveManager m(platform);
      m.Refresh();
      TDrive* d = m.FindDrive("F:\\");
      if (!d || d->Medium() || d->GetDisplayName() != "F:\\ <Not Ready>")
        _exit(3);
      std::string want = "NTHDD: Cannot open drive F:\\ (" + machine.Tree.Dev("vda") +
                         " (fixed disk)): Access is denied. - " + c.hint;
      auto lines = log.Lines();
      _exit(std::find(lines.begin(), lines.end(), want) != lines.end() ? 0 : 4);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "2: cannot drop privileges, 3: wrong drive state, 4: no "
                                         "log line";
  }
}

namespace {
// A tree for the order of letters; each device's letter, or none.
struct TLetterCase {
  const char* device;
  char letter; // 0: no letter
};

// Lettered: how many devices hold a letter in all.
void ExpectLetters(TLinuxDrives& Platform, const TFakeTree& Tree,
                   const std::vector<TLetterCase>& Want, int Lettered) {
  EXPECT_EQ(__builtin_popcount(Platform.GetLogicalDrives()), Lettered);
  for (auto& w : Want) {
    std::string held;
    for (char l = 'A'; l <= 'Z'; ++l)
      if (Platform.DevicePath(l) == Tree.Dev(w.device))
        held += l;
    EXPECT_EQ(held, w.letter ? std::string(1, w.letter) : std::string()) << w.device;
  }
}
} // namespace

// A desktop with snap packages: dozens of loop devices back mounted system images.
// The cards come first, then the disks, then the images attached by hand; a loop
// device that carries a mounted system image is no medium.
TEST(LinuxDrives, CardsBeforeDisksBeforeLoopDevices) {
  TFakeTree tree;
  std::string mounts;
  int mountId = 100;
  auto mount = [&](const fs::path& Dev, const std::string& Point, const std::string& Type,
                   const std::string& Optional) {
    std::ifstream in(Dev / "dev");
    std::string number;
    std::getline(in, number);
    mounts += std::to_string(mountId++) + " 28 " + number + " / " + Point + " ro,relatime " +
              Optional + "- " + Type + " /dev/x ro\n";
  };
  for (int i = 0; i < 30; ++i) {
    fs::path loop = tree.Disk("loop" + std::to_string(i), 1000, false);
    TFakeTree::Put(loop / "loop" / "backing_file",
                   "/var/lib/snapd/snaps/app_" + std::to_string(i) + ".snap");
    mount(loop, "/snap/app/" + std::to_string(i), "squashfs", "shared:" + std::to_string(i) + " ");
  }
  fs::path card = tree.Disk("loop30", 8192, false);
  TFakeTree::Put(card / "loop" / "backing_file", "/home/u/card.img");
  fs::path stick = tree.Disk("loop31", 8192, false);
  TFakeTree::Put(stick / "loop" / "backing_file", "/home/u/stick image.img");
  mount(stick, "/media/u/STICK\\040ONE", "vfat", "");
  fs::path live = tree.Disk("loop32", 8192, false);
  TFakeTree::Put(live / "loop" / "backing_file", "/run/live/medium/live/filesystem.erofs");
  mount(live, "/run/live/rootfs", "erofs", "");
  fs::path nvme = tree.Disk("nvme0n1", 400000, false);
  tree.Partition(nvme, "nvme0n1p1", 100000);
  tree.Partition(nvme, "nvme0n1p2", 300000);
  mount(nvme / "nvme0n1p2", "/", "ext4", "shared:1 ");
  fs::path sda = tree.Disk("sda", 100000, false);
  tree.Partition(sda, "sda1", 99000);
  fs::path reader = tree.Disk("sdb", 8192, true, "pci0000:00/0000:00:14.0/usb1/1-2");
  tree.Partition(reader, "sdb1", 8000);
  fs::path sd = tree.Disk("mmcblk0", 8192, false);
  TFakeTree::Put(sd / "device" / "type", "SD");
  tree.Partition(sd, "mmcblk0p1", 8000);
  fs::path emmc = tree.Disk("mmcblk1", 8192, false);
  TFakeTree::Put(emmc / "device" / "type", "MMC");
  tree.Disk("sr0", 0, true);
  tree.Disk("zram0", 8192, false);
  TFakeTree::Put(tree.Root / "mountinfo", mounts);

  TLinuxDrives platform(tree.Roots());
  std::vector<TLetterCase> want = {
      {"mmcblk0p1", 'C'}, {"sdb1", 'D'}, {"sr0", 'E'},    {"mmcblk1", 'F'}, {"nvme0n1p1", 'G'},
      {"nvme0n1p2", 'H'}, {"sda1", 'I'}, {"loop30", 'J'}, {"loop31", 'K'},  {"zram0", 'L'},
      {"loop0", 0},       {"loop17", 0}, {"loop29", 0},   {"loop32", 0},
  };
  ExpectLetters(platform, tree, want, 10);
  EXPECT_EQ(platform.GetDriveType("J:\\"), DRIVE_REMOVABLE) << "an image attached by hand";
  EXPECT_EQ(platform.GetDriveType("F:\\"), DRIVE_FIXED) << "built-in flash";
  EXPECT_EQ(platform.GetDriveType("L:\\"), DRIVE_RAMDISK);
}

// Letters stay with their devices, but when images attached by hand hold every
// letter, a card that arrives takes the last of them; the image gets it back once
// the card has gone.
TEST(LinuxDrives, ACardTakesALetterFromALoopDevice) {
  TFakeTree tree;
  tree.Disk("vda", 4096, false);
  for (int i = 0; i < 24; ++i) {
    fs::path loop = tree.Disk("loop" + std::to_string(i), 64, false);
    TFakeTree::Put(loop / "loop" / "backing_file", "/srv/img" + std::to_string(i));
  }
  TLinuxDrives platform(tree.Roots());
  std::vector<TLetterCase> want = {
      {"vda", 'C'}, {"loop0", 'D'}, {"loop21", 'Y'}, {"loop22", 'Z'}, {"loop23", 0}};
  ExpectLetters(platform, tree, want, 24);

  fs::path reader = tree.Disk("sdb", 8192, true, "pci0000:00/0000:00:14.0/usb1/1-2");
  tree.Partition(reader, "sdb1", 8000);
  want = {{"vda", 'C'},  {"loop0", 'D'}, {"loop21", 'Y'},
          {"sdb1", 'Z'}, {"loop22", 0},  {"loop23", 0}};
  ExpectLetters(platform, tree, want, 24);

  fs::remove_all(tree.Root / "sys" / "block" / "sdb");
  want = {{"vda", 'C'}, {"loop0", 'D'}, {"loop21", 'Y'}, {"loop22", 'Z'}, {"loop23", 0}};
  ExpectLetters(platform, tree, want, 24);
}

// The machine's own devices: whatever they are, each gets a letter root and
// detection copes with it. Where the machine refuses a device even to root, the
// log does not send the user off to become root.
TEST(LinuxDrives, TheRealMachine) {
  test::TLogCapture log;
  TLinuxDrives platform;
  TDriveManager m(platform);
  m.Refresh();
  for (int i = 0; i < m.Count(); ++i) {
    TDrive* d = m.Drives(i);
    ASSERT_EQ(d->Root().size(), 3u);
    EXPECT_EQ(d->Root().substr(1), ":\\");
    EXPECT_FALSE(platform.DevicePath(d->Root()[0]).empty());
    EXPECT_FALSE(d->GetDisplayName().empty());
  }
  if (geteuid() == 0) {
    for (auto& line : log.Lines())
      EXPECT_EQ(line.find("disk group"), std::string::npos) << line;
  }
}

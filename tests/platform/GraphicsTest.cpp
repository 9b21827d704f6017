#include "Graphics.h"
#include "Clipboard.h"
#include "EndedProcess.h"
#include "FileSizeLimit.h"
#include "Timer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <grp.h>
#include <iostream>
#include <iterator>
#include <linux/capability.h>
#include <map>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

using namespace gf;
namespace fs = std::filesystem;

namespace {
std::unique_ptr<TDibSection> Dib(int W, int H, int Bits) {
  TBitmapInfo256 info{};
  info.bmiHeader.biSize = 40;
  info.bmiHeader.biWidth = W;
  info.bmiHeader.biHeight = H;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = static_cast<uint16_t>(Bits);
  return TDibSection::Create(info);
}
// A picture whose save writes Bytes, then fails when told to.
class TSavedBytes : public TBitmap {
public:
  std::string Bytes;
  bool Fail = false;
  void SaveToStream(TStream& Stream) override {
    Stream.WriteBuffer(Bytes.data(), Bytes.size());
    if (Fail)
      throw EInvalidGraphic("refused");
  }
};

std::string Contents(const fs::path& File) {
  std::ifstream in(File, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A folder that every user may enter, so that a save as another user can reach it.
struct TSaveDir {
  TSaveDir() {
    char tmpl[] = "/tmp/gf_save_XXXXXX";
    Path = mkdtemp(tmpl);
    fs::permissions(Path, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
  }
  ~TSaveDir() {
    std::error_code ec;
    for (auto& e : fs::recursive_directory_iterator(Path, ec))
      if (!e.is_symlink(ec) && e.is_directory(ec))
        fs::permissions(e.path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(Path, ec);
  }
  fs::path Path;
};

// The names in a folder; a part file would be among them.
std::vector<std::string> Names(const fs::path& Folder) {
  std::vector<std::string> names;
  for (auto& e : fs::directory_iterator(Folder))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

constexpr uid_t NobodyId = 65534; // nobody, and its group nogroup

// Saves "new picture" (or a refused save) into Name in a child process, as the user
// nobody when asked (the caller being root): what was raised, or "(no error)". The
// child is ended after 10 s, so that a save that waits fails instead of hanging.
std::string Save(const std::string& Name, bool AsNobody = false, bool Fail = false) {
  int out[2];
  if (pipe(out) != 0)
    return "no pipe";
  const pid_t child = fork();
  if (child == 0) {
    close(out[0]);
    alarm(10);
    std::string result = "(no error)";
    if (AsNobody && (setgroups(0, nullptr) != 0 || setgid(NobodyId) != 0 || setuid(NobodyId) != 0))
      result = "cannot become nobody";
    else
      try {
        TSavedBytes g;
        g.Bytes = "new picture";
        g.Fail = Fail;
        g.SaveToFile(Name);
      } catch (const std::exception& e) {
        result = e.what();
      }
    (void)!write(out[1], result.data(), result.size());
    _exit(0);
  }
  close(out[1]);
  std::string result;
  char buf[512];
  for (ssize_t n; (n = read(out[0], buf, sizeof buf)) > 0;)
    result.append(buf, static_cast<std::size_t>(n));
  close(out[0]);
  int status = 0;
  waitpid(child, &status, 0);
  if (WIFSIGNALED(status))
    return "ended by signal " + std::to_string(WTERMSIG(status));
  return result;
}

} // namespace

// A save goes into a file of its own beside the old one, which it replaces only when
// it is whole: a refused save leaves the old picture, and nothing else behind.
TEST(Graphics, SaveToFileReplacesOnlyWhatSaved) {
  const fs::path dir = fs::temp_directory_path() / ("gf_save_" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  struct TCase {
    const char* What;
    const char* Old; // the file's contents before, nullptr: no file
    bool Fail;
    const char* After; // nullptr: no file
    const char* Error;
  };
  const TCase cases[] = {
      {"a new file", nullptr, false, "new picture", "(no error)"},
      {"over an old file", "old picture", false, "new picture", "(no error)"},
      {"a refused save over an old file", "old picture", true, "old picture", "refused"},
      {"a refused save with no file", nullptr, true, nullptr, "refused"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    const fs::path file = dir / "picture.tif";
    fs::remove(file);
    if (c.Old) {
      std::ofstream(file, std::ios::binary) << c.Old;
      fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    }
    TSavedBytes g;
    g.Bytes = "new picture";
    g.Fail = c.Fail;
    std::string error = "(no error)";
    try {
      g.SaveToFile(file.string());
    } catch (const std::exception& e) {
      error = e.what();
    }
    EXPECT_EQ(error, c.Error);
    ASSERT_EQ(fs::exists(file), c.After != nullptr);
    if (c.After) {
      EXPECT_EQ(Contents(file), c.After);
    }
    if (c.Old && c.After) { // the old file's permissions stay
      EXPECT_EQ(fs::status(file).permissions(),
                fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()),
              c.After ? 1 : 0); // no temporary left
  }
  // Through a link the file it names is replaced, and the link stays.
  std::ofstream(dir / "target.tif", std::ios::binary) << "old picture";
  fs::create_symlink(dir / "target.tif", dir / "link.tif");
  TSavedBytes g;
  g.Bytes = "new picture";
  g.SaveToFile((dir / "link.tif").string());
  EXPECT_TRUE(fs::is_symlink(dir / "link.tif"));
  EXPECT_EQ(Contents(dir / "target.tif"), "new picture");
  // A folder that does not exist names the file asked for.
  try {
    g.SaveToFile((dir / "missing" / "p.tif").string());
    ADD_FAILURE() << "saved into a missing folder";
  } catch (const EFileStreamError& e) {
    EXPECT_EQ(e.what(), "Cannot create file \"" + (dir / "missing" / "p.tif").string() +
                            "\". No such file or directory");
  }
  fs::remove_all(dir);
}

// What is not a file is written into as it stands, never replaced: a device stays the
// device, a pipe gets the bytes, and one without a reader is refused at once.
TEST(Graphics, SaveToFileWritesIntoWhatIsNotAFile) {
  TSaveDir dir;
  // Made here as root, so that a save that replaced them could not touch the system's.
  std::string null = "/dev/null", full = "/dev/full";
  if (geteuid() == 0) {
    null = (dir.Path / "null").string();
    full = (dir.Path / "full").string();
    if (mknod(null.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0 ||
        mknod(full.c_str(), S_IFCHR | 0666, makedev(1, 7)) != 0 ||
        access(null.c_str(), W_OK) != 0) // a folder without devices
      null = full = "";
  }
  const std::string fifo = (dir.Path / "fifo").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  struct TCase {
    const char* What;
    std::string Name;
    bool Reader; // the pipe's reader is there
    bool Fail;
    std::string Error;
    const char* Piped; // what the reader gets
  };
  std::vector<TCase> cases = {
      {"a pipe with a reader", fifo, true, false, "(no error)", "new picture"},
      {"a refused save into a pipe", fifo, true, true, "refused", ""},
      {"a pipe without a reader", fifo, false, false,
       "Cannot create file \"" + fifo + "\". No such device or address", ""},
  };
  if (null.empty())
    std::cout << "Cases skipped, devices: no device can be made or opened in " << dir.Path << "\n";
  else {
    cases.push_back({"the null device", null, false, false, "(no error)", ""});
    cases.push_back({"a full device", full, false, false,
                     "Cannot write file \"" + full + "\". No space left on device", ""});
  }
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    struct stat before {};
    ASSERT_EQ(stat(c.Name.c_str(), &before), 0);
    const int reader = c.Reader ? open(fifo.c_str(), O_RDONLY | O_NONBLOCK) : -1;
    EXPECT_EQ(Save(c.Name, false, c.Fail), c.Error);
    if (reader >= 0) {
      char buf[64];
      const ssize_t n = read(reader, buf, sizeof buf);
      EXPECT_EQ(std::string(buf, n > 0 ? static_cast<std::size_t>(n) : 0), c.Piped);
      close(reader);
    }
    struct stat after {};
    ASSERT_EQ(stat(c.Name.c_str(), &after), 0);
    EXPECT_EQ(after.st_mode, before.st_mode);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_rdev, before.st_rdev);
  }
  EXPECT_EQ(Names(dir.Path).size(), null.starts_with(dir.Path.string()) ? 3u : 1u)
      << "no part file is left";
}

// A link that names nothing yet names the file to create; the links stay links.
TEST(Graphics, SaveToFileThroughADanglingLinkCreatesWhatItNames) {
  struct TCase {
    const char* What;
    std::vector<std::pair<const char*, std::string>> Links; // name, what it names
    const char* Saved;                                      // the name saved to
    const char* Made;                                       // the file made, nullptr: none
    const char* Error;                                      // after the name, "" for none
  };
  const TCase cases[] = {
      {"a dangling link", {{"link.tif", "sub/new.tif"}}, "link.tif", "sub/new.tif", ""},
      {"a chain ending nowhere",
       {{"a.tif", "b.tif"}, {"b.tif", "sub/c.tif"}},
       "a.tif",
       "sub/c.tif",
       ""},
      {"an absolute link", {{"abs.tif", "@/sub/abs.tif"}}, "abs.tif", "sub/abs.tif", ""},
      {"a link into a folder that is not there",
       {{"l.tif", "missing/x.tif"}},
       "l.tif",
       nullptr,
       "No such file or directory"},
      {"a loop",
       {{"loop1", "loop2"}, {"loop2", "loop1"}},
       "loop1",
       nullptr,
       "Too many levels of symbolic links"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    TSaveDir dir;
    fs::create_directory(dir.Path / "sub");
    for (auto& [name, to] : c.Links)
      fs::create_symlink(to[0] == '@' ? dir.Path.string() + to.substr(1) : to, dir.Path / name);
    const std::string saved = (dir.Path / c.Saved).string();
    EXPECT_EQ(Save(saved), *c.Error ? "Cannot create file \"" + saved + "\". " + c.Error
                                    : std::string("(no error)"));
    for (auto& [name, to] : c.Links)
      EXPECT_TRUE(fs::is_symlink(dir.Path / name)) << name;
    if (c.Made) {
      EXPECT_EQ(Contents(dir.Path / c.Made), "new picture");
    }
    EXPECT_EQ(Names(dir.Path).size(), c.Links.size() + 1) << "nothing but the folder sub";
    EXPECT_EQ(Names(dir.Path / "sub").size(), c.Made ? 1u : 0u);
  }
}

// A file stays the file it was: its owner, group, permissions, attributes and other
// names. Where a new file could not be all of that, or the folder takes no new file,
// the old one is written into; a refused save leaves it as it was all the same.
TEST(Graphics, SaveToFileKeepsWhatTheFileIs) {
  const bool root = geteuid() == 0;
  // Me: this process's user; Nobody: the user nobody (needs root to arrange);
  // Plain: a user whom permissions bind (nobody when this process is root).
  enum TWho { Me, Nobody, Plain };
  struct TCase {
    const char* What;
    TWho Saver, Owner;
    mode_t Mode, FolderMode;
    bool SecondName = false;     // a hard link beside it
    bool Attribute = false;      // user.origin
    bool Capability = false;     // security.capability, which only privilege sets
    bool Fail = false;           // the save is refused
    bool InPlace = false;        // written into, not replaced
    const char* Error = nullptr; // the system's, after the name; nullptr: none
  };
  const TCase cases[] = {
      {.What = "a file of this user", .Saver = Me, .Owner = Me, .Mode = 0640, .FolderMode = 0755},
      {.What = "a file of another user",
       .Saver = Me,
       .Owner = Nobody,
       .Mode = 0640,
       .FolderMode = 0755},
      {.What = "another's file, which cannot be given to its owner",
       .Saver = Nobody,
       .Owner = Me,
       .Mode = 0666,
       .FolderMode = 0777,
       .InPlace = true},
      {.What = "a file with a second name",
       .Saver = Me,
       .Owner = Me,
       .Mode = 0644,
       .FolderMode = 0755,
       .SecondName = true,
       .InPlace = true},
      {.What = "a refused save into a file with a second name",
       .Saver = Me,
       .Owner = Me,
       .Mode = 0644,
       .FolderMode = 0755,
       .SecondName = true,
       .Fail = true},
      {.What = "an extended attribute",
       .Saver = Me,
       .Owner = Me,
       .Mode = 0644,
       .FolderMode = 0755,
       .Attribute = true},
      {.What = "an attribute that the saver cannot set",
       .Saver = Nobody,
       .Owner = Nobody,
       .Mode = 0644,
       .FolderMode = 0777,
       .Attribute = true,
       .Capability = true,
       .InPlace = true},
      {.What = "a read-only folder",
       .Saver = Plain,
       .Owner = Plain,
       .Mode = 0644,
       .FolderMode = 0555,
       .InPlace = true},
      {.What = "a read-only file in a read-only folder",
       .Saver = Plain,
       .Owner = Plain,
       .Mode = 0444,
       .FolderMode = 0555,
       .Error = "Permission denied"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    auto uid = [&](TWho W) { return W == Nobody || (W == Plain && root) ? NobodyId : geteuid(); };
    auto gid = [&](TWho W) { return W == Nobody || (W == Plain && root) ? NobodyId : getegid(); };
    if (!root && (c.Saver == Nobody || c.Owner == Nobody)) {
      std::cout << "Case skipped, " << c.What << ": needs root to act as another user\n";
      continue;
    }
    TSaveDir dir;
    const fs::path folder = dir.Path / "folder";
    fs::create_directory(folder);
    const fs::path file = folder / "picture.tif";
    std::ofstream(file, std::ios::binary) << "old picture";
    ASSERT_EQ(chmod(file.c_str(), c.Mode), 0);
    ASSERT_EQ(chown(file.c_str(), uid(c.Owner), gid(c.Owner)), 0);
    if (c.SecondName)
      fs::create_hard_link(file, folder / "other.tif");
    if (c.Attribute && setxattr(file.c_str(), "user.origin", "card", 4, 0) != 0) {
      std::cout << "Case skipped, " << c.What << ": " << std::strerror(errno) << "\n";
      continue;
    }
    vfs_cap_data cap{};
    cap.magic_etc = VFS_CAP_REVISION_2;
    cap.data[0].permitted = 1u << CAP_NET_RAW;
    if (c.Capability && setxattr(file.c_str(), "security.capability", &cap, sizeof cap, 0) != 0) {
      std::cout << "Case skipped, " << c.What << ": " << std::strerror(errno) << "\n";
      continue;
    }
    ASSERT_EQ(chmod(folder.c_str(), c.FolderMode), 0);
    struct stat before {};
    ASSERT_EQ(stat(file.c_str(), &before), 0);

    const bool asNobody = uid(c.Saver) == NobodyId && root;
    const std::string error = Save(file.string(), asNobody, c.Fail);
    const bool saved = !c.Error && !c.Fail;
    EXPECT_EQ(error, c.Fail    ? std::string("refused")
                     : c.Error ? "Cannot create file \"" + file.string() + "\". " + c.Error
                               : std::string("(no error)"));
    EXPECT_EQ(Contents(file), saved ? "new picture" : "old picture");
    if (c.SecondName) {
      EXPECT_EQ(Contents(folder / "other.tif"), Contents(file));
    }
    struct stat after {};
    ASSERT_EQ(stat(file.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino == before.st_ino, c.InPlace || !saved);
    EXPECT_EQ(after.st_uid, before.st_uid);
    EXPECT_EQ(after.st_gid, before.st_gid);
    EXPECT_EQ(after.st_mode, before.st_mode);
    if (c.Attribute) {
      char value[16] = {};
      EXPECT_EQ(getxattr(file.c_str(), "user.origin", value, sizeof value), 4);
      EXPECT_STREQ(value, "card");
    }
    chmod(folder.c_str(), 0755);
    EXPECT_EQ(Names(folder).size(), c.SecondName ? 2u : 1u) << "no part file is left";
  }
}

// The hidden file that a save writes first has a short name, so whatever name the
// folder takes can be saved; a failure names the file asked for, never the hidden one.
TEST(Graphics, SaveToFileTakesEveryNameAndNamesItInErrors) {
  TSaveDir dir;
  const fs::path longName = dir.Path / (std::string(246, 'n') + ".tif"); // 250 bytes
  EXPECT_EQ(Save(longName.string()), "(no error)");
  EXPECT_EQ(Contents(longName), "new picture");
  EXPECT_EQ(Save(longName.string()), "(no error)") << "over the old one";
  struct TCase {
    const char* What;
    fs::path File;
    const char* Old; // nullptr: none
  };
  const TCase cases[] = {
      {"a new file", dir.Path / "new.tif", nullptr},
      {"over an old file", dir.Path / "old.tif", "old"},
      {"a long name", longName, "new picture"},
      // Written into, where the disk is found full before a byte has changed.
      {"a file with a second name", dir.Path / "linked.tif", "old"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    if (c.Old)
      std::ofstream(c.File, std::ios::binary) << c.Old;
    if (c.File == dir.Path / "linked.tif")
      fs::create_hard_link(c.File, dir.Path / "linked2.tif");
    std::string error = "(no error)";
    {
      gf::test::TFileSizeLimit limit(4);
      ASSERT_TRUE(limit.Active);
      try {
        TSavedBytes g;
        g.Bytes = "new picture";
        g.SaveToFile(c.File.string());
      } catch (const std::exception& e) {
        error = e.what();
      }
    }
    EXPECT_EQ(error, "Cannot write file \"" + c.File.string() + "\". File too large");
    EXPECT_EQ(fs::exists(c.File), c.Old != nullptr);
    if (c.Old) {
      EXPECT_EQ(Contents(c.File), c.Old);
    }
  }
  EXPECT_EQ(Names(dir.Path).size(), 4u) << "no part file is left";
}

// A save that was killed halfway leaves its hidden file; the next save into that
// folder removes it, and leaves those of a process that still runs.
TEST(Graphics, SaveToFileRemovesWhatKilledSavesLeft) {
  TSaveDir dir;
  std::ofstream(dir.Path / "a.tif", std::ios::binary) << "old picture";
  const std::string live = ".glimmerfold-" + std::to_string(getppid()) + "-0.part";
  std::ofstream(dir.Path / live) << "being written";
  const pid_t child = gf::test::KilledMidway([&](int Signal) {
    class TStalling : public TBitmap {
    public:
      int Signal = -1;
      void SaveToStream(TStream& Stream) override {
        Stream.WriteBuffer("half", 4);
        char c = 1;
        (void)!write(Signal, &c, 1);
        pause(); // killed here
      }
    } g;
    g.Signal = Signal;
    g.SaveToFile((dir.Path / "a.tif").string());
  });
  ASSERT_GT(child, 0);
  const std::string left = ".glimmerfold-" + std::to_string(child) + "-0.part";
  // Names() sorts, and the two process numbers may sort either way.
  auto sorted = [](std::vector<std::string> Names) {
    std::sort(Names.begin(), Names.end());
    return Names;
  };
  EXPECT_EQ(Names(dir.Path), sorted({live, left, "a.tif"}));
  EXPECT_EQ(Contents(dir.Path / "a.tif"), "old picture");
  EXPECT_EQ(Save((dir.Path / "b.tif").string()), "(no error)");
  EXPECT_EQ(Names(dir.Path), sorted({live, "a.tif", "b.tif"}));
}

TEST(Graphics, DibSizesAndRefusals) {
  struct TCase {
    int W, H, Bits;
    bool Made;
    std::size_t Row;
  };
  const TCase cases[] = {{3, 2, 1, true, 4},         {9, 1, 4, true, 8},
                         {5, 1, 8, true, 8},         {5, 1, 24, true, 16},
                         {0, 5, 24, false, 0},       {5, -1, 24, false, 0},
                         {5, 5, 16, false, 0},       {5, 5, 32, false, 0},
                         {1 << 30, 4, 24, false, 0}, {65536, 65536, 8, false, 0}};
  for (const auto& c : cases) {
    auto d = Dib(c.W, c.H, c.Bits);
    EXPECT_EQ(d != nullptr, c.Made) << c.W << "x" << c.H << "x" << c.Bits;
    if (d) {
      EXPECT_EQ(d->RowBytes(), c.Row);
    }
  }
  EXPECT_EQ(DibRowBytes(int64_t{1} << 40, 24), (((int64_t{1} << 40) * 24 + 31) / 32) * 4);
  EXPECT_EQ(DibRowBytes(-1, 8), -1);
}

TEST(Graphics, CanvasFillStretchAndClip) {
  auto target = Dib(8, 8, 24);
  TCanvas canvas(target.get());
  canvas.BrushColor = RGB(10, 20, 30);
  canvas.FillRect(TRect{-5, -5, 2, 2}); // clipped to the surface
  EXPECT_EQ(canvas.GetPixel(1, 1), RGB(10, 20, 30));
  EXPECT_EQ(canvas.GetPixel(2, 2), 0u);
  EXPECT_EQ(canvas.GetPixel(-1, 0), 0u);

  auto src = Dib(2, 2, 8);
  TRGBQuad table[2] = {{0, 0, 255, 0}, {255, 0, 0, 0}}; // red, blue
  src->SetColorTable(table, 2);
  src->Row(0)[1] = 1;
  canvas.StretchDib(TRect{4, 4, 8, 8}, *src); // 2 x 2 into 4 x 4: nearest neighbour
  EXPECT_EQ(canvas.GetPixel(4, 4), RGB(255, 0, 0));
  EXPECT_EQ(canvas.GetPixel(7, 5), RGB(0, 0, 255));
  EXPECT_EQ(canvas.GetPixel(7, 7), RGB(255, 0, 0));
  canvas.StretchDib(TRect{7, 7, 9, 9}, *src); // partly outside: clipped, no write past
  EXPECT_EQ(canvas.GetPixel(7, 7), RGB(255, 0, 0));

  // A palette surface takes the nearest entry of its colour table.
  auto pal = Dib(4, 1, 4);
  TRGBQuad two[2] = {{0, 0, 0, 0}, {255, 255, 255, 0}};
  pal->SetColorTable(two, 2);
  TCanvas pc(pal.get());
  pc.SetPixel(3, 0, RGB(200, 200, 200));
  EXPECT_EQ(pal->Row(0)[1] & 0x0F, 1);
}

TEST(Graphics, BitmapKeepsItsPictureWhenResized) {
  TBitmap b;
  EXPECT_TRUE(b.GetEmpty());
  b.SetSize(3, 3);
  b.Canvas().SetPixel(2, 0, RGB(1, 2, 3));
  int changes = 0;
  b.OnChange = [&](TGraphic&) { ++changes; };
  b.SetWidth(5);
  EXPECT_EQ(b.Canvas().GetPixel(2, 0), RGB(1, 2, 3));
  EXPECT_EQ(b.Canvas().GetPixel(4, 0), 0u);
  EXPECT_EQ(changes, 1);
  b.SetPixelFormat(TPixelFormat::pf1bit);
  EXPECT_EQ(b.Handle()->BitCount(), 1);
  EXPECT_THROW(b.SetSize(1 << 30, 1 << 30), EOutOfResources);
  TBitmap copy;
  copy.Assign(&b);
  EXPECT_EQ(copy.GetWidth(), b.GetWidth());
  copy.Assign(nullptr);
  EXPECT_TRUE(copy.GetEmpty());
}

TEST(Graphics, RegistryTimerAndClipboard) {
  TPicture::RegisterFileFormat(".Bmp", "Bitmap", TBitmap::Class);
  EXPECT_EQ(TPicture::FileFormatClass("BMP"), &TBitmap::Class);
  TPicture::RegisterFileFormat("bmp", "Other", TIcon::Class); // replaces
  EXPECT_EQ(TPicture::FileFormatClass("bmp"), &TIcon::Class);
  TPicture::UnregisterGraphicClass(TIcon::Class);
  EXPECT_EQ(TPicture::FileFormatClass("bmp"), nullptr);

  TTimer t;
  int ticks = 0;
  t.OnTimer = [&] { ++ticks; };
  t.Tick();
  t.Enabled = true;
  t.Tick();
  EXPECT_EQ(ticks, 1);

  TClipboard clip;
  clip.Open();
  clip.Open();
  clip.Close();
  EXPECT_TRUE(clip.IsOpen());
  clip.Close();
  EXPECT_FALSE(clip.IsOpen());
  clip.SetBitmap(Dib(1, 1, 24));
  EXPECT_TRUE(clip.HasFormat(CF_BITMAP));
  EXPECT_FALSE(clip.HasFormat(CF_PALETTE));
}

#include "Registry.h"
#include "EndedProcess.h"
#include "UserDirs.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>
#include <unistd.h>

using namespace gf;
namespace fs = std::filesystem;

namespace {

const char* const Key = "SOFTWARE\\Tessaloon\\Glimmerfold\\2.0";

struct TempDir {
  fs::path path;
  TempDir() {
    char tmpl[] = "/tmp/gf_registry_XXXXXX";
    path = mkdtemp(tmpl);
  }
  ~TempDir() { fs::remove_all(path); }
};

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p);
  return {std::istreambuf_iterator<char>(in), {}};
}

// Fails after writing half of the new contents, as a crash or a full disk would.
class TFailingRegistry : public TRegistry {
public:
  using TRegistry::TRegistry;

protected:
  void WriteData(int Fd, const std::string& Text) override {
    TRegistry::WriteData(Fd, Text.substr(0, Text.size() / 2));
    throw ERegistryException("No space left on device");
  }
};

} // namespace

TEST(Registry, TypedValuesSurviveAReload) {
  TempDir dir;
  std::string file = (dir.path / "sub" / "settings.reg").string();
  {
    TRegistry r(file);
    EXPECT_FALSE(r.ValueExists(Key, "DestPath"));
    r.WriteString(Key, "DestPath", "/home/u/Pictures/Recovered/");
    r.WriteString(Key, "FilePrefix", "line\\with\nbreak");
    r.WriteString(Key, "Empty", "");
    r.WriteBool(Key, "ClearThumbs", true);
    r.WriteInteger(Key, "Big", -1234567890123);
  }
  TRegistry r(file);
  EXPECT_EQ(r.ReadString(Key, "DestPath"), "/home/u/Pictures/Recovered/");
  EXPECT_EQ(r.ReadString(Key, "FilePrefix"), "line\\with\nbreak");
  EXPECT_EQ(r.ReadString(Key, "Empty"), "");
  EXPECT_TRUE(r.ReadBool(Key, "ClearThumbs"));
  EXPECT_EQ(r.ReadInteger(Key, "Big"), -1234567890123);
  EXPECT_THROW(r.ReadInteger(Key, "DestPath"), ERegistryException);
  EXPECT_THROW(r.ReadString(Key, "ClearThumbs"), ERegistryException);
  EXPECT_THROW(r.ReadString(Key, "Missing"), ERegistryException);
  EXPECT_NE(ReadAll(file).find("DestPath=sz:/home/u/Pictures/Recovered/"), std::string::npos)
      << "the file is readable by a person";
}

TEST(Registry, DamagedLinesAreKeptNotFatal) {
  TempDir dir;
  std::string file = (dir.path / "settings.reg").string();
  std::ofstream(file) << "[HKEY_CURRENT_USER\\" << Key << "]\n"
                      << "ClearThumbs=int:zero\nFilePrefix=sz:Holiday\ngarbage line\n";
  TRegistry r(file);
  EXPECT_FALSE(r.ValueExists(Key, "ClearThumbs"));
  EXPECT_EQ(r.ReadString(Key, "FilePrefix"), "Holiday");
  EXPECT_EQ(r.DamagedLines().size(), 2u);
  r.WriteBool(Key, "ClearThumbs", false);
  EXPECT_NE(ReadAll(file).find("garbage line"), std::string::npos);
}

// Whatever stood in the file, a value written is the value the next load reads;
// damaged lines stay in the file but are never read back as values.
TEST(Registry, WhatIsWrittenIsWhatTheNextLoadReads) {
  const std::string header = std::string("[HKEY_CURRENT_USER\\") + Key + "]";
  struct {
    const char* what;
    std::string file;
    const char* otherValue; // FilePrefix as it must read, or null when absent
  } cases[] = {
      {"a stale line before the first key",
       "DestPath=sz:/stale/\n" + header + "\nFilePrefix=sz:P\n", "P"},
      {"lines of a key that is not ours",
       "[HKEY_LOCAL_MACHINE\\Other]\nDestPath=sz:/other/\n" + header + "\nFilePrefix=sz:P\n", "P"},
      {"a damaged line in our key", header + "\nDestPath=int:x\nFilePrefix=sz:P\ngarbage\n", "P"},
      {"CRLF line endings", header + "\r\nDestPath=sz:/old/\r\nFilePrefix=sz:P\r\n", "P"},
      {"CRLF and a stale line", "DestPath=sz:/stale/\r\n" + header + "\r\nFilePrefix=sz:P\r\n",
       "P"},
      {"no file", "", nullptr},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    std::string file = (dir.path / "settings.reg").string();
    if (!c.file.empty())
      std::ofstream(file, std::ios::binary) << c.file;
    {
      TRegistry r(file);
      if (c.otherValue) {
        EXPECT_EQ(r.ReadString(Key, "FilePrefix"), c.otherValue) << "read at the first load";
      }
      r.WriteString(Key, "DestPath", "/new/");
    }
    for (int load = 0; load < 2; ++load) { // and again after a write from the reloaded store
      TRegistry r(file);
      EXPECT_EQ(r.ReadString(Key, "DestPath"), "/new/") << "load " << load;
      if (c.otherValue) {
        EXPECT_EQ(r.ReadString(Key, "FilePrefix"), c.otherValue) << "load " << load;
      }
      r.WriteBool(Key, "ClearThumbs", true);
    }
  }
}

TEST(Registry, NamesThatCouldNotBeReadBackAreRefused) {
  TempDir dir;
  TRegistry r((dir.path / "settings.reg").string());
  for (const char* name : {"", "a=b", "line\nbreak", "cr\r", ";comment", "[key]"})
    EXPECT_THROW(r.WriteString(Key, name, "v"), ERegistryException) << name;
  EXPECT_THROW(r.WriteString("bad]key", "Name", "v"), ERegistryException);
}

TEST(Registry, FailedWriteLeavesThePreviousFileWhole) {
  TempDir dir;
  std::string file = (dir.path / "settings.reg").string();
  { TRegistry(file).WriteString(Key, "DestPath", "/old/"); }
  std::string before = ReadAll(file);
  TFailingRegistry r(file);
  EXPECT_THROW(r.WriteString(Key, "DestPath", std::string(10000, 'x')), ERegistryException);
  EXPECT_EQ(ReadAll(file), before);
  EXPECT_EQ(r.ReadString(Key, "DestPath"), "/old/") << "memory follows the file";
  int entries = 0;
  for (auto& e : fs::directory_iterator(dir.path)) {
    (void)e;
    ++entries;
  }
  EXPECT_EQ(entries, 1) << "no temporary file is left behind";
}

// A store that cannot be written says so of its own file, not of the part file.
TEST(Registry, AFailedWriteNamesTheStore) {
  TempDir dir;
  std::ofstream(dir.path / "afile") << "not a folder";
  const std::string file = (dir.path / "afile" / "settings.reg").string();
  try {
    TRegistry(file).WriteString(Key, "DestPath", "/p/");
    ADD_FAILURE() << "written below a file";
  } catch (const ERegistryException& e) {
    EXPECT_EQ(std::string(e.what()),
              "Cannot create settings file \"" + file + "\": Not a directory");
  }
}

TEST(Registry, KilledWriterLeavesThePreviousFileWhole) {
  TempDir dir;
  std::string file = (dir.path / "settings.reg").string();
  { TRegistry(file).WriteString(Key, "DestPath", "/old/"); }
  std::string before = ReadAll(file);
  const pid_t child = gf::test::KilledMidway([&](int Signal) {
    class TStalling : public TRegistry {
    public:
      using TRegistry::TRegistry;
      int Signal;

    protected:
      void WriteData(int Fd, const std::string& Text) override {
        TRegistry::WriteData(Fd, Text.substr(0, 10));
        char c = 1;
        (void)!write(Signal, &c, 1);
        pause(); // killed here, midway through the write
      }
    } r(file);
    r.Signal = Signal;
    r.WriteString(Key, "DestPath", "/new/");
  });
  ASSERT_GT(child, 0);
  EXPECT_EQ(ReadAll(file), before);
  EXPECT_EQ(TRegistry(file).ReadString(Key, "DestPath"), "/old/");
  const fs::path left = dir.path / (".glimmerfold-" + std::to_string(child) + "-0.part");
  ASSERT_TRUE(fs::exists(left)) << "the killed writer leaves its part file";
  TRegistry(file).WriteString(Key, "DestPath", "/next/");
  EXPECT_FALSE(fs::exists(left)) << "the next write removes it";
  EXPECT_EQ(TRegistry(file).ReadString(Key, "DestPath"), "/next/");
}

// Interrupted writes leave part files; the next write removes those of ended writers
// beside the store, and nothing else.
TEST(Registry, AWriteRemovesThePartFilesOfEndedWriters) {
  TempDir dir;
  fs::create_directories(dir.path / "cfg");
  fs::path cfg = dir.path / "cfg";
  std::string file = (cfg / "settings.reg").string();
  const std::string ended = std::to_string(gf::test::EndedProcess());
  const std::string ended2 = std::to_string(gf::test::EndedProcess());
  const std::string live = std::to_string(getppid());
  struct {
    fs::path path;
    bool removed;
    bool folder = false;
  } cases[] = {
      {cfg / (".glimmerfold-" + ended + "-0.part"), true},
      {cfg / (".glimmerfold-" + ended2 + "-7.part"), true},
      {cfg / (".glimmerfold-" + live + "-0.part"), false}, // another instance, writing now
      {cfg / (".glimmerfold-" + ended + "-0.part.old"), false},
      {cfg / ("settings.reg.tmp" + ended), false},
      {dir.path / (".glimmerfold-" + ended + "-0.part"), false}, // not the store's folder
      {cfg / (".glimmerfold-" + ended + "-1.part"), false, true},
  };
  for (auto& c : cases) {
    if (c.folder)
      fs::create_directory(c.path);
    else
      std::ofstream(c.path) << "half a file";
  }
  TRegistry(file).WriteString(Key, "DestPath", "/p/");
  for (auto& c : cases)
    EXPECT_EQ(fs::exists(c.path), !c.removed) << c.path;
  EXPECT_EQ(TRegistry(file).ReadString(Key, "DestPath"), "/p/");
}

TEST(Registry, DefaultFileFollowsXdgConfigHome) {
  const char* old = std::getenv("XDG_CONFIG_HOME");
  std::string saved = old ? old : "";
  setenv("XDG_CONFIG_HOME", "/tmp/cfg", 1);
  EXPECT_EQ(TRegistry::DefaultFileName(), "/tmp/cfg/Glimmerfold/settings.reg");
  unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(TRegistry::DefaultFileName(), HomeFolder() + "/.config/Glimmerfold/settings.reg");
  if (old)
    setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
}

TEST(UserDirs, ReadsTheDesktopsFile) {
  TempDir dir;
  const char* oldHome = std::getenv("HOME");
  std::string savedHome = oldHome ? oldHome : "";
  setenv("HOME", dir.path.c_str(), 1);
  setenv("XDG_CONFIG_HOME", (dir.path / "cfg").c_str(), 1);
  fs::create_directories(dir.path / "cfg");
  struct {
    const char* file;
    const char* name;
    std::string want;
  } cases[] = {
      {"XDG_PICTURES_DIR=\"$HOME/Bilder\"\n", "PICTURES", dir.path.string() + "/Bilder"},
      {"# c\nXDG_DOCUMENTS_DIR=\"/data/docs/\"\n", "DOCUMENTS", "/data/docs"},
      {"XDG_PICTURES_DIR=\"$HOME/\"\n", "PICTURES", ""}, // disabled
      {"XDG_PICTURES_DIR=relative\n", "PICTURES", ""},
      {"XDG_MUSIC_DIR=\"$HOME/Music\"\n", "PICTURES", ""},
      // Without the file, the desktop's defaults.
      {nullptr, "PICTURES", dir.path.string() + "/Pictures"},
      {nullptr, "DOCUMENTS", dir.path.string() + "/Documents"},
      {nullptr, "NOSUCH", ""},
  };
  for (auto& c : cases) {
    fs::remove(dir.path / "cfg" / "user-dirs.dirs");
    if (c.file)
      std::ofstream(dir.path / "cfg" / "user-dirs.dirs") << c.file;
    EXPECT_EQ(UserDir(c.name), c.want) << (c.file ? c.file : "no file");
  }
  unsetenv("XDG_CONFIG_HOME");
  setenv("HOME", savedHome.c_str(), 1);
}

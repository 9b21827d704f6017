#include "Controller.h"
#include "Drives.h"
#include "LogCapture.h"
#include "MemoryMedium.h"
#include "Registry.h"
#include "SimulatedDrives.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <thread>

using namespace gf;
namespace fs = std::filesystem;

namespace {

const char* const Key = "SOFTWARE\\Tessaloon\\Glimmerfold\\2.0";

// A home folder and a config folder of their own, so no test sees the user's settings.
class ControllerTest : public ::testing::Test {
protected:
  void SetUp() override {
    char tmpl[] = "/tmp/gf-ctl-XXXXXX";
    Home = mkdtemp(tmpl);
    SaveEnv("HOME", Home.string());
    SaveEnv("XDG_CONFIG_HOME", (Home / "cfg").string());
    fs::create_directories(Home / "cfg");
    Settings = std::make_unique<TRegistry>((Home / "cfg" / "settings.reg").string());
  }
  void TearDown() override {
    Controller.reset();
    for (auto& [name, value] : Saved)
      value ? setenv(name.c_str(), value->c_str(), 1) : unsetenv(name.c_str());
    fs::remove_all(Home);
  }
  void SaveEnv(const std::string& Name, const std::string& Value) {
    const char* old = std::getenv(Name.c_str());
    Saved.emplace_back(Name, old ? std::optional<std::string>(old) : std::nullopt);
    setenv(Name.c_str(), Value.c_str(), 1);
  }
  TGlimmerfold& Make() {
    Controller = std::make_unique<TGlimmerfold>(Sim, *Settings);
    Controller->OnOptionsChanged = [this](TGlimmerfold&) { ++OptionsChanged; };
    Controller->OnDrivesChanged = [this](TGlimmerfold&) { ++DrivesChanged; };
    Controller->OnScanStarted = [this](TGlimmerfold&) { ++ScanStarted; };
    Controller->OnScanDone = [this](TGlimmerfold&, bool completed, bool byUser,
                                    const std::string& msg) {
      Done.push_back({completed, byUser, msg});
    };
    return *Controller;
  }
  static TSimDrive Disk(uint32_t Sectors) {
    TSimDrive d;
    d.DriveType = DRIVE_REMOVABLE;
    d.Image.assign(std::size_t{Sectors} * 512, 0);
    return d;
  }
  void Pump() {
    while (Controller->IsScanning() || MessagesPending())
      if (ProcessMessages() == 0)
        std::this_thread::yield();
  }

  struct TDone {
    bool Completed, ByUser;
    std::string Msg;
  };
  test::TLogCapture Log;
  fs::path Home;
  std::vector<std::pair<std::string, std::optional<std::string>>> Saved;
  TSimulatedDrives Sim;
  std::unique_ptr<TRegistry> Settings;
  std::unique_ptr<TGlimmerfold> Controller;
  int OptionsChanged = 0, DrivesChanged = 0, ScanStarted = 0;
  std::vector<TDone> Done;
};

} // namespace

TEST_F(ControllerTest, SettersRaiseTheirEventOnlyOnChange) {
  TGlimmerfold& c = Make();
  struct {
    const char* value;
    const char* stored;
    int events;
  } dest[] = {
      {"/media/Photos", "/media/Photos/", 1},
      {"/media/Photos/", "/media/Photos/", 0},
      {"", "", 1},
      {"", "", 0},
  };
  for (auto& d : dest) {
    OptionsChanged = 0;
    c.SetDestPath(d.value);
    EXPECT_EQ(c.DestPath(), d.stored) << d.value;
    EXPECT_EQ(OptionsChanged, d.events) << d.value;
  }
  struct {
    std::function<void()> set;
    int events;
  } others[] = {
      {[&] { c.SetClearThumbs(true); }, 0},  {[&] { c.SetClearThumbs(false); }, 1},
      {[&] { c.SetClearThumbs(false); }, 0}, {[&] { c.SetThumbnailExisting(true); }, 1},
      {[&] { c.SetFilePrefix("Trip"); }, 1}, {[&] { c.SetFilePrefix("Trip"); }, 0},
      {[&] { c.SetFilePrefix("trip"); }, 1}, {[&] { c.SetPaused(true); }, 0},
  };
  for (std::size_t i = 0; i < std::size(others); ++i) {
    OptionsChanged = 0;
    others[i].set();
    EXPECT_EQ(OptionsChanged, others[i].events) << "step " << i;
  }
}

TEST_F(ControllerTest, DefaultsAndTheUserFolders) {
  fs::path dirs = Home / "cfg" / "user-dirs.dirs";
  struct {
    const char* userDirs; // null: no file
    std::string wantDest;
  } cases[] = {
      {nullptr, Home.string() + "/Pictures/Recovered/"},
      {"XDG_PICTURES_DIR=\"$HOME/Pictures\"\nXDG_DOCUMENTS_DIR=\"$HOME/Docs\"\n",
       Home.string() + "/Pictures/Recovered/"},
      {"XDG_DOCUMENTS_DIR=\"$HOME/Docs\"\n", Home.string() + "/Docs/Recovered/"},
      {"XDG_PICTURES_DIR=\"$HOME/\"\n", Home.string() + "/Recovered/"},
  };
  for (auto& cs : cases) {
    fs::remove(dirs);
    if (cs.userDirs)
      std::ofstream(dirs) << cs.userDirs;
    TGlimmerfold& c = Make();
    c.LoadSettings();
    EXPECT_EQ(c.DestPath(), cs.wantDest);
    EXPECT_EQ(c.FilePrefix(), "Image");
    EXPECT_FALSE(c.ThumbnailExisting());
    EXPECT_TRUE(c.ClearThumbs());
  }
}

TEST_F(ControllerTest, SaveThenLoadInAFreshController) {
  {
    TGlimmerfold& c = Make();
    c.LoadSettings();
    c.SetDestPath("/srv/cards");
    c.SetFilePrefix("");
    c.SetThumbnailExisting(true);
    c.SetClearThumbs(false);
    c.SaveSettings();
  }
  Settings = std::make_unique<TRegistry>(Settings->FileName());
  TGlimmerfold& c = Make();
  c.LoadSettings();
  EXPECT_EQ(c.DestPath(), "/srv/cards/");
  EXPECT_EQ(c.FilePrefix(), "") << "an empty stored prefix stays empty";
  EXPECT_TRUE(c.ThumbnailExisting());
  EXPECT_FALSE(c.ClearThumbs());
}

// Stale lines before the first key, or a file with CRLF line endings: what
// SaveSettings wrote is what the next LoadSettings reads.
TEST_F(ControllerTest, SavedSettingsAreWhatTheNextLoadReads) {
  const std::string header = std::string("[HKEY_CURRENT_USER\\") + Key + "]";
  const std::string stale = "DestPath=sz:/stale/\nFilePrefix=sz:Stale\nThumbnailExisting=int:0\n"
                            "ClearThumbs=int:1\n";
  struct {
    const char* what;
    std::string file;
  } cases[] = {
      {"stale lines before the first key", stale + header + "\nFilePrefix=sz:Old\n"},
      {"CRLF", header + "\r\nDestPath=sz:/old/\r\nFilePrefix=sz:Old\r\nClearThumbs=int:1\r\n"},
  };
  for (auto& cs : cases) {
    SCOPED_TRACE(cs.what);
    Controller.reset();
    std::ofstream(Settings->FileName(), std::ios::binary) << cs.file;
    Settings = std::make_unique<TRegistry>(Settings->FileName());
    {
      TGlimmerfold& c = Make();
      c.LoadSettings();
      EXPECT_EQ(c.FilePrefix(), "Old");
      c.SetDestPath("/media/saved");
      c.SetFilePrefix("Saved");
      c.SetThumbnailExisting(true);
      c.SetClearThumbs(false);
      c.SaveSettings();
    }
    Controller.reset();
    Settings = std::make_unique<TRegistry>(Settings->FileName());
    TGlimmerfold& c = Make();
    c.LoadSettings();
    EXPECT_EQ(c.DestPath(), "/media/saved/");
    EXPECT_EQ(c.FilePrefix(), "Saved");
    EXPECT_TRUE(c.ThumbnailExisting());
    EXPECT_FALSE(c.ClearThumbs());
  }
}

TEST_F(ControllerTest, WrongTypedValuesFallBackToDefaultsAndAreLogged) {
  Settings->WriteInteger(Key, "DestPath", 7);
  Settings->WriteString(Key, "ClearThumbs", "yes");
  Settings->WriteString(Key, "FilePrefix", "Card");
  std::string before = Settings->ReadString(Key, "FilePrefix");
  TGlimmerfold& c = Make();
  EXPECT_NO_THROW(c.LoadSettings());
  EXPECT_EQ(c.DestPath(), Home.string() + "/Pictures/Recovered/");
  EXPECT_TRUE(c.ClearThumbs());
  EXPECT_EQ(c.FilePrefix(), "Card");
  auto lines = Log.Lines();
  auto has = [&](const std::string& s) {
    return std::any_of(lines.begin(), lines.end(), [&](auto& l) { return l.find(s) == 0; });
  };
  EXPECT_TRUE(has("SETTINGS: Ignoring stored value DestPath"));
  EXPECT_TRUE(has("SETTINGS: Ignoring stored value ClearThumbs"));
  EXPECT_EQ(TRegistry(Settings->FileName()).ReadInteger(Key, "DestPath"), 7)
      << "loading leaves the store as it was";
}

// A stored destination may start with "~/" for the home folder; a relative one, or a
// prefix that would lead out of the folder, falls back to the default with a log line.
TEST_F(ControllerTest, StoredPathsAndPrefixesThatWouldSendFilesElsewhereFallBack) {
  const std::string home = Home.string();
  struct TCase {
    const char* What;
    std::string DestPath, FilePrefix;
    std::string WantDest, WantPrefix;
    std::vector<std::string> Logged;
  };
  const std::string destLine = "SETTINGS: Ignoring stored value DestPath: ";
  const std::string prefixLine = "SETTINGS: Ignoring stored value FilePrefix: ";
  const TCase cases[] = {
      {"full path", "/srv/cards/", "Trip", "/srv/cards/", "Trip", {}},
      {"home folder", "~/Pictures", "Trip", home + "/Pictures/", "Trip", {}},
      {"home itself", "~", "Trip", home + "/", "Trip", {}},
      {"relative",
       "Pictures",
       "Trip",
       home + "/Pictures/Recovered/",
       "Trip",
       {destLine + "\"Pictures\" is not a full path"}},
      {"another user's home",
       "~other/x",
       "Trip",
       home + "/Pictures/Recovered/",
       "Trip",
       {destLine + "\"~other/x\" is not a full path"}},
      {"prefix leaving the folder",
       "/srv/cards/",
       "../../escaped",
       "/srv/cards/",
       "Image",
       {prefixLine + "\"../../escaped\" contains \"/\""}},
      {"both",
       "out",
       "a/b",
       home + "/Pictures/Recovered/",
       "Image",
       {destLine + "\"out\" is not a full path", prefixLine + "\"a/b\" contains \"/\""}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    Settings->WriteString(Key, "DestPath", c.DestPath);
    Settings->WriteString(Key, "FilePrefix", c.FilePrefix);
    Log.Clear();
    TGlimmerfold& ctl = Make();
    ctl.LoadSettings();
    EXPECT_EQ(ctl.DestPath(), c.WantDest);
    EXPECT_EQ(ctl.FilePrefix(), c.WantPrefix);
    EXPECT_EQ(Log.Lines(), c.Logged);
  }
}

TEST_F(ControllerTest, StartScanWithoutDriveOrMediumOnlyReportsDone) {
  TSimDrive empty = Disk(64);
  empty.HasMedium = false;
  Sim.AddDrive('E', empty);
  TGlimmerfold& c = Make();
  c.RefreshDrives();
  for (const char* root : {"Q:\\", "E:\\"}) {
    Done.clear();
    c.StartScan(root);
    EXPECT_FALSE(c.IsScanning()) << root;
    ASSERT_EQ(Done.size(), 1u) << root;
    EXPECT_FALSE(Done[0].Completed);
    EXPECT_FALSE(Done[0].ByUser);
    EXPECT_EQ(Done[0].Msg, "");
  }
  EXPECT_EQ(ScanStarted, 0);
}

TEST_F(ControllerTest, ScanLifecycle) {
  Sim.AddDrive('E', Disk(200000));
  TGlimmerfold& c = Make();
  c.RefreshDrives();
  c.StopScan(); // idle: nothing
  EXPECT_FALSE(c.StoppedByUser());
  EXPECT_TRUE(Done.empty());

  c.StartScan("E:\\");
  c.SetPaused(true); // hold the worker so the scan is still running below
  EXPECT_TRUE(c.IsScanning());
  c.StartScan("E:\\"); // ignored while scanning
  EXPECT_EQ(ScanStarted, 1);
  c.StopScan();
  EXPECT_FALSE(c.IsScanning());
  ASSERT_EQ(Done.size(), 1u);
  EXPECT_FALSE(Done[0].Completed);
  EXPECT_TRUE(Done[0].ByUser);

  c.StartScan("E:\\");
  EXPECT_FALSE(c.StoppedByUser()) << "a new scan clears it";
  Pump();
  ASSERT_EQ(Done.size(), 2u);
  EXPECT_TRUE(Done[1].Completed);
  EXPECT_FALSE(Done[1].ByUser);
}

TEST_F(ControllerTest, DeviceChangeDuringAScanRefreshesAfterIt) {
  Sim.AddDrive('E', Disk(200000));
  TGlimmerfold& c = Make();
  c.RefreshDrives();
  ASSERT_EQ(c.DriveInfoCount(), 1);
  DrivesChanged = 0;

  Sim.AddDrive('F', Disk(64)); // a card goes in while the scan runs
  c.StartScan("E:\\");
  c.SetPaused(true);
  c.Window().Post(WM_DEVICECHANGE, DBT_DEVICEARRIVAL);
  c.Window().Post(WM_DEVICECHANGE, 0x0007); // other codes are ignored
  ProcessMessages();
  EXPECT_EQ(c.DriveInfoCount(), 1);
  EXPECT_EQ(DrivesChanged, 0);
  c.RefreshDrives(); // refused while scanning
  EXPECT_EQ(c.DriveInfoCount(), 1);

  c.SetPaused(false);
  Pump();
  EXPECT_EQ(c.DriveInfoCount(), 2) << "the remembered change is taken up after the scan";
  EXPECT_EQ(DrivesChanged, 1);
  ASSERT_NE(c.FindDriveInfo("F:\\"), nullptr);

  Sim.RemoveDrive('F');
  c.Window().Post(WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE);
  ProcessMessages();
  EXPECT_EQ(c.DriveInfoCount(), 1);
  EXPECT_EQ(c.FindDriveInfo("F:\\"), nullptr);
}

TEST_F(ControllerTest, DriveInfoOfAVanishedDriveAnswersDefaults) {
  TSimDrive e = Disk(100);
  e.Label = "CARD";
  Sim.AddDrive('E', e);
  TGlimmerfold& c = Make();
  c.RefreshDrives();
  TDriveInfo* info = c.FindDriveInfo("E:\\");
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info->GetDisplayName(), "E:\\ CARD");
  EXPECT_EQ(info->GetKind(), dkRemovable);
  EXPECT_TRUE(info->HasMedium());
  EXPECT_EQ(info->GetSectorSize(), 512u);
  EXPECT_EQ(info->GetSectorCount(), 100u);
  Sim.RemoveDrive('E');
  c.DriveManager().Refresh(); // the drive goes; the entry is still held
  EXPECT_EQ(info->GetKind(), dkUnknown);
  EXPECT_EQ(info->GetSectorCount(), 0u);
  EXPECT_EQ(info->GetSectorSize(), 0u);
  EXPECT_FALSE(info->HasMedium());
  EXPECT_EQ(info->GetDisplayName(), "");
}

// A medium with more sectors than can be numbered: the drive's details give its whole
// size, and a scan that reached its last numbered sector ends not completed, with the
// reason in words for the summary.
TEST_F(ControllerTest, AMediumReadOnlyInPart) {
  TSimDrive big = Disk(16);
  big.VirtualSize = uint64_t{5} << 40;
  Sim.AddDrive('E', big);
  Sim.AddDrive('F', Disk(100));
  TGlimmerfold& c = Make();
  c.RefreshDrives();
  TDriveInfo* e = c.FindDriveInfo("E:\\");
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->GetSectorCount(), UINT32_MAX);
  EXPECT_EQ(e->GetCapacity(), uint64_t{5} << 40);
  EXPECT_TRUE(e->IsTruncated());
  TDriveInfo* f = c.FindDriveInfo("F:\\");
  EXPECT_EQ(f->GetCapacity(), 100u * 512);
  EXPECT_FALSE(f->IsTruncated());

  // The scan itself over a medium of that kind that is quick to read to its end.
  struct {
    uint64_t device;
    bool completed;
    std::string msg;
  } cases[] = {
      {0, true, ""},
      {uint64_t{1} << 33, false,
       "Glimmerfold read only the first 100.0 kB of the 4.0 TB on this medium: it cannot reach "
       "the sectors beyond them. The rest of the medium was not searched, and there may be "
       "additional images or files there.\r\n"},
  };
  for (auto& k : cases) {
    SCOPED_TRACE(k.device);
    Done.clear();
    TDrive drive("G:\\");
    test::TMemoryMedium m(std::vector<uint8_t>(200 * 512), 512, &drive);
    if (k.device)
      m.SetDeviceSectors(k.device);
    c.Scanner().Start(&m);
    Pump();
    ASSERT_EQ(Done.size(), 1u);
    EXPECT_EQ(Done[0].Completed, k.completed);
    EXPECT_FALSE(Done[0].ByUser);
    EXPECT_EQ(Done[0].Msg, k.msg);
    EXPECT_EQ(Log.Logged("CONTROLLER: The scan of G:\\ read its first 200 sectors of 8589934592"),
              k.device != 0);
  }
}

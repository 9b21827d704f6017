#include "ScanResults.h"
#include "Language.h"
#include "Streams.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace gf;
namespace fs = std::filesystem;

namespace {

class TTempDir {
public:
  TTempDir() {
    std::string tmpl = (fs::temp_directory_path() / "gf_ui_XXXXXX").string();
    Path = mkdtemp(tmpl.data());
  }
  ~TTempDir() {
    std::error_code ec;
    fs::permissions(Path, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(Path, ec);
  }
  std::string Dest() const { return Path + "/"; }
  std::string Path;
};

std::unique_ptr<TMemoryStream> Bytes(const std::string& Text) {
  auto s = std::make_unique<TMemoryStream>();
  s->WriteBuffer(Text.data(), Text.size());
  return s;
}

std::string Read(const std::string& Name) {
  std::ifstream f(Name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

void Touch(const std::string& Name, const std::string& Text = "old") {
  std::ofstream(Name, std::ios::binary) << Text;
}

} // namespace

TEST(SaveFoundFile, EmptyPrefixNumbersFromTheFoundCount) {
  TTempDir d;
  auto s = Bytes("abc");
  s->SetPosition(2); // the whole stream is written, whatever its position
  auto r = SaveFoundFile(d.Dest(), "", 1, "JPG", *s);
  EXPECT_TRUE(r.Saved);
  EXPECT_EQ(r.FileName, d.Dest() + "1.JPG");
  EXPECT_EQ(Read(r.FileName), "abc");
  EXPECT_EQ(SaveFoundFile(d.Dest(), "", 2, "JPG", *s).FileName, d.Dest() + "2.JPG");
}

TEST(SaveFoundFile, ExistingNamesPushTheNumberUpOnlyForTheSameKey) {
  TTempDir d;
  Touch(d.Dest() + "Image5.JPG");
  Touch(d.Dest() + "Image6.JPG");
  auto s = Bytes("new");
  struct TCase {
    int64_t First;
    const char* Key;
    const char* Name;
  };
  for (TCase c : {TCase{5, "JPG", "Image7.JPG"}, TCase{5, "GIF", "Image5.GIF"},
                  TCase{1, "JPG", "Image1.JPG"}, TCase{6, "JPG", "Image8.JPG"}}) {
    auto r = SaveFoundFile(d.Dest(), "Image", c.First, c.Key, *s);
    EXPECT_TRUE(r.Saved) << r.Error;
    EXPECT_EQ(r.FileName, d.Dest() + c.Name);
  }
  EXPECT_EQ(Read(d.Dest() + "Image5.JPG"), "old");
  EXPECT_EQ(Read(d.Dest() + "Image6.JPG"), "old");
}

TEST(SaveFoundFile, NameTakenByAFolderOrALinkIsSkippedNotFollowed) {
  TTempDir d;
  fs::create_directory(d.Dest() + "Image1.JPG");
  Touch(d.Path + "/target", "keep");
  fs::create_symlink(d.Path + "/target", d.Dest() + "Image2.JPG");
  fs::create_symlink(d.Path + "/missing", d.Dest() + "Image3.JPG"); // dangling
  auto s = Bytes("new");
  auto r = SaveFoundFile(d.Dest(), "Image", 1, "JPG", *s);
  EXPECT_TRUE(r.Saved);
  EXPECT_EQ(r.FileName, d.Dest() + "Image4.JPG");
  EXPECT_EQ(Read(d.Path + "/target"), "keep");
  EXPECT_FALSE(fs::exists(d.Path + "/missing"));
}

TEST(SaveFoundFile, MissingFolderIsReportedNotSaved) {
  TTempDir d;
  auto s = Bytes("x");
  auto r = SaveFoundFile(d.Dest() + "gone/", "Image", 1, "JPG", *s);
  EXPECT_FALSE(r.Saved);
  EXPECT_NE(r.Error.find("No such file or directory"), std::string::npos) << r.Error;
}

TEST(SaveFoundFile, WriteFailureIsReportedNotSavedAndThePartStays) {
  TTempDir d;
  // A file-size limit makes the write fail midway, as a full disk would.
  struct rlimit old {};
  getrlimit(RLIMIT_FSIZE, &old);
  auto oldHandler = signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old;
  small.rlim_cur = 4096;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  auto s = Bytes(std::string(1 << 16, 'x'));
  auto r = SaveFoundFile(d.Dest(), "Image", 1, "JPG", *s);
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, oldHandler);
  EXPECT_FALSE(r.Saved);
  EXPECT_EQ(r.FileName, d.Dest() + "Image1.JPG");
  EXPECT_NE(r.Error.find("Cannot write file"), std::string::npos) << r.Error;
  EXPECT_EQ(fs::file_size(r.FileName), 4096u);
}

TEST(ScanSummary, TextsAndSounds) {
  const std::string br = "\r\n\r\n";
  const std::string checks = "  The media is seated properly.\r\n"
                             "  The drivers are installed properly and are the latest versions.\r\n"
                             "  The cables are securely in place.\r\n" +
                             LoadStr(sIncompleteAdvice);
  struct TCase {
    bool Completed, Stopped;
    int64_t Count;
    std::string Text, Sound;
  };
  const TCase cases[] = {
      {false, true, 3, "Scan Cancelled" + br + LoadStr(sCancelledBody), ""},
      {true, true, 0, "Scan Cancelled" + br + LoadStr(sCancelledBody), ""},
      {true, false, 7,
       "Scan Completed." + br +
           "Glimmerfold has completed scanning the media for images and files.\r\n7 Images "
           "were found and recovered.\r\nImages were saved to /home/u/Recovered/\r\n",
       "OKWAV"},
      {true, false, 0,
       "Scan Completed." + br + LoadStr(sNothingFoundIntro) + LoadStr(sNothingFoundCause1) +
           LoadStr(sNothingFoundCause2) + LoadStr(sNothingFoundCause3) +
           LoadStr(sNothingFoundCause4),
       "FAILWAV"},
      {false, false, 2, "Scan Incomplete." + br + LoadStr(sIncompleteSaved) + checks, "OKWAV"},
      {false, false, 0, "Scan Incomplete." + br + LoadStr(sIncompleteNothing) + checks, "FAILWAV"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.Completed << c.Stopped << c.Count);
    TSummary s = ScanSummary(c.Completed, c.Stopped, c.Count, "/home/u/Recovered/");
    EXPECT_EQ(s.Text, c.Text);
    EXPECT_EQ(s.Sound, c.Sound);
  }
}

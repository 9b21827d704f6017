#include "ScanResults.h"
#include "EndedProcess.h"
#include "Format.h"
#include "Language.h"
#include "LogCapture.h"
#include "Streams.h"
#include "TestPictures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sys/stat.h>
#include <sys/wait.h>
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

// Every entry of a folder with its size, by name.
std::map<std::string, uintmax_t> Listing(const std::string& Folder) {
  std::map<std::string, uintmax_t> m;
  for (auto& e : fs::directory_iterator(Folder))
    m[e.path().filename().string()] = e.is_regular_file() ? e.file_size() : 0;
  return m;
}

} // namespace

TEST(SaveFoundFile, EmptyPrefixNumbersFromTheFoundCount) {
  TTempDir d;
  auto s = Bytes("abc");
  s->SetPosition(2); // the whole stream is written, whatever its position
  auto r = SaveFoundFile(d.Dest(), "", 1, "JPG", *s);
  EXPECT_TRUE(r.Ok());
  EXPECT_EQ(r.Value, d.Dest() + "1.JPG");
  EXPECT_EQ(Read(r.Value), "abc");
  EXPECT_EQ(SaveFoundFile(d.Dest(), "", 2, "JPG", *s).Value, d.Dest() + "2.JPG");
}

// The same names whether or not the scan remembers the names it found taken.
TEST(SaveFoundFile, ExistingNamesPushTheNumberUpOnlyForTheSameKey) {
  for (bool remembered : {false, true}) {
    SCOPED_TRACE(remembered ? "names remembered" : "names tested each time");
    TTempDir d;
    Touch(d.Dest() + "Image5.JPG");
    Touch(d.Dest() + "Image6.JPG");
    Touch(d.Dest() + "Image9.JPG");
    TTakenNames taken;
    auto s = Bytes("new");
    struct TCase {
      int64_t First;
      const char* Key;
      const char* Name;
    };
    for (TCase c : {TCase{5, "JPG", "Image7.JPG"}, TCase{5, "GIF", "Image5.GIF"},
                    TCase{1, "JPG", "Image1.JPG"}, TCase{6, "JPG", "Image8.JPG"},
                    TCase{6, "JPG", "Image10.JPG"}, TCase{6, "GIF", "Image6.GIF"},
                    TCase{2, "JPG", "Image2.JPG"}}) {
      auto r = SaveFoundFile(d.Dest(), "Image", c.First, c.Key, *s, remembered ? &taken : nullptr);
      EXPECT_TRUE(r.Ok()) << r.Error;
      EXPECT_EQ(r.Value, d.Dest() + c.Name);
    }
    EXPECT_EQ(Read(d.Dest() + "Image5.JPG"), "old");
    EXPECT_EQ(Read(d.Dest() + "Image6.JPG"), "old");
  }
}

// A name found taken once in a scan is not asked about again: had it been, the name
// freed behind the scan's back would have been taken again. A name taken behind its
// back is still never replaced.
TEST(SaveFoundFile, NamesKnownTakenInTheScanAreNotTestedAgain) {
  TTempDir d;
  Touch(d.Dest() + "Image1.JPG");
  TTakenNames taken;
  auto s = Bytes("new");
  EXPECT_EQ(SaveFoundFile(d.Dest(), "Image", 1, "JPG", *s, &taken).Value, d.Dest() + "Image2.JPG");
  fs::remove(d.Dest() + "Image1.JPG");
  Touch(d.Dest() + "Image3.JPG", "theirs");
  auto r = SaveFoundFile(d.Dest(), "Image", 1, "JPG", *s, &taken);
  EXPECT_EQ(r.Value, d.Dest() + "Image4.JPG");
  EXPECT_EQ(Read(d.Dest() + "Image3.JPG"), "theirs");
  EXPECT_EQ(taken.FirstUnknown("JPG", 1), 5);
}

TEST(TakenNames, RunsJoinAndTheFirstUnknownSkipsThem) {
  struct TCase {
    const char* What;
    std::vector<int64_t> Added;
    std::vector<std::pair<int64_t, int64_t>> FirstUnknown; // from -> expected
  } cases[] = {
      {"none", {}, {{1, 1}, {7, 7}}},
      {"one", {3}, {{1, 1}, {3, 4}, {4, 4}}},
      {"in order", {1, 2, 3}, {{1, 4}, {2, 4}, {0, 0}}},
      {"backwards", {3, 2, 1}, {{1, 4}, {3, 4}}},
      {"a gap filled last", {1, 2, 4, 5, 3}, {{1, 6}, {4, 6}}},
      {"a gap left", {1, 2, 4, 5}, {{1, 3}, {3, 3}, {4, 6}}},
      {"twice", {2, 2, 3, 2}, {{2, 4}, {1, 1}}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    TTakenNames t;
    for (int64_t n : c.Added)
      t.Add("JPG", n);
    for (auto [from, expected] : c.FirstUnknown) {
      EXPECT_EQ(t.FirstUnknown("JPG", from), expected) << "from " << from;
      EXPECT_EQ(t.FirstUnknown("GIF", from), from) << "another key";
    }
  }
}

TEST(SaveFoundFile, NameTakenByAFolderOrALinkIsSkippedNotFollowed) {
  TTempDir d;
  fs::create_directory(d.Dest() + "Image1.JPG");
  Touch(d.Path + "/target", "keep");
  fs::create_symlink(d.Path + "/target", d.Dest() + "Image2.JPG");
  fs::create_symlink(d.Path + "/missing", d.Dest() + "Image3.JPG"); // dangling
  auto s = Bytes("new");
  auto r = SaveFoundFile(d.Dest(), "Image", 1, "JPG", *s);
  EXPECT_TRUE(r.Ok());
  EXPECT_EQ(r.Value, d.Dest() + "Image4.JPG");
  EXPECT_EQ(Read(d.Path + "/target"), "keep");
  EXPECT_FALSE(fs::exists(d.Path + "/missing"));
}

TEST(SaveFoundFile, MissingFolderIsReportedNotSaved) {
  TTempDir d;
  auto s = Bytes("x");
  auto r = SaveFoundFile(d.Dest() + "gone/", "Image", 1, "JPG", *s);
  EXPECT_FALSE(r.Ok());
  EXPECT_EQ(r.Error, "Cannot create file \"" + d.Dest() +
                         "gone/Image1.JPG\". No such file or "
                         "directory");
  EXPECT_TRUE(Listing(d.Path).empty());
}

// A destination that fills up keeps only the files written in full, each under its
// number, and nothing of the rest: no empty file, no cut one, no hidden part.
TEST(SaveFoundFile, FullDestinationKeepsOnlyWholeFiles) {
  TTempDir d;
  Touch(d.Dest() + "Image2.JPG", "old");
  struct TCase {
    std::size_t Size;
    bool Saved;
    const char* Name; // taken, or named in the error
  };
  const TCase cases[] = {
      {1000, true, "Image1.JPG"},   {4096, true, "Image3.JPG"}, {4097, false, "Image4.JPG"},
      {65536, false, "Image4.JPG"}, {2000, true, "Image4.JPG"}, {10, true, "Image5.JPG"},
  };
  std::map<std::string, uintmax_t> expected = {{"Image2.JPG", 3}};
  {
    gf::test::TFileSizeLimit limit(4096);
    ASSERT_TRUE(limit.Active);
    for (const TCase& c : cases) {
      SCOPED_TRACE(c.Size);
      auto s = Bytes(std::string(c.Size, 'x'));
      auto r = SaveFoundFile(d.Dest(), "Image", 1, "JPG", *s);
      EXPECT_EQ(r.Ok(), c.Saved);
      EXPECT_EQ(r.Value, d.Dest() + c.Name);
      if (c.Saved)
        expected[c.Name] = c.Size;
      else
        EXPECT_EQ(r.Error, "Cannot write file \"" + d.Dest() + c.Name + "\". File too large");
      EXPECT_EQ(Listing(d.Path), expected);
    }
  }
  EXPECT_EQ(Read(d.Dest() + "Image2.JPG"), "old");
}

// A prefix that would lead out of the folder, or cut the name short, writes nothing.
TEST(SaveFoundFile, UnsafePrefixWritesNothing) {
  TTempDir d;
  fs::create_directories(d.Dest() + "a/b");
  for (const std::string& prefix :
       {std::string("../escaped"), std::string("a/b/"), std::string("Ima\0ge", 7)}) {
    SCOPED_TRACE(prefix);
    auto s = Bytes("x");
    auto r = SaveFoundFile(d.Dest() + "a/b/", prefix, 1, "JPG", *s);
    EXPECT_FALSE(r.Ok());
    EXPECT_NE(r.Error.find("Invalid argument"), std::string::npos) << r.Error;
  }
  EXPECT_EQ(Listing(d.Path), (std::map<std::string, uintmax_t>{{"a", 0}}));
  EXPECT_EQ(Listing(d.Dest() + "a"), (std::map<std::string, uintmax_t>{{"b", 0}}));
  EXPECT_TRUE(Listing(d.Dest() + "a/b").empty());
}

// The start check writes for real and leaves nothing behind: permission bits do not
// stop the superuser, and a full disk has none to show.
TEST(CheckWritableFolder, WritesForRealAndLeavesNothing) {
  TTempDir d;
  Touch(d.Path + "/afile");
  fs::create_directory(d.Path + "/readonly");
  fs::permissions(d.Path + "/readonly", fs::perms::owner_read | fs::perms::owner_exec);
  struct TCase {
    const char* What;
    std::string Folder;
    std::string Reason; // "?": any reason
    rlim_t Limit = RLIM_INFINITY;
  };
  std::vector<TCase> cases = {
      {"a folder", d.Dest(), ""},
      {"gone", d.Dest() + "gone/", "No such file or directory"},
      {"below a file", d.Path + "/afile/", "Not a directory"},
      {"full", d.Dest(), "File too large", 0},
  };
  if (geteuid() != 0)
    cases.push_back({"read-only folder", d.Path + "/readonly/", "Permission denied"});
  if (fs::is_directory("/sys/kernel")) // sysfs, which no one may create files in
    cases.push_back({"sysfs", "/sys/", "?"});
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    std::string reason;
    {
      gf::test::TFileSizeLimit limit(c.Limit);
      reason = CheckWritableFolder(c.Folder).Error;
    }
    if (c.Reason == "?")
      EXPECT_NE(reason, "");
    else
      EXPECT_EQ(reason, c.Reason);
    EXPECT_EQ(Listing(d.Path), (std::map<std::string, uintmax_t>{{"afile", 3}, {"readonly", 0}}));
  }
}

// Before a scan: a folder that is only missing is offered for creation; a path that
// the system refuses for another reason is refused with that reason, and nothing is
// made; a folder is made only when asked.
TEST(CheckDestinationFolder, StatesAndTheSystemsReasons) {
  TTempDir d;
  Touch(d.Path + "/afile");
  fs::create_symlink(d.Path + "/nowhere/at/all", d.Path + "/dangling");
  using enum TDestinationState;
  struct TCase {
    const char* What;
    std::string Dest;
    bool Create;
    TDestinationState State;
    std::string Text;
    std::string Prefix = "Image";
    rlim_t Limit = RLIM_INFINITY;
  };
  const std::string missing = d.Path + "/new/deeper/";
  const std::string underFile = d.Path + "/afile/x/";
  const std::string throughLink = d.Path + "/dangling/x/";
  const std::string tooLong = d.Dest() + std::string(300, 'n') + "/";
  const std::string notFull = " is not a full path.\r\nEnter a path that begins with \"/\", or "
                              "with \"~/\" for your home folder.";
  const TCase cases[] = {
      {"a folder", d.Dest(), false, Usable, ""},
      {"not set", "", true, Unusable, "No target directory selected."},
      {"relative", "out/", true, Unusable, "The destination path out/" + notFull},
      {"home not expanded", "~/out/", true, Unusable, "The destination path ~/out/" + notFull},
      {"prefix leaving the folder", d.Dest(), true, Unusable,
       "The file name prefix must not contain \"/\".", "../x"},
      {"missing", missing, false, Missing,
       "The target directory " + missing + " does not exist.\r\nCreate it?"},
      {"missing, created", missing, true, Usable, ""},
      {"under a file", underFile, true, Unusable,
       "The target directory " + underFile + " cannot be used:\r\nNot a directory"},
      {"a file", d.Path + "/afile/", true, Unusable,
       "The target directory " + d.Path + "/afile/ cannot be used:\r\nNot a directory"},
      {"a name too long", tooLong, true, Unusable,
       "The target directory " + tooLong + " cannot be used:\r\nFile name too long"},
      {"through a dangling link", throughLink, true, Unusable,
       "Failed to create directory " + throughLink + "\r\nFile exists"},
      {"cannot be written", d.Dest(), false, Unusable,
       "The target directory " + d.Dest() + " cannot be written to:\r\nFile too large", "Image", 0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    TResult<TDestinationState> check;
    {
      gf::test::TFileSizeLimit limit(c.Limit);
      check = CheckDestinationFolder(c.Dest, c.Prefix, c.Create);
    }
    EXPECT_EQ(check.Value, c.State);
    EXPECT_EQ(check.Error, c.Text);
    EXPECT_EQ(fs::is_directory(missing), c.Create && c.Dest == missing);
    EXPECT_FALSE(fs::exists(d.Path + "/nowhere"));
    fs::remove_all(d.Path + "/new");
    std::map<std::string, uintmax_t> listing = Listing(d.Path);
    EXPECT_EQ(listing.size(), 2u) << "nothing is left but the file and the link";
  }
}

// Only this program's part files, only plain files, only of processes that are gone;
// everything else in the folder stays, whatever its name looks like.
TEST(PartFiles, OnlyLeftoversOfEndedRunsAreRemoved) {
  TTempDir d;
  TTempDir outside;
  Touch(outside.Path + "/target");
  const std::string gone = std::to_string(gf::test::EndedProcess());
  const std::string self = std::to_string(::getpid());
  enum TKind { File, Folder, Link };
  struct TCase {
    std::string Name;
    TKind Kind;
    bool Removed;
  };
  const TCase cases[] = {
      {".glimmerfold-" + gone + "-0.part", File, true},
      {".glimmerfold-" + gone + "-17.part", File, true},
      {".glimmerfold-" + self + "-0.part", File, false}, // this run's
      {".glimmerfold-1-0.part", File, false},            // a process that runs
      {".glimmerfold-" + gone + "-1.part", Folder, false},
      {".glimmerfold-" + gone + "-2.part", Link, false},
      {".glimmerfold-" + gone + "-0.part.bak", File, false},
      {".glimmerfold-" + gone + ".part", File, false},
      {".glimmerfold--0.part", File, false},
      {".glimmerfold-+" + gone + "-0.part", File, false},
      {".glimmerfold-" + gone + "-x.part", File, false},
      {"glimmerfold-" + gone + "-0.part", File, false},
      {".glimmerfold-99999999999-0.part", File, false},
      {"Image1.JPG", File, false},
  };
  std::vector<std::string> wantRemoved;
  for (const TCase& c : cases) {
    std::string path = d.Dest() + c.Name;
    if (c.Kind == File)
      Touch(path);
    else if (c.Kind == Folder)
      fs::create_directory(path);
    else
      fs::create_symlink(outside.Path + "/target", path);
    if (c.Removed)
      wantRemoved.push_back(c.Name);
  }
  gf::test::TLogCapture log;
  TResult<std::vector<std::string>> result = RemoveStalePartFiles(d.Dest());
  EXPECT_TRUE(result.Ok()) << result.Error;
  std::vector<std::string> removed = result.Value;
  std::sort(removed.begin(), removed.end());
  std::sort(wantRemoved.begin(), wantRemoved.end());
  EXPECT_EQ(removed, wantRemoved);
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    std::error_code ec;
    EXPECT_EQ(fs::symlink_status(d.Dest() + c.Name, ec).type() == fs::file_type::not_found,
              c.Removed);
    if (c.Removed) {
      EXPECT_TRUE(log.Has("MAIN: Removed " + d.Dest() + c.Name +
                          ", left by a run that ended before it was saved"));
    }
  }
  EXPECT_TRUE(fs::exists(outside.Path + "/target"));
  EXPECT_TRUE(RemoveStalePartFiles(d.Dest()).Value.empty());
  EXPECT_TRUE(RemoveStalePartFiles(d.Dest() + "gone/").Value.empty());
}

// The files already in the destination under the prefix, never a part file, even with
// the empty prefix that matches every name.
TEST(ExistingFiles, PlainFilesUnderThePrefixInNameOrder) {
  TTempDir d;
  for (const char* name : {"Image2.JPG", "Image10.JPG", "Other.PNG", ".glimmerfold-1-0.part",
                           ".glimmerfold-99-3.part", ".hidden"})
    Touch(d.Dest() + name);
  fs::create_directory(d.Dest() + "Image3.JPG");
  struct TCase {
    const char* What;
    std::string Dest, Prefix;
    std::vector<std::string> Names;
    std::string Error;
  };
  const TCase cases[] = {
      {"the prefix", d.Dest(), "Image", {"Image10.JPG", "Image2.JPG"}, ""},
      {"empty prefix", d.Dest(), "", {".hidden", "Image10.JPG", "Image2.JPG", "Other.PNG"}, ""},
      {"a prefix that part files match", d.Dest(), ".glimmerfold-", {}, ""},
      {"no such folder", d.Dest() + "gone/", "", {}, "No such file or directory"},
      {"no destination", "", "", {}, ""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    TResult<std::vector<std::string>> existing = ExistingFiles(c.Dest, c.Prefix);
    EXPECT_EQ(existing.Value, c.Names);
    EXPECT_EQ(existing.Error, c.Error);
  }
}

// The destination is opened when the scan starts; a folder that cannot be opened then
// cannot be written through at the end either, and says why.
TEST(DestinationFlush, WritesThroughOrSaysWhyNot) {
  TTempDir d;
  Touch(d.Path + "/afile");
  struct TCase {
    const char* What;
    std::string Folder;
    std::string Reason;
  };
  const TCase cases[] = {
      {"a folder", d.Dest(), ""},
      {"gone", d.Dest() + "gone/", "No such file or directory"},
      {"a file", d.Path + "/afile", "Not a directory"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    TDestinationFlush flush(c.Folder);
    if (c.Reason.empty())
      Touch(c.Folder + "saved");
    EXPECT_EQ(flush.Flush().Error, c.Reason);
    EXPECT_EQ(flush.Flush().Error, c.Reason) << "again";
  }
}

TEST(ScanSummary, TextsAndSounds) {
  const std::string br = "\r\n\r\n";
  const std::string checks = "  The media is seated properly.\r\n"
                             "  The drivers are installed properly and are the latest versions.\r\n"
                             "  The cables are securely in place.\r\n" +
                             LoadStr(sIncompleteAdvice);
  const std::string saved7 =
      "Glimmerfold has completed scanning the media for images and files.\r\n7 Images "
      "were found and recovered.\r\nImages were saved to /home/u/Recovered/\r\n";
  const std::string notSaved2 = "2 Images could not be saved to /home/u/Recovered/\r\nThe "
                                "destination may be full, write-protected or gone. Free some "
                                "space or choose another destination, then re-run the scan.\r\n";
  const std::string notFlushed7 =
      "7 Images were saved to /home/u/Recovered/ but could not be written through to the disk: "
      "Input/output error\r\nThey may be cut or missing there. Do not remove the disk yet; check "
      "the files, or re-run the scan into another destination.\r\n";
  const std::string notFlushed2 = std::string("2") + notFlushed7.substr(1);
  struct TCase {
    bool Completed, Stopped;
    int64_t Count, NotSaved;
    std::string Text, Sound;
    std::string FlushError = "";
  };
  const std::string eio = "Input/output error";
  const TCase cases[] = {
      {false, true, 3, 0, "Scan Cancelled" + br + LoadStr(sCancelledBody), ""},
      {true, true, 0, 0, "Scan Cancelled" + br + LoadStr(sCancelledBody), ""},
      {true, false, 7, 0, "Scan Completed." + br + saved7, "OKWAV"},
      {true, false, 0, 0,
       "Scan Completed." + br + LoadStr(sNothingFoundIntro) + LoadStr(sNothingFoundCause1) +
           LoadStr(sNothingFoundCause2) + LoadStr(sNothingFoundCause3) +
           LoadStr(sNothingFoundCause4),
       "FAILWAV"},
      {false, false, 2, 0, "Scan Incomplete." + br + LoadStr(sIncompleteSaved) + checks, "OKWAV"},
      {false, false, 0, 0, "Scan Incomplete." + br + LoadStr(sIncompleteNothing) + checks,
       "FAILWAV"},
      // Files found but not saved are counted whatever the end, and never sound like
      // a success.
      {false, true, 3, 2, "Scan Cancelled" + br + LoadStr(sCancelledBody) + br + notSaved2, ""},
      {true, false, 7, 2, "Scan Completed, Files Not Saved." + br + saved7 + notSaved2, "FAILWAV"},
      {true, false, 0, 2, "Scan Completed, Files Not Saved." + br + notSaved2, "FAILWAV"},
      {false, false, 2, 2,
       "Scan Incomplete." + br + LoadStr(sIncompleteSaved) + checks + br + notSaved2, "FAILWAV"},
      {false, false, 0, 2,
       "Scan Incomplete." + br + LoadStr(sIncompleteNoneSaved) + checks + br + notSaved2,
       "FAILWAV"},
      // Saved files that could not be written through to the disk are no complete save.
      {true, false, 7, 0, "Scan Completed, Files May Not Be on the Disk." + br + notFlushed7,
       "FAILWAV", eio},
      {true, false, 7, 2,
       "Scan Completed, Files May Not Be on the Disk." + br + notFlushed7 + notSaved2, "FAILWAV",
       eio},
      {false, true, 7, 0, "Scan Cancelled" + br + LoadStr(sCancelledBody) + br + notFlushed7, "",
       eio},
      {false, false, 2, 0,
       "Scan Incomplete." + br + LoadStr(sIncompleteSaved) + checks + br + notFlushed2, "FAILWAV",
       eio},
      // With nothing saved there was nothing to write through.
      {true, false, 0, 0,
       "Scan Completed." + br + LoadStr(sNothingFoundIntro) + LoadStr(sNothingFoundCause1) +
           LoadStr(sNothingFoundCause2) + LoadStr(sNothingFoundCause3) +
           LoadStr(sNothingFoundCause4),
       "FAILWAV", eio},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << c.Completed << c.Stopped << c.Count << c.NotSaved << c.FlushError);
    TSummary s = ScanSummary(c.Completed, c.Stopped, c.Count, c.NotSaved, "/home/u/Recovered/",
                             c.FlushError);
    EXPECT_EQ(s.Text, c.Text);
    EXPECT_EQ(s.Sound, c.Sound);
  }
}

// A scan that read every sector it could of a medium that holds more is incomplete,
// with the controller's words for how much it read in place of the card's check list;
// a cancel or an unreadable block before that point are told as ever.
TEST(ScanSummary, AMediumReadOnlyInPart) {
  const std::string br = "\r\n\r\n";
  const std::string part = "Glimmerfold read only the first 2.0 TB of the 5.0 TB on this medium: "
                           "it cannot reach the sectors beyond them. The rest of the medium was "
                           "not searched, and there may be additional images or files there.\r\n";
  const std::string saved3 = "3 Images were found and recovered in the part that was read.\r\n"
                             "Images were saved to /home/u/Recovered/\r\n";
  const std::string nothing = "No images or files were found in the part that was read.\r\n";
  const std::string notSaved2 = Format(LoadStr(sNotSavedBody), 2, "/home/u/Recovered/");
  const std::string notFlushed3 =
      br + Format(LoadStr(sNotFlushedBody), 3, "/home/u/Recovered/", "Input/output error");
  struct TCase {
    bool Stopped;
    int64_t Count, NotSaved;
    std::string FlushError, Text, Sound;
  };
  const TCase cases[] = {
      {false, 3, 0, "", "Scan Incomplete." + br + part + saved3, "OKWAV"},
      {false, 0, 0, "", "Scan Incomplete." + br + part + nothing, "FAILWAV"},
      {false, 3, 2, "", "Scan Incomplete." + br + part + saved3 + br + notSaved2, "FAILWAV"},
      {false, 3, 0, "Input/output error", "Scan Incomplete." + br + part + saved3 + notFlushed3,
       "FAILWAV"},
      {true, 3, 0, "", "Scan Cancelled" + br + LoadStr(sCancelledBody), ""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.Stopped << c.Count << c.NotSaved << c.FlushError);
    TSummary s = ScanSummary(false, c.Stopped, c.Count, c.NotSaved, "/home/u/Recovered/",
                             c.FlushError, part);
    EXPECT_EQ(s.Text, c.Text);
    EXPECT_EQ(s.Sound, c.Sound);
    EXPECT_EQ(s.Text.find("Scan Completed"), std::string::npos);
  }
}

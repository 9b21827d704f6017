#include "PartFile.h"
#include "EndedProcess.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sys/wait.h>
#include <unistd.h>

using namespace gf;
namespace fs = std::filesystem;

namespace {

struct TTempDir {
  TTempDir() {
    char tmpl[] = "/tmp/gf_part_XXXXXX";
    Path = mkdtemp(tmpl);
  }
  ~TTempDir() { fs::remove_all(Path); }
  fs::path Path;
};

std::string Contents(const fs::path& File) {
  std::ifstream in(File, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::map<std::string, std::string> Listing(const fs::path& Folder) {
  std::map<std::string, std::string> m;
  for (auto& e : fs::directory_iterator(Folder))
    m[e.path().filename().string()] = Contents(e.path());
  return m;
}

} // namespace

// The bytes appear under the name only once the part file takes it: replacing where
// asked, never where a new name is asked for, and nothing is left of a part file that
// took no name. Either write-out rule ends with the same file.
TEST(PartFile, TakesTheNameOnlyAsAsked) {
  enum TPlace { Replace, PlaceNew, Nothing };
  struct TCase {
    const char* What;
    TPlace Place;
    const char* Old; // the target before; nullptr: none
    int Result;
    std::map<std::string, std::string> After;
  };
  const TCase cases[] = {
      {"replacing", Replace, "old", 0, {{"f", "new"}}},
      {"replacing nothing", Replace, nullptr, 0, {{"f", "new"}}},
      {"a new name", PlaceNew, nullptr, 0, {{"f", "new"}}},
      {"a new name that is taken", PlaceNew, "old", EEXIST, {{"f", "old"}}},
      {"no name", Nothing, "old", 0, {{"f", "old"}}},
  };
  for (TWriteOut rule : {TWriteOut::Durable, TWriteOut::Deferred})
    for (const TCase& c : cases) {
      SCOPED_TRACE(std::string(c.What) + (rule == TWriteOut::Durable ? ", durable" : ", deferred"));
      TTempDir dir;
      const fs::path target = dir.Path / "f";
      if (c.Old)
        std::ofstream(target) << c.Old;
      {
        TPartFile part(dir.Path.string(), rule); // without the final "/"
        EXPECT_EQ(fs::path(part.Name()).parent_path(), dir.Path);
        int64_t pid = 0;
        EXPECT_TRUE(IsPartFileName(fs::path(part.Name()).filename().string(), &pid));
        EXPECT_EQ(pid, getpid());
        part.Stream().WriteBuffer("new", 3);
        part.Finish();
        if (c.Place == Replace) {
          EXPECT_EQ(part.Replace(target.string()), c.Result);
        } else if (c.Place == PlaceNew) {
          EXPECT_EQ(part.PlaceNew(target.string()), c.Result);
        }
      }
      EXPECT_EQ(Listing(dir.Path), c.After);
    }
}

// Two part files of one process in one folder never share a name; a part file of a
// folder that takes none raises the create's error.
TEST(PartFile, EachHasItsOwnNameAndFailuresAreTheCreatesOwn) {
  TTempDir dir;
  TPartFile first(dir.Path.string() + "/", TWriteOut::Durable);
  TPartFile second(dir.Path.string() + "/", TWriteOut::Durable);
  EXPECT_NE(first.Name(), second.Name());
  EXPECT_EQ(first.Discard(), 0);
  EXPECT_FALSE(fs::exists(first.Name()));
  try {
    TPartFile part((dir.Path / "missing").string(), TWriteOut::Durable);
    ADD_FAILURE() << "made in a missing folder";
  } catch (const EFileStreamError& e) {
    EXPECT_EQ(e.Errno(), ENOENT);
  }
}

// The cleaner takes any spelling of the folder, tells only of the names in it, and
// leaves what it does not remove as it was (the name table is the window's test).
TEST(PartFile, LeftoversOfEndedWritersAreRemoved) {
  TTempDir dir;
  const std::string gone = std::to_string(gf::test::EndedProcess());
  const std::string left = ".glimmerfold-" + gone + "-0.part";
  const std::string live = ".glimmerfold-" + std::to_string(getppid()) + "-0.part";
  for (const std::string& folder : {dir.Path.string(), dir.Path.string() + "/"}) {
    SCOPED_TRACE(folder);
    std::ofstream(dir.Path / left) << "half";
    std::ofstream(dir.Path / live) << "being written";
    const std::vector<TLeftoverPartFile> tried = RemoveLeftoverPartFiles(folder);
    ASSERT_EQ(tried.size(), 1u);
    EXPECT_EQ(tried[0].Name, left);
    EXPECT_EQ(tried[0].Errno, 0);
    EXPECT_EQ(Listing(dir.Path), (std::map<std::string, std::string>{{live, "being written"}}));
  }
  EXPECT_TRUE(RemoveLeftoverPartFiles((dir.Path / "missing").string()).empty());
}

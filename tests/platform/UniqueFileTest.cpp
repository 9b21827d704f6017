#include "UniqueFile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace gf;
namespace fs = std::filesystem;

// Taken names are passed over, never opened; past the tries, or where nothing can be
// created, the create's own error is raised.
TEST(UniqueFile, TakesTheFirstFreeName) {
  const fs::path dir = fs::temp_directory_path() / ("gf_unique_" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  const std::string stem = (dir / "f.").string();
  std::ofstream(stem + "0.tmp") << "someone's";
  std::ofstream(stem + "1.tmp") << "someone's";
  std::string name;
  {
    auto file = CreateUniqueFile(stem, ".tmp", 5, name);
    EXPECT_EQ(name, stem + "2.tmp");
    file->WriteBuffer("ours", 4);
  }
  std::ifstream first(stem + "0.tmp");
  std::string kept;
  first >> kept;
  EXPECT_EQ(kept, "someone's");
  try {
    CreateUniqueFile(stem, ".tmp", 3, name);
    ADD_FAILURE() << "a name was free";
  } catch (const EFileStreamError& e) {
    EXPECT_EQ(e.Errno(), EEXIST);
  }
  try {
    CreateUniqueFile((dir / "missing" / "f.").string(), ".tmp", 3, name);
    ADD_FAILURE() << "created in a missing folder";
  } catch (const EFileStreamError& e) {
    EXPECT_EQ(e.Errno(), ENOENT);
  }
  fs::remove_all(dir);
}

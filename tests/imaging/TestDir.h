// A folder of its own for one test, under the temporary folder and named after the
// process and the test, so that parallel runs never share one. It goes, with all that
// is in it, when the object does.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <system_error>
#include <unistd.h>

namespace gf::test {

class TTestDir {
public:
  explicit TTestDir(const std::string& Prefix)
      : FDir(std::filesystem::temp_directory_path() /
             (Prefix + std::to_string(getpid()) + "_" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name())) {
    std::filesystem::create_directories(FDir);
  }
  ~TTestDir() {
    std::error_code ec;
    std::filesystem::remove_all(FDir, ec);
  }
  TTestDir(const TTestDir&) = delete;
  TTestDir& operator=(const TTestDir&) = delete;

  const std::filesystem::path& Dir() const { return FDir; }
  std::string Path(const std::string& Name) const { return (FDir / Name).string(); }

private:
  std::filesystem::path FDir;
};

} // namespace gf::test

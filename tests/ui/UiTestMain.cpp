// The window tests run in Qt's offscreen platform under one application object, with
// a home of their own so that nothing of the user's settings is read or written.
// GF_TEST_PLATFORM names another platform (xcb: a real X server and its window manager).
#include "Application.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/resource.h>

int main(int argc, char** argv) {
#ifdef GF_FILE_LIMIT
  // A test program of its own may run under a small limit of open files.
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  limit.rlim_cur = std::min<rlim_t>(limit.rlim_cur, GF_FILE_LIMIT);
  if (setrlimit(RLIMIT_NOFILE, &limit) != 0)
    return 1;
#endif
  const char* platform = std::getenv("GF_TEST_PLATFORM");
  qputenv("QT_QPA_PLATFORM", platform && *platform ? platform : "offscreen");
  std::string home = (std::filesystem::temp_directory_path() / "gf_ui_home_XXXXXX").string();
  if (mkdtemp(home.data())) {
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home + "/.config").c_str(), 1);
  }
  gf::RegisterModules();
  int rc;
  {
    gf::TApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    rc = RUN_ALL_TESTS();
  }
  std::error_code ec;
  std::filesystem::remove_all(home, ec);
  return rc;
}

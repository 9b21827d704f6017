// The window tests run in Qt's offscreen platform under one application object, with
// a home of their own so that nothing of the user's settings is read or written.
#include "Application.h"
#include "QvPngGr.h"
#include "QvTifGr.h"
#include "Recognizer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  std::string home = (std::filesystem::temp_directory_path() / "gf_ui_home_XXXXXX").string();
  if (mkdtemp(home.data())) {
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home + "/.config").c_str(), 1);
  }
  gf::RegisterRecognizers();
  gf::RegisterPngGraphic(); // the image library's classes for the thumbnails
  gf::RegisterTiffGraphic();
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

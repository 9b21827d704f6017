// Thousands of existing files under a small limit of open files (the test program sets
// the limit for itself before anything else starts): every one gets its picture, as
// each file is opened only at its own tick.
#include "Debug.h"
#include "Main.h"
#include "MainFormTest.h"
#include "Registry.h"
#include "SimulatedDrives.h"
#include "TestDesktop.h"
#include "TestPictures.h"
#include "Thumbs.h"

#include <QtWidgets/QListWidget>

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/resource.h>

using namespace gf;
using namespace gf::test;

TEST(FileHandleLimit, TwoThousandExistingFilesUnderALimitOf256) {
  rlimit limit{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
  ASSERT_LE(limit.rlim_cur, 256u);
  TTempDir dir;
  std::string dest = dir.Path + "/out/";
  std::filesystem::create_directories(dest);
  const int count = 2000;
  std::vector<uint8_t> jpeg = MakeJpeg(1, 24, 16);
  for (int i = 1; i <= count; ++i)
    WriteFile(dest + "Image" + std::to_string(i) + ".JPG", jpeg);
  ASSERT_GT(static_cast<rlim_t>(count), limit.rlim_cur);

  DebugLogEnabled = true;
  TDebugLines::Instance().Clear();
  TSimulatedDrives platform;
  TTestDesktop desktop;
  TRegistry settings(dir.Path + "/settings.reg");
  TFormMain form(platform, settings, desktop, {});
  form.Controller().SetDestPath(dest);
  form.LoadExistingThumbnails();
  ASSERT_EQ(form.QueuedThumbnails(), static_cast<std::size_t>(count));
  ASSERT_TRUE(DrainThumbnails(form.Thumbnails()));
  ASSERT_EQ(form.LVThumbnails->count(), count);
  QImage broken = *BrokenThumbnail(80, 80);
  int pictures = 0;
  for (int i = 0; i < count; ++i) {
    QImage picture = ThumbnailPicture(form, i);
    pictures += !picture.isNull() && picture != broken;
  }
  EXPECT_EQ(pictures, count);
  EXPECT_TRUE(TDebugLines::Instance().Snapshot().empty());
  DebugLogEnabled = false;
}

// The thumbnail view as the user sees it: every caption drawn in full, whatever the
// files and whatever came first.
#include "DrawnText.h"
#include "Main.h"
#include "MainFormTest.h"
#include "Streams.h"
#include "TestPictures.h"
#include "ThumbItemDelegate.h"

#include <QtCore/QElapsedTimer>
#include <QtTest/QTest>
#include <QtWidgets/QListWidget>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>

using namespace gf;
using namespace gf::test;
namespace fs = std::filesystem;

namespace {

class ThumbViewTest : public TMainFormTest {
protected:
  void SetUp() override {
    TMainFormTest::SetUp();
    Make();
    Form->resize(1300, 1000); // room for every item of a case at once
    Form->show();
  }

  void Drain() { ASSERT_TRUE(DrainThumbnails(Form->Thumbnails())); }

  void Found(const std::string& Type, const std::vector<uint8_t>& Bytes) {
    auto s = std::make_unique<TMemoryStream>();
    s->WriteBuffer(Bytes.data(), Bytes.size());
    Form->FileFound(Type, std::move(s));
  }

  // Every item's caption, as the view draws it.
  void ExpectCaptionsDrawnInFull() {
    QListWidget& view = *Form->LVThumbnails;
    view.doItemsLayout();
    std::map<int, std::string> drawn = DrawnCaptions(view);
    ASSERT_GT(view.count(), 0);
    for (int i = 0; i < view.count(); ++i) {
      SCOPED_TRACE(view.item(i)->text().toStdString());
      ASSERT_TRUE(view.viewport()->rect().contains(view.visualItemRect(view.item(i))))
          << "the case has more items than the view shows at once";
      EXPECT_EQ(drawn[i], view.item(i)->text().toStdString());
    }
  }
};

} // namespace

// Long captions after short ones were shortened to the first item's width; the cell
// is now as wide as the longest usual name on two lines, and taller names make every
// cell taller.
TEST_F(ThumbViewTest, EveryCaptionIsDrawnInFull) {
  struct TCase {
    const char* Name;
    std::function<void()> Fill;
  };
  const TCase cases[] = {
      {"existing files, short names first",
       [this] {
         for (const char* name :
              {"Image1.JPG", "Image2.MP3", "Image10.RIFF", "Image100.PNG", "Image1234.TIF",
               "Image99999.JPEG", "Image88888.JPEG", "Image12345.RIFF",
               "Image_with a long "
               "name and spaces.AVI",
               "ImageWithAVeryLongNameWithoutAnySpaceInIt0123456789.JPG", "I.J"})
           WriteFile(Dest + name, MakeJpeg(1, 16, 16));
         Form->LoadExistingThumbnails();
         Drain();
       }},
      {"mixed types during a scan",
       [this] {
         Form->Controller().SetFilePrefix("Image9999");
         auto jpeg = MakeJpeg(2, 16, 16);
         for (const char* type :
              {"JPG", "RIFF", "MPG", "CRW", "JPG", "MP3", "TIF", "RIFF", "PNG", "MOV", "JPEG"})
           Found(type, jpeg);
         Drain();
       }},
      {"after Delete re-sorts",
       [this] {
         for (const char* name :
              {"Image9.JPG", "Image99999.JPEG", "Image10.AVI", "Image77777.RIFF", "Image5.JPG"})
           WriteFile(Dest + name, MakeJpeg(1, 16, 16));
         Form->LoadExistingThumbnails();
         Drain();
         Form->LVThumbnails->item(0)->setSelected(true);
         Form->Delete1Click();
       }},
  };
  std::string data = Dir.Path + "/data"; // the trash of the Delete case
  setenv("XDG_DATA_HOME", data.c_str(), 1);
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    Form->Controller().SetFilePrefix("Image");
    Form->ClearThumbnails();
    fs::remove_all(Dest);
    fs::create_directories(Dest);
    c.Fill();
    ExpectCaptionsDrawnInFull();
  }
  unsetenv("XDG_DATA_HOME");
}

TEST_F(ThumbViewTest, TheLongestUsualNameFitsOneCellOnAtMostTwoLines) {
  TThumbItemDelegate& d = *Form->ThumbDelegate;
  QStringList lines = TThumbItemDelegate::CaptionLines(
      TThumbItemDelegate::LongestUsualCaption, Form->LVThumbnails->font(), d.CaptionWidth());
  EXPECT_LE(lines.size(), 2);
  EXPECT_EQ(lines.join(""), TThumbItemDelegate::LongestUsualCaption);
  EXPECT_EQ(d.CaptionLineCount(), 2);
  const QSize two = d.CellSize();

  // A longer name makes every cell taller, so that it too is shown in full; clearing
  // the view brings the cells back.
  WriteFile(Dest + "Image_a_name_much_longer_than_any_a_scan_gives_to_a_file.JPG",
            MakeJpeg(1, 16, 16));
  WriteFile(Dest + "Image1.JPG", MakeJpeg(1, 16, 16));
  Form->LoadExistingThumbnails();
  Drain();
  EXPECT_GT(d.CaptionLineCount(), 2);
  EXPECT_GT(d.CellSize().height(), two.height());
  EXPECT_EQ(d.CellSize().width(), two.width());
  Form->LVThumbnails->doItemsLayout();
  for (int i = 0; i < Form->LVThumbnails->count(); ++i)
    EXPECT_EQ(Form->LVThumbnails->visualItemRect(Form->LVThumbnails->item(i)).size(), d.CellSize());
  ExpectCaptionsDrawnInFull();
  Form->ClearThumbnails();
  EXPECT_EQ(d.CellSize(), two);
}

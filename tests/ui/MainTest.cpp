// The main window over simulated drives: layout, drive list and details, the start
// checks, closing, the keyboard, and the road of a scan to its summary.
#include "Main.h"
#include "EndedProcess.h"
#include "ByteOrder.h"
#include "FakeSysfs.h"
#include "FatCard.h"
#include "Format.h"
#include "Language.h"
#include "LinuxDrives.h"
#include "LogCapture.h"
#include "LoopDevice.h"
#include "MainFormTest.h"
#include "MemoryMedium.h"
#include "Registry.h"
#include "ScanResults.h"
#include "SimulatedDrives.h"
#include "TestDesktop.h"
#include "TestPictures.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QElapsedTimer>
#include <QtCore/QTimer>
#include <QtGui/QPainter>
#include <QtTest/QTest>
#include <QtWidgets/QAbstractItemDelegate>
#include <QtWidgets/QListWidget>
#include <QtWidgets/QProgressBar>
#include <QtWidgets/QTabWidget>
#include <QtWidgets/QToolButton>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace gf;
using namespace gf::test;
namespace fs = std::filesystem;

namespace {

class MainTest : public TMainFormTest {
protected:
  std::vector<std::string> Listed() const {
    std::vector<std::string> roots;
    for (int i = 0; i < Form->LBDrives->count(); ++i)
      roots.push_back(Form->LBDrives->item(i)->text().toStdString());
    return roots;
  }

  std::vector<std::string> Saved() const {
    std::vector<std::string> names;
    for (auto& e : fs::directory_iterator(Dest))
      names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  TLogCapture Log;
};

} // namespace

TEST_F(MainTest, LooksAsDesigned) {
  Make();
  Form->show();
  EXPECT_EQ(Form->windowTitle().toStdString(), LoadStr(sProductTitle) + " 2.0");
  EXPECT_EQ(Form->size(), QSize(795, 551));
  EXPECT_EQ(Form->minimumSize(), QSize(795, 551));
  EXPECT_EQ(Form->PageControl->tabText(0), "Recover Images");
  EXPECT_EQ(Form->PageControl->tabText(1), "About");
  EXPECT_EQ(Form->PageControl->currentIndex(), 0);
  EXPECT_EQ(Form->LBDrives->geometry(), QRect(8, 24, 200, 132));
  struct TButton {
    QToolButton* B;
    const char* Text;
    int Left;
  };
  for (TButton b : {TButton{Form->SBStart, "&Start", 8}, TButton{Form->SBCancel, "&Cancel", 104},
                    TButton{Form->SBOptions, "&Options", 200}, TButton{Form->SBHelp, "&Help", 296},
                    TButton{Form->SBExit, "&Exit", 392}}) {
    EXPECT_EQ(b.B->text(), b.Text);
    EXPECT_EQ(b.B->geometry(), QRect(b.Left, 44, 80, 70));
    EXPECT_FALSE(b.B->icon().isNull());
  }
  EXPECT_EQ(Form->PanelMainBottom->height(), 118);
  EXPECT_EQ(Form->PanelMainBottom->y() + 118, Form->TSRecovery->height());
  for (QLabel* l :
       {Form->LabelMedia, Form->LabelSectorSize, Form->LabelCapacity, Form->LabelRecovered})
    EXPECT_EQ(l->geometry().left(), 121);
  EXPECT_EQ(Form->LabelMediaPrefix->text(), "Media:");
  EXPECT_EQ(Form->LabelRecoveredPrefix->text(), "Recovered:");
  EXPECT_EQ(Form->LabelRecoveredPrefix->pos(), QPoint(8, 232));
  EXPECT_EQ(Form->AnimationBox->size(), QSize(200, 100));
  EXPECT_EQ(Form->AnimationPanel->x(), 8);
  EXPECT_EQ(Form->Animation().Count(), 11);
  EXPECT_EQ(Form->Animation().Interval(), 800);
  EXPECT_EQ(Form->LVThumbnails->x(), 218);
  EXPECT_EQ(Form->LVThumbnails->geometry().right() + 1, Form->TSRecovery->width() - 8);
  EXPECT_EQ(Form->ProgressBar->width(), Form->TSRecovery->width() - 16);
  EXPECT_FALSE(Form->ImageAbout->pixmap().isNull());
  EXPECT_EQ(Form->STURL->text(), TFormMain::WebAddress);
  // Idle without a selection.
  EXPECT_FALSE(Form->SBStart->isEnabled());
  EXPECT_FALSE(Form->SBCancel->isEnabled());
  EXPECT_TRUE(Form->SBExit->isEnabled());
  EXPECT_TRUE(Form->SBOptions->isEnabled());
}

TEST_F(MainTest, FormatSize) {
  struct TCase {
    uint64_t KB;
    const char* Text;
  };
  for (TCase c : {TCase{0, "0.0 kB"}, TCase{1000, "1000.0 kB"}, TCase{1023, "1023.0 kB"},
                  TCase{1024, "1.0 MB"}, TCase{62976, "61.5 MB"}, TCase{1048576, "1.0 GB"},
                  // halves round away from zero, not to even
                  TCase{1280, "1.3 MB"}, TCase{2359296, "2.3 GB"}, TCase{1331, "1.3 MB"},
                  TCase{1126, "1.1 MB"}, TCase{1073741824, "1.0 TB"}, TCase{4294967295u, "4.0 TB"},
                  // past 32 bits of kB: 4 TiB and up
                  TCase{4294967296u, "4.0 TB"}, TCase{6442450944u, "6.0 TB"},
                  TCase{8589934592u, "8.0 TB"}, TCase{uint64_t{1} << 40, "1024.0 TB"}}) {
    EXPECT_EQ(TFormMain::FormatSize(c.KB), c.Text) << c.KB;
  }
}

TEST_F(MainTest, DebugSwitchOnlyAsFirstArgument) {
  struct TCase {
    std::vector<std::string> Args;
    bool Shown;
  };
  const TCase cases[] = {{{}, false},
                         {{"/DEBUG"}, true},
                         {{"/debug"}, true},
                         {{"/Debug", Dir.Path + "/none.img"}, true},
                         {{Dir.Path + "/none.img", "/DEBUG"}, false}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Args.size());
    Make(c.Args);
    EXPECT_EQ(Form->FormDebug().isVisible(), c.Shown);
    Form.reset();
  }
}

// Every argument but the switch names an image: only a regular file or a block
// device becomes a drive; anything else is logged and not listed, and nothing is
// opened in a way that could hang the start.
TEST_F(MainTest, CommandLineImagesAndTheSwitchElsewhere) {
  std::string image = Dir.Path + "/card.img";
  WriteFile(image, std::vector<uint8_t>(512 * 16, 0));
  std::string fifo = Dir.Path + "/fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::string folder = Dir.Path + "/folder";
  fs::create_directory(folder);
  std::string missing = Dir.Path + "/none.img";
  TDebugLines::Instance().Clear();
  alarm(30); // a blocking open ends the test program instead of hanging it
  Make({image, "/DEBUG", fifo, folder, missing, "/debug"});
  alarm(0);
  ASSERT_EQ(Listed().size(), 1u);
  EXPECT_EQ(Form->Controller().FindDriveInfo(Listed()[0])->GetKind(), dkImageFile);
  EXPECT_EQ(Form->Controller().FindDriveInfo(Listed()[0])->GetSectorCount(), 16u);
  auto lines = TDebugLines::Instance().Snapshot();
  auto logged = [&](const std::string& l) {
    return std::find(lines.begin(), lines.end(), l) != lines.end();
  };
  for (auto& p : {fifo, folder, missing})
    EXPECT_TRUE(logged("MAIN: Cannot open " + p + " as a disk image")) << p;
  EXPECT_FALSE(logged("MAIN: Cannot open " + image + " as a disk image"));
  for (auto& l : lines)
    EXPECT_EQ(l.find("/DEBUG"), std::string::npos) << l;
}

TEST_F(MainTest, DriveListByKindAndMedium) {
  std::vector<uint8_t> blank(512 * 64, 0);
  auto add = [&](char letter, uint32_t type, bool medium, uint32_t mediaType) {
    TSimDrive d = Removable(blank);
    d.DriveType = type;
    d.HasMedium = medium;
    d.MediaType = mediaType;
    Platform.AddDrive(letter, d);
  };
  add('A', DRIVE_REMOVABLE, false, 0);              // floppy drive, empty
  add('C', DRIVE_FIXED, true, MEDIA_FIXED);         // fixed disk: listed
  add('D', DRIVE_FIXED, false, MEDIA_FIXED);        // fixed without medium: not listed
  add('E', DRIVE_REMOVABLE, true, MEDIA_REMOVABLE); // card
  add('F', DRIVE_REMOVABLE, false, MEDIA_REMOVABLE);
  add('G', DRIVE_CDROM, false, MEDIA_REMOVABLE);
  add('R', DRIVE_RAMDISK, true, MEDIA_FIXED);
  add('N', DRIVE_REMOTE, true, MEDIA_FIXED);
  std::string image = Dir.Path + "/card.img";
  WriteFile(image, blank);
  Make({image});
  std::vector<std::string> expected = {"A:\\", "C:\\", "E:\\", "F:\\", "G:\\"};
  std::string imageRoot = Form->Controller().GetDriveInfo(0)->Name();
  for (int i = 0; i < Form->Controller().DriveInfoCount(); ++i)
    if (Form->Controller().GetDriveInfo(i)->GetKind() == dkImageFile)
      imageRoot = Form->Controller().GetDriveInfo(i)->Name();
  expected.push_back(imageRoot);
  std::sort(expected.begin(), expected.end());
  auto listed = Listed();
  std::sort(listed.begin(), listed.end());
  EXPECT_EQ(listed, expected);
  EXPECT_EQ(Form->Controller().FindDriveInfo(imageRoot)->GetKind(), dkImageFile);
}

TEST_F(MainTest, DriveDetails) {
  Platform.AddDrive('E', Removable(std::vector<uint8_t>(512 * 2048, 0)));
  TSimDrive empty = Removable({});
  empty.HasMedium = false;
  Platform.AddDrive('F', empty);
  TSimDrive large = Removable(std::vector<uint8_t>(4096 * 16, 0));
  large.SectorSize = 4096;
  large.Cylinders = int64_t{1} << 21;
  large.TracksPerCylinder = 32;
  large.SectorsPerTrack = 32;
  Platform.AddDrive('G', large);
  std::string image = Dir.Path + "/card.img";
  WriteFile(image, std::vector<uint8_t>(512 * 100, 0));
  Make({image});
  Select("E:\\");
  EXPECT_EQ(Form->LabelMedia->text(), "Removable");
  EXPECT_EQ(Form->LabelSectorSize->text(), "512");
  EXPECT_EQ(Form->LabelCapacity->text(), "1.0 MB");
  EXPECT_TRUE(Form->SBStart->isEnabled());
  // An image file has no media label of its own: the card's must not stay.
  std::string imageRoot;
  for (auto& r : Listed())
    if (Form->Controller().FindDriveInfo(r)->GetKind() == dkImageFile)
      imageRoot = r;
  Select(imageRoot);
  EXPECT_EQ(Form->LabelMedia->text(), "");
  EXPECT_EQ(Form->LabelCapacity->text(), "50.0 kB");
  // 2^31 sectors of 4 KiB: the size in kB needs more than 32 bits.
  Select("G:\\");
  EXPECT_EQ(Form->LabelSectorSize->text(), "4096");
  EXPECT_EQ(Form->LabelCapacity->text(), "8.0 TB");
  Select("F:\\");
  EXPECT_EQ(Form->LabelCapacity->text(), "Unknown");
  EXPECT_EQ(Form->LabelSectorSize->text(), "Unknown");
  EXPECT_FALSE(Form->SBStart->isEnabled());
  // A rebuild of the list keeps the selection.
  Form->Controller().RefreshDrives();
  ASSERT_NE(Form->LBDrives->currentItem(), nullptr);
  EXPECT_EQ(Form->LBDrives->currentItem()->text(), "F:\\");
}

// A click on the empty part of the list clears the selection but not the current
// row; nothing may then be scanned, and no drive's details may stay.
TEST_F(MainTest, StartActsOnlyOnASelectedDrive) {
  Platform.AddDrive('E', Removable(CardWith({MakeJpeg(1)})));
  Platform.AddDrive('F', Removable(CardWith({MakeJpeg(2)})));
  struct TCase {
    const char* What;
    std::function<void()> Unselect;
  };
  const TCase cases[] = {
      {"click on the empty part of the list",
       [this] {
         QTest::mouseClick(Form->LBDrives->viewport(), Qt::LeftButton, {}, QPoint(100, 120));
         EXPECT_NE(Form->LBDrives->currentItem(), nullptr); // the row stays current
       }},
      {"selected drive goes away",
       [this] {
         Platform.RemoveDrive('E');
         Form->Controller().RefreshDrives();
       }},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    if (!Platform.Drive('E'))
      Platform.AddDrive('E', Removable(CardWith({MakeJpeg(1)})));
    Desktop = TTestDesktop();
    Make();
    Form->show();
    Select("E:\\");
    ASSERT_TRUE(Form->SBStart->isEnabled());
    ASSERT_EQ(Form->LabelMedia->text(), "Removable");
    c.Unselect();
    EXPECT_EQ(Form->SelectedDrive(), nullptr);
    EXPECT_FALSE(Form->SBStart->isEnabled());
    EXPECT_EQ(Form->LabelMedia->text(), "");
    EXPECT_EQ(Form->LabelCapacity->text(), "");
    EXPECT_EQ(Form->LabelSectorSize->text(), "");
    Form->SBStartClick();
    EXPECT_FALSE(Form->SBCancel->isEnabled());
    EXPECT_TRUE(Desktop.Sounds.empty());
    QTest::qWait(20);
    EXPECT_TRUE(Desktop.Texts.empty());
    EXPECT_TRUE(Saved().empty());
    Form.reset();
  }
}

TEST_F(MainTest, KeyboardStartsOnTheFirstDriveAndTheListShowsWhereItIs) {
  for (char letter : {'E', 'F', 'G'})
    Platform.AddDrive(letter, Removable(CardWith({})));
  Make();
  Form->show();
  Form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(Form.get()));
  Form->LBDrives->setFocus(Qt::TabFocusReason);
  ASSERT_EQ(Form->SelectedDrive(), nullptr);
  QTest::keyClick(Form->LBDrives, Qt::Key_Down);
  ASSERT_NE(Form->SelectedDrive(), nullptr);
  EXPECT_EQ(Form->SelectedDrive()->text().toStdString(), "E:\\");
  EXPECT_TRUE(Form->SBStart->isEnabled());
  QTest::keyClick(Form->LBDrives, Qt::Key_Down);
  EXPECT_EQ(Form->SelectedDrive()->text().toStdString(), "F:\\");
  EXPECT_EQ(Form->LabelMedia->text(), "Removable");

  // The entry with the keyboard focus carries a mark that the others lack.
  auto render = [&](bool Focus) {
    QImage img(200, 32, QImage::Format_RGB32);
    img.fill(Qt::white);
    QPainter p(&img);
    QStyleOptionViewItem option;
    option.initFrom(Form->LBDrives);
    option.widget = Form->LBDrives;
    option.rect = QRect(0, 0, 200, 32);
    option.state = QStyle::State_Enabled | (Focus ? QStyle::State_HasFocus : QStyle::State_None);
    QModelIndex index = Form->LBDrives->model()->index(2, 0);
    Form->LBDrives->itemDelegate()->paint(&p, option, index);
    return img;
  };
  EXPECT_NE(render(true), render(false));
}

TEST_F(MainTest, DebugSwitchRaisesTheDebugWindowAboveTheMainWindow) {
  struct TRecorder : QObject {
    std::vector<std::string> Events;
    QWidget* Main = nullptr;
    QWidget* Debug = nullptr;
    bool eventFilter(QObject* O, QEvent* E) override {
      if (O == Main && E->type() == QEvent::Show)
        Events.push_back("main shown");
      if (O == Debug && E->type() == QEvent::ZOrderChange && Debug->isVisible())
        Events.push_back("debug raised");
      return false;
    }
  } recorder;
  Make({"/DEBUG"});
  recorder.Main = Form.get();
  recorder.Debug = &Form->FormDebug();
  qApp->installEventFilter(&recorder);
  Form->show();
  QTest::qWait(50);
  qApp->removeEventFilter(&recorder);
  EXPECT_TRUE(Form->FormDebug().isVisible());
  ASSERT_GE(recorder.Events.size(), 2u);
  EXPECT_EQ(recorder.Events.front(), "main shown");
  EXPECT_EQ(recorder.Events.back(), "debug raised");
}

TEST_F(MainTest, StartChecksTheDestination) {
  Platform.AddDrive('E', Removable(CardWith({MakeJpeg(1)})));
  std::string file = Dir.Path + "/afile";
  WriteFile(file, {1});
  struct TCase {
    const char* What;
    std::string DestPath;
    std::vector<TBoxAnswer> Answers;
    std::vector<TBoxKind> Boxes;
    std::vector<std::string> Texts;
    bool Started;
    std::string Prefix = "Image";
    rlim_t FileSizeLimit = RLIM_INFINITY; // 0: nothing can be written, as on a full disk
  };
  std::string missing = Dir.Path + "/new/deeper/";
  std::string refused = Dir.Path + "/refused/";
  std::string failing = file + "/sub/";
  fs::create_symlink(Dir.Path + "/nowhere", Dir.Path + "/dangling");
  std::string dangling = Dir.Path + "/dangling/sub/";
  std::string full = Dir.Path + "/full/";
  fs::create_directories(full);
  std::string fullMissing = Dir.Path + "/full2/";
  const std::string notFull = "is not a full path.\r\nEnter a path that begins with \"/\", or "
                              "with \"~/\" for your home folder.";
  const TCase cases[] = {
      {"no destination", "", {}, {TBoxKind::Error}, {"No target directory selected."}, false},
      {"missing, created",
       missing,
       {TBoxAnswer::Yes},
       {TBoxKind::Confirmation},
       {"The target directory " + missing + " does not exist.\r\nCreate it?"},
       true},
      {"missing, refused",
       refused,
       {TBoxAnswer::No},
       {TBoxKind::Confirmation},
       {"The target directory " + refused + " does not exist.\r\nCreate it?"},
       false},
      // One box with the reason, not a question whose Yes can only fail.
      {"under a file",
       failing,
       {},
       {TBoxKind::Error},
       {"The target directory " + failing + " cannot be used:\r\nNot a directory"},
       false},
      {"creation failed",
       dangling,
       {TBoxAnswer::Yes},
       {TBoxKind::Confirmation, TBoxKind::Error},
       {"The target directory " + dangling + " does not exist.\r\nCreate it?",
        "Failed to create directory " + dangling + "\r\nFile exists"},
       false},
      // A folder that cannot be written is found out before the first file is.
      {"cannot be written",
       full,
       {},
       {TBoxKind::Error},
       {"The target directory " + full + " cannot be written to:\r\nFile too large"},
       false,
       "Image",
       0},
      {"created, then cannot be written",
       fullMissing,
       {TBoxAnswer::Yes},
       {TBoxKind::Confirmation, TBoxKind::Error},
       {"The target directory " + fullMissing + " does not exist.\r\nCreate it?",
        "The target directory " + fullMissing + " cannot be written to:\r\nFile too large"},
       false,
       "Image",
       0},
      // Set past the options dialog and the settings file, which refuse them.
      {"relative", "out/", {}, {TBoxKind::Error}, {"The destination path out/ " + notFull}, false},
      {"home not expanded",
       "~/out/",
       {},
       {TBoxKind::Error},
       {"The destination path ~/out/ " + notFull},
       false},
      {"prefix leaving the folder",
       full,
       {},
       {TBoxKind::Error},
       {"The file name prefix must not contain \"/\"."},
       false,
       "../escaped"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    Desktop = TTestDesktop();
    Desktop.Answers.assign(c.Answers.begin(), c.Answers.end());
    Make();
    Form->Controller().SetDestPath(c.DestPath);
    Form->Controller().SetFilePrefix(c.Prefix);
    Select("E:\\");
    {
      TFileSizeLimit limit(c.FileSizeLimit);
      Form->SBStartClick();
    }
    ASSERT_EQ(Desktop.Boxes.size(), c.Boxes.size());
    for (std::size_t i = 0; i < c.Boxes.size(); ++i) {
      EXPECT_EQ(Desktop.Boxes[i].Kind, c.Boxes[i]);
      EXPECT_EQ(Desktop.Boxes[i].Text, c.Texts[i]);
    }
    EXPECT_EQ(Desktop.OptionsShown, c.Started ? 0 : 1);
    if (c.Started) {
      EXPECT_TRUE(fs::is_directory(missing));
      ASSERT_TRUE(WaitForSummary());
      EXPECT_EQ(fs::exists(missing + "Image1.JPG"), true);
    } else {
      EXPECT_FALSE(Form->SBCancel->isEnabled());
      EXPECT_TRUE(Desktop.Sounds.empty());
      QTest::qWait(20);
      EXPECT_TRUE(Desktop.Texts.empty());
    }
    EXPECT_FALSE(fs::exists(refused));
    EXPECT_TRUE(fs::is_empty(full));
    EXPECT_FALSE(fs::exists(Dir.Path + "/escaped1.JPG"));
    Form.reset();
  }
}

TEST_F(MainTest, FixedDiskIsScannedOnlyAfterTheWarning) {
  TSimDrive fixed = Removable(CardWith({MakeJpeg(2)}));
  fixed.DriveType = DRIVE_FIXED;
  fixed.MediaType = MEDIA_FIXED;
  Platform.AddDrive('C', fixed);
  for (TBoxAnswer answer : {TBoxAnswer::No, TBoxAnswer::Yes}) {
    SCOPED_TRACE(answer == TBoxAnswer::Yes);
    Desktop = TTestDesktop();
    Desktop.Answers = {answer};
    Make();
    Select("C:\\");
    EXPECT_EQ(Form->LabelMedia->text(), "Fixed Disk");
    Form->LabelRecovered->setText("7");
    Form->SBStartClick();
    ASSERT_EQ(Desktop.Boxes.size(), 1u);
    EXPECT_EQ(Desktop.Boxes[0].Kind, TBoxKind::Warning);
    EXPECT_EQ(Desktop.Boxes[0].Buttons, TBoxButtons::YesNo);
    EXPECT_EQ(Desktop.Boxes[0].Text, "This software is not designed to work with hard disks.\r\n"
                                     "Please ensure drive C:\\ is a digital camera media.\r\n"
                                     "Continue?");
    if (answer == TBoxAnswer::No) {
      EXPECT_TRUE(Form->SBStart->isEnabled());
      EXPECT_FALSE(Form->SBCancel->isEnabled());
      EXPECT_EQ(Form->LabelRecovered->text(), "7");
      EXPECT_TRUE(Desktop.Sounds.empty());
    } else {
      ASSERT_TRUE(WaitForSummary());
      EXPECT_EQ(Form->LabelRecovered->text(), "1");
    }
    Form.reset();
  }
}

// The destination's device stands, in a sysfs of the test's own, for a disk, its
// partition or a loop device over a card image. A scan whose saved files would land on
// the medium it scans asks first, with No for Enter; No starts nothing.
TEST_F(MainTest, DestinationOnTheScannedMediumIsScannedOnlyAfterTheWarning) {
  const TDeviceNumber sdx = TFakeSysfs::Fake(0), sdx1 = TFakeSysfs::Fake(1),
                      sdy = TFakeSysfs::Fake(16);
  struct TCase {
    const char* What;
    std::string DestIs;                 // the fake device the destination's device stands for
    std::optional<TDeviceNumber> Drive; // the scanned drive's device; none: the image file
    TBoxAnswer Answer;
    bool Asks;
  };
  const TCase cases[] = {
      {"the same device", "sdx1", sdx1, TBoxAnswer::No, true},
      {"a partition of the scanned disk", "sdx1", sdx, TBoxAnswer::Yes, true},
      {"the disk of the scanned partition", "sdx", sdx1, TBoxAnswer::No, true},
      {"a loop device over the scanned image", "loop0", std::nullopt, TBoxAnswer::No, true},
      {"another device", "sdx1", sdy, TBoxAnswer::No, false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    TFakeSysfs tree;
    const std::string image = (tree.Root / "card.img").string();
    WriteFile(image, CardWith({MakeJpeg(2)}));
    std::map<std::string, fs::path> dirs;
    dirs["sdx"] = tree.Disk("sdx", sdx, 100000);
    dirs["sdx1"] = tree.Partition(dirs["sdx"], "sdx1", sdx1, 2048, 50000);
    tree.Disk("sdy", sdy, 100000);
    dirs["loop0"] = tree.Disk("loop0", TFakeSysfs::Fake(48), 8);
    TFakeSysfs::Backing(dirs["loop0"], image);
    tree.Link(TFakeSysfs::DeviceOf(Dest), dirs[c.DestIs]);
    Platform.Sys = tree.Sys();
    Platform.RemoveDrive('E');
    Platform.AddDrive('E', Removable(CardWith({MakeJpeg(1)}))).Device = c.Drive;
    Desktop = TTestDesktop();
    Desktop.Answers = {c.Answer};
    Make(c.Drive ? std::vector<std::string>{} : std::vector<std::string>{image});
    const std::string root = c.Drive ? "E:\\" : image;
    Select(root);
    Form->LabelRecovered->setText("7");
    Form->SBStartClick();
    if (c.Asks) {
      ASSERT_EQ(Desktop.Boxes.size(), 1u);
      EXPECT_EQ(Desktop.Boxes[0].Kind, TBoxKind::Warning);
      EXPECT_EQ(Desktop.Boxes[0].Buttons, TBoxButtons::YesNoDefaultNo);
      EXPECT_EQ(Desktop.Boxes[0].Text,
                "The target directory " + Dest + " lies on drive " + root +
                    ", which is about to be scanned.\r\nEvery file saved there can overwrite "
                    "deleted images before the scan finds them. Choose a target directory on "
                    "another disk in Options.\r\nContinue anyway?");
    } else {
      EXPECT_TRUE(Desktop.Boxes.empty());
    }
    if (c.Asks && c.Answer == TBoxAnswer::No) {
      EXPECT_TRUE(Form->SBStart->isEnabled());
      EXPECT_FALSE(Form->SBCancel->isEnabled());
      EXPECT_EQ(Form->LabelRecovered->text(), "7");
      EXPECT_TRUE(Desktop.Sounds.empty());
      EXPECT_TRUE(fs::is_empty(Dest));
    } else {
      ASSERT_TRUE(WaitForSummary());
      EXPECT_EQ(Form->LabelRecovered->text(), "1");
      fs::remove(Dest + "Image1.JPG");
    }
    Form.reset();
  }
}

// As root, with the destination on the file system of a real loop device: the loop
// device named on the command line, the image file behind it, the loop device's letter
// and the letter of the disk that holds the image all ask first; another image does not.
TEST_F(MainTest, DestinationOnAMountedLoopDeviceIsWarnedOf) {
  if (::geteuid() != 0)
    GTEST_SKIP() << "attaching and mounting a loop device needs root";
  const std::string image = Dir.Path + "/card.img", mnt = Dir.Path + "/mnt";
  WriteFile(image, {});
  fs::resize_file(image, 8 << 20);
  fs::create_directories(mnt);
  TMountedImage card(image, mnt);
  if (!card.Ok())
    GTEST_SKIP() << card.Why();
  const std::string other = Dir.Path + "/other.img";
  WriteFile(other, std::vector<uint8_t>(64 * 512, 0));
  Dest = mnt + "/Recovered/";
  fs::create_directories(Dest);
  TLinuxDrives linux;
  struct TFormGone { // before the image is unmounted, also when an assertion leaves early
    std::unique_ptr<TFormMain>& Form;
    ~TFormGone() { Form.reset(); }
  } formGone{Form};
  linux.GetLogicalDrives();
  auto letterOf = [&](auto Matches) -> std::string {
    for (char l = 'A'; l <= 'Z'; ++l)
      if (Matches(l))
        return std::string(1, l) + ":\\";
    return {};
  };
  const std::string loopLetter =
      letterOf([&](char l) { return linux.DevicePath(l) == card.Device(); });
  const TDeviceNumber host = TFakeSysfs::DeviceOf(image);
  const std::string hostLetter = letterOf([&](char l) {
    auto d = linux.DriveDevice(std::string(1, l) + ":\\");
    return d && *d == host;
  });
  struct TCase {
    const char* What;
    std::string Root; // a letter, or a path given on the command line
    bool Asks;
  };
  std::vector<TCase> cases = {{"the loop device on the command line", card.Device(), true},
                              {"the image file behind it", image, true},
                              {"the loop device's letter", loopLetter, true},
                              {"another image", other, false}};
  // Fixed disks are listed only where they can be read.
  const int hostFd =
      hostLetter.empty() ? -1 : ::open(linux.DevicePath(hostLetter[0]).c_str(), O_RDONLY);
  if (hostFd >= 0) {
    ::close(hostFd);
    cases.push_back({"the disk that holds the image", hostLetter, true});
  } else {
    std::printf("[ NOTE     ] the device %s that holds the image has %s: its case is left out\n",
                host.Text().c_str(),
                hostLetter.empty() ? "no drive letter" : "a letter but cannot be read");
  }
  std::printf("[ NOTE     ] %s mounted as %s at %s\n", card.Device().c_str(), card.Type().c_str(),
              mnt.c_str());
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    ASSERT_FALSE(c.Root.empty());
    const bool letter = c.Root.size() == 3 && c.Root[1] == ':';
    Desktop = TTestDesktop();
    Settings = std::make_unique<TRegistry>(Dir.Path + "/settings.reg");
    Form = std::make_unique<TFormMain>(linux, *Settings, Desktop,
                                       letter ? std::vector<std::string>{}
                                              : std::vector<std::string>{c.Root});
    Form->Controller().SetDestPath(Dest);
    Select(c.Root);
    TDriveInfo* info = Form->Controller().FindDriveInfo(c.Root);
    ASSERT_NE(info, nullptr);
    ASSERT_TRUE(info->HasMedium());
    const bool fixed = info->GetKind() == dkFixedDisk;
    Desktop.Answers = {fixed ? TBoxAnswer::Yes : TBoxAnswer::No, TBoxAnswer::No};
    Form->SBStartClick();
    if (c.Asks) {
      ASSERT_EQ(Desktop.Boxes.size(), fixed ? 2u : 1u);
      EXPECT_EQ(Desktop.Boxes.back().Buttons, TBoxButtons::YesNoDefaultNo);
      EXPECT_EQ(Desktop.Boxes.back().Text, Format(LoadStr(sDestOnScannedMedium), Dest, c.Root));
      EXPECT_FALSE(Form->SBCancel->isEnabled());
    } else {
      EXPECT_TRUE(Desktop.Boxes.empty());
      ASSERT_TRUE(WaitForSummary());
    }
    Form.reset();
  }
}

// A medium with more sectors than can be numbered shows its whole size, and Start says
// plainly, before anything happens, how much of it can be read; No leaves all idle.
TEST_F(MainTest, AMediumReadOnlyInPartIsToldBeforeTheScan) {
  TSimDrive big = Removable(CardWith({MakeJpeg(2)}));
  big.VirtualSize = uint64_t{5} << 40;
  Platform.AddDrive('E', big);
  // The same size as a sparse image named on the command line, where the file system
  // allows one.
  std::string image = Dir.Path + "/big.img";
  WriteFile(image, CardWith({MakeJpeg(2)}));
  std::vector<std::string> roots = {"E:\\"};
  if (::truncate(image.c_str(), static_cast<off_t>(big.VirtualSize)) == 0)
    roots.push_back(image);
  else
    std::cout << "[  NOTE    ] no sparse image of 5 TiB under " << Dir.Path << ": "
              << std::strerror(errno) << "\n";
  for (const std::string& root : roots)
    for (TBoxAnswer answer : {TBoxAnswer::No, TBoxAnswer::Yes}) {
      SCOPED_TRACE(root + (answer == TBoxAnswer::Yes ? " Yes" : " No"));
      const std::string warning = "Drive " + root +
                                  " holds 5.0 TB, but Glimmerfold can read only "
                                  "its first 2.0 TB.\r\nThe rest of the medium will not be "
                                  "searched.\r\nContinue?";
      Desktop = TTestDesktop();
      Desktop.Answers = {answer};
      Make({image});
      Select(root);
      EXPECT_EQ(Form->LabelCapacity->text(), "5.0 TB");
      EXPECT_EQ(Form->LabelSectorSize->text(), "512");
      Form->SBStartClick();
      ASSERT_EQ(Desktop.Boxes.size(), 1u);
      EXPECT_EQ(Desktop.Boxes[0].Kind, TBoxKind::Warning);
      EXPECT_EQ(Desktop.Boxes[0].Buttons, TBoxButtons::YesNoDefaultNo);
      EXPECT_EQ(Desktop.Boxes[0].Text, warning);
      if (answer == TBoxAnswer::No) {
        EXPECT_TRUE(Form->SBStart->isEnabled());
        EXPECT_FALSE(Form->SBCancel->isEnabled());
        EXPECT_TRUE(Desktop.Sounds.empty());
      } else {
        EXPECT_TRUE(Form->SBCancel->isEnabled()) << "the scan runs";
        Form->SBCancelClick();
        ASSERT_TRUE(WaitForSummary());
        EXPECT_EQ(Desktop.Texts[0], ScanSummary(false, true, 1, 0, Dest).Text);
      }
      Form.reset();
    }
}

// The summary of a scan that read its medium only in part is the controller's account
// of it, never a completed scan. (A medium small enough to be read to its end in a test
// stands for one of more than 2^32 sectors.)
TEST_F(MainTest, AMediumReadOnlyInPartIsToldInTheSummary) {
  Make();
  TDrive drive("G:\\");
  TMemoryMedium m(CardWith({MakeJpeg(2)}), 512, &drive);
  m.SetDeviceSectors(uint64_t{5} << 31);
  Form->Controller().Scanner().Start(&m);
  ASSERT_TRUE(WaitForSummary());
  const std::string part =
      Format(LoadStr(sPartlyReadBody), TFormMain::FormatSize(m.ReadableBytes() / 1024), "5.0 TB");
  EXPECT_EQ(Desktop.Texts[0], ScanSummary(false, false, 1, 0, Dest, "", part).Text);
  EXPECT_EQ(Desktop.Texts[0].rfind("Scan Incomplete.", 0), 0u);
  EXPECT_EQ(Saved().size(), 1u);
}

TEST_F(MainTest, StartWithoutAMediumRescansAndStartsNothing) {
  Platform.AddDrive('E', Removable(CardWith({})));
  Make();
  Select("E:\\");
  // The card was pulled; a detection found it gone, the selection stayed.
  Platform.Drive('E')->HasMedium = false;
  Form->Controller().RefreshDrives();
  ASSERT_TRUE(Form->SBStart->isEnabled());
  Form->SBStartClick();
  EXPECT_FALSE(Form->SBStart->isEnabled());
  EXPECT_FALSE(Form->SBCancel->isEnabled());
  QTest::qWait(20);
  EXPECT_TRUE(Desktop.Texts.empty());
  EXPECT_TRUE(Desktop.Sounds.empty());
}

TEST_F(MainTest, ScanSavesEveryFileAndShowsTheCompletedSummary) {
  std::vector<std::vector<uint8_t>> pictures = {MakeJpeg(3), MakeJpeg(4), MakeJpeg(5)};
  Platform.AddDrive('E', Removable(CardWith(pictures)));
  WriteFile(Dest + "Image2.JPG", {'o', 'l', 'd'}); // never overwritten
  Make();
  Form->show();
  Select("E:\\");
  // The files are on the disk before the summary says so.
  bool writtenThrough = false;
  Desktop.OnShowText = [&] {
    writtenThrough = Log.Logged("MAIN: Wrote " + Dest + " through to its disk in ");
  };
  Form->SBStartClick();
  EXPECT_FALSE(Form->SBStart->isEnabled());
  EXPECT_TRUE(Form->SBCancel->isEnabled());
  EXPECT_FALSE(Form->SBExit->isEnabled());
  EXPECT_FALSE(Form->SBOptions->isEnabled());
  EXPECT_FALSE(Form->LBDrives->isEnabled());
  EXPECT_TRUE(Form->Animation().Active());
  ASSERT_TRUE(WaitForSummary());
  EXPECT_EQ(Saved(),
            (std::vector<std::string>{"Image1.JPG", "Image2.JPG", "Image3.JPG", "Image4.JPG"}));
  EXPECT_EQ(ReadFile(Dest + "Image2.JPG"), (std::vector<uint8_t>{'o', 'l', 'd'}));
  const char* names[] = {"Image1.JPG", "Image3.JPG", "Image4.JPG"};
  for (int i = 0; i < 3; ++i) {
    auto saved = ReadFile(Dest + names[i]);
    ASSERT_GE(saved.size(), pictures[i].size());
    EXPECT_TRUE(std::equal(pictures[i].begin(), pictures[i].end(), saved.begin())) << names[i];
  }
  EXPECT_EQ(Desktop.Texts[0], "Scan Completed.\r\n\r\n" + Format(LoadStr(sCompletedBody), 3, Dest));
  EXPECT_TRUE(writtenThrough);
  EXPECT_EQ(Desktop.Sounds, (std::vector<std::string>{"STARTWAV", "OKWAV"}));
  EXPECT_EQ(Form->LabelRecovered->text(), "3");
  EXPECT_TRUE(Form->SBStart->isEnabled());
  EXPECT_FALSE(Form->SBCancel->isEnabled());
  EXPECT_TRUE(Form->SBExit->isEnabled());
  EXPECT_TRUE(Form->LBDrives->isEnabled());
  EXPECT_FALSE(Form->Animation().Active());
  EXPECT_EQ(Form->ProgressBar->value(), 0);
  EXPECT_EQ(Form->LabelCurSector->text(), "");
}

// Saved files that cannot be written through to the disk are not reported as a
// complete save. A destination that can be written but not read cannot be flushed;
// the superuser reads every folder, so this needs an ordinary user.
TEST_F(MainTest, AFailedWriteThroughIsNoCompletedSave) {
  if (geteuid() == 0)
    GTEST_SKIP() << "the superuser can open any folder for reading";
  Platform.AddDrive('E', Removable(CardWith({MakeJpeg(3)})));
  Make();
  Select("E:\\");
  fs::permissions(Dest, fs::perms::owner_write | fs::perms::owner_exec);
  Form->SBStartClick();
  bool summary = WaitForSummary();
  fs::permissions(Dest, fs::perms::owner_all);
  ASSERT_TRUE(summary);
  EXPECT_EQ(Desktop.Texts[0], ScanSummary(true, false, 1, 0, Dest, "Permission denied").Text);
  EXPECT_EQ(Desktop.Sounds.back(), "FAILWAV");
  EXPECT_TRUE(Log.Logged("MAIN: Cannot write " + Dest + " through to its disk: Permission denied"));
}

TEST_F(MainTest, SummariesAtTheWindow) {
  auto pictures = CardWith({MakeJpeg(6)});
  uint32_t afterPicture = static_cast<uint32_t>(pictures.size() / 512) - 8;
  struct TCase {
    const char* What;
    std::vector<uint8_t> Image;
    std::map<uint32_t, uint32_t> Failing;
    std::string Title, Sound;
  };
  const TCase cases[] = {
      {"completed, nothing", CardWith({}), {}, "Scan Completed.", "FAILWAV"},
      {"incomplete, files", pictures, {{afterPicture, 23}}, "Scan Incomplete.", "OKWAV"},
      {"incomplete, nothing", CardWith({}), {{10, 23}}, "Scan Incomplete.", "FAILWAV"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    Platform.RemoveDrive('E');
    TSimDrive d = Removable(c.Image);
    d.FailingSectors = c.Failing;
    Platform.AddDrive('E', d);
    Desktop = TTestDesktop();
    Make();
    Select("E:\\");
    Form->SBStartClick();
    ASSERT_TRUE(WaitForSummary());
    TSummary expected =
        ScanSummary(c.Title == "Scan Completed.", false, c.Sound == "OKWAV" ? 1 : 0, 0, Dest);
    EXPECT_EQ(Desktop.Texts[0].substr(0, c.Title.size()), c.Title);
    EXPECT_EQ(Desktop.Texts[0], expected.Text);
    EXPECT_EQ(Desktop.Sounds, (std::vector<std::string>{"STARTWAV", c.Sound}));
    Form.reset();
  }
}

// A sound file whose header sector reads for the check but whose block fails once its
// extract has moved on: its carve gets no sector, and nothing is saved or counted.
TEST_F(MainTest, ACarveThatGotNoSectorIsNeitherSavedNorCounted) {
  std::vector<uint8_t> card(200 * 512, 0);
  uint8_t* wav = card.data() + 63 * 512;
  const uint32_t size = 20000;
  std::memcpy(wav, "RIFF", 4);
  PutLe32(wav + 4, size - 8);
  std::memcpy(wav + 8, "WAVEfmt ", 8);
  PutLe32(wav + 16, 16);
  std::memcpy(wav + 36, "data", 4);
  PutLe32(wav + 40, size - 44);
  TSimDrive d = Removable(card);
  d.FailingSectors = {{70, 23}}; // the blocks from 63 and 64 on fail; 0..63 reads
  Platform.AddDrive('E', d);
  Make();
  Select("E:\\");
  Form->SBStartClick();
  ASSERT_TRUE(WaitForSummary());
  EXPECT_TRUE(fs::is_empty(Dest));
  EXPECT_EQ(Desktop.Texts[0], ScanSummary(false, false, 0, 0, Dest).Text);
  EXPECT_EQ(Form->Controller().FoundCount(), 0);
  EXPECT_TRUE(Log.Logged("SCANNER: WAV file at sector 63 dropped"));
}

TEST_F(MainTest, CancelGivesTheCancelledSummaryWithoutASummarySound) {
  Platform.AddDrive('E', Removable(CardWith({MakeJpeg(7)}, 512 * 65536)));
  Make();
  Select("E:\\");
  Form->SBStartClick();
  Form->Controller().SetPaused(true); // hold the worker so that the scan cannot end first
  // Closing is refused while the scan runs.
  Form->show();
  Form->close();
  EXPECT_TRUE(Form->isVisible());
  EXPECT_FALSE(Form->FormCloseQuery());
  QTimer::singleShot(0, Form.get(), [this] { QTest::mouseClick(Form->SBCancel, Qt::LeftButton); });
  ASSERT_TRUE(WaitForSummary());
  EXPECT_EQ(Desktop.Texts[0], LoadStr(sCancelledTitle) + "\r\n\r\n" + LoadStr(sCancelledBody));
  EXPECT_EQ(Desktop.Sounds, (std::vector<std::string>{"STARTWAV", "CANCELWAV"}));
  EXPECT_TRUE(Form->FormCloseQuery());
  Form->close();
  EXPECT_FALSE(Form->isVisible());
}

TEST_F(MainTest, UnwritableDestinationAsksAndNoStopsTheScan) {
  Platform.AddDrive('E', Removable(CardWith({MakeJpeg(8), MakeJpeg(9), MakeJpeg(10)})));
  Desktop.Answers = {TBoxAnswer::No};
  Make();
  Select("E:\\");
  // After the first file, the destination goes away.
  auto original = Form->Controller().OnFileFound;
  int files = 0;
  Form->Controller().OnFileFound = [&](TGlimmerfold& s, const std::string& n,
                                       std::unique_ptr<TMemoryStream> m) {
    original(s, n, std::move(m));
    if (++files == 1)
      fs::rename(Dir.Path + "/out", Dir.Path + "/moved");
  };
  Form->SBStartClick();
  ASSERT_TRUE(WaitForSummary());
  ASSERT_EQ(Desktop.Boxes.size(), 1u);
  EXPECT_EQ(Desktop.Boxes[0].Kind, TBoxKind::Error);
  EXPECT_EQ(Desktop.Boxes[0].Buttons, TBoxButtons::YesNo);
  EXPECT_EQ(Desktop.Boxes[0].Text.rfind("Error saving file:Cannot create file", 0), 0u)
      << Desktop.Boxes[0].Text;
  EXPECT_EQ(files, 2);
  EXPECT_EQ(Form->LabelRecovered->text(), "1"); // the failed save is not counted
  EXPECT_EQ(Desktop.Texts[0], ScanSummary(false, true, 1, 1, Dest).Text);
  EXPECT_TRUE(fs::exists(Dir.Path + "/moved/Image1.JPG"));
  EXPECT_FALSE(Form->Controller().IsScanning());
  ASSERT_TRUE(DrainThumbnails(Form->Thumbnails()));
  EXPECT_EQ(Captions(), std::vector<std::string>{"Image1.JPG"}); // none for the unsaved
}

// A destination that fills up during the scan: the files that fit are whole, the others
// leave nothing and get no thumbnail, and the summary counts them.
TEST_F(MainTest, FullDestinationKeepsWholeFilesAndCountsTheRest) {
  std::vector<std::vector<uint8_t>> pictures = {MakeJpeg(12, 16, 16), MakeJpeg(13),
                                                MakeJpeg(14, 24, 16)};
  const std::size_t limit = 16 << 10;
  ASSERT_LT(pictures[0].size(), limit / 2);
  ASSERT_LT(pictures[2].size(), limit / 2);
  ASSERT_GT(pictures[1].size(), limit);
  // No empty tail: the last file would run on into it.
  Platform.AddDrive('E', Removable(CardWith(pictures, 0)));
  Make();
  Form->show();
  Select("E:\\");
  {
    TFileSizeLimit full(limit);
    ASSERT_TRUE(full.Active);
    Form->SBStartClick();
    ASSERT_TRUE(WaitForSummary());
  }
  EXPECT_EQ(Saved(), (std::vector<std::string>{"Image1.JPG", "Image3.JPG"}));
  for (auto [name, picture] :
       {std::pair{"Image1.JPG", &pictures[0]}, {"Image3.JPG", &pictures[2]}}) {
    auto saved = ReadFile(Dest + name);
    ASSERT_GE(saved.size(), picture->size()) << name;
    EXPECT_TRUE(std::equal(picture->begin(), picture->end(), saved.begin())) << name;
  }
  ASSERT_EQ(Desktop.Boxes.size(), 1u);
  EXPECT_EQ(Desktop.Boxes[0].Text, "Error saving file:Cannot write file \"" + Dest +
                                       "Image2.JPG\". File too large\r\nContinue scanning?");
  EXPECT_EQ(Form->LabelRecovered->text(), "2");
  EXPECT_EQ(Desktop.Texts[0], ScanSummary(true, false, 2, 1, Dest).Text);
  EXPECT_EQ(Desktop.Sounds, (std::vector<std::string>{"STARTWAV", "FAILWAV"}));
  ASSERT_TRUE(DrainThumbnails(Form->Thumbnails()));
  EXPECT_EQ(Captions(), (std::vector<std::string>{"Image1.JPG", "Image3.JPG"}));
}

// A part file that a killed run left is removed when the destination is next used for
// a scan, and is never shown as a recovered picture, not even under the empty prefix.
TEST_F(MainTest, LeftoverPartFilesGoAtTheNextScanAndAreNeverShown) {
  Platform.AddDrive('E', Removable(CardWith({MakeJpeg(1)})));
  const pid_t gone = EndedProcess();
  const std::string part = ".glimmerfold-" + std::to_string(gone) + "-0.part";
  WriteFile(Dest + part, std::vector<uint8_t>(2 << 20, 0xFF));
  WriteFile(Dest + "1.JPG", MakeJpeg(2));
  Make();
  Form->Controller().SetFilePrefix("");
  Form->LoadExistingThumbnails();
  ASSERT_TRUE(DrainThumbnails(Form->Thumbnails()));
  EXPECT_EQ(Captions(), std::vector<std::string>{"1.JPG"});
  EXPECT_TRUE(fs::exists(Dest + part)) << "looking is not using";
  Select("E:\\");
  Form->SBStartClick();
  ASSERT_TRUE(WaitForSummary());
  EXPECT_FALSE(fs::exists(Dest + part));
  EXPECT_EQ(Saved(), (std::vector<std::string>{"1.JPG", "2.JPG"}));
  EXPECT_TRUE(Log.Logged("MAIN: Removed " + Dest + part));
}

TEST_F(MainTest, StartClickedWhileTheEndIsHandledStartsNothingAndLeavesTheWindowIdle) {
  Platform.AddDrive('E', Removable(CardWith({MakeJpeg(11)})));
  Make();
  Select("E:\\");
  auto original = Form->Controller().OnScanDone;
  Form->Controller().OnScanDone = [&](TGlimmerfold& s, bool c, bool u, const std::string& m) {
    // A click queued now arrives in the window's own processing of pending messages.
    QTimer::singleShot(0, Form.get(), [this] { Form->SBStartClick(); });
    original(s, c, u, m);
  };
  Form->SBStartClick();
  ASSERT_TRUE(WaitForSummary());
  QTest::qWait(50);
  EXPECT_EQ(Desktop.Texts.size(), 1u);
  EXPECT_FALSE(Form->Controller().IsScanning());
  EXPECT_FALSE(Form->SBCancel->isEnabled());
  EXPECT_TRUE(Form->SBStart->isEnabled());
  EXPECT_TRUE(Form->LBDrives->isEnabled());
  EXPECT_TRUE(Form->FormCloseQuery());
}

TEST_F(MainTest, ProgressOnMediaAboveTwoToThe31Sectors) {
  Make();
  Form->ScanProgress(3000000000LL, 4000000000LL);
  Form->ShowProgress();
  EXPECT_EQ(Form->LabelCurSector->text(), "3000000000 / 4000000000");
  EXPECT_EQ(Form->ProgressBar->maximum(), 2000000000);
  EXPECT_EQ(Form->ProgressBar->value(), 1500000000);
  Form->ScanProgress(22, 100);
  Form->ShowProgress();
  EXPECT_EQ(Form->LabelCurSector->text(), "22 / 100");
  EXPECT_EQ(Form->ProgressBar->maximum(), 100);
  EXPECT_EQ(Form->ProgressBar->value(), 22);
}

TEST_F(MainTest, CreditsSequence) {
  Make();
  const auto all = Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier;
  struct TKey {
    int Key;
    Qt::KeyboardModifiers Mods;
  };
  struct TCase {
    const char* What;
    std::vector<TKey> Keys;
    std::size_t Boxes;
  };
  const TCase cases[] = {
      {"in order", {{'Q', all}, {'Z', all}, {'W', all}}, 1},
      {"wrong letter between", {{'Q', all}, {'X', all}, {'Z', all}, {'W', all}}, 0},
      {"restart after a mismatch", {{'Q', all}, {'Q', all}, {'Z', all}, {'W', all}}, 0},
      {"modifier key counts as a mismatch", {{'Q', all}, {16, all}, {'Z', all}, {'W', all}}, 0},
      {"other modifiers leave the count",
       {{'Q', all}, {'A', Qt::ControlModifier}, {'Z', all}, {'X', Qt::NoModifier}, {'W', all}},
       1},
      {"twice", {{'Q', all}, {'Z', all}, {'W', all}, {'Q', all}, {'Z', all}, {'W', all}}, 2},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    Desktop.Boxes.clear();
    Form->FormKeyDown('Z', all); // ends any sequence left from before
    for (TKey k : c.Keys)
      Form->FormKeyDown(k.Key, k.Mods);
    ASSERT_EQ(Desktop.Boxes.size(), c.Boxes);
    if (c.Boxes) {
      EXPECT_EQ(Desktop.Boxes[0].Kind, TBoxKind::Information);
    }
  }
}

TEST_F(MainTest, KeysReachTheFormFromAnyControl) {
  Make();
  Form->show();
  Form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(Form.get()));
  Form->SBHelp->setFocus();
  QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : Form.get();
  QTest::keyClick(target, Qt::Key_F12, Qt::ShiftModifier | Qt::AltModifier);
  EXPECT_TRUE(Form->FormDebug().isVisible());
  Form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(Form.get()));
  Form->SBHelp->setFocus();
  target = QApplication::focusWidget() ? QApplication::focusWidget() : Form.get();
  const auto all = Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier;
  // Held modifiers: one press each, as a keyboard sends them (a click would press the
  // modifiers again before each letter, and a third modifier press is a mismatch).
  for (auto k : {Qt::Key_Q, Qt::Key_Z, Qt::Key_W}) {
    QTest::simulateEvent(target, true, k, all, QString(QChar(k)), false, -1);
    QTest::simulateEvent(target, false, k, all, QString(QChar(k)), false, -1);
  }
  EXPECT_EQ(Desktop.Boxes.size(), 1u);
}

// One key press runs its action once, whichever control has the focus: the thumbnail
// view's Del and Enter, and the form's key preview from the lists.
TEST_F(MainTest, OneKeyPressRunsItsActionOnce) {
  Platform.AddDrive('E', Removable(CardWith({MakeJpeg(1)})));
  Make();
  const std::vector<std::string> names = {"Image1.JPG", "Image2.JPG", "Image3.JPG"};
  for (const std::string& name : names) {
    WriteFile(Dest + name, MakeJpeg(1, 16, 16));
    Form->QueueThumbnail(Dest + name, nullptr);
  }
  ASSERT_TRUE(DrainThumbnails(Form->Thumbnails()));
  Desktop.Trash = [](const std::string&) { return std::string("Permission denied"); };
  Form->show();
  Form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(Form.get()));
  const auto all = Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier;
  auto credits = [all](QWidget* W) {
    // Held modifiers: one press each, as a keyboard sends them.
    for (auto k : {Qt::Key_Q, Qt::Key_Z, Qt::Key_W}) {
      QTest::simulateEvent(W, true, k, all, QString(QChar(k)), false, -1);
      QTest::simulateEvent(W, false, k, all, QString(QChar(k)), false, -1);
    }
  };
  struct TCase {
    const char* What;
    QWidget* Focus;
    std::function<void(QWidget*)> Press;
    std::size_t Trashed, Boxes, Opened;
  };
  const TCase cases[] = {
      {"Del on the thumbnails, the trash refusing", Form->LVThumbnails,
       [](QWidget* W) { QTest::keyClick(W, Qt::Key_Delete); }, 3, 1, 0},
      {"Enter on the thumbnails", Form->LVThumbnails,
       [](QWidget* W) { QTest::keyClick(W, Qt::Key_Return); }, 0, 0, 3},
      {"the credits keys on the thumbnails", Form->LVThumbnails, credits, 0, 1, 0},
      {"the credits keys on the drive list", Form->LBDrives, credits, 0, 1, 0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    Desktop.Trashed.clear();
    Desktop.Boxes.clear();
    Desktop.Opened.clear();
    c.Focus->setFocus();
    ASSERT_EQ(QApplication::focusWidget(), c.Focus);
    Form->LVThumbnails->selectAll();
    c.Press(c.Focus);
    EXPECT_EQ(Desktop.Trashed.size(), c.Trashed);
    EXPECT_EQ(Desktop.Boxes.size(), c.Boxes);
    EXPECT_EQ(Desktop.Opened.size(), c.Opened);
    EXPECT_EQ(Captions(), names) << "every file is still in place, so is its item";
  }
}

// The box of files that stayed in place names the first few and counts the rest, so
// that it fits the screen; the debug log names every one.
TEST_F(MainTest, TheTrashFailureBoxNamesTheFirstFewAndCountsTheRest) {
  Make();
  Form->show();
  Form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(Form.get()));
  Desktop.Trash = [](const std::string&) { return std::string("Read-only file system"); };
  const std::size_t few = TFormMain::TrashBoxNames;
  for (std::size_t count : {std::size_t{1}, few, few + 1, std::size_t{210}}) {
    SCOPED_TRACE(count);
    Form->ClearThumbnails();
    Desktop.Boxes.clear();
    Log.Clear();
    std::vector<std::string> names;
    for (std::size_t i = 1; i <= count; ++i) {
      names.push_back("Image" + std::to_string(i) + ".WAV");
      Form->QueueThumbnail(Dest + names.back(), nullptr);
    }
    ASSERT_TRUE(DrainThumbnails(Form->Thumbnails()));
    Form->LVThumbnails->setFocus();
    Form->LVThumbnails->selectAll();
    QTest::keyClick(Form->LVThumbnails, Qt::Key_Delete);
    std::string listed;
    for (std::size_t i = 0; i < count && i < few; ++i)
      listed += "\r\n" + Dest + names[i];
    std::string want =
        "These files could not be moved to the trash and are still in place:" + listed;
    if (count > few)
      want += "\r\nand " + std::to_string(count - few) + " more, which the debug log names.";
    ASSERT_EQ(Desktop.Boxes.size(), 1u);
    EXPECT_EQ(Desktop.Boxes[0].Text, want);
    EXPECT_EQ(Desktop.Boxes[0].Kind, TBoxKind::Error);
    for (const std::string& name : names)
      EXPECT_TRUE(
          Log.Has("THUMBS: Cannot move " + Dest + name + " to the trash: Read-only file system"))
          << name;
  }
}

// Enter presses the focused button, as Space does; not with Ctrl held.
TEST_F(MainTest, EnterPressesTheFocusedButton) {
  Make();
  Form->show();
  Form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(Form.get()));
  for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space}) {
    SCOPED_TRACE(key);
    Desktop.Opened.clear();
    Desktop.OptionsShown = 0;
    Form->SBHelp->setFocus();
    QTest::keyClick(Form->SBHelp, key, key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
    EXPECT_EQ(Desktop.Opened.size(), 1u);
    Form->SBOptions->setFocus();
    if (key != Qt::Key_Space) { // Qt's own Space takes any modifiers
      QTest::keyClick(Form->SBOptions, key, Qt::ControlModifier);
      EXPECT_EQ(Desktop.OptionsShown, 0);
    }
    QTest::keyClick(Form->SBOptions, key);
    EXPECT_EQ(Desktop.OptionsShown, 1);
  }
  Form->SBExit->setFocus();
  QTest::keyClick(Form->SBExit, Qt::Key_Return);
  EXPECT_FALSE(Form->isVisible());
}

TEST_F(MainTest, HelpAndTheWebLinkGoToTheDesktopOpener) {
  Make();
  Form->SBHelpClick();
  std::string dir = QCoreApplication::applicationDirPath().toStdString();
  ASSERT_EQ(Desktop.Opened.size(), 1u);
  EXPECT_EQ(Desktop.Opened[0].first, dir + "/Glimmerfold.html");
  EXPECT_EQ(Desktop.Opened[0].second, dir);
  Form->STURLMouseMove(1, 1);
  EXPECT_EQ(Form->STURL->palette().color(QPalette::WindowText), QColor(255, 0, 0));
  Form->STURLClick();
  EXPECT_EQ(Form->STURL->palette().color(QPalette::WindowText), QColor(0, 0, 255));
  ASSERT_EQ(Desktop.Opened.size(), 2u);
  EXPECT_EQ(Desktop.Opened[1].first, TFormMain::WebAddress);
  Form->SBOptionsClick();
  EXPECT_EQ(Desktop.OptionsShown, 1);
}

// The whole road: a FAT card image with known pictures, some deleted, named on the
// command line; every picture comes back under a numbered name.
TEST_F(MainTest, EndToEndFatCardImageOnTheCommandLine) {
  if (std::string missing = MissingCardTools(); !missing.empty())
    GTEST_SKIP() << missing;
  TFatCard card(8192, "TESTCARD");
  ASSERT_TRUE(card.Ok());
  std::vector<std::vector<uint8_t>> pictures;
  for (int i = 0; i < 6; ++i) {
    pictures.push_back(MakeJpeg(20 + i, 480, 360));
    ASSERT_TRUE(card.Put("P" + std::to_string(i) + ".JPG", pictures.back()));
  }
  ASSERT_TRUE(card.Delete("P1.JPG"));
  ASSERT_TRUE(card.Delete("P4.JPG"));

  Make({card.Image().string()});
  Form->show();
  std::string root;
  for (auto& r : Listed())
    if (Form->Controller().FindDriveInfo(r)->GetKind() == dkImageFile)
      root = r;
  ASSERT_FALSE(root.empty());
  Select(root);
  QTest::mouseClick(Form->SBStart, Qt::LeftButton);
  ASSERT_TRUE(WaitForSummary());

  EXPECT_EQ(Saved(), (std::vector<std::string>{"Image1.JPG", "Image2.JPG", "Image3.JPG",
                                               "Image4.JPG", "Image5.JPG", "Image6.JPG"}));
  std::vector<int> matched(pictures.size(), 0);
  for (auto& name : Saved()) {
    auto saved = ReadFile(Dest + name);
    for (std::size_t i = 0; i < pictures.size(); ++i)
      if (saved.size() >= pictures[i].size() &&
          std::equal(pictures[i].begin(), pictures[i].end(), saved.begin()))
        ++matched[i];
  }
  EXPECT_EQ(matched, std::vector<int>(pictures.size(), 1));
  EXPECT_EQ(Desktop.Texts[0], "Scan Completed.\r\n\r\n" + Format(LoadStr(sCompletedBody), 6, Dest));
  EXPECT_EQ(Desktop.Sounds, (std::vector<std::string>{"STARTWAV", "OKWAV"}));
  EXPECT_EQ(Form->LabelRecovered->text(), "6");
}

// The options dialog: its look, what OK applies, saves and does to the thumbnails,
// Cancel and Escape keeping what was typed, Enter as OK, and Browse.
#include "Controller.h"
#include "DialogDir.h"
#include "Main.h"
#include "MainFormTest.h"
#include "OptionDlg.h"
#include "Registry.h"
#include "SimulatedDrives.h"
#include "TestDesktop.h"
#include "TestPictures.h"

#include <QtCore/QTimer>
#include <QtTest/QTest>
#include <QtWidgets/QCheckBox>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QListWidget>
#include <QtWidgets/QToolButton>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>

using namespace gf;
using namespace gf::test;
namespace fs = std::filesystem;

namespace {

struct TSaved {
  std::string DestPath, FilePrefix;
  bool ThumbnailExisting, ClearThumbs;
  bool operator==(const TSaved&) const = default;
};

class OptionsTest : public ::testing::Test {
protected:
  void SetUp() override {
    D1 = Dir.Path + "/one/";
    D2 = Dir.Path + "/two/";
    fs::create_directories(D1);
    fs::create_directories(D2);
    WriteFile(D1 + "Image1.JPG", MakeJpeg(1, 16, 16));
    WriteFile(D2 + "Image1.JPG", MakeJpeg(2, 16, 16));
    WriteFile(D2 + "Image2.JPG", MakeJpeg(3, 16, 16));
    Settings = std::make_unique<TRegistry>(SettingsFile());
    Main = std::make_unique<TFormMain>(Platform, *Settings, Desktop, std::vector<std::string>{});
    SelectDir = std::make_unique<TDialogSelectDir>(
        Desktop, Main.get(),
        std::vector<TFolderModel::TRoot>{{"Tests", QString::fromStdString(Dir.Path)}});
    Options = std::make_unique<TFormOptions>(*Main, *SelectDir);
    C().SetDestPath(D1);
    C().SetFilePrefix("Image");
    C().SetThumbnailExisting(false);
    C().SetClearThumbs(true);
  }
  void TearDown() override {
    Options.reset();
    SelectDir.reset();
    Main.reset();
  }

  TGlimmerfold& C() { return Main->Controller(); }
  std::string SettingsFile() const { return Dir.Path + "/settings.reg"; }

  // What the next start of the program reads.
  TSaved Saved() {
    TRegistry r(SettingsFile());
    TGlimmerfold c(Platform, r);
    c.LoadSettings();
    return {c.DestPath(), c.FilePrefix(), c.ThumbnailExisting(), c.ClearThumbs()};
  }

  // The thumbnail list after the queue is worked off, marked so that a reload or a
  // clear shows.
  std::vector<std::string> Thumbnails() {
    EXPECT_TRUE(DrainThumbnails(Main->Thumbnails()));
    return ThumbnailCaptions(*Main);
  }
  void Mark() {
    Main->ClearThumbnails();
    Main->QueueThumbnail(Dir.Path + "/Marker.JPG", nullptr);
    ASSERT_EQ(Thumbnails(), std::vector<std::string>{"Marker.JPG"});
  }

  // Runs the dialog modally; Act runs inside it once it is shown.
  void Run(const std::function<void()>& Act) {
    bool ran = false;
    QTimer::singleShot(0, Options.get(), [&] {
      ran = Options->isVisible();
      Act();
      if (Options->isVisible())
        Options->reject();
    });
    Options->ShowModal();
    EXPECT_TRUE(ran);
  }

  TTempDir Dir;
  std::string D1, D2;
  TSimulatedDrives Platform;
  TTestDesktop Desktop;
  std::unique_ptr<TRegistry> Settings;
  std::unique_ptr<TFormMain> Main;
  std::unique_ptr<TDialogSelectDir> SelectDir;
  std::unique_ptr<TFormOptions> Options;
};

} // namespace

TEST_F(OptionsTest, LooksAsDesignedAndFollowsTheController) {
  EXPECT_EQ(Options->windowTitle().toStdString(),
            "Glimmerfold(tm) for Digital Media 2.0 - Options");
  EXPECT_EQ(Options->size(), QSize(454, 160));
  // At most a close button: with no button at all the window manager offers them all.
  const Qt::WindowFlags flags = Options->windowFlags();
  EXPECT_TRUE(flags & Qt::CustomizeWindowHint);
  EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
  EXPECT_FALSE(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint |
                        Qt::WindowContextHelpButtonHint));
  EXPECT_EQ(Options->SpeedButton3->text(), "&Browse");
  EXPECT_EQ(Options->SpeedButton1->text(), "&OK");
  EXPECT_EQ(Options->SpeedButton2->text(), "&Cancel");
  EXPECT_EQ(Options->CBThumbnailExisting->text(), "Thumbnail already recovered images");
  EXPECT_EQ(Options->CBClearThumbs->text(), "Clear list of thumbnails when starting recovery");
  for (QWidget* w : Options->findChildren<QWidget*>())
    EXPECT_TRUE(QRect(0, 0, 454, 160).contains(w->geometry())) << w->metaObject()->className();
  C().SetDestPath(D2);
  C().SetFilePrefix("Card");
  C().SetThumbnailExisting(true);
  C().SetClearThumbs(false);
  EXPECT_EQ(Options->EditDestPath->text().toStdString(), D2);
  EXPECT_EQ(Options->EditFilenamePrefix->text(), "Card");
  EXPECT_TRUE(Options->CBThumbnailExisting->isChecked());
  EXPECT_FALSE(Options->CBClearThumbs->isChecked());
}

// OK applies and saves all four values, and reloads the thumbnails only when the box
// "Thumbnail already recovered images" is set and it or the folder changed; with the
// box clear it always empties the list.
TEST_F(OptionsTest, OkAppliesSavesAndBringsTheThumbnailsInLine) {
  struct TCase {
    const char* What;
    bool ExistingBefore;
    std::string Path; // typed
    bool Existing, Clear;
    std::vector<std::string> List;
    std::string DestAfter;
  };
  const std::vector<std::string> marked = {"Marker.JPG"};
  const TCase cases[] = {
      {"nothing changed, box set", true, D1, true, true, marked, D1},
      {"nothing changed, box clear", false, D1, false, true, {}, D1},
      {"box set now", false, D1, true, true, {"Image1.JPG"}, D1},
      {"folder changed, box set", true, D2, true, true, {"Image1.JPG", "Image2.JPG"}, D2},
      {"folder changed without its slash, switch off",
       false,
       Dir.Path + "/two",
       false,
       false,
       {},
       D2},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    C().SetDestPath(D1);
    C().SetThumbnailExisting(c.ExistingBefore);
    C().SetClearThumbs(true);
    C().SaveSettings();
    fs::remove(SettingsFile());
    Mark();
    Options->EditDestPath->setText(QString::fromStdString(c.Path));
    Options->EditFilenamePrefix->setText("Image");
    Options->CBThumbnailExisting->setChecked(c.Existing);
    Options->CBClearThumbs->setChecked(c.Clear);
    Options->SpeedButton1Click();
    EXPECT_EQ(C().DestPath(), c.DestAfter);
    EXPECT_EQ(Options->EditDestPath->text().toStdString(), c.DestAfter);
    EXPECT_EQ(Thumbnails(), c.List);
    EXPECT_EQ(Saved(), (TSaved{c.DestAfter, "Image", c.Existing, c.Clear}));
  }
}

TEST_F(OptionsTest, EscapeAppliesNothingAndKeepsWhatWasTyped) {
  Run([this] {
    QTest::keyClick(Options->EditDestPath, Qt::Key_End);
    QTest::keyClicks(Options->EditDestPath, "more");
    Options->CBClearThumbs->setChecked(false);
    QTest::keyClick(Options->EditDestPath, Qt::Key_Escape);
    EXPECT_FALSE(Options->isVisible());
  });
  EXPECT_EQ(C().DestPath(), D1);
  EXPECT_TRUE(C().ClearThumbs());
  EXPECT_FALSE(fs::exists(SettingsFile()));
  Run([this] {
    EXPECT_EQ(Options->EditDestPath->text().toStdString(), D1 + "more");
    EXPECT_FALSE(Options->CBClearThumbs->isChecked());
    QTest::mouseClick(Options->SpeedButton2, Qt::LeftButton);
  });
  EXPECT_EQ(C().DestPath(), D1);
  // A change reported by the controller replaces what was typed.
  C().SetFilePrefix("Other");
  EXPECT_EQ(Options->EditDestPath->text().toStdString(), D1);
}

TEST_F(OptionsTest, EnterInAnEditAppliesAsOk) {
  Run([this] {
    Options->EditFilenamePrefix->setFocus();
    Options->EditFilenamePrefix->selectAll();
    QTest::keyClicks(Options->EditFilenamePrefix, "Holiday");
    QTest::keyClick(Options->EditFilenamePrefix, Qt::Key_Return);
    EXPECT_FALSE(Options->isVisible());
  });
  EXPECT_EQ(C().FilePrefix(), "Holiday");
  EXPECT_EQ(Saved().FilePrefix, "Holiday");
}

// Browse puts the chosen folder into the edit, nothing more until OK.
TEST_F(OptionsTest, BrowseFillsTheEditWithTheChosenFolder) {
  for (bool ok : {false, true}) {
    SCOPED_TRACE(ok);
    Options->EditDestPath->setText(QString::fromStdString(D1));
    QTimer::singleShot(0, SelectDir.get(), [&] {
      EXPECT_EQ(SelectDir->SelectedPath() + "/", D1); // the edit's folder is preselected
      EXPECT_TRUE(SelectDir->SetPath(D2));
      (ok ? SelectDir->SpeedButton1 : SelectDir->SpeedButton2)->click();
    });
    Options->Button3Click();
    EXPECT_EQ(Options->EditDestPath->text().toStdString(), ok ? D2 : D1);
    EXPECT_EQ(C().DestPath(), D1);
  }
}

// The close button cancels: nothing is applied and what was typed stays.
TEST_F(OptionsTest, CloseButtonActsAsCancel) {
  Run([this] {
    Options->EditFilenamePrefix->setText("Typed");
    Options->CBClearThumbs->setChecked(false);
    EXPECT_TRUE(Options->close());
    EXPECT_FALSE(Options->isVisible());
  });
  EXPECT_EQ(C().FilePrefix(), "Image");
  EXPECT_TRUE(C().ClearThumbs());
  EXPECT_FALSE(fs::exists(SettingsFile()));
  EXPECT_EQ(Options->EditFilenamePrefix->text(), "Typed");
}

// A prefix with "/" or a relative destination keeps the dialog open with a box saying
// why, and applies and saves nothing; "~/" stands for the home folder.
TEST_F(OptionsTest, OkRefusesWhatWouldSendFilesElsewhere) {
  const std::string home = Dir.Path + "/home";
  fs::create_directories(home);
  const char* oldHome = std::getenv("HOME");
  const std::string savedHome = oldHome ? oldHome : "";
  setenv("HOME", home.c_str(), 1);
  const std::string notFull = " is not a full path.\r\nEnter a path that begins with \"/\", "
                              "or with \"~/\" for your home folder.";
  struct TCase {
    const char* What;
    std::string Path, Prefix;
    std::string Box;       // empty: accepted
    std::string DestAfter; // when accepted
  };
  const TCase cases[] = {
      {"prefix leaving the folder", D2, "../../escaped",
       "The file name prefix must not contain \"/\".", ""},
      {"prefix naming a folder", D2, "sub/Image", "The file name prefix must not contain \"/\".",
       ""},
      {"relative path", "Pictures", "Image", "The destination path Pictures" + notFull, ""},
      {"dot path", "./out/", "Image", "The destination path ./out/" + notFull, ""},
      {"another user's home", "~other/x", "Image", "The destination path ~other/x" + notFull, ""},
      {"home folder", "~/Pictures", "Trip", "", home + "/Pictures/"},
      {"home itself", "~", "Trip", "", home + "/"},
      {"full path", D2, "Trip", "", D2},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    C().SetDestPath(D1);
    C().SetFilePrefix("Image");
    fs::remove(SettingsFile());
    Desktop.Boxes.clear();
    bool open = false;
    Run([&] {
      Options->EditDestPath->setText(QString::fromStdString(c.Path));
      Options->EditFilenamePrefix->setText(QString::fromStdString(c.Prefix));
      QTest::mouseClick(Options->SpeedButton1, Qt::LeftButton);
      open = Options->isVisible();
    });
    if (c.Box.empty()) {
      EXPECT_FALSE(open);
      EXPECT_TRUE(Desktop.Boxes.empty());
      EXPECT_EQ(C().DestPath(), c.DestAfter);
      EXPECT_EQ(C().FilePrefix(), c.Prefix);
      EXPECT_EQ(Saved().DestPath, c.DestAfter);
    } else {
      EXPECT_TRUE(open);
      ASSERT_EQ(Desktop.Boxes.size(), 1u);
      EXPECT_EQ(Desktop.Boxes[0].Kind, TBoxKind::Error);
      EXPECT_EQ(Desktop.Boxes[0].Text, c.Box);
      EXPECT_EQ(C().DestPath(), D1);
      EXPECT_EQ(C().FilePrefix(), "Image");
      EXPECT_FALSE(fs::exists(SettingsFile()));
    }
  }
  oldHome ? setenv("HOME", savedHome.c_str(), 1) : unsetenv("HOME");
}

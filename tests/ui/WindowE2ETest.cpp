// The window's whole road in the offscreen platform, with the program's own desktop
// (only its boxes and sounds are answered here): scan the sample card and see one
// thumbnail per saved file, open one through a stand-in opener, delete two into the
// trash, and mend a missing destination in the options dialog and its folder chooser.
#include "Controller.h"
#include "Debug.h"
#include "Desktop.h"
#include "DialogDir.h"
#include "Main.h"
#include "MainFormTest.h"
#include "OptionDlg.h"
#include "Registry.h"
#include "SimulatedDrives.h"
#include "TestPictures.h"
#include "Thumbs.h"

#include <QtCore/QElapsedTimer>
#include <QtCore/QTimer>
#include <QtTest/QTest>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QListWidget>
#include <QtWidgets/QToolButton>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <functional>
#include <sys/stat.h>

using namespace gf;
using namespace gf::test;
namespace fs = std::filesystem;

namespace {

class TE2EDesktop : public TQtDesktop {
public:
  using TQtDesktop::TQtDesktop;
  TBoxAnswer MessageBox(QWidget*, TBoxKind, const std::string& Text, TBoxButtons Buttons) override {
    Boxes.push_back(Text);
    if (Buttons == TBoxButtons::Ok)
      return TBoxAnswer::Ok;
    TBoxAnswer a = Answers.empty() ? TBoxAnswer::Yes : Answers.front();
    if (!Answers.empty())
      Answers.pop_front();
    return a;
  }
  void PlaySound(const std::string&) override {}
  void ShowText(const std::string& Text) override { Texts.push_back(Text); }

  std::vector<std::string> Boxes, Texts;
  std::deque<TBoxAnswer> Answers;
};

std::vector<std::string> Files(const std::string& Dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (auto& e : fs::directory_iterator(Dir, ec))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class WindowE2ETest : public ::testing::Test {
protected:
  void SetUp() override {
    DebugLogEnabled = true;
    Data = Dir.Path + "/data";
    setenv("XDG_DATA_HOME", Data.c_str(), 1);
    Opened = Dir.Path + "/opened";
    std::string opener = Dir.Path + "/opener";
    std::string script = "#!/bin/sh\necho \"$1\" >> " + Opened + "\n";
    WriteFile(opener, std::vector<uint8_t>(script.begin(), script.end()));
    chmod(opener.c_str(), 0755);
    Desktop = std::make_unique<TE2EDesktop>(opener);
    Settings = std::make_unique<TRegistry>(SettingsFile());
    Form = std::make_unique<TFormMain>(Platform, *Settings, *Desktop,
                                       std::vector<std::string>{GF_SAMPLE_CARD});
    SelectDir = std::make_unique<TDialogSelectDir>(
        *Desktop, Form.get(),
        std::vector<TFolderModel::TRoot>{{"Tests", QString::fromStdString(Dir.Path)}});
    Options = std::make_unique<TFormOptions>(*Form, *SelectDir);
    Desktop->SetOptionsForm(Options.get());
    Form->show();
  }
  void TearDown() override {
    Desktop->SetOptionsForm(nullptr);
    Options.reset();
    SelectDir.reset();
    Form.reset();
    unsetenv("XDG_DATA_HOME");
    DebugLogEnabled = false;
  }

  std::string SettingsFile() const { return Dir.Path + "/settings.reg"; }

  void SelectTheCard() {
    for (int i = 0; i < Form->LBDrives->count(); ++i) {
      TDriveInfo* info =
          Form->Controller().FindDriveInfo(Form->LBDrives->item(i)->text().toStdString());
      if (info && info->GetKind() == dkImageFile)
        Form->LBDrives->setCurrentRow(i);
    }
    ASSERT_NE(Form->SelectedDrive(), nullptr);
  }

  // Presses Start and waits for the summary and for the last thumbnail.
  bool Scan() {
    std::size_t texts = Desktop->Texts.size();
    QTest::mouseClick(Form->SBStart, Qt::LeftButton);
    QElapsedTimer t;
    t.start();
    while ((Desktop->Texts.size() == texts || Form->QueuedThumbnails() > 0) && t.elapsed() < 30000)
      QTest::qWait(10);
    return Desktop->Texts.size() > texts && Form->QueuedThumbnails() == 0;
  }

  std::vector<std::string> Captions() const { return ThumbnailCaptions(*Form); }

  // Runs the options dialog, shown by whatever Show does; Act runs inside it.
  void InOptions(const std::function<void()>& Act) {
    QTimer::singleShot(0, Options.get(), [this, Act] {
      EXPECT_TRUE(Options->isVisible());
      Act();
      if (Options->isVisible())
        Options->reject();
    });
  }

  TTempDir Dir;
  std::string Data, Opened;
  TSimulatedDrives Platform;
  std::unique_ptr<TE2EDesktop> Desktop;
  std::unique_ptr<TRegistry> Settings;
  std::unique_ptr<TFormMain> Form;
  std::unique_ptr<TDialogSelectDir> SelectDir;
  std::unique_ptr<TFormOptions> Options;
};

} // namespace

TEST_F(WindowE2ETest, ScanOpenDeleteAndMendTheDestination) {
  if (!fs::exists(GF_SAMPLE_CARD))
    GTEST_SKIP() << "no sample card image (mkfs.vfat or mtools missing at build time)";
  const std::string first = Dir.Path + "/Recovered/";
  Form->Controller().SetDestPath(first);
  SelectTheCard();

  // The destination is made on request; every saved file gets its thumbnail.
  ASSERT_TRUE(Scan());
  ASSERT_EQ(Desktop->Boxes.size(), 1u); // "...does not exist. Create it?"
  std::vector<std::string> saved = Files(first);
  ASSERT_EQ(saved.size(), 15u);
  std::vector<std::string> captions = Captions();
  std::vector<std::string> sorted = captions;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(sorted, saved);
  for (int i = 1; i <= 15; ++i) // in the order they were found
    EXPECT_EQ(captions[static_cast<std::size_t>(i - 1)].rfind("Image" + std::to_string(i) + ".", 0),
              0u);
  TMemoryStream none;
  QImage broken = *BrokenThumbnail(80, 80);
  QImage unknown = *MakeThumbnail(none, "x.NOSUCHTYPE", 80, 80);
  for (int i = 0; i < Form->LVThumbnails->count(); ++i) {
    SCOPED_TRACE(captions[static_cast<std::size_t>(i)]);
    QImage picture = ThumbnailPicture(*Form, i);
    ASSERT_FALSE(picture.isNull());
    EXPECT_NE(picture, broken);
    EXPECT_NE(picture, unknown);
  }
  for (const std::string& line : TDebugLines::Instance().Snapshot())
    EXPECT_EQ(line.rfind("THUMBS:", 0), std::string::npos) << line;

  // Open one through the desktop's opener.
  Form->LVThumbnails->item(0)->setSelected(true);
  Form->Open1Click();
  QElapsedTimer t;
  t.start();
  while (!fs::exists(Opened) && t.elapsed() < 5000)
    QTest::qWait(10);
  auto opened = ReadFile(Opened);
  EXPECT_EQ(std::string(opened.begin(), opened.end()), first + captions[0] + "\n");

  // Delete two: into the trash, from where they can come back.
  Form->LVThumbnails->clearSelection();
  Form->LVThumbnails->item(1)->setSelected(true);
  Form->LVThumbnails->item(2)->setSelected(true);
  QTest::keyClick(Form->LVThumbnails, Qt::Key_Delete);
  EXPECT_EQ(Form->LVThumbnails->count(), 13);
  for (std::size_t i : {1u, 2u}) {
    SCOPED_TRACE(captions[i]);
    EXPECT_FALSE(fs::exists(first + captions[i]));
    EXPECT_TRUE(fs::exists(Data + "/Trash/files/" + captions[i]));
  }
  EXPECT_EQ(Files(first).size(), 13u);

  // A new destination in the options dialog is saved.
  const std::string missing = Dir.Path + "/Card2";
  InOptions([&] {
    Options->EditDestPath->setText(QString::fromStdString(missing));
    QTest::mouseClick(Options->SpeedButton1, Qt::LeftButton);
  });
  QTest::mouseClick(Form->SBOptions, Qt::LeftButton);
  EXPECT_EQ(Form->Controller().DestPath(), missing + "/");
  {
    TRegistry r(SettingsFile());
    TGlimmerfold next(Platform, r);
    next.LoadSettings();
    EXPECT_EQ(next.DestPath(), missing + "/");
  }

  // It does not exist, and the user will not have it made: the start checks open the
  // options dialog, where the chooser picks another folder; the next scan goes there.
  const std::string chosen = Dir.Path + "/Chosen";
  fs::create_directories(chosen);
  Desktop->Boxes.clear();
  Desktop->Answers = {TBoxAnswer::No};
  InOptions([&] {
    QTimer::singleShot(0, SelectDir.get(), [&] {
      EXPECT_TRUE(SelectDir->SetPath(chosen));
      QTest::mouseClick(SelectDir->SpeedButton1, Qt::LeftButton);
    });
    QTest::mouseClick(Options->SpeedButton3, Qt::LeftButton); // Browse
    EXPECT_EQ(Options->EditDestPath->text().toStdString(), chosen + "/");
    QTest::keyClick(Options->EditDestPath, Qt::Key_Return);
  });
  QTest::mouseClick(Form->SBStart, Qt::LeftButton);
  ASSERT_EQ(Desktop->Boxes.size(), 1u);
  EXPECT_EQ(Desktop->Boxes[0],
            "The target directory " + missing + "/ does not exist.\r\nCreate it?");
  EXPECT_EQ(Form->Controller().DestPath(), chosen + "/");
  EXPECT_FALSE(Form->Controller().IsScanning());
  EXPECT_FALSE(fs::exists(missing));
  ASSERT_TRUE(Scan());
  EXPECT_EQ(Files(chosen).size(), 15u);
  EXPECT_EQ(Form->LVThumbnails->count(), 15); // the list was cleared at the start
  EXPECT_EQ(Files(first).size(), 13u);
}

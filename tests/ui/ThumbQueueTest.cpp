// The main window's thumbnails: the queue and its timer, clearing, existing files,
// open, delete to the trash, and the keys of the list.
#include "Debug.h"
#include "Format.h"
#include "Language.h"
#include "Main.h"
#include "MainFormTest.h"
#include "Registry.h"
#include "SimulatedDrives.h"
#include "Streams.h"
#include "TestDesktop.h"
#include "TestPictures.h"
#include "Thumbs.h"

#include <QtCore/QBuffer>
#include <QtCore/QElapsedTimer>
#include <QtTest/QTest>
#include <QtWidgets/QListWidget>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <unistd.h>

using namespace gf;
using namespace gf::test;
namespace fs = std::filesystem;

namespace {

std::unique_ptr<TMemoryStream> StreamOf(const std::vector<uint8_t>& Bytes) {
  auto s = std::make_unique<TMemoryStream>();
  s->WriteBuffer(Bytes.data(), Bytes.size());
  return s;
}

std::vector<uint8_t> SolidJpeg(QColor Color) {
  QImage img(64, 48, QImage::Format_RGB32);
  img.fill(Color);
  QByteArray bytes;
  QBuffer buf(&bytes);
  buf.open(QIODevice::WriteOnly);
  img.save(&buf, "JPG");
  return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

int OpenFileHandles() {
  int n = 0;
  for (auto& e : fs::directory_iterator("/proc/self/fd")) {
    (void)e;
    ++n;
  }
  return n;
}

class ThumbQueueTest : public TMainFormTest {
protected:
  void SetUp() override {
    DebugLogEnabled = true;
    TMainFormTest::SetUp();
    Make();
  }
  void TearDown() override {
    TMainFormTest::TearDown();
    DebugLogEnabled = false;
  }

  void Drain() {
    while (Form->QueuedThumbnails() > 0)
      Form->ProcessThumbnailQueue();
  }

  // The item's picture, as the list shows it.
  QImage Picture(int Row) const {
    int index = TFormMain::ImageIndex(Form->LVThumbnails->item(Row));
    return index < 0 ? QImage() : Form->ILThumbnails[static_cast<std::size_t>(index)].toImage();
  }

  void Put(const std::string& Name, const std::vector<uint8_t>& Bytes) {
    WriteFile(Dest + Name, Bytes);
  }
};

} // namespace

// A saved file is queued by name and read back at its tick: what the picture shows is
// the file on disk, and the queue holds no bytes. Only a file that could not be saved
// keeps its bytes, within the bound.
TEST_F(ThumbQueueTest, SavedFilesAreQueuedByNameAndReadBackAtTheirTick) {
  Form->FileFound("JPG", StreamOf(SolidJpeg(Qt::red)));
  ASSERT_TRUE(fs::exists(Dest + "Image0.JPG"));
  EXPECT_EQ(Form->QueuedThumbnails(), 1u);
  EXPECT_EQ(Form->HeldThumbnailBytes(), 0u);
  Put("Image0.JPG", SolidJpeg(Qt::blue)); // the file changes before its tick
  Drain();
  ASSERT_EQ(Captions(), std::vector<std::string>{"Image0.JPG"});
  EXPECT_EQ(QColor(Picture(0).pixel(40, 40)).blue() > 200, true);

  // The destination is gone: the save fails, and the bytes stay for the thumbnail.
  Form->ClearThumbnails();
  fs::remove_all(Dest);
  auto bytes = SolidJpeg(Qt::green);
  Form->FileFound("JPG", StreamOf(bytes));
  ASSERT_EQ(Desktop.Boxes.size(), 1u); // "Error saving file:..."
  EXPECT_EQ(Form->HeldThumbnailBytes(), bytes.size());
  Drain();
  EXPECT_EQ(Form->HeldThumbnailBytes(), 0u);
  ASSERT_EQ(Form->LVThumbnails->count(), 1);
  EXPECT_EQ(QColor(Picture(0).pixel(40, 40)).green() > 200, true);

  // Beyond the bound the bytes are dropped and the picture is the broken one.
  Form->ClearThumbnails();
  auto big = std::make_unique<TMemoryStream>();
  big->SetSize(static_cast<int64_t>(TFormMain::MaxHeldThumbnailBytes) + 1);
  Form->QueueThumbnail(Dest + "Image1.JPG", std::move(big));
  EXPECT_EQ(Form->HeldThumbnailBytes(), 0u);
  Drain();
  EXPECT_EQ(Picture(0), *BrokenThumbnail(80, 80));
}

TEST_F(ThumbQueueTest, TheTimerMakesOneThumbnailPerTickAndSleepsWhenDone) {
  for (int i = 1; i <= 3; ++i) {
    Put("Image" + std::to_string(i) + ".JPG", MakeJpeg(i));
    Form->QueueThumbnail(Dest + "Image" + std::to_string(i) + ".JPG", nullptr);
  }
  EXPECT_TRUE(Form->Timer1.isActive());
  EXPECT_EQ(Form->Timer1.interval(), 20);
  EXPECT_EQ(Form->LVThumbnails->count(), 0); // nothing is made in the queueing call
  QElapsedTimer t;
  t.start();
  while (Form->LVThumbnails->count() < 3 && t.elapsed() < 5000)
    QTest::qWait(5);
  EXPECT_GE(t.elapsed(), 40); // three ticks of 20 ms at least
  EXPECT_EQ(Captions(), (std::vector<std::string>{"Image1.JPG", "Image2.JPG", "Image3.JPG"}));
  QTest::qWait(60);
  EXPECT_FALSE(Form->Timer1.isActive());
}

TEST_F(ThumbQueueTest, ClearingWithRequestsQueuedShowsNothingFromBefore) {
  for (int i = 1; i <= 3; ++i) {
    Put("Image" + std::to_string(i) + ".JPG", MakeJpeg(i));
    Form->QueueThumbnail(Dest + "Image" + std::to_string(i) + ".JPG", nullptr);
  }
  Form->QueueThumbnail(Dest + "Unsaved.JPG", StreamOf(MakeJpeg(9)));
  Form->ProcessThumbnailQueue();
  ASSERT_EQ(Form->LVThumbnails->count(), 1);
  Form->ClearThumbnails();
  EXPECT_EQ(Form->LVThumbnails->count(), 0);
  EXPECT_TRUE(Form->ILThumbnails.empty());
  EXPECT_EQ(Form->QueuedThumbnails(), 0u);
  EXPECT_EQ(Form->HeldThumbnailBytes(), 0u);
  QTest::qWait(80);
  EXPECT_EQ(Form->LVThumbnails->count(), 0);
  Form->QueueThumbnail(Dest + "Image2.JPG", nullptr);
  Drain();
  EXPECT_EQ(Captions(), std::vector<std::string>{"Image2.JPG"});
}

// Only files under the prefix, in name order; each file is opened at its own tick.
TEST_F(ThumbQueueTest, ExistingFilesUnderThePrefix) {
  Put("Image1.JPG", MakeJpeg(1));
  Put("Image10.JPG", MakeJpeg(2));
  Put("Image2.PNG", {1, 2, 3});
  Put("Image3.MP3", {1, 2, 3});
  Put("Image4", {1});
  Put("Other.JPG", MakeJpeg(3));
  fs::create_directories(Dest + "Image5.JPG"); // a folder
  for (int i = 0; i < 40; ++i)
    Put("Image" + std::to_string(100 + i) + ".JPG", MakeJpeg(4, 16, 16));
  int handles = OpenFileHandles();
  Form->LoadExistingThumbnails();
  EXPECT_EQ(OpenFileHandles(), handles);
  EXPECT_EQ(Form->QueuedThumbnails(), 45u);
  Drain();
  std::vector<std::string> c = Captions();
  ASSERT_EQ(c.size(), 45u);
  EXPECT_EQ(
      std::vector<std::string>(c.begin(), c.begin() + 4),
      (std::vector<std::string>{"Image1.JPG", "Image10.JPG", "Image100.JPG", "Image101.JPG"}));
  EXPECT_EQ(c.back(), "Image4");
  EXPECT_EQ(std::count(c.begin(), c.end(), "Other.JPG"), 0);
  EXPECT_EQ(std::count(c.begin(), c.end(), "Image5.JPG"), 0);
  EXPECT_EQ(OpenFileHandles(), handles);

  // Reloading starts over; a folder that does not exist gives an empty list.
  Form->Controller().SetDestPath(Dir.Path + "/none");
  Form->LoadExistingThumbnails();
  Drain();
  EXPECT_EQ(Form->LVThumbnails->count(), 0);
}

TEST_F(ThumbQueueTest, ExistingFilesAreShownAtTheFirstShowOnlyWhenAskedFor) {
  Put("Image1.JPG", MakeJpeg(1));
  for (bool existing : {false, true}) {
    SCOPED_TRACE(existing);
    Form.reset();
    Form = std::make_unique<TFormMain>(Platform, *Settings, Desktop, std::vector<std::string>{});
    Form->Controller().SetDestPath(Dest);
    Form->Controller().SetThumbnailExisting(existing);
    Form->show();
    Drain();
    EXPECT_EQ(Form->LVThumbnails->count(), existing ? 1 : 0);
    Form->hide();
    Form->show(); // only the first show loads
    Drain();
    EXPECT_EQ(Form->LVThumbnails->count(), existing ? 1 : 0);
  }
}

TEST_F(ThumbQueueTest, OpenAsksTheOpenerForEverySelectedFile) {
  for (const char* name : {"Image1.JPG", "Image2.JPG", "Image3.JPG"}) {
    Put(name, MakeJpeg(1, 16, 16));
    Form->QueueThumbnail(Dest + name, nullptr);
  }
  Drain();
  Form->LVThumbnails->item(2)->setSelected(true);
  Form->LVThumbnails->item(0)->setSelected(true);
  Form->Open1Click();
  ASSERT_EQ(Desktop.Opened.size(), 2u);
  EXPECT_EQ(Desktop.Opened[0].first, Dest + "Image1.JPG");
  EXPECT_EQ(Desktop.Opened[1].first, Dest + "Image3.JPG");
  EXPECT_EQ(Desktop.Opened[0].second, "");
  Desktop.Opened.clear();
  // A double click on an item (which selects it alone) opens it.
  Form->LVThumbnails->clearSelection();
  Form->LVThumbnails->item(1)->setSelected(true);
  emit Form->LVThumbnails->itemDoubleClicked(Form->LVThumbnails->item(1));
  ASSERT_EQ(Desktop.Opened.size(), 1u);
  EXPECT_EQ(Desktop.Opened[0].first, Dest + "Image2.JPG");
}

// Enter opens what a double click would: the selection, or with none the item that
// has the focus.
TEST_F(ThumbQueueTest, EnterOpensTheSelectionOrTheFocusedItem) {
  for (const char* name : {"Image1.JPG", "Image2.JPG", "Image3.JPG"}) {
    Put(name, MakeJpeg(1, 16, 16));
    Form->QueueThumbnail(Dest + name, nullptr);
  }
  Drain();
  QListWidget& view = *Form->LVThumbnails;
  struct TCase {
    const char* Name;
    std::vector<int> Selected;
    int Current;
    Qt::Key Key;
    Qt::KeyboardModifiers Modifiers;
    std::vector<std::string> Opened;
  };
  const TCase cases[] = {
      {"Return on a selected item", {1}, 1, Qt::Key_Return, Qt::NoModifier, {"Image2.JPG"}},
      {"keypad Enter", {1}, 1, Qt::Key_Enter, Qt::KeypadModifier, {"Image2.JPG"}},
      {"two selected", {0, 2}, 2, Qt::Key_Return, Qt::NoModifier, {"Image1.JPG", "Image3.JPG"}},
      {"focus without a selection", {}, 2, Qt::Key_Return, Qt::NoModifier, {"Image3.JPG"}},
      {"with Ctrl", {1}, 1, Qt::Key_Return, Qt::ControlModifier, {}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    Desktop.Opened.clear();
    view.setCurrentItem(view.item(c.Current), QItemSelectionModel::NoUpdate);
    view.clearSelection();
    for (int row : c.Selected)
      view.item(row)->setSelected(true);
    QTest::keyClick(&view, c.Key, c.Modifiers);
    std::vector<std::string> opened;
    for (auto& [target, dir] : Desktop.Opened)
      opened.push_back(target.substr(Dest.size()));
    EXPECT_EQ(opened, c.Opened);
  }
}

// Delete moves the selected files to the trash and re-sorts the list by name; Ctrl+A
// selects all, and only with Ctrl alone.
TEST_F(ThumbQueueTest, KeysDeleteToTheTrashAndSelectAll) {
  std::string data = Dir.Path + "/data";
  setenv("XDG_DATA_HOME", data.c_str(), 1);
  for (const char* name : {"Image9.JPG", "Image10.JPG", "Image11.JPG", "Image2.JPG"}) {
    Put(name, MakeJpeg(1, 16, 16));
    Form->QueueThumbnail(Dest + name, nullptr);
  }
  Drain();
  Form->show();
  Form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(Form.get()));
  Form->LVThumbnails->setFocus();
  auto selected = [this] { return Form->LVThumbnails->selectedItems().size(); };

  QTest::keyClick(Form->LVThumbnails, Qt::Key_A, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(selected(), 0);
  QTest::keyClick(Form->LVThumbnails, Qt::Key_Delete); // no selection: only sorted
  EXPECT_EQ(Captions(),
            (std::vector<std::string>{"Image10.JPG", "Image11.JPG", "Image2.JPG", "Image9.JPG"}));
  EXPECT_EQ(fs::directory_iterator(Dest) == fs::directory_iterator(), false);
  QTest::keyClick(Form->LVThumbnails, Qt::Key_A, Qt::ControlModifier);
  EXPECT_EQ(selected(), 4);

  Form->LVThumbnails->clearSelection();
  Form->LVThumbnails->item(0)->setSelected(true);                         // Image10.JPG
  Form->LVThumbnails->item(3)->setSelected(true);                         // Image9.JPG
  QTest::keyClick(Form->LVThumbnails, Qt::Key_Delete, Qt::ShiftModifier); // not Delete
  EXPECT_EQ(Form->LVThumbnails->count(), 4);
  QTest::keyClick(Form->LVThumbnails, Qt::Key_Delete);
  EXPECT_EQ(Captions(), (std::vector<std::string>{"Image11.JPG", "Image2.JPG"}));
  for (const char* name : {"Image10.JPG", "Image9.JPG"}) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(fs::exists(Dest + name));
    EXPECT_TRUE(fs::exists(data + "/Trash/files/" + name));
    EXPECT_TRUE(fs::exists(data + "/Trash/info/" + std::string(name) + ".trashinfo"));
  }
  EXPECT_TRUE(fs::exists(Dest + "Image11.JPG"));

  // Where no trash folder can be made, nothing is moved anywhere.
  std::string blocked = Dir.Path + "/afile";
  WriteFile(blocked, {1});
  setenv("XDG_DATA_HOME", (blocked + "/data").c_str(), 1);
  fs::path here = fs::current_path();
  fs::current_path(Dir.Path);
  Form->LVThumbnails->clearSelection();
  Form->LVThumbnails->item(0)->setSelected(true); // Image11.JPG
  Form->Delete1Click();
  fs::current_path(here);
  EXPECT_TRUE(fs::exists(Dest + "Image11.JPG"));
  EXPECT_FALSE(fs::exists(Dir.Path + "/files"));
  EXPECT_EQ(Captions(), (std::vector<std::string>{"Image11.JPG", "Image2.JPG"}));
  ASSERT_EQ(Desktop.Boxes.size(), 1u);
  EXPECT_EQ(Desktop.Boxes[0].Text, Format(LoadStr(sTrashFailed), "\r\n" + Dest + "Image11.JPG"));
  unsetenv("XDG_DATA_HOME");
}

// A file that cannot go to the trash keeps its item, and one box names every such file;
// the others go as usual.
TEST_F(ThumbQueueTest, AFailedDeleteKeepsTheItemAndOneBoxNamesTheFiles) {
  std::string data = Dir.Path + "/data";
  setenv("XDG_DATA_HOME", data.c_str(), 1);
  struct TCase {
    const char* Name;
    std::function<void()> Break;
    std::vector<std::string> Kept;
    bool NeedsNonRoot;
  };
  const TCase cases[] = {
      {"files gone",
       [this] {
         fs::remove(Dest + "Image2.JPG");
         fs::remove(Dest + "Image3.JPG");
       },
       {"Image2.JPG", "Image3.JPG"},
       false},
      {"read-only folder",
       [this] { fs::permissions(Dest, fs::perms::owner_read | fs::perms::owner_exec); },
       {"Image1.JPG", "Image2.JPG", "Image3.JPG", "Image4.JPG"},
       true},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    if (c.NeedsNonRoot && geteuid() == 0) {
      std::printf("  (skipped \"%s\": root writes into read-only folders)\n", c.Name);
      continue;
    }
    Form->ClearThumbnails();
    Desktop.Boxes.clear();
    for (const char* name : {"Image1.JPG", "Image2.JPG", "Image3.JPG", "Image4.JPG"}) {
      Put(name, MakeJpeg(1, 16, 16));
      Form->QueueThumbnail(Dest + name, nullptr);
    }
    Drain();
    c.Break();
    Form->LVThumbnails->selectAll();
    Form->Delete1Click();
    EXPECT_EQ(Captions(), c.Kept);
    std::string names;
    for (const char* name : {"Image1.JPG", "Image2.JPG", "Image3.JPG", "Image4.JPG"}) {
      bool kept = std::count(c.Kept.begin(), c.Kept.end(), name) > 0;
      EXPECT_EQ(fs::exists(data + "/Trash/files/" + name), !kept) << name;
      if (kept)
        names += "\r\n" + Dest + name;
    }
    ASSERT_EQ(Desktop.Boxes.size(), 1u);
    EXPECT_EQ(Desktop.Boxes[0].Kind, TBoxKind::Error);
    EXPECT_EQ(Desktop.Boxes[0].Buttons, TBoxButtons::Ok);
    EXPECT_EQ(Desktop.Boxes[0].Text, Format(LoadStr(sTrashFailed), names));
    fs::permissions(Dest, fs::perms::owner_all);
    fs::remove_all(data);
  }
  unsetenv("XDG_DATA_HOME");
}

TEST_F(ThumbQueueTest, AClosingWindowHandsOutNoMoreRequests) {
  Put("Image1.JPG", MakeJpeg(1));
  Form->show();
  Form->QueueThumbnail(Dest + "Image1.JPG", nullptr);
  Form->close();
  EXPECT_FALSE(Form->Timer1.isActive());
  EXPECT_FALSE(Form->DequeueThumbnail().has_value());
  Form->ProcessThumbnailQueue();
  EXPECT_EQ(Form->LVThumbnails->count(), 0);
}

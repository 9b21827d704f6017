// The thumbnail queue on its own (order, pace, bounds, clearing, closing), and the main
// window's thumbnails: saved and unsaved files, existing files, open, delete to the
// trash, and the keys of the list.
#include "ThumbQueue.h"
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
#include "ThumbItemDelegate.h"
#include "Thumbs.h"

#include <QtCore/QBuffer>
#include <QtCore/QElapsedTimer>
#include <QtCore/QThread>
#include <QtTest/QTest>
#include <QtWidgets/QListWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <thread>
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

// A PNG of noise that takes the image library tens of milliseconds to decode (three
// different ones, made once).
const std::vector<uint8_t>& LargePng(int Seed) {
  static std::map<int, std::vector<uint8_t>> made;
  Seed %= 3;
  auto it = made.find(Seed);
  if (it != made.end())
    return it->second;
  const int Width = 1200, Height = 1000;
  QImage img(Width, Height, QImage::Format_RGB32);
  uint32_t r = 2654435761u * static_cast<uint32_t>(Seed + 1);
  for (int y = 0; y < Height; ++y) {
    auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
    for (int x = 0; x < Width; ++x) {
      r = r * 1664525u + 1013904223u;
      line[x] = r >> 8;
    }
  }
  QByteArray bytes;
  QBuffer buf(&bytes);
  buf.open(QIODevice::WriteOnly);
  img.save(&buf, "PNG");
  return made[Seed] = std::vector<uint8_t>(bytes.begin(), bytes.end());
}

// The files under Folder that the program has open (the decoders' threads have
// handles of their own, which are no files).
int OpenFiles(const std::string& Folder) {
  int n = 0;
  for (auto& e : fs::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    fs::path target = fs::read_symlink(e.path(), ec);
    n += !ec && target.string().rfind(Folder, 0) == 0;
  }
  return n;
}

// A queue over a view of its own.
class ThumbQueueTest : public ::testing::Test {
protected:
  void SetUp() override {
    DebugLogEnabled = true;
    TDebugLines::Instance().Clear();
    Dest = Dir.Path + "/";
    Make();
  }
  void TearDown() override {
    Queue.reset();
    DebugLogEnabled = false;
  }

  void Make(int64_t MemoryLimit = TThumbQueue::MaxDecodeBytes) {
    Queue.reset();
    View = std::make_unique<QListWidget>();
    View->setViewMode(QListView::IconMode);
    Images.clear();
    auto* delegate = new TThumbItemDelegate(*View);
    Queue = std::make_unique<TThumbQueue>(*View, Images, *delegate, MemoryLimit);
  }

  // Queues Name after writing Bytes into it.
  void Request(const std::string& Name, const std::vector<uint8_t>& Bytes) {
    WriteFile(Dest + Name, Bytes);
    Queue->QueueThumbnail(Dest + Name, nullptr);
  }

  std::vector<std::string> Captions() const {
    std::vector<std::string> c;
    for (int i = 0; i < View->count(); ++i)
      c.push_back(View->item(i)->text().toStdString());
    return c;
  }

  QImage Picture(int Row) const {
    int index = TThumbQueue::ImageIndex(View->item(Row));
    return index < 0 ? QImage() : Images[static_cast<std::size_t>(index)].toImage();
  }

  // Holds all of the queue's memory, so that every decode that needs a share waits.
  void Hold() { ASSERT_TRUE(Queue->Memory().Take(Queue->Memory().Limit())); }
  void Release() { Queue->Memory().Give(Queue->Memory().Limit()); }

  // Waits (without ticks) until no decode runs.
  void WaitForDecoders() {
    QElapsedTimer t;
    t.start();
    while (Queue->Decoding() > 0 && t.elapsed() < 20000)
      QTest::qWait(2);
  }

  TTempDir Dir;
  std::string Dest;
  std::unique_ptr<QListWidget> View;
  std::vector<QPixmap> Images;
  std::unique_ptr<TThumbQueue> Queue; // after the view and the pictures it fills
};

class ThumbPaneTest : public TMainFormTest {
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

  void Drain() { ASSERT_TRUE(DrainThumbnails(Form->Thumbnails())); }
  QImage Picture(int Row) const { return ThumbnailPicture(*Form, Row); }

  void Put(const std::string& Name, const std::vector<uint8_t>& Bytes) {
    WriteFile(Dest + Name, Bytes);
  }
};

} // namespace

TEST_F(ThumbQueueTest, TheTimerPlacesOneThumbnailPerTickAndSleepsWhenDone) {
  for (int i = 1; i <= 3; ++i)
    Request("Image" + std::to_string(i) + ".JPG", MakeJpeg(i));
  EXPECT_TRUE(Queue->Timer1.isActive());
  EXPECT_EQ(Queue->Timer1.interval(), 20);
  EXPECT_EQ(View->count(), 0); // nothing is made in the queueing call
  EXPECT_EQ(Queue->Decoding(), 0);
  QElapsedTimer t;
  t.start();
  while (View->count() < 3 && t.elapsed() < 5000)
    QTest::qWait(5);
  EXPECT_GE(t.elapsed(), 40); // three ticks of 20 ms at least
  EXPECT_EQ(Captions(), (std::vector<std::string>{"Image1.JPG", "Image2.JPG", "Image3.JPG"}));
  QTest::qWait(60);
  EXPECT_FALSE(Queue->Timer1.isActive());
}

// Decodes run beside the window's thread, several at once, but the view fills in the
// order of the requests: a slow decode first holds the others back, never the tick.
TEST_F(ThumbQueueTest, OldestFirstWhileSlowerDecodesRun) {
  std::vector<std::string> order;
  for (int i = 1; i <= 6; ++i) {
    // The sound files get fixed pictures, which need no memory of the decoders.
    std::string name = "Image" + std::to_string(i) + (i % 3 == 1 ? ".PNG" : ".WAV");
    Request(name, i % 3 == 1 ? LargePng(i) : std::vector<uint8_t>{'R', 'I', 'F', 'F'});
    order.push_back(name);
  }
  Hold(); // the first PNG cannot finish
  for (int tick = 0; tick < 20; ++tick) {
    Queue->ProcessThumbnailQueue();
    QTest::qWait(1);
  }
  EXPECT_EQ(View->count(), 0); // the others are made, but wait for the first
  EXPECT_GT(Queue->Decoding(), 0);
  EXPECT_LE(Queue->Decoding(), TThumbQueue::MaxDecodes);
  Release();
  QElapsedTimer t;
  t.start();
  int placed = 0;
  while (Queue->Queued() > 0 && t.elapsed() < 20000) {
    Queue->ProcessThumbnailQueue();
    ASSERT_LE(View->count(), placed + 1); // one a tick at most
    placed = View->count();
    std::vector<std::string> c = Captions();
    ASSERT_EQ(c, std::vector<std::string>(order.begin(), order.begin() + placed));
    ASSERT_LE(Queue->Decoding(), TThumbQueue::MaxDecodes);
    std::this_thread::sleep_for(std::chrono::microseconds(300));
  }
  EXPECT_EQ(Captions(), order);
  for (int i = 0; i < View->count(); ++i)
    EXPECT_NE(Picture(i), *BrokenThumbnail(80, 80)) << order[static_cast<std::size_t>(i)];
}

// The decodes in flight hold no more memory together than the bound; one picture that
// needs more than all of it still decodes, alone.
TEST_F(ThumbQueueTest, TheDecodesKeepWithinTheirMemory) {
  const int64_t share = int64_t{1200} * 1000 * 3 * 2; // a 1200 x 1000 PNG and its bitmap
  struct TCase {
    int64_t Limit;
    int64_t MostAtOnce;
  };
  for (TCase c : {TCase{share + share / 2, share}, TCase{share / 4, share / 4},
                  TCase{TThumbQueue::MaxDecodeBytes, 4 * share}}) {
    SCOPED_TRACE(c.Limit);
    Make(c.Limit);
    for (int i = 1; i <= 6; ++i)
      Request("Image" + std::to_string(i) + ".PNG", LargePng(i));
    ASSERT_TRUE(DrainThumbnails(*Queue));
    ASSERT_EQ(View->count(), 6);
    for (int i = 0; i < 6; ++i)
      EXPECT_NE(Picture(i), *BrokenThumbnail(80, 80));
    EXPECT_LE(Queue->Memory().Peak(), c.Limit);
    EXPECT_LE(Queue->Memory().Peak(), c.MostAtOnce);
    EXPECT_GE(Queue->Memory().Peak(), std::min(share, c.Limit)); // the shares were taken
    EXPECT_EQ(Queue->Memory().InUse(), 0);
  }
}

// Held bytes are counted until their request is handed to a decoder; beyond the bound
// the bytes are dropped and the picture is the broken one.
TEST_F(ThumbQueueTest, UnsavedBytesAreHeldWithinTheirBound) {
  auto bytes = MakeJpeg(3, 32, 24);
  auto s = std::make_unique<TMemoryStream>();
  s->WriteBuffer(bytes.data(), bytes.size());
  Queue->QueueThumbnail(Dest + "Unsaved.JPG", std::move(s));
  EXPECT_EQ(Queue->HeldBytes(), bytes.size());
  auto big = std::make_unique<TMemoryStream>();
  big->SetSize(static_cast<int64_t>(TThumbQueue::MaxHeldBytes) + 1);
  Queue->QueueThumbnail(Dest + "Big.JPG", std::move(big));
  EXPECT_EQ(Queue->HeldBytes(), bytes.size());
  ASSERT_TRUE(DrainThumbnails(*Queue));
  EXPECT_EQ(Queue->HeldBytes(), 0u);
  EXPECT_EQ(Captions(), (std::vector<std::string>{"Unsaved.JPG", "Big.JPG"}));
  EXPECT_NE(Picture(0), *BrokenThumbnail(80, 80));
  EXPECT_EQ(Picture(1), *BrokenThumbnail(80, 80));
}

TEST_F(ThumbQueueTest, ClearingWithRequestsQueuedShowsNothingFromBefore) {
  for (int i = 1; i <= 6; ++i)
    Request("Image" + std::to_string(i) + ".PNG", LargePng(i));
  auto bytes = MakeJpeg(9);
  auto s = std::make_unique<TMemoryStream>();
  s->WriteBuffer(bytes.data(), bytes.size());
  Queue->QueueThumbnail(Dest + "Unsaved.JPG", std::move(s));
  Hold();
  Queue->ProcessThumbnailQueue(); // decodes in flight
  EXPECT_GT(Queue->Decoding(), 0);
  Queue->Clear();
  Release();
  View->clear();
  Images.clear();
  EXPECT_EQ(Queue->Queued(), 0u);
  EXPECT_EQ(Queue->HeldBytes(), 0u);
  WaitForDecoders();
  QTest::qWait(80);
  EXPECT_EQ(View->count(), 0);
  Queue->QueueThumbnail(Dest + "Image2.PNG", nullptr);
  ASSERT_TRUE(DrainThumbnails(*Queue));
  EXPECT_EQ(Captions(), std::vector<std::string>{"Image2.PNG"});
  EXPECT_EQ(Images.size(), 1u);
}

// A saved file is read when its decode starts, not when it is queued.
TEST_F(ThumbQueueTest, AFileIsReadWhenItsDecodeStarts) {
  Request("Image1.JPG", MakeJpeg(1, 32, 24));
  QImage blue(64, 48, QImage::Format_RGB32);
  blue.fill(Qt::blue);
  QByteArray b;
  QBuffer buf(&b);
  buf.open(QIODevice::WriteOnly);
  blue.save(&buf, "JPG");
  WriteFile(Dest + "Image1.JPG", std::vector<uint8_t>(b.begin(), b.end()));
  ASSERT_TRUE(DrainThumbnails(*Queue));
  EXPECT_GT(QColor(Picture(0).pixel(40, 40)).blue(), 200);
}

// Closing hands out nothing more and places nothing; decodes waiting for memory give
// up without a word, and the queue can go while its decodes run.
TEST_F(ThumbQueueTest, ClosingWithRequestsInFlight) {
  for (int i = 1; i <= 8; ++i)
    Request("Image" + std::to_string(i) + ".PNG", LargePng(i));
  Hold();
  Queue->ProcessThumbnailQueue();
  EXPECT_GT(Queue->Decoding(), 0); // waiting for memory
  Queue->Close();
  EXPECT_TRUE(Queue->Closing());
  EXPECT_FALSE(Queue->Timer1.isActive());
  EXPECT_FALSE(Queue->DequeueThumbnail().has_value());
  WaitForDecoders();
  Queue->ProcessThumbnailQueue();
  QTest::qWait(60);
  EXPECT_EQ(View->count(), 0);
  Queue->QueueThumbnail(Dest + "Image1.PNG", nullptr); // taken, but never made
  EXPECT_FALSE(Queue->Timer1.isActive());
  for (const std::string& line : TDebugLines::Instance().Snapshot())
    EXPECT_EQ(line.find("Error thumbnailing"), std::string::npos) << line;

  Make(); // and a queue that goes with its decodes running
  for (int i = 1; i <= 8; ++i)
    Queue->QueueThumbnail(Dest + "Image" + std::to_string(i) + ".PNG", nullptr);
  Queue->ProcessThumbnailQueue();
  Queue.reset();
}

// A saved file is queued by name and read back at its tick: what the picture shows is
// the file on disk, and the queue holds no bytes. A file that could not be saved is not
// queued at all; a request with bytes keeps them, within the bound.
TEST_F(ThumbPaneTest, SavedFilesAreQueuedByNameAndReadBackAtTheirTick) {
  Form->FileFound("JPG", StreamOf(SolidJpeg(Qt::red)));
  ASSERT_TRUE(fs::exists(Dest + "Image0.JPG"));
  EXPECT_EQ(Form->QueuedThumbnails(), 1u);
  EXPECT_EQ(Form->Thumbnails().HeldBytes(), 0u);
  Put("Image0.JPG", SolidJpeg(Qt::blue)); // the file changes before its tick
  Drain();
  ASSERT_EQ(Captions(), std::vector<std::string>{"Image0.JPG"});
  EXPECT_EQ(QColor(Picture(0).pixel(40, 40)).blue() > 200, true);

  // The destination is gone: the save fails, and a file that is not on disk gets no
  // thumbnail, which would look recovered.
  Form->ClearThumbnails();
  fs::remove_all(Dest);
  Form->FileFound("JPG", StreamOf(SolidJpeg(Qt::red)));
  ASSERT_EQ(Desktop.Boxes.size(), 1u); // "Error saving file:..."
  EXPECT_EQ(Form->QueuedThumbnails(), 0u);
  EXPECT_EQ(Form->Thumbnails().HeldBytes(), 0u);
  Drain();
  EXPECT_EQ(Form->LVThumbnails->count(), 0);

  // A request may still bring its bytes along, which the queue holds until its tick.
  auto bytes = SolidJpeg(Qt::green);
  Form->QueueThumbnail(Dest + "Image0.JPG", StreamOf(bytes));
  EXPECT_EQ(Form->Thumbnails().HeldBytes(), bytes.size());
  Drain();
  EXPECT_EQ(Form->Thumbnails().HeldBytes(), 0u);
  ASSERT_EQ(Form->LVThumbnails->count(), 1);
  EXPECT_EQ(QColor(Picture(0).pixel(40, 40)).green() > 200, true);

  // Beyond the bound the bytes are dropped and the picture is the broken one.
  Form->ClearThumbnails();
  auto big = std::make_unique<TMemoryStream>();
  big->SetSize(static_cast<int64_t>(TThumbQueue::MaxHeldBytes) + 1);
  Form->QueueThumbnail(Dest + "Image1.JPG", std::move(big));
  EXPECT_EQ(Form->Thumbnails().HeldBytes(), 0u);
  Drain();
  EXPECT_EQ(Picture(0), *BrokenThumbnail(80, 80));
}

// Only files under the prefix, in name order; each file is opened at its own tick.
TEST_F(ThumbPaneTest, ExistingFilesUnderThePrefix) {
  Put("Image1.JPG", MakeJpeg(1));
  Put("Image10.JPG", MakeJpeg(2));
  Put("Image2.PNG", {1, 2, 3});
  Put("Image3.MP3", {1, 2, 3});
  Put("Image4", {1});
  Put("Other.JPG", MakeJpeg(3));
  fs::create_directories(Dest + "Image5.JPG"); // a folder
  for (int i = 0; i < 40; ++i)
    Put("Image" + std::to_string(100 + i) + ".JPG", MakeJpeg(4, 16, 16));
  Form->LoadExistingThumbnails();
  EXPECT_EQ(OpenFiles(Dest), 0);
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
  EXPECT_EQ(OpenFiles(Dest), 0);

  // Reloading starts over; a folder that does not exist gives an empty list.
  Form->Controller().SetDestPath(Dir.Path + "/none");
  Form->LoadExistingThumbnails();
  Drain();
  EXPECT_EQ(Form->LVThumbnails->count(), 0);
}

TEST_F(ThumbPaneTest, ExistingFilesAreShownAtTheFirstShowOnlyWhenAskedFor) {
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

TEST_F(ThumbPaneTest, OpenAsksTheOpenerForEverySelectedFile) {
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
TEST_F(ThumbPaneTest, EnterOpensTheSelectionOrTheFocusedItem) {
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
TEST_F(ThumbPaneTest, KeysDeleteToTheTrashAndSelectAll) {
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
TEST_F(ThumbPaneTest, AFailedDeleteKeepsTheItemAndOneBoxNamesTheFiles) {
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

// Closing the window closes its queue; the window may then go with decodes in flight.
TEST_F(ThumbPaneTest, AClosingWindowHandsOutNoMoreRequests) {
  Put("Image1.JPG", MakeJpeg(1));
  Form->show();
  Form->QueueThumbnail(Dest + "Image1.JPG", nullptr);
  Form->close();
  TThumbQueue& queue = Form->Thumbnails();
  EXPECT_TRUE(queue.Closing());
  EXPECT_FALSE(queue.Timer1.isActive());
  EXPECT_FALSE(queue.DequeueThumbnail().has_value());
  queue.ProcessThumbnailQueue();
  EXPECT_EQ(Form->LVThumbnails->count(), 0);

  Make(); // a window that goes while its decodes run
  for (int i = 1; i <= 8; ++i) {
    Put("Image" + std::to_string(i) + ".PNG", LargePng(i));
    Form->QueueThumbnail(Dest + "Image" + std::to_string(i) + ".PNG", nullptr);
  }
  Form->Thumbnails().ProcessThumbnailQueue();
  Form->show();
  Form->close();
  Form.reset();
}

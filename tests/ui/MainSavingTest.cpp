// The main window over a slow or failing destination (a stand-in writer): the window
// keeps answering while a found file is written and while the files are flushed, the
// scanner's worker still waits for each file, a failed save still asks at its file,
// Cancel is acknowledged at once, and nothing starts or closes while files are written.
// These tests time the window's event loop, so they run on their own (RUN_SERIAL).
#include "Format.h"
#include "Language.h"
#include "MainFormTest.h"
#include "TestWriter.h"

#include <QtCore/QTimer>
#include <QtTest/QTest>
#include <QtWidgets/QProgressBar>
#include <QtWidgets/QToolButton>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>

using namespace gf;
using namespace gf::test;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration D) {
  return std::chrono::duration<double, std::milli>(D).count();
}

// A 10 ms timer on the window's thread that notes the longest gap between its ticks
// while When() holds: how long the window left its events unanswered.
class TTickWatch {
public:
  explicit TTickWatch(std::function<bool()> When) : FWhen(std::move(When)) {
    FTimer.setInterval(10);
    FTimer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&FTimer, &QTimer::timeout, [this] {
      auto now = Clock::now();
      if (FWhen()) {
        if (FWatching)
          Longest = std::max(Longest, Ms(now - FLast));
        ++Ticks;
      }
      FWatching = FWhen();
      FLast = now;
    });
    FTimer.start();
  }
  double Longest = 0; // ms
  int Ticks = 0;      // ticks while When() held

private:
  std::function<bool()> FWhen;
  QTimer FTimer;
  bool FWatching = false;
  Clock::time_point FLast = Clock::now();
};

class MainSavingTest : public TMainFormTest {
protected:
  // The window over a card in E: with the test writer as its destination.
  TTestWriter& MakeWithWriter(std::vector<uint8_t> Card) {
    Platform.AddDrive('E', Removable(std::move(Card)));
    Make();
    auto writer = std::make_unique<TTestWriter>();
    TTestWriter& w = *writer;
    Form->SetFileWriter(std::move(writer));
    Form->show();
    Select("E:\\");
    return w;
  }
  std::size_t Reads() { return Platform.Calls.Reads.size(); }
};

// Far apart, so that a worker that did not wait would read on and find the second.
std::vector<uint8_t> TwoPictures() {
  std::vector<uint8_t> card = CardWith({MakeJpeg(3)}, 8 << 20);
  auto second = CardWith({MakeJpeg(4)});
  card.insert(card.end(), second.begin(), second.end());
  return card;
}

} // namespace

TEST_F(MainSavingTest, TheWindowAnswersWhileAFileIsWrittenAndTheWorkerWaitsForIt) {
  TTestWriter& writer = MakeWithWriter(CardWith({MakeJpeg(3)}, 8 << 20));
  writer.SaveDelay = 2s;
  std::size_t readsAtSave = 0, readsAtSaved = 0;
  writer.OnSave = [&] { readsAtSave = Reads(); };
  writer.OnSaved = [&] { readsAtSaved = Reads(); };
  TTickWatch watch([&] { return writer.Saving.load(); });
  // What the window shows and allows halfway through the write.
  std::string status;
  bool closable = true, startable = true, optionsShown = false;
  QTimer::singleShot(1000, Form.get(), [&] {
    status = Form->LabelStatus->text().toStdString();
    closable = Form->close();
    Form->SBStartClick();
    startable = Form->ScanState() != TScanState::Scanning;
    Form->SBOptionsClick();
    optionsShown = Desktop.OptionsShown > 0;
  });
  Form->SBStartClick();
  ASSERT_TRUE(WaitForSummary());

  EXPECT_EQ(writer.Saves, 1);
  EXPECT_GE(watch.Ticks, 100) << "the timer ran while the file was written";
  EXPECT_LE(watch.Longest, 50.0) << "longest gap between ticks while the file was written";
  EXPECT_EQ(readsAtSaved, readsAtSave) << "the worker read on while its file was written";
  // A carve with nothing after it runs to the JPEG limit of 3 MiB.
  EXPECT_EQ(status, Format(LoadStr(sWritingFile), "JPG", TFormMain::FormatSize(3072)));
  EXPECT_FALSE(closable);
  EXPECT_FALSE(startable);
  EXPECT_FALSE(optionsShown);
  EXPECT_EQ(writer.Flushes, 1);
  EXPECT_EQ(Desktop.Texts[0], ScanSummary(true, false, 1, 0, Dest).Text);
  EXPECT_TRUE(fs::exists(Dest + "Image1.JPG"));
  EXPECT_EQ(Form->ScanState(), TScanState::Idle);
  EXPECT_EQ(Form->LabelStatus->text(), "");
}

TEST_F(MainSavingTest, TheFlushLeavesTheWindowAnsweringAndTheSummaryWaitsForIt) {
  TTestWriter& writer = MakeWithWriter(CardWith({MakeJpeg(5)}));
  writer.FlushDelay = 1s;
  TTickWatch watch([&] { return writer.Flushing.load(); });
  struct {
    std::string Status;
    bool Start = true, Cancel = true, Exit = true, Options = true, Drives = true;
    bool Closable = true, SummaryShown = true;
  } seen;
  QTimer probe;
  probe.setInterval(5);
  QObject::connect(&probe, &QTimer::timeout, [&] {
    if (!writer.Flushing || !seen.Status.empty())
      return;
    seen = {Form->LabelStatus->text().toStdString(),
            Form->SBStart->isEnabled(),
            Form->SBCancel->isEnabled(),
            Form->SBExit->isEnabled(),
            Form->SBOptions->isEnabled(),
            Form->LBDrives->isEnabled(),
            Form->FormCloseQuery(),
            !Desktop.Texts.empty()};
  });
  probe.start();
  Form->SBStartClick();
  ASSERT_TRUE(WaitForSummary());

  EXPECT_EQ(writer.Flushes, 1);
  EXPECT_GE(watch.Ticks, 50);
  EXPECT_LE(watch.Longest, 50.0) << "longest gap between ticks while the files were flushed";
  EXPECT_EQ(seen.Status, LoadStr(sFlushing));
  EXPECT_FALSE(seen.Start || seen.Cancel || seen.Exit || seen.Options || seen.Drives);
  EXPECT_FALSE(seen.Closable);
  EXPECT_FALSE(seen.SummaryShown);
  EXPECT_EQ(Desktop.Texts[0], ScanSummary(true, false, 1, 0, Dest).Text);
  EXPECT_TRUE(Form->SBStart->isEnabled());
}

// Cancel while a file is written: the window shows at once that it stops, the file in
// hand is finished (it was found, and is whole on the disk), the scan ends after it.
TEST_F(MainSavingTest, CancelIsAcknowledgedAtOnceAndTheFileInHandIsFinished) {
  TTestWriter& writer = MakeWithWriter(TwoPictures());
  writer.SaveDelay = 2s;
  double acknowledged = -1;
  std::string status;
  QTimer::singleShot(300, Form.get(), [&] {
    auto at = Clock::now();
    QTest::mouseClick(Form->SBCancel, Qt::LeftButton);
    if (!Form->SBCancel->isEnabled() && Form->ScanState() == TScanState::Stopping)
      acknowledged = Ms(Clock::now() - at);
    status = Form->LabelStatus->text().toStdString();
  });
  Form->SBStartClick();
  ASSERT_TRUE(WaitForSummary());

  EXPECT_GE(acknowledged, 0) << "Cancel did not show that the scan stops";
  EXPECT_LE(acknowledged, 100.0);
  EXPECT_EQ(status, LoadStr(sStoppingAfterFile));
  EXPECT_EQ(writer.Saves, 1) << "the scan went on after Cancel";
  auto saved = ReadFile(Dest + "Image1.JPG");
  auto picture = MakeJpeg(3);
  ASSERT_GE(saved.size(), picture.size());
  EXPECT_TRUE(std::equal(picture.begin(), picture.end(), saved.begin()));
  EXPECT_EQ(writer.Flushes, 1) << "the finished file is written through before the summary";
  EXPECT_EQ(Desktop.Texts[0], ScanSummary(false, true, 1, 0, Dest).Text);
  EXPECT_EQ(Desktop.Sounds, (std::vector<std::string>{"STARTWAV", "CANCELWAV"}));
}

// A save that fails on the saver thread still pauses the scan at its file with the
// question, and No stops the scan there.
TEST_F(MainSavingTest, AFailedSaveStillAsksAtItsFile) {
  TTestWriter& writer = MakeWithWriter(TwoPictures());
  writer.SaveDelay = 300ms;
  writer.SaveError = "Cannot write file \"x\". No space left on device";
  Desktop.Answers = {TBoxAnswer::No};
  bool savingAtBox = true;
  Desktop.OnBox = [&] { savingAtBox = writer.Saving; };
  Form->SBStartClick();
  ASSERT_TRUE(WaitForSummary());
  ASSERT_EQ(Desktop.Boxes.size(), 1u);
  EXPECT_EQ(Desktop.Boxes[0].Text, Format(LoadStr(sSaveErrorContinue), writer.SaveError));
  EXPECT_FALSE(savingAtBox) << "the question comes once the save has failed";
  EXPECT_EQ(writer.Saves, 1) << "the scan went on past the file that failed";
  EXPECT_EQ(Desktop.Texts[0], ScanSummary(false, true, 0, 1, Dest).Text);
  EXPECT_FALSE(fs::exists(Dest + "Image1.JPG"));
}

// While the window waits for a file, the drive list may be rebuilt (a device change) and
// a second Cancel may come: neither starts anything or lets the window go idle early.
TEST_F(MainSavingTest, WhatArrivesWhileAFileIsWrittenChangesNothing) {
  TTestWriter& writer = MakeWithWriter(CardWith({MakeJpeg(6)}));
  writer.SaveDelay = 500ms;
  bool startOn = true, drivesOn = true;
  QTimer::singleShot(200, Form.get(), [&] {
    Form->RefreshDriveList();
    Form->LBDrivesClick();
    startOn = Form->SBStart->isEnabled();
    drivesOn = Form->LBDrives->isEnabled();
  });
  Form->SBStartClick();
  ASSERT_TRUE(WaitForSummary());
  EXPECT_FALSE(startOn);
  EXPECT_FALSE(drivesOn);
  EXPECT_EQ(writer.Saves, 1);
  EXPECT_EQ(Desktop.Texts.size(), 1u);
  EXPECT_EQ(Desktop.Texts[0], ScanSummary(true, false, 1, 0, Dest).Text);
}

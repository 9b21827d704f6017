// The main window over simulated drives for the window tests: its settings file and
// its destination in a folder of the test's own.
#pragma once

#include "Main.h"
#include "Registry.h"
#include "SimulatedDrives.h"
#include "TestDesktop.h"
#include "TestPictures.h"
#include "ThumbQueue.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QElapsedTimer>
#include <QtWidgets/QListWidget>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace gf::test {

// Works the thumbnail queue off without the event loop: ticks until every request is
// placed, giving the decoders a moment between ticks. False after 30 s.
inline bool DrainThumbnails(TThumbQueue& Queue) {
  QElapsedTimer t;
  t.start();
  while (Queue.Queued() > 0 && t.elapsed() < 30000) {
    Queue.ProcessThumbnailQueue();
    if (Queue.Queued() > 0)
      std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return Queue.Queued() == 0;
}

// The picture of item Row of the window's thumbnails, as the list shows it.
inline QImage ThumbnailPicture(const TFormMain& Form, int Row) {
  int index = TThumbQueue::ImageIndex(Form.LVThumbnails->item(Row));
  return index < 0 ? QImage() : Form.ILThumbnails[static_cast<std::size_t>(index)].toImage();
}

// A removable medium holding the given pictures one after another, each starting on
// a sector boundary, then some empty sectors.
inline std::vector<uint8_t> CardWith(const std::vector<std::vector<uint8_t>>& Pictures,
                                     std::size_t Tail = 64 * 512) {
  std::vector<uint8_t> card(512 * 4, 0);
  for (auto& p : Pictures) {
    card.insert(card.end(), p.begin(), p.end());
    card.resize((card.size() + 511) / 512 * 512, 0);
  }
  card.resize(card.size() + Tail, 0);
  return card;
}

inline TSimDrive Removable(std::vector<uint8_t> Image, std::string Label = "CARD") {
  TSimDrive d;
  d.DriveType = DRIVE_REMOVABLE;
  d.MediaType = MEDIA_REMOVABLE;
  d.Image = std::move(Image);
  d.Label = std::move(Label);
  return d;
}

// The captions of the window's thumbnails, in the list's order.
inline std::vector<std::string> ThumbnailCaptions(const TFormMain& Form) {
  std::vector<std::string> c;
  for (int i = 0; i < Form.LVThumbnails->count(); ++i)
    c.push_back(Form.LVThumbnails->item(i)->text().toStdString());
  return c;
}

class TMainFormTest : public ::testing::Test {
protected:
  void SetUp() override {
    Dest = Dir.Path + "/out/";
    std::filesystem::create_directories(Dest);
  }
  void TearDown() override { Form.reset(); }

  // The window, with settings read afresh from the settings file and the destination
  // set to Dest.
  void Make(std::vector<std::string> Args = {}) {
    Settings = std::make_unique<TRegistry>(Dir.Path + "/settings.reg");
    Form = std::make_unique<TFormMain>(Platform, *Settings, Desktop, std::move(Args));
    Form->Controller().SetDestPath(Dest);
  }

  std::vector<std::string> Captions() const { return ThumbnailCaptions(*Form); }

  void Select(const std::string& Root) {
    for (int i = 0; i < Form->LBDrives->count(); ++i)
      if (Form->LBDrives->item(i)->text().toStdString() == Root) {
        Form->LBDrives->setCurrentRow(i);
        Form->LBDrivesClick();
        return;
      }
    FAIL() << Root << " is not listed";
  }

  // Runs the event loop until the summary has been shown (or 20 s have passed).
  bool WaitForSummary(std::size_t Count = 1) {
    QElapsedTimer t;
    t.start();
    while (Desktop.Texts.size() < Count && t.elapsed() < 20000)
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return Desktop.Texts.size() >= Count;
  }

  TTempDir Dir;
  std::string Dest;
  TSimulatedDrives Platform;
  TTestDesktop Desktop;
  std::unique_ptr<TRegistry> Settings;
  std::unique_ptr<TFormMain> Form;
};

} // namespace gf::test

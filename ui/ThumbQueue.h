// The thumbnails on their way into the thumbnail view. Requests keep the order they
// came in. Worker threads make the pictures, each reading its file only when its
// decode starts, a few at a time and within a bound on the memory they hold; a 20 ms
// timer on the window's thread places the oldest request into the view once its
// picture is made, one per tick. So the view fills in order and at the same pace as
// ever, and no decode, however slow, holds up the window or the scan.
#pragma once

#include "Streams.h"
#include "Thumbs.h"

#include <QtCore/QObject>
#include <QtCore/QThreadPool>
#include <QtCore/QTimer>
#include <QtGui/QPixmap>

#include <atomic>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QListWidget;
class QListWidgetItem;

namespace gf {

class TThumbItemDelegate;

// One file waiting for its thumbnail. A saved file is read back when its decode
// starts; only a file that could not be saved keeps its bytes here.
struct TThumbRequest {
  std::string FileName;
  std::unique_ptr<TMemoryStream> Stream; // null: read FileName
};

class TThumbQueue : public QObject {
public:
  static constexpr int ThumbSize = 80;
  static constexpr int TickInterval = 20; // ms
  // Decodes at a time: no more than the cores, and no more than this.
  static constexpr int MaxDecodes = 4;
  // Memory that the decodes in flight may hold together.
  static constexpr int64_t MaxDecodeBytes = int64_t{256} << 20;
  // Requests made (or being made) ahead of the one the next tick places.
  static constexpr std::size_t MaxAhead = 32;
  // Bytes of unsaved files that the queue may hold; beyond it they get no picture.
  static constexpr std::size_t MaxHeldBytes = 64u << 20;

  // The items go into View, their pictures into Images (an item's data at Qt::UserRole
  // is its picture's index there); Delegate makes the view's cells fit their captions.
  TThumbQueue(QListWidget& View, std::vector<QPixmap>& Images, TThumbItemDelegate& Delegate,
              int64_t MemoryLimit = MaxDecodeBytes);
  // Stops as Close does, then waits for the decodes in flight, whose pictures go
  // nowhere.
  ~TThumbQueue() override;
  TThumbQueue(const TThumbQueue&) = delete;
  TThumbQueue& operator=(const TThumbQueue&) = delete;

  // Appends a request; the stream passes to the queue.
  void QueueThumbnail(const std::string& FileName, std::unique_ptr<TMemoryStream> Stream);
  // The oldest request not yet handed to a decoder; nothing while closing or when
  // every request has been handed out.
  std::optional<TThumbRequest> DequeueThumbnail();
  // The timer's tick: hands requests to the decoders (so a file is read no earlier than
  // the first tick after its request), then places the oldest request once its picture
  // is made. The timer sleeps while no request waits.
  void ProcessThumbnailQueue();
  // Drops every request; pictures still being made for them are never shown.
  void Clear();
  // The window is closing: no request is handed out any more, the timer stops, and a
  // decode still waiting for memory gives up.
  void Close();
  bool Closing() const { return FClosing; }

  // Requests not yet placed, those being decoded included.
  std::size_t Queued() const { return FRequests.size(); }
  std::size_t HeldBytes() const { return FHeldBytes; }
  // Decodes running now.
  int Decoding() const { return FRunning.load(); }
  TThumbMemory& Memory() { return FMemory; }
  // The index in the pictures of an item's picture, -1 when it has none.
  static int ImageIndex(const QListWidgetItem* Item);

  QTimer Timer1;

private:
  struct TJob;
  void StartDecodes();
  void Place(TJob& Job);

  QListWidget& FView;
  std::vector<QPixmap>& FImages;
  TThumbItemDelegate& FDelegate;
  // Every request not yet placed, oldest first; the first FHandedOut of them have been
  // handed to decoders.
  std::deque<std::shared_ptr<TJob>> FRequests;
  std::size_t FHandedOut = 0;
  std::size_t FHeldBytes = 0; // bytes held by requests not handed out
  bool FClosing = false;
  int FMaxDecodes;
  std::atomic<int> FRunning{0}; // decodes started and not finished, dropped ones included
  TThumbMemory FMemory;
  QThreadPool FPool; // last: destroyed first, it waits for its threads
};

} // namespace gf

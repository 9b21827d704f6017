#include "ThumbQueue.h"

#include "Debug.h"
#include "ThumbItemDelegate.h"

#include <QtCore/QThread>
#include <QtWidgets/QListWidget>

#include <algorithm>
#include <filesystem>

namespace gf {

// A request with its picture, once a decoder has made it. The decoder writes Picture,
// then sets Done; the window's thread reads Picture only after it saw Done.
struct TThumbQueue::TJob {
  TThumbRequest Request;
  std::optional<QImage> Picture;
  std::atomic<bool> Done{false};
};

namespace {

// The thumbnail of a saved file, read back from the disk now. A type that gets a fixed
// picture is not opened at all; a file that cannot be read gets the broken picture.
std::optional<QImage> ThumbnailOfFile(const std::string& FileName, TThumbMemory* Memory) {
  constexpr int size = TThumbQueue::ThumbSize;
  if (!FindThumbnailFormat(FileName)) {
    TMemoryStream none;
    return MakeThumbnail(none, FileName, size, size);
  }
  try {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(FileName, ec))
      throw EStreamError("Not a file: " + FileName); // a FIFO would block the open
    TFileStream file(FileName, TFileMode::OpenRead);
    return MakeThumbnail(file, FileName, size, size, Memory);
  } catch (const EStreamError& e) {
    DebugLog("THUMBS: Error thumbnailing %s: %s", FileName, e.what());
    return BrokenThumbnail(size, size);
  }
}

// Nothing may leave a pool thread: an error that MakeThumbnail lets through (such as
// running out of memory) gives the broken picture too.
std::optional<QImage> Decode(TThumbRequest& Request, TThumbMemory& Memory) noexcept {
  constexpr int size = TThumbQueue::ThumbSize;
  try {
    try {
      return Request.Stream ? MakeThumbnail(*Request.Stream, Request.FileName, size, size, &Memory)
                            : ThumbnailOfFile(Request.FileName, &Memory);
    } catch (const std::exception& e) {
      DebugLog("THUMBS: Error thumbnailing %s: %s", Request.FileName, e.what());
    }
    return BrokenThumbnail(size, size);
  } catch (...) {
    return std::nullopt;
  }
}

} // namespace

TThumbQueue::TThumbQueue(QListWidget& View, std::vector<QPixmap>& Images,
                         TThumbItemDelegate& Delegate, int64_t MemoryLimit)
    : FView(View), FImages(Images), FDelegate(Delegate),
      FMaxDecodes(std::clamp(QThread::idealThreadCount(), 1, MaxDecodes)), FMemory(MemoryLimit) {
  FPool.setMaxThreadCount(FMaxDecodes);
  Timer1.setInterval(TickInterval);
  connect(&Timer1, &QTimer::timeout, this, [this] {
    try {
      ProcessThumbnailQueue();
    } catch (const std::exception& e) {
      DebugLog("THUMBS: %s", e.what());
    }
  });
}

TThumbQueue::~TThumbQueue() {
  Close();
  FPool.clear(); // decodes not started yet never start
  FPool.waitForDone();
}

void TThumbQueue::QueueThumbnail(const std::string& FileName,
                                 std::unique_ptr<TMemoryStream> Stream) {
  if (Stream) {
    auto size = static_cast<std::size_t>(Stream->GetSize());
    if (size > MaxHeldBytes - FHeldBytes) {
      DebugLog("THUMBS: No room to hold %s until its thumbnail", FileName);
      Stream = std::make_unique<TMemoryStream>(); // decodes to the broken picture
    } else {
      FHeldBytes += size;
    }
  }
  auto job = std::make_shared<TJob>();
  job->Request = {FileName, std::move(Stream)};
  FRequests.push_back(std::move(job));
  if (!FClosing && !Timer1.isActive())
    Timer1.start();
}

std::optional<TThumbRequest> TThumbQueue::DequeueThumbnail() {
  if (FClosing || FHandedOut >= FRequests.size())
    return std::nullopt;
  // The name stays with the queue for the item; the bytes go.
  TThumbRequest& r = FRequests[FHandedOut++]->Request;
  if (r.Stream)
    FHeldBytes -= static_cast<std::size_t>(r.Stream->GetSize());
  return TThumbRequest{r.FileName, std::move(r.Stream)};
}

void TThumbQueue::StartDecodes() {
  while (FRunning.load() < FMaxDecodes && FHandedOut < std::min(FRequests.size(), MaxAhead)) {
    std::shared_ptr<TJob> job = FRequests[FHandedOut];
    std::optional<TThumbRequest> request = DequeueThumbnail();
    if (!request)
      return;
    ++FRunning;
    // The job is shared: a Clear may drop it from the queue while it is decoded. The
    // queue's destructor waits for this to end, so the queue outlives it.
    FPool.start(
        [this, job, request = std::make_shared<TThumbRequest>(std::move(*request))]() mutable {
          job->Picture = Decode(*request, FMemory);
          request.reset(); // the file's bytes are not needed any more
          job->Done.store(true, std::memory_order_release);
          --FRunning;
          // Its slot is free: the window's thread hands out the next request.
          QMetaObject::invokeMethod(
              this, [this] { StartDecodes(); }, Qt::QueuedConnection);
        });
  }
}

int TThumbQueue::ImageIndex(const QListWidgetItem* Item) {
  QVariant v = Item->data(Qt::UserRole);
  return v.isValid() ? v.toInt() : -1;
}

void TThumbQueue::ProcessThumbnailQueue() {
  if (FClosing || FRequests.empty()) {
    Timer1.stop(); // until the next request
    return;
  }
  StartDecodes();
  if (FHandedOut == 0 || !FRequests.front()->Done.load(std::memory_order_acquire))
    return; // the oldest is still being made: nothing overtakes it
  std::shared_ptr<TJob> job = std::move(FRequests.front());
  FRequests.pop_front();
  --FHandedOut;
  Place(*job);
  StartDecodes();
}

void TThumbQueue::Place(TJob& Job) {
  const std::string& name = Job.Request.FileName;
  // The item is complete before the view lays it out.
  auto* item =
      new QListWidgetItem(QString::fromStdString(std::filesystem::path(name).filename().string()));
  item->setToolTip(QString::fromStdString(name));
  if (Job.Picture) {
    FImages.push_back(QPixmap::fromImage(*Job.Picture));
    item->setIcon(QIcon(FImages.back()));
    item->setData(Qt::UserRole, static_cast<int>(FImages.size()) - 1);
  }
  FDelegate.FitCaption(item->text());
  FView.addItem(item);
  if (FView.selectedItems().isEmpty())
    FView.scrollToItem(item);
}

void TThumbQueue::Clear() {
  FRequests.clear();
  FHandedOut = 0;
  FHeldBytes = 0;
}

void TThumbQueue::Close() {
  FClosing = true;
  Timer1.stop();
  FMemory.Cancel();
}

} // namespace gf

// Scans one medium from its first sector to its last on a worker thread, asks the
// recognizers at every sector, measures or carves each file and hands it to the
// thread that created the scanner. That thread runs every event.
#pragma once

#include "Drives.h"
#include "MessageWindow.h"
#include "Recognizer.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace gf {

constexpr uint32_t WM_SCANDONE = WM_USER + 1;
constexpr uint32_t WM_SCANPROGRESS = WM_USER + 2;
constexpr uint32_t WM_FILEFOUND = WM_USER + 3;

class TScanner;

// Where the worker's time went in a scan, in seconds: reading and recognising,
// building the found files (extracts, carved sectors, cuts), and handing them over
// (waiting while the receiver takes each file).
struct TScanStages {
  double Scanning = 0;
  double Building = 0;
  double HandingOver = 0;
};

using TScannerDoneEvent = std::function<void(TScanner& Sender, bool Completed)>;
// The receiver owns the stream: its size is the file's length, its bytes the file.
using TScannerFileFoundEvent = std::function<void(
    TScanner& Sender, std::unique_ptr<TMemoryStream> Stream, const std::string& Name)>;
using TScannerProgressEvent = std::function<void(TScanner& Sender, int32_t FoundCount,
                                                 int64_t Position, int64_t SectorCount)>;

class TScanner {
public:
  // Registry: the recognizers to ask, in trial order (the process-wide one by default).
  explicit TScanner(const TRecognizers* Registry = nullptr);
  // Stops a running scan as Stop does and waits for its end. Called from one of the
  // scanner's own file-found or done handlers, it cannot wait for messages that only
  // that handler's return lets come: it closes the window instead (no further event
  // is raised, the files still found are dropped), waits for the worker to leave at
  // its next sector step, and the handler's caller no longer touches the scanner.
  ~TScanner();
  TScanner(const TScanner&) = delete;
  TScanner& operator=(const TScanner&) = delete;

  // The window takes at most one progress report per this interval, the latest: the
  // worker posts one every 11 sectors, far more than a view can show.
  static constexpr std::chrono::milliseconds ProgressInterval{20};
  // Another interval; zero hands every report over. Set while no scan runs.
  void SetProgressInterval(std::chrono::milliseconds Interval);

  // Whether a scan started: not while one runs, nor without a medium.
  bool Start(TMedium* Medium);
  void Stop();
  bool IsRunning() const { return FThread.joinable(); }

  // The medium being scanned, still during the done event; null when no scan runs.
  TMedium* Medium() const { return FMedium; }
  // Whether the last scan read every sector that can be numbered of a medium that holds
  // more (TMedium::Truncated): it ended there, not completed. Set for the done event.
  bool EndedAtSectorLimit() const { return FEndedAtSectorLimit; }

  int32_t FoundCount() const { return FFoundCount; }
  // One entry per type key found in the current scan, in the order first found.
  const std::vector<std::pair<std::string, int>>& TypeCounts() const { return FTypeCounts; }
  int TypeCount(const std::string& Key) const;

  std::atomic<bool> Paused{false};
  // For benchmarks: the next scans measure their stages (Stages). Off by default, as
  // it reads the clock twice for every carved sector. Set while no scan runs.
  bool MeasureStages = false;
  // The stages of the last scan that measured them; read once it has ended.
  const TScanStages& Stages() const { return FStages; }

  TScannerDoneEvent OnDone;
  TScannerFileFoundEvent OnFileFound;
  TScannerProgressEvent OnProgress;

private:
  struct TFoundFile {
    std::string Name;
    std::unique_ptr<TMemoryStream> Stream;
  };
  // Where the worker is, for the line that reports an error: the sector of the step,
  // and the recognizer checking, extracting or whose file is carved or handed over.
  struct TPlace {
    uint32_t Sector = 0;
    TRecognizer* AtWork = nullptr;
  };

  void Execute();
  void ExecuteLoop(TPlace& Place);
  void Announce(TRecognizer& Rec, std::unique_ptr<TMemoryStream> Stream);
  void WndProc(TMessage& Message);
  void WMFileFound(TMessage& Message);
  void WMScanProgress(TMessage& Message);
  void WMScanDone(TMessage& Message);

  class TStageClock;

  const TRecognizers& FRegistry;
  TScanStages FStages;        // written by the worker of a measuring scan
  TMedium* FMedium = nullptr; // not owned; null when no scan runs
  std::vector<std::pair<std::string, int>> FTypeCounts;
  int32_t FFoundCount = 0;
  bool FEndedAtSectorLimit = false;
  std::unique_ptr<TMessageWindow> FWindow;
  // The found files' buffers: a file's stream, once its receiver frees it, leaves its
  // buffer for the next file of the scan. Open while a scan runs.
  std::shared_ptr<TBufferPool> FBuffers = std::make_shared<TBufferPool>();
  std::thread FThread;
  std::atomic<bool> FCancel{false};
  bool FInFileFound = false;
  bool FInDone = false;
  // False from the destructor on; the handler frames that may outlive this object
  // (a handler that destroyed it) hold a share and look before touching it again.
  std::shared_ptr<bool> FAlive = std::make_shared<bool>(true);
};

} // namespace gf

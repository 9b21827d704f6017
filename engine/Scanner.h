// Scans one medium from its first sector to its last on a worker thread, asks the
// recognizers at every sector, measures or carves each file and hands it to the
// thread that created the scanner. That thread runs every event.
#pragma once

#include "Drives.h"
#include "MessageWindow.h"
#include "Recognizer.h"

#include <atomic>
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
  ~TScanner();
  TScanner(const TScanner&) = delete;
  TScanner& operator=(const TScanner&) = delete;

  void Start(TMedium* Medium);
  void Stop();
  bool IsRunning() const { return FThread.joinable(); }

  int32_t FoundCount() const { return FFoundCount; }
  // One entry per type key found in the current scan, in the order first found.
  const std::vector<std::pair<std::string, int>>& TypeCounts() const { return FTypeCounts; }
  int TypeCount(const std::string& Key) const;

  std::atomic<bool> Paused{false};

  TScannerDoneEvent OnDone;
  TScannerFileFoundEvent OnFileFound;
  TScannerProgressEvent OnProgress;

private:
  struct TFoundFile {
    std::string Name;
    std::unique_ptr<TMemoryStream> Stream;
  };

  void Execute();
  void ExecuteLoop();
  void Announce(TRecognizer& Rec, std::unique_ptr<TMemoryStream> Stream);
  void WndProc(TMessage& Message);
  void WMFileFound(TMessage& Message);
  void WMScanProgress(TMessage& Message);
  void WMScanDone(TMessage& Message);

  const TRecognizers& FRegistry;
  TMedium* FMedium = nullptr; // not owned; null when no scan runs
  std::vector<std::pair<std::string, int>> FTypeCounts;
  int32_t FFoundCount = 0;
  std::unique_ptr<TMessageWindow> FWindow;
  std::thread FThread;
  std::atomic<bool> FCancel{false};
  bool FInFileFound = false;
  bool FInDone = false;
};

} // namespace gf

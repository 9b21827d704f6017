#include "Scanner.h"

#include "Debug.h"
#include "System.h"

#include <algorithm>
#include <chrono>
#include <exception>

namespace gf {

namespace {
constexpr int64_t FirstCapacity = 2097152;
}

namespace {
// The process-wide registry, filled before its first scanner can use it.
const TRecognizers& BuiltinRecognizers() {
  RegisterRecognizers();
  return Recognizers();
}
} // namespace

TScanner::TScanner(const TRecognizers* Registry)
    : FRegistry(Registry ? *Registry : BuiltinRecognizers()),
      FWindow(std::make_unique<TMessageWindow>([this](TMessage& m) { WndProc(m); })) {
  SetProgressInterval(ProgressInterval);
}

void TScanner::SetProgressInterval(std::chrono::milliseconds Interval) {
  FWindow->Coalesce(WM_SCANPROGRESS, Interval);
}

TScanner::~TScanner() {
  if (IsRunning()) {
    FCancel = true;
    if (FInFileFound || FInDone) {
      // The worker may be blocked in the very hand-over this handler serves, and the
      // done message can only come after it returns.
      FWindow->Close();
      FThread.join();
    } else {
      while (IsRunning())
        FWindow->WaitOne();
    }
  }
  *FAlive = false;
}

int TScanner::TypeCount(const std::string& Key) const {
  for (auto& [k, n] : FTypeCounts)
    if (k == Key)
      return n;
  return 0;
}

bool TScanner::Start(TMedium* Medium) {
  if (IsRunning() || !Medium)
    return false;
  FFoundCount = 0;
  FTypeCounts.clear();
  FEndedAtSectorLimit = false;
  FCancel = false;
  Paused = false;
  FMedium = Medium;
  FBuffers->Open();
  FThread = std::thread([this] { Execute(); });
  return true;
}

void TScanner::Stop() {
  if (!IsRunning())
    return;
  FCancel = true;
  if (FInFileFound || FInDone)
    return; // the done message follows through the ordinary message loop
  // A handler raised in here may destroy the scanner.
  auto alive = FAlive;
  while (*alive && IsRunning())
    FWindow->WaitOne();
}

// Adds the time since the last switch to the stage the worker was in. Does nothing
// unless the scan measures its stages.
class TScanner::TStageClock {
public:
  using TClock = std::chrono::steady_clock;
  TStageClock(TScanStages& Stages, bool On) : FStages(Stages), FOn(On) {
    if (FOn) {
      FStages = {};
      FLast = TClock::now();
    }
  }
  void Switch(double TScanStages::*Next) {
    if (!FOn)
      return;
    const auto now = TClock::now();
    FStages.*FStage += std::chrono::duration<double>(now - FLast).count();
    FLast = now;
    FStage = Next;
  }

private:
  TScanStages& FStages;
  bool FOn;
  double TScanStages::*FStage = &TScanStages::Scanning;
  TClock::time_point FLast{};
};

void TScanner::Execute() {
  TPlace place;
  auto atWork = [&place]() -> std::string {
    return place.AtWork ? place.AtWork->GetName() : "no recognizer at work";
  };
  try {
    ExecuteLoop(place);
    return;
  } catch (const std::exception& e) {
    try {
      DebugLog("SCANNER: Scan ended by an error at sector %u (%s): %s", place.Sector, atWork(),
               e.what());
    } catch (...) {
    }
  } catch (...) {
    try {
      DebugLog("SCANNER: Scan ended by an unknown error at sector %u (%s)", place.Sector, atWork());
    } catch (...) {
    }
  }
  FBuffers->Close();
  FWindow->Post(WM_SCANDONE, 0, 0);
}

void TScanner::ExecuteLoop(TPlace& Place) {
  TMedium& m = *FMedium;
  uint32_t lastReported = 0;
  TRecognizer* pendingRec = nullptr;
  std::unique_ptr<TMemoryStream> pending;
  TStageClock clock(FStages, MeasureStages);
  auto announce = [&](TRecognizer& Rec, std::unique_ptr<TMemoryStream> Stream) {
    clock.Switch(&TScanStages::HandingOver);
    Announce(Rec, std::move(Stream));
    clock.Switch(&TScanStages::Scanning);
  };

  uint32_t pendingStart = 0;
  auto endCarve = [&] {
    Place.AtWork = pendingRec;
    clock.Switch(&TScanStages::Building);
    if (pending->GetPosition() == 0) {
      // Its header sector was readable for the check but not when the carve took it
      // (another block, now with an unreadable sector in it): there is nothing to save.
      DebugLog("SCANNER: %s file at sector %u dropped: none of its sectors could be read",
               pendingRec->GetName(), pendingStart);
      pending.reset();
    } else {
      pending->SetSize(pending->GetPosition());
      announce(*pendingRec, std::move(pending));
    }
    pendingRec = nullptr;
    Place.AtWork = nullptr;
  };

  for (int i = 0; i < FRegistry.Count(); ++i)
    FRegistry.GetItem(i)->BeginScan();
  m.SetPosition(0);
  const uint32_t size = m.SectorSize();
  for (;;) {
    Place = {m.GetPosition(), nullptr};
    if (FCancel || m.GetData() == nullptr)
      break;
    while (Paused && !FCancel)
      Sleep(0);

    uint32_t pos = m.GetPosition();
    if (pos - lastReported > 10) {
      FWindow->Post(WM_SCANPROGRESS, pos, static_cast<intptr_t>(m.SectorCount()));
      lastReported = pos;
    }

    const bool full =
        pending && static_cast<uint64_t>(pending->GetPosition()) >= pendingRec->MaxSize;
    TRecognizer* rec = nullptr;
    Place.AtWork = pendingRec; // asked first whether its file goes on here
    if (pending && !full && pendingRec->ContinuesCarve(m))
      m.SetPosition(pos); // a known part of the file in hand: no new file starts here
    else
      rec = FRegistry.FindRecognizer(m, Place.AtWork);

    if (pending && (rec || full))
      endCarve();

    if (rec) {
      Place.AtWork = rec;
      clock.Switch(&TScanStages::Building);
      auto stream = std::make_unique<TMemoryStream>(FBuffers);
      stream->SetSize(std::min<int64_t>(rec->MaxSize, FirstCapacity));
      const uint32_t start = pos;
      if (rec->Extract(m, *stream)) {
        uint64_t length = static_cast<uint64_t>(stream->GetPosition());
        uint64_t sectors = (length + size - 1) / size;
        if (sectors == 0)
          sectors = 1; // an empty file must not hold the scan at its header
        uint64_t next = uint64_t{start} + sectors;
        m.SetPosition(next > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(next));
        stream->SetSize(static_cast<int64_t>(length));
        if (length > 0)
          announce(*rec, std::move(stream));
        clock.Switch(&TScanStages::Scanning);
        continue;
      }
      m.SetPosition(start);
      stream->SetPosition(0); // every carve starts at byte 0
      pendingRec = rec;
      pendingStart = start;
      pending = std::move(stream);
      clock.Switch(&TScanStages::Scanning);
    }

    // Taken afresh: the checks and extracts may have loaded other blocks, which frees
    // the one the step began with.
    Place.AtWork = pendingRec; // null when no carve is pending
    if (const uint8_t* data = pending ? m.GetData() : nullptr) {
      clock.Switch(&TScanStages::Building);
      pending->WriteBuffer(data, size);
      clock.Switch(&TScanStages::Scanning);
    }
    Place.AtWork = nullptr;
    m.Next();
  }

  if (!FCancel && pending)
    endCarve();
  pending.reset();                      // a cancelled carve is dropped unannounced
  clock.Switch(&TScanStages::Scanning); // the stages are complete before the done message

  // The end of a medium that holds more sectors than can be numbered is not the end
  // of the medium: the rest was never read.
  const bool atEnd = !FCancel && m.GetPosition() >= m.SectorCount();
  const bool completed = atEnd && !m.Truncated();
  FBuffers->Close(); // the files still held by their receivers free their buffers
  FWindow->Post(WM_SCANDONE, completed ? 1 : 0, atEnd && m.Truncated() ? 1 : 0);
}

void TScanner::Announce(TRecognizer& Rec, std::unique_ptr<TMemoryStream> Stream) {
  TFoundFile found{Rec.GetName(), std::move(Stream)};
  FWindow->Send(WM_FILEFOUND, reinterpret_cast<uintptr_t>(&found), 0);
}

void TScanner::WndProc(TMessage& Message) {
  switch (Message.Msg) {
  case WM_SCANDONE:
    WMScanDone(Message);
    break;
  case WM_SCANPROGRESS:
    WMScanProgress(Message);
    break;
  case WM_FILEFOUND:
    WMFileFound(Message);
    break;
  default:
    break;
  }
}

void TScanner::WMFileFound(TMessage& Message) {
  auto* found = reinterpret_cast<TFoundFile*>(Message.WParam);
  // The handler's own copies: a handler that destroys the scanner lets the worker
  // (and its hand-over) go before it returns.
  const std::string name = std::move(found->Name);
  std::unique_ptr<TMemoryStream> stream = std::move(found->Stream);
  auto alive = FAlive;
  struct TFlag {
    bool& F;
    const std::shared_ptr<bool>& Alive;
    ~TFlag() {
      if (*Alive)
        F = false;
    }
  } flag{FInFileFound, alive};
  FInFileFound = true;
  ++FFoundCount;
  bool counted = false;
  for (auto& [k, n] : FTypeCounts)
    if (k == name) {
      ++n;
      counted = true;
    }
  if (!counted)
    FTypeCounts.emplace_back(name, 1);
  if (OnFileFound)
    OnFileFound(*this, std::move(stream), name);
}

void TScanner::WMScanProgress(TMessage& Message) {
  if (OnProgress)
    OnProgress(*this, FFoundCount, static_cast<int64_t>(Message.WParam),
               static_cast<int64_t>(Message.LParam));
}

void TScanner::WMScanDone(TMessage& Message) {
  struct TEnd { // the scan counts as ended even when the handler throws
    TScanner& S;
    std::shared_ptr<bool> Alive;
    ~TEnd() {
      if (!*Alive)
        return; // the handler destroyed the scanner, which joined the worker
      if (S.FThread.joinable())
        S.FThread.join(); // the worker posted this message as its last act
      S.FMedium = nullptr;
      S.FInDone = false;
    }
  } end{*this, FAlive};
  FInDone = true;
  FEndedAtSectorLimit = Message.LParam != 0;
  if (OnDone)
    OnDone(*this, Message.WParam != 0);
}

} // namespace gf

#include "MessageWindow.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <set>

namespace gf {

namespace {

struct TSendState {
  bool Done = false;
  intptr_t Result = 0;
};

struct TEntry {
  TMessageWindow* Window;
  TMessage Message;
  TSendState* Sender;  // null for a posted message
  uint64_t Serial = 0; // a sent message's number, which keys it while it is handled
  // A coalesced message with a later message of its window behind it: handed out
  // without waiting for its time.
  bool Released = false;
};

using TClock = std::chrono::steady_clock;

// A wakeup to make once the queue's lock is released.
struct TWake {
  TMessageWakeup Wakeup;
  std::chrono::milliseconds Delay{0};
  void Call() const {
    if (Wakeup)
      Wakeup(Delay);
  }
};

// A sent message taken by its owner and not yet answered.
struct TInFlight {
  TMessageWindow* Window;
  TSendState* Sender;
};

} // namespace

// The process-wide queue behind every message window.
class TMessageQueue {
public:
  static TMessageQueue& Instance() {
    static TMessageQueue q;
    return q;
  }

  void Enqueue(TMessageWindow* w, const TMessage& m, TSendState* s) {
    TWake wake;
    {
      std::lock_guard lock(FMutex);
      if (!FLive.count(w)) {
        if (s)
          s->Done = true;
        return;
      }
      TEntry* last = LastOf(w);
      const bool coalesced = !s && w->FCoalesceMsg != 0 && m.Msg == w->FCoalesceMsg;
      TEntry* entry = last;
      if (coalesced && last && !last->Sender && last->Message.Msg == m.Msg) {
        last->Message = m; // the newer report takes the waiting one's place
        if (FWakePending.count(w->FOwner))
          return; // the owner's pump is on its way
      } else {
        if (last && IsCoalesced(*last))
          last->Released = true; // it goes before this one, without waiting
        entry = &FEntries.emplace_back(TEntry{w, m, s, s ? ++FLastSerial : 0});
      }
      const auto now = TClock::now();
      if (coalesced && Held(*entry, now))
        wake = ArmFor(w->FOwner, w->FCoalesceDue, now);
      else if (!FWakePending.count(w->FOwner)) {
        FWakePending.insert(w->FOwner);
        wake = {FWakeup, std::chrono::milliseconds(0)};
      }
    }
    FCond.notify_all();
    wake.Call();
  }

  void Coalesce(TMessageWindow* w, uint32_t Msg, std::chrono::milliseconds Interval) {
    std::lock_guard lock(FMutex);
    w->FCoalesceMsg = Interval.count() > 0 ? Msg : 0;
    w->FCoalesceInterval = Interval;
    w->FCoalesceDue = {};
    for (auto& e : FEntries)
      if (e.Window == w)
        e.Released = true;
  }

  intptr_t Send(TMessageWindow* w, const TMessage& m) {
    TSendState state;
    Enqueue(w, m, &state);
    std::unique_lock lock(FMutex);
    FCond.wait(lock, [&] { return state.Done; });
    return state.Result;
  }

  // Takes the first pending entry for window w (any window of this thread when w is
  // null) that is not held back. Waiting, it wakes for the first held one's time. A
  // pump (w null) that leaves held messages behind arms a wakeup for their time, so
  // that none waits for a later post to be delivered.
  bool Take(TMessageWindow* w, TEntry& out, bool wait, TWake& wake) {
    auto self = std::this_thread::get_id();
    std::unique_lock lock(FMutex);
    if (!w) {
      FWakePending.erase(self);
      FTimedWake.erase(self);
    }
    for (;;) {
      const auto now = TClock::now();
      TClock::time_point due = TClock::time_point::max();
      for (auto it = FEntries.begin(); it != FEntries.end(); ++it) {
        if (w ? it->Window != w : it->Window->FOwner != self)
          continue;
        if (Held(*it, now)) {
          due = std::min(due, it->Window->FCoalesceDue);
          continue; // nothing of its window waits behind it
        }
        out = *it;
        FEntries.erase(it);
        if (out.Sender)
          FInFlight.emplace(out.Serial, TInFlight{out.Window, out.Sender});
        if (IsCoalesced(out))
          out.Window->FCoalesceDue = now + out.Window->FCoalesceInterval;
        return true;
      }
      if (!wait) {
        if (!w && due != TClock::time_point::max())
          wake = ArmFor(self, due, now);
        return false;
      }
      if (due == TClock::time_point::max())
        FCond.wait(lock);
      else
        FCond.wait_until(lock, due);
    }
  }

  void Finish(TEntry& e, intptr_t result) {
    if (!e.Sender)
      return;
    {
      std::lock_guard lock(FMutex);
      auto it = FInFlight.find(e.Serial);
      if (it == FInFlight.end())
        return; // released when its window closed: the sender may be gone
      e.Sender->Result = result;
      e.Sender->Done = true;
      FInFlight.erase(it);
    }
    FCond.notify_all();
  }

  bool Pending() {
    auto self = std::this_thread::get_id();
    const auto now = TClock::now();
    std::lock_guard lock(FMutex);
    for (auto& e : FEntries)
      if (e.Window->FOwner == self && !Held(e, now))
        return true;
    return false;
  }

  void Register(TMessageWindow* w) {
    std::lock_guard lock(FMutex);
    FLive.insert(w);
  }

  void Unregister(TMessageWindow* w) {
    {
      std::lock_guard lock(FMutex);
      FLive.erase(w);
      for (auto it = FEntries.begin(); it != FEntries.end();) {
        if (it->Window == w) {
          if (it->Sender)
            it->Sender->Done = true;
          it = FEntries.erase(it);
        } else {
          ++it;
        }
      }
      for (auto it = FInFlight.begin(); it != FInFlight.end();) {
        if (it->second.Window == w) {
          it->second.Sender->Done = true;
          it = FInFlight.erase(it);
        } else {
          ++it;
        }
      }
    }
    FCond.notify_all();
  }

  // Handles the next message for w (any window of this thread when w is null).
  static bool HandleNext(TMessageWindow* w, bool wait) {
    auto& q = Instance();
    TEntry e{};
    TWake wake;
    const bool taken = q.Take(w, e, wait, wake);
    wake.Call();
    if (!taken)
      return false;
    struct TRelease { // the sender is released even when the procedure throws
      TEntry& E;
      ~TRelease() { Instance().Finish(E, E.Message.Result); }
    } release{e};
    e.Window->Dispatch(e.Message);
    return true;
  }

  void SetWakeup(TMessageWakeup f) {
    std::lock_guard lock(FMutex);
    FWakeup = std::move(f);
    FWakePending.clear();
    FTimedWake.clear();
  }

private:
  static bool IsCoalesced(const TEntry& e) {
    return !e.Sender && e.Window->FCoalesceMsg != 0 && e.Message.Msg == e.Window->FCoalesceMsg;
  }
  // A coalesced message whose time has not come, with nothing of its window behind it.
  static bool Held(const TEntry& e, TClock::time_point now) {
    return IsCoalesced(e) && !e.Released && now < e.Window->FCoalesceDue;
  }
  // The wakeup for a message of Owner's that is held until Due, unless a pump is on its
  // way (it arms one itself for what it leaves held) or one is armed for Due or sooner.
  TWake ArmFor(std::thread::id Owner, TClock::time_point Due, TClock::time_point Now) {
    if (FWakePending.count(Owner))
      return {};
    auto armed = FTimedWake.find(Owner);
    if (armed != FTimedWake.end() && armed->second <= Due)
      return {};
    FTimedWake[Owner] = Due;
    // Rounded up: a wakeup before the time would find the message still held.
    auto delay = std::chrono::ceil<std::chrono::milliseconds>(Due - Now);
    return {FWakeup, std::max(delay, std::chrono::milliseconds(1))};
  }
  // The latest waiting entry of window w, or null.
  TEntry* LastOf(TMessageWindow* w) {
    for (auto it = FEntries.rbegin(); it != FEntries.rend(); ++it)
      if (it->Window == w)
        return &*it;
    return nullptr;
  }

  std::mutex FMutex;
  std::condition_variable FCond;
  std::deque<TEntry> FEntries;
  std::map<uint64_t, TInFlight> FInFlight;
  uint64_t FLastSerial = 0;
  std::set<TMessageWindow*> FLive;
  std::set<std::thread::id> FWakePending;                   // an immediate wakeup is on its way
  std::map<std::thread::id, TClock::time_point> FTimedWake; // a wakeup is armed for then
  TMessageWakeup FWakeup;
};

TMessageWindow::TMessageWindow(TWndProc WndProc)
    : FWndProc(std::move(WndProc)), FOwner(std::this_thread::get_id()) {
  TMessageQueue::Instance().Register(this);
}

TMessageWindow::~TMessageWindow() {
  Close();
}

void TMessageWindow::Close() {
  FClosed = true;
  TMessageQueue::Instance().Unregister(this);
}

void TMessageWindow::Dispatch(TMessage& Message) {
  if (FWndProc)
    FWndProc(Message);
}

void TMessageWindow::Post(uint32_t Msg, uintptr_t WParam, intptr_t LParam) {
  TMessageQueue::Instance().Enqueue(this, TMessage{Msg, WParam, LParam, 0}, nullptr);
}

void TMessageWindow::Coalesce(uint32_t Msg, std::chrono::milliseconds Interval) {
  TMessageQueue::Instance().Coalesce(this, Msg, Interval);
}

intptr_t TMessageWindow::Send(uint32_t Msg, uintptr_t WParam, intptr_t LParam) {
  TMessage m{Msg, WParam, LParam, 0};
  if (std::this_thread::get_id() == FOwner) {
    if (FClosed)
      return 0;
    Dispatch(m);
    return m.Result;
  }
  return TMessageQueue::Instance().Send(this, m);
}

bool TMessageWindow::ProcessOne() {
  return TMessageQueue::HandleNext(this, false);
}
void TMessageWindow::WaitOne() {
  TMessageQueue::HandleNext(this, true);
}

int ProcessMessages() {
  int n = 0;
  while (TMessageQueue::HandleNext(nullptr, false))
    ++n;
  return n;
}

bool MessagesPending() {
  return TMessageQueue::Instance().Pending();
}

void SetMessageWakeup(TMessageWakeup Wakeup) {
  TMessageQueue::Instance().SetWakeup(std::move(Wakeup));
}

} // namespace gf

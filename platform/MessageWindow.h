// Hidden message windows: a message posted or sent to a window is handled by its
// window procedure on the thread that created the window (its owner). Posting
// returns at once; sending blocks the sender until the owner has handled the
// message (a send from the owner thread itself calls the procedure directly).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <thread>

namespace gf {

constexpr uint32_t WM_USER = 0x0400;
constexpr uint32_t WM_DEVICECHANGE = 0x0219;

struct TMessage {
  uint32_t Msg = 0;
  uintptr_t WParam = 0;
  intptr_t LParam = 0;
  intptr_t Result = 0;
};

class TMessageWindow {
public:
  using TWndProc = std::function<void(TMessage&)>;

  explicit TMessageWindow(TWndProc WndProc);
  // Closes the window.
  ~TMessageWindow();
  TMessageWindow(const TMessageWindow&) = delete;
  TMessageWindow& operator=(const TMessageWindow&) = delete;

  void Post(uint32_t Msg, uintptr_t WParam = 0, intptr_t LParam = 0);
  // Coalesces the posted messages of number Msg, reports of which only the latest
  // matters (progress): one posted while another still waits as the window's latest
  // message takes its place, and the window is handed one no sooner than Interval
  // after the last. A later message of the window lets a waiting one go at once, so
  // the window still sees every other message, and the last report before it, in the
  // order they were posted. One message number per window; a zero Interval ends it.
  void Coalesce(uint32_t Msg, std::chrono::milliseconds Interval);
  intptr_t Send(uint32_t Msg, uintptr_t WParam = 0, intptr_t LParam = 0);

  // Stops taking messages: drops the pending posted ones and releases every sender
  // waiting on the window, also one whose message is being handled right now (its
  // handler's result then goes nowhere). Later posts are dropped and later sends
  // return 0 at once. Safe to call from any thread, and more than once.
  void Close();

  // Owner thread only. Handles one pending message of this window; false when none.
  bool ProcessOne();
  // Owner thread only. Waits until a message of this window is pending, then handles it.
  void WaitOne();

  std::thread::id Owner() const { return FOwner; }

private:
  friend class TMessageQueue;
  void Dispatch(TMessage& Message);

  TWndProc FWndProc;
  std::thread::id FOwner;
  std::atomic<bool> FClosed{false};
  // Guarded by the queue's lock.
  uint32_t FCoalesceMsg = 0; // 0: none
  std::chrono::steady_clock::duration FCoalesceInterval{};
  std::chrono::steady_clock::time_point FCoalesceDue{}; // when the next one may be handed out
};

// Handles every pending message of the windows that the calling thread owns,
// including those that arrive while it runs; returns how many it handled.
int ProcessMessages();

// Whether messages wait for windows of the calling thread.
bool MessagesPending();

// Called when messages start to wait for a thread's windows, so that an event loop can
// wake and call ProcessMessages after Delay: 0 when they can be handled now, else when
// the first of them comes due (a coalesced report held back for its time). A wakeup
// for now is made once until the next ProcessMessages on that thread, not once per
// message; one for later, once for each earlier time. It may be called from any thread,
// the pumping one included, and must not post, send or pump itself.
using TMessageWakeup = std::function<void(std::chrono::milliseconds Delay)>;
void SetMessageWakeup(TMessageWakeup Wakeup);

} // namespace gf

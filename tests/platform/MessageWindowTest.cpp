#include "MessageWindow.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace gf;

TEST(MessageWindow, PostedMessagesWaitForTheOwner) {
  std::vector<uint32_t> seen;
  TMessageWindow w([&](TMessage& m) { seen.push_back(m.Msg); });
  std::thread t([&] {
    w.Post(WM_USER + 1);
    w.Post(WM_USER + 2);
  });
  t.join();
  EXPECT_TRUE(seen.empty());
  EXPECT_TRUE(MessagesPending());
  EXPECT_EQ(ProcessMessages(), 2);
  EXPECT_EQ(seen, (std::vector<uint32_t>{WM_USER + 1, WM_USER + 2}));
  EXPECT_FALSE(MessagesPending());
}

TEST(MessageWindow, SendBlocksUntilHandledOnOwnerThread) {
  std::thread::id handledOn;
  TMessageWindow w([&](TMessage& m) {
    handledOn = std::this_thread::get_id();
    m.Result = static_cast<intptr_t>(m.WParam * 2);
  });
  std::atomic<bool> returned{false};
  intptr_t result = 0;
  std::thread t([&] {
    result = w.Send(WM_USER, 21);
    returned = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(returned);
  w.WaitOne();
  t.join();
  EXPECT_TRUE(returned);
  EXPECT_EQ(result, 42);
  EXPECT_EQ(handledOn, std::this_thread::get_id());
  // From the owner thread a send is a direct call.
  EXPECT_EQ(w.Send(WM_USER, 5), 10);
}

TEST(MessageWindow, ProcessOneTouchesOnlyItsWindow) {
  int a = 0, b = 0;
  TMessageWindow wa([&](TMessage&) { ++a; });
  TMessageWindow wb([&](TMessage&) { ++b; });
  wb.Post(1);
  wa.Post(1);
  EXPECT_TRUE(wa.ProcessOne());
  EXPECT_FALSE(wa.ProcessOne());
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, 0);
  ProcessMessages();
  EXPECT_EQ(b, 1);
}

TEST(MessageWindow, DestroyReleasesWaitingSender) {
  auto w = std::make_unique<TMessageWindow>([](TMessage&) {});
  std::thread t([&] { w->Send(WM_USER); });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  w.reset();
  t.join(); // would hang if the sender were not released
  SUCCEED();
}

TEST(MessageWindow, CloseReleasesTheSenderWhoseMessageIsBeingHandled) {
  std::atomic<bool> returned{false};
  bool returnedWithinHandler = false;
  int calls = 0;
  std::unique_ptr<TMessageWindow> w;
  w = std::make_unique<TMessageWindow>([&](TMessage& m) {
    ++calls;
    m.Result = 7;
    w->Close();
    for (int i = 0; i < 2000 && !returned; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    returnedWithinHandler = returned;
  });
  intptr_t result = -1;
  std::thread t([&] {
    result = w->Send(WM_USER);
    returned = true;
  });
  w->WaitOne();
  t.join();
  EXPECT_TRUE(returnedWithinHandler) << "the sender goes on before the handler returns";
  EXPECT_EQ(result, 0) << "the closed window's answer goes nowhere";

  // Closed: posts are dropped and sends return at once, from any thread.
  w->Post(WM_USER);
  EXPECT_FALSE(w->ProcessOne());
  EXPECT_EQ(w->Send(WM_USER), 0);
  std::thread([&] { result = w->Send(WM_USER); }).join();
  EXPECT_EQ(result, 0);
  EXPECT_EQ(calls, 1);
}

TEST(MessageWindow, WakeupOncePerBatch) {
  std::atomic<int> wakes{0};
  SetMessageWakeup([&](std::chrono::milliseconds) { ++wakes; });
  TMessageWindow w([](TMessage&) {});
  std::thread t([&] {
    for (int i = 0; i < 100; ++i)
      w.Post(WM_USER);
  });
  t.join();
  EXPECT_EQ(wakes, 1);
  ProcessMessages();
  w.Post(WM_USER);
  EXPECT_EQ(wakes, 2);
  ProcessMessages();
  SetMessageWakeup(nullptr);
}

namespace {
constexpr uint32_t Report = WM_USER + 2;
constexpr uint32_t Other = WM_USER + 3;
std::string Seen(const std::vector<TMessage>& Messages) {
  std::string s;
  for (auto& m : Messages)
    s += (m.Msg == Report ? "r" : "x") + std::to_string(m.WParam) + " ";
  return s;
}
} // namespace

// Reports replace the one still waiting, but never move past another message: the
// window sees the other messages, and the last report before each, in posting order.
TEST(MessageWindow, CoalescedReportsKeepTheLatestInPostingOrder) {
  struct {
    const char* what;
    std::vector<std::pair<uint32_t, uintptr_t>> posts;
    std::string want;
  } cases[] = {
      {"a run of reports", {{Report, 1}, {Report, 2}, {Report, 3}}, "r3 "},
      {"reports around others",
       {{Report, 1}, {Report, 2}, {Other, 1}, {Report, 3}, {Other, 2}, {Report, 4}, {Report, 5}},
       "r2 x1 r3 x2 r5 "},
      {"others only", {{Other, 1}, {Other, 2}}, "x1 x2 "},
  };
  for (auto& c : cases) {
    std::vector<TMessage> seen;
    TMessageWindow w([&](TMessage& m) { seen.push_back(m); });
    w.Coalesce(Report, std::chrono::milliseconds(1));
    std::thread([&] {
      for (auto& [msg, param] : c.posts)
        w.Post(msg, param);
    }).join();
    const auto count = static_cast<std::size_t>(std::count(c.want.begin(), c.want.end(), ' '));
    while (seen.size() < count)
      w.WaitOne(); // the last report may wait for its time
    EXPECT_FALSE(w.ProcessOne());
    EXPECT_EQ(Seen(seen), c.want) << c.what;
  }
}

// After a report has been handled the next waits for its time, held back from the
// pumps until it comes due or another message of the window follows it; a pump is
// woken for its time, so that it never waits for a later post to be delivered.
TEST(MessageWindow, ACoalescedReportWaitsForItsTime) {
  using std::chrono::milliseconds;
  std::vector<TMessage> seen;
  std::vector<milliseconds> wakes; // every post and pump below is on this thread
  SetMessageWakeup([&](milliseconds Delay) { wakes.push_back(Delay); });
  TMessageWindow w([&](TMessage& m) { seen.push_back(m); });
  w.Coalesce(Report, std::chrono::hours(1));
  w.Post(Report, 1);
  EXPECT_EQ(ProcessMessages(), 1) << "the first report goes at once";
  wakes.clear();
  w.Post(Report, 2);
  w.Post(Report, 3);
  EXPECT_FALSE(MessagesPending());
  EXPECT_EQ(ProcessMessages(), 0);
  ASSERT_FALSE(wakes.empty()) << "a report that waits arms a wakeup for its time";
  for (milliseconds d : wakes)
    EXPECT_GT(d, milliseconds(59 * 60 * 1000)) << "a held report wakes no pump before its time";
  w.Post(Other, 1);
  EXPECT_EQ(wakes.back(), milliseconds(0)) << "another message wakes the pump at once";
  EXPECT_EQ(ProcessMessages(), 2);
  EXPECT_EQ(Seen(seen), "r1 r3 x1 ");

  seen.clear();
  // Long enough that the report below is still held on a loaded machine.
  w.Coalesce(Report, milliseconds(200));
  w.Post(Report, 4);
  w.WaitOne();
  w.Post(Report, 5); // held for 200 ms: WaitOne waits for its time
  w.WaitOne();
  EXPECT_EQ(Seen(seen), "r4 r5 ");
  // The last report before a pause of the scanner: nothing is posted after it.
  wakes.clear();
  w.Post(Report, 6);
  EXPECT_EQ(ProcessMessages(), 0);
  ASSERT_FALSE(wakes.empty());
  const milliseconds delay = wakes.back();
  EXPECT_GT(delay, milliseconds(0));
  EXPECT_LE(delay, milliseconds(201));
  std::this_thread::sleep_for(delay);
  EXPECT_EQ(ProcessMessages(), 1) << "the wakeup for its time finds it due";
  EXPECT_EQ(Seen(seen), "r4 r5 r6 ");
  SetMessageWakeup(nullptr);
}

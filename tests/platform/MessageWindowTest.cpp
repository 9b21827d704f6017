#include "MessageWindow.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
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
  SetMessageWakeup([&] { ++wakes; });
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

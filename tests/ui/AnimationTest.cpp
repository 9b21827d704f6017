#include "Animation.h"

#include <QtCore/QBuffer>
#include <QtCore/QByteArray>
#include <QtCore/QCoreApplication>
#include <QtCore/QElapsedTimer>

#include <gtest/gtest.h>

using namespace gf;

namespace {

QByteArray Jpeg(QColor Color) {
  QImage img(20, 10, QImage::Format_RGB32);
  img.fill(Color);
  QByteArray bytes;
  QBuffer buf(&bytes);
  buf.open(QIODevice::WriteOnly);
  img.save(&buf, "JPG");
  return bytes;
}

struct TEvents {
  int Changes = 0;
  int Stops = 0;
};

void Watch(TAnimation& A, TEvents& E) {
  A.OnChange = [&E](TAnimation&) { ++E.Changes; };
  A.OnStop = [&E](TAnimation&) { ++E.Stops; };
}

void Fill(TAnimation& A, int N) {
  for (int i = 0; i < N; ++i)
    A.AddFrame(Jpeg(QColor::fromHsv(i * 30, 200, 200)));
}

} // namespace

TEST(Animation, NewPlayerHasNoFrameUntilOneIsAddedWithoutEvent) {
  TAnimation a;
  TEvents e;
  Watch(a, e);
  EXPECT_EQ(a.Index(), 0);
  EXPECT_EQ(a.CurrentFrame(), nullptr);
  EXPECT_FALSE(a.Active());
  EXPECT_FALSE(a.Loop);
  a.AddFrame(Jpeg(Qt::red));
  ASSERT_NE(a.CurrentFrame(), nullptr);
  EXPECT_EQ(a.CurrentFrame()->size(), QSize(20, 10));
  EXPECT_EQ(e.Changes, 0);
}

TEST(Animation, UndecodableFrameRaisesAndAddsNothing) {
  TAnimation a;
  EXPECT_THROW(a.AddFrame(QByteArray("not a picture")), EAnimationError);
  EXPECT_EQ(a.Count(), 0);
  EXPECT_THROW(a.GetFrame(0), std::out_of_range);
}

TEST(Animation, TickAtTheLastFrame) {
  struct TCase {
    bool Loop;
    int Index, Changes, Stops;
    bool Active;
  };
  for (TCase c : {TCase{true, 0, 1, 0, true}, TCase{false, 2, 0, 1, false}}) {
    SCOPED_TRACE(c.Loop);
    TAnimation a;
    Fill(a, 3);
    a.SetIndex(2);
    TEvents e;
    Watch(a, e);
    a.Loop = c.Loop;
    a.Start();
    a.Tick();
    EXPECT_EQ(a.Index(), c.Index);
    EXPECT_EQ(e.Changes, c.Changes);
    EXPECT_EQ(e.Stops, c.Stops);
    EXPECT_EQ(a.Active(), c.Active);
  }
}

TEST(Animation, StartAndStopTwiceRaiseNothingMore) {
  TAnimation a;
  TEvents e;
  Watch(a, e);
  a.Stop();
  EXPECT_EQ(e.Stops, 0);
  a.Start();
  a.Start();
  EXPECT_TRUE(a.Active());
  a.Stop();
  a.Stop();
  EXPECT_EQ(e.Stops, 1);
  EXPECT_EQ(e.Changes, 0);
}

TEST(Animation, SetIndexClampsAndRaisesOnlyOnMove) {
  TAnimation a;
  Fill(a, 11);
  TEvents e;
  Watch(a, e);
  a.SetIndex(0);
  EXPECT_EQ(e.Changes, 0);
  a.SetIndex(100);
  EXPECT_EQ(a.Index(), 10);
  a.SetIndex(-5);
  EXPECT_EQ(a.Index(), 0);
  EXPECT_EQ(e.Changes, 2);
}

TEST(Animation, DeletingTheCurrentLastFrameMovesToTheNewLast) {
  TAnimation a;
  Fill(a, 3);
  a.SetIndex(2);
  TEvents e;
  Watch(a, e);
  a.Delete(2);
  EXPECT_EQ(a.Index(), 1);
  EXPECT_EQ(e.Changes, 1);
  a.Delete(7); // ignored
  a.Delete(-1);
  EXPECT_EQ(a.Count(), 2);
}

TEST(Animation, DeletingTheOnlyFrameLeavesNoCurrentFrame) {
  TAnimation a;
  Fill(a, 1);
  a.Delete(0);
  EXPECT_EQ(a.Index(), -1);
  EXPECT_EQ(a.CurrentFrame(), nullptr);
}

TEST(Animation, ResetStandsOnTheFirstFrameOrNone) {
  TAnimation a;
  TEvents e;
  Watch(a, e);
  a.Reset();
  EXPECT_EQ(a.Index(), -1);
  EXPECT_EQ(e.Changes, 0);
  Fill(a, 2);
  a.Reset();
  EXPECT_EQ(a.Index(), 0);
  EXPECT_EQ(e.Changes, 1);
}

TEST(Animation, ClearWhilePlayingKeepsTheTimerRunning) {
  for (bool loop : {false, true}) {
    SCOPED_TRACE(loop);
    TAnimation a;
    Fill(a, 3);
    a.Loop = loop;
    a.Start();
    a.Clear();
    EXPECT_TRUE(a.Active());
    EXPECT_EQ(a.Index(), -1);
    TEvents e;
    Watch(a, e);
    a.Tick();
    a.Tick();
    EXPECT_EQ(a.Active(), loop);
    EXPECT_EQ(a.Index(), -1);
    EXPECT_EQ(e.Changes, 0);
    EXPECT_EQ(e.Stops, loop ? 0 : 1);
  }
}

TEST(Animation, TimerStepsThroughTheFramesAndStopsAtTheEnd) {
  TAnimation a;
  Fill(a, 3);
  a.SetInterval(5);
  EXPECT_EQ(a.Interval(), 5);
  TEvents e;
  Watch(a, e);
  a.Start();
  QElapsedTimer t;
  t.start();
  while (a.Active() && t.elapsed() < 5000)
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
  EXPECT_FALSE(a.Active());
  EXPECT_EQ(a.Index(), 2);
  EXPECT_EQ(e.Changes, 2);
  EXPECT_EQ(e.Stops, 1);
}

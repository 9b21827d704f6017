// The splash and message windows, and the application's handler for escaped errors.
#include "Application.h"
#include "Desktop.h"
#include "MessageForm.h"
#include "Splash.h"
#include "TestDesktop.h"

#include <QtCore/QTimer>
#include <QtGui/QTextBlock>
#include <QtTest/QTest>
#include <QtWidgets/QLabel>
#include <QtWidgets/QPlainTextEdit>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QScrollBar>
#include <QtWidgets/QToolButton>

#include <gtest/gtest.h>

#include <stdexcept>

using namespace gf;

TEST(Splash, TakesThePicturesSizeAndStaysOnTop) {
  TFormSplash s;
  QImage about(":/ABOUT.jpg");
  ASSERT_FALSE(about.isNull());
  EXPECT_EQ(s.size(), about.size());
  EXPECT_EQ(s.ImageSplash->size(), about.size());
  EXPECT_TRUE(s.windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_TRUE(s.windowFlags() & Qt::FramelessWindowHint);
  EXPECT_EQ(s.Timer1.interval(), 5000);
  EXPECT_FALSE(s.Timer1.isActive());
}

TEST(Splash, HidesItselfAfterItWasShownWithoutBeingActivated) {
  TFormSplash s;
  s.Timer1.setInterval(30);
  s.show(); // offscreen windows are never activated by a window manager
  EXPECT_TRUE(s.Timer1.isActive());
  for (int i = 0; i < 100 && s.isVisible(); ++i)
    QTest::qWait(10);
  EXPECT_FALSE(s.isVisible());
}

TEST(MessageForm, ShowsTheTextModallyReadOnlyWithScrollBar) {
  TFormMessage m(nullptr);
  EXPECT_EQ(m.windowTitle(), "Information");
  EXPECT_EQ(m.size(), QSize(585, 296));
  EXPECT_EQ(m.PanelBottom->height(), 38);
  EXPECT_EQ(m.SpeedButton1->text(), "&OK");
  EXPECT_FALSE(m.windowFlags() & Qt::WindowCloseButtonHint);
  std::string text;
  for (int i = 0; i < 60; ++i)
    text += "Line " + std::to_string(i) + "\r\n";
  bool wasModal = false;
  QTimer::singleShot(0, &m, [&] {
    wasModal = m.isModal() && m.isVisible();
    QTest::mouseClick(m.SpeedButton1, Qt::LeftButton);
  });
  m.ShowText(text);
  EXPECT_TRUE(wasModal);
  EXPECT_FALSE(m.isVisible());
  EXPECT_TRUE(m.Memo1->isReadOnly());
  EXPECT_EQ(m.Memo1->document()->blockCount(), 61);
  EXPECT_EQ(m.Memo1->document()->findBlockByNumber(1).text(), "Line 1");
  EXPECT_GT(m.Memo1->verticalScrollBar()->maximum(), 0);
  m.SetText("");
  EXPECT_EQ(m.Memo1->toPlainText(), "");
}

namespace {
class TThrowingObject : public QObject {
protected:
  bool event(QEvent* Event) override {
    if (Event->type() == QEvent::User)
      throw std::runtime_error("Event failed");
    return QObject::event(Event);
  }
};
} // namespace

TEST(Application, AnErrorEscapingAHandlerIsShownAndTheProgramGoesOn) {
  test::TTestDesktop desktop;
  auto* app = static_cast<TApplication*>(QCoreApplication::instance());
  app->SetDesktop(&desktop);
  QPushButton button;
  QObject::connect(&button, &QPushButton::clicked, &button,
                   Guarded([] { throw std::runtime_error("Handler failed"); }));
  button.resize(50, 20);
  button.show();
  QTest::mouseClick(&button, Qt::LeftButton);
  QTest::mouseClick(&button, Qt::LeftButton);
  // The last resort: an error that leaves an event handler reaches the application.
  TThrowingObject object;
  QEvent event(QEvent::User);
  QCoreApplication::sendEvent(&object, &event);
  app->SetDesktop(nullptr);
  ASSERT_EQ(desktop.Boxes.size(), 3u);
  EXPECT_EQ(desktop.Boxes[0].Kind, TBoxKind::Error);
  EXPECT_EQ(desktop.Boxes[0].Title, "Error");
  EXPECT_EQ(desktop.Boxes[0].Text, "Handler failed");
  EXPECT_EQ(desktop.Boxes[2].Text, "Event failed");
}

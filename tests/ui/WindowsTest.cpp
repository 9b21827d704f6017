// The splash and message windows, and the application's handler for escaped errors.
#include "Application.h"
#include "Desktop.h"
#include "DibGraphic.h"
#include "JpegGraphic.h"
#include "MessageForm.h"
#include "PngGraphic.h"
#include "Recognizer.h"
#include "Splash.h"
#include "TestDesktop.h"
#include "TestPictures.h"
#include "TiffGraphic.h"

#include <QtCore/QElapsedTimer>
#include <QtCore/QTimer>
#include <QtGui/QTextBlock>
#include <QtTest/QTest>
#include <QtWidgets/QApplication>
#include <QtWidgets/QLabel>
#include <QtWidgets/QMessageBox>
#include <QtWidgets/QPlainTextEdit>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QScrollBar>
#include <QtWidgets/QToolButton>

#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>
#include <sys/stat.h>

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

TEST(Splash, GivesWayToTheProgramsModalWindows) {
  TFormSplash s;
  s.show();
  QDialog nonModal;
  nonModal.show(); // the main window, the debug window: the splash stays above them
  EXPECT_TRUE(s.isVisible());
  QDialog question;
  question.setModal(true);
  question.show();
  EXPECT_FALSE(s.isVisible());
  question.hide();
  EXPECT_FALSE(s.isVisible());
}

TEST(MessageForm, OkHasTheFocusAndEnterOrSpaceCloses) {
  TFormMessage m(nullptr);
  for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space}) {
    SCOPED_TRACE(key);
    QWidget* focus = nullptr;
    QTimer::singleShot(0, &m, [&] {
      (void)QTest::qWaitForWindowActive(&m);
      focus = QApplication::focusWidget();
      if (focus)
        QTest::keyClick(focus, key);
    });
    // A stuck window must not stop the test run.
    QTimer::singleShot(3000, &m, [&] { m.reject(); });
    QElapsedTimer t;
    t.start();
    m.ShowText("Scan Completed.");
    EXPECT_LT(t.elapsed(), 2500);
    EXPECT_EQ(focus, m.SpeedButton1);
    EXPECT_EQ(m.result(), QDialog::Accepted);
  }
}

namespace {

// The desktop with its real opener, and its boxes recorded instead of shown.
class TRecordingQtDesktop : public TQtDesktop {
public:
  using TQtDesktop::TQtDesktop;
  TBoxAnswer MessageBox(QWidget*, TBoxKind Kind, const std::string& Text, TBoxButtons) override {
    Boxes.push_back({Kind, Text});
    return TBoxAnswer::Ok;
  }
  std::vector<std::pair<TBoxKind, std::string>> Boxes;
};

std::string Script(const std::string& Dir, const std::string& Name, const std::string& Body) {
  std::string path = Dir + "/" + Name;
  test::WriteFile(path, std::vector<uint8_t>(Body.begin(), Body.end()));
  chmod(path.c_str(), 0755);
  return path;
}

} // namespace

TEST(QtDesktop, OpenGoesToTheOpenerAndAFailureIsShown) {
  test::TTempDir dir;
  std::string seen = dir.Path + "/seen";
  struct TCase {
    const char* What;
    std::string Opener;
    std::string Box; // empty: no box
  };
  const TCase cases[] = {
      {"opened", Script(dir.Path, "ok", "#!/bin/sh\necho \"$1|$PWD\" > " + seen + "\n"), ""},
      {"no opener installed", dir.Path + "/none",
       "Cannot open T.\r\nThe desktop's opener " + dir.Path +
           "/none was not found: install the package xdg-utils."},
      {"file missing", Script(dir.Path, "missing", "#!/bin/sh\nexit 2\n"),
       "Cannot open T.\r\nThe file does not exist."},
      {"no program for it", Script(dir.Path, "noprog", "#!/bin/sh\nexit 3\n"),
       "Cannot open T.\r\nThe desktop has no program to open it (" + dir.Path +
           "/noprog ended with code 3)."},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    std::filesystem::remove(seen);
    TRecordingQtDesktop desktop(c.Opener);
    desktop.Open(nullptr, "T", dir.Path);
    QElapsedTimer t;
    t.start();
    while (desktop.Boxes.empty() && !std::filesystem::exists(seen) && t.elapsed() < 5000)
      QTest::qWait(10);
    QTest::qWait(50);
    if (c.Box.empty()) {
      EXPECT_TRUE(desktop.Boxes.empty());
      auto bytes = test::ReadFile(seen);
      EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "T|" + dir.Path + "\n");
    } else {
      ASSERT_EQ(desktop.Boxes.size(), 1u);
      EXPECT_EQ(desktop.Boxes[0].first, TBoxKind::Error);
      EXPECT_EQ(desktop.Boxes[0].second, c.Box);
    }
  }
}

// Enter presses the box's default button: Yes for an ordinary question, No for one whose
// Yes may cost the user data. Ok boxes answer Ok.
TEST(QtDesktop, EnterInABoxAnswersItsDefault) {
  TQtDesktop desktop;
  struct TCase {
    TBoxButtons Buttons;
    TBoxAnswer Enter;
  };
  const TCase cases[] = {{TBoxButtons::YesNo, TBoxAnswer::Yes},
                         {TBoxButtons::YesNoDefaultNo, TBoxAnswer::No},
                         {TBoxButtons::Ok, TBoxAnswer::Ok}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.Buttons));
    bool shown = false;
    QTimer::singleShot(0, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box)
        return;
      shown = true;
      QTest::keyClick(box, Qt::Key_Return);
      if (box->isVisible())
        box->done(-1); // the test fails below, not hangs
    });
    EXPECT_EQ(desktop.MessageBox(nullptr, TBoxKind::Warning, "Continue?", c.Buttons), c.Enter);
    EXPECT_TRUE(shown);
  }
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

// The test program starts as the program does (RegisterModules): every image class the
// program reads through the registry, the clipboard's bitmap class, and the recognizers.
TEST(Application, TheModulesRegisterEveryClassAtStart) {
  struct TCase {
    const char* Ext;
    const TGraphicClass* Class;
  };
  const TCase cases[] = {
      {"PNG", &TPngGraphic::Class},  {"TIF", &TTiffGraphic::Class},  {"TIFF", &TTiffGraphic::Class},
      {"JPG", &TJpegGraphic::Class}, {"JPEG", &TJpegGraphic::Class},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Ext);
    EXPECT_EQ(TPicture::FileFormatClass(c.Ext), c.Class);
  }
  EXPECT_EQ(TPicture::ClipboardFormatClass(CF_BITMAP), &TDibGraphic::Class);
  EXPECT_GT(Recognizers().Count(), 0);
}

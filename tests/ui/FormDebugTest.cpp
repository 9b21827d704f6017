#include "FormDebug.h"
#include "Application.h"
#include "Debug.h"
#include "LogCapture.h"
#include "TestDesktop.h"

#include <QtCore/QCoreApplication>
#include <QtTest/QTest>
#include <QtWidgets/QListView>
#include <QtWidgets/QPushButton>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>
#include <unistd.h>

using namespace gf;
namespace fs = std::filesystem;

namespace {

class FormDebugTest : public ::testing::Test {
protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "gf_dbg_XXXXXX").string();
    Dir = mkdtemp(tmpl.data());
  }
  void TearDown() override { fs::remove_all(Dir); }
  std::vector<std::string> Rows(const TFormDebug& F) {
    std::vector<std::string> r;
    for (int i = 0; i < F.Model().rowCount({}); ++i)
      r.push_back(F.Model().index(i).data().toString().toStdString());
    return r;
  }
  static std::string Read(const std::string& Name) {
    std::ifstream f(Name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
  }
  test::TLogCapture Log;
  test::TTestDesktop Desktop;
  std::string Dir;
};

} // namespace

TEST_F(FormDebugTest, LooksAsDesigned) {
  TFormDebug f(Desktop);
  EXPECT_EQ(f.windowTitle(), "Debug Output");
  EXPECT_EQ(f.size(), QSize(653, 298));
  EXPECT_EQ(f.Button1->text(), "&Save");
  EXPECT_EQ(f.Button2->text(), "&Clear");
  EXPECT_EQ(f.Button1->size(), QSize(75, 25));
  EXPECT_EQ(f.Panel1->height(), 39);
  EXPECT_FALSE(f.isVisible());
}

TEST_F(FormDebugTest, ShowsEveryLineLoggedWhileHiddenAndCloseOnlyHides) {
  TFormDebug f(Desktop);
  DebugLog("MEDIUM: one");
  f.show();
  EXPECT_EQ(Rows(f), (std::vector<std::string>{"MEDIUM: one"}));
  f.close();
  EXPECT_FALSE(f.isVisible());
  std::thread worker([] {
    for (int i = 0; i < 500; ++i)
      DebugLog("JPG: line %d", i);
  });
  worker.join();
  DebugLog("MAIN: last");
  f.show();
  auto rows = Rows(f);
  ASSERT_EQ(rows.size(), 502u);
  EXPECT_EQ(rows[1], "JPG: line 0");
  EXPECT_EQ(rows.back(), "MAIN: last");
}

// Escape closes the window, which only hides it, wherever the focus is in it.
TEST_F(FormDebugTest, EscapeHidesAndTheLinesStay) {
  TFormDebug f(Desktop);
  struct {
    const char* what;
    QWidget* focus;
  } cases[] = {{"list", f.LB}, {"Save button", f.Button1}, {"Clear button", f.Button2}};
  DebugLog("MEDIUM: one");
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    f.show();
    c.focus->setFocus();
    ASSERT_TRUE(f.isVisible());
    QTest::keyClick(c.focus, Qt::Key_Escape);
    EXPECT_FALSE(f.isVisible());
  }
  f.show();
  EXPECT_EQ(Rows(f), (std::vector<std::string>{"MEDIUM: one"}));
}

TEST_F(FormDebugTest, PollFollowsTheStoreIncludingAClearByAnyone) {
  TFormDebug f(Desktop);
  f.show();
  DebugLog("a");
  DebugLog("b");
  for (int i = 0; i < 50 && f.Model().rowCount({}) < 2; ++i)
    QTest::qWait(20);
  EXPECT_EQ(Rows(f), (std::vector<std::string>{"a", "b"}));
  // Cleared elsewhere and refilled with as many lines: the rows must not keep "a", "b".
  TDebugLines::Instance().Clear();
  DebugLog("c");
  DebugLog("d");
  DebugLog("e");
  f.Sync();
  EXPECT_EQ(Rows(f), (std::vector<std::string>{"c", "d", "e"}));
}

TEST_F(FormDebugTest, SaveWritesEveryLineAndClearEmpties) {
  TFormDebug f(Desktop);
  f.show();
  std::string name = Dir + "/log.TXT";
  Desktop.SaveAnswer = name;
  QTest::mouseClick(f.Button1, Qt::LeftButton); // empty list: empty file
  EXPECT_EQ(Desktop.SaveFilter, "Text files (*.TXT)");
  EXPECT_EQ(Desktop.SaveSuffix, "TXT");
  EXPECT_TRUE(fs::exists(name));
  EXPECT_EQ(Read(name), "");
  DebugLog("one");
  DebugLog("two %d", 2);
  f.Button1Click();
  EXPECT_EQ(Read(name), "one\ntwo 2\n");
  QTest::mouseClick(f.Button2, Qt::LeftButton);
  EXPECT_EQ(f.Model().rowCount({}), 0);
  EXPECT_EQ(TDebugLines::Instance().Count(), 0u);
  DebugLog("three");
  f.Button1Click(); // replaces the file
  EXPECT_EQ(Read(name), "three\n");
}

TEST_F(FormDebugTest, CancelledSaveWritesNothing) {
  TFormDebug f(Desktop);
  DebugLog("one");
  Desktop.SaveAnswer = "";
  f.Button1Click();
  EXPECT_TRUE(fs::is_empty(Dir));
}

TEST_F(FormDebugTest, FailedSaveIsShownInABoxAndTheListStays) {
  TFormDebug f(Desktop);
  f.show();
  DebugLog("one");
  Desktop.SaveAnswer = Dir + "/no/such/folder/log.TXT";
  // The click goes through the application, whose handler shows the error.
  auto* app = static_cast<TApplication*>(QCoreApplication::instance());
  app->SetDesktop(&Desktop);
  QTest::mouseClick(f.Button1, Qt::LeftButton);
  app->SetDesktop(nullptr);
  ASSERT_EQ(Desktop.Boxes.size(), 1u);
  EXPECT_EQ(Desktop.Boxes[0].Kind, TBoxKind::Error);
  EXPECT_NE(Desktop.Boxes[0].Text.find("Cannot create file"), std::string::npos);
  f.Sync();
  EXPECT_EQ(f.Model().rowCount({}), 2); // "one" and the handler's log line
}

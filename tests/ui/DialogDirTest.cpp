// The folder chooser over a folder tree of the tests' own: preselection, OK and Cancel,
// New, in-place renaming and its refusals, and the path label.
#include "DialogDir.h"
#include "Debug.h"
#include "LoggedTest.h"
#include "TestDesktop.h"
#include "TestPictures.h"

#include <QtCore/QTimer>
#include <QtGui/QScreen>
#include <QtTest/QTest>
#include <QtWidgets/QLabel>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QToolButton>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <sys/stat.h>

using namespace gf;
using namespace gf::test;
namespace fs = std::filesystem;

namespace {

class DialogDirTest : public TLoggedTest {
protected:
  void SetUp() override {
    TLoggedTest::SetUp();
    Root = Dir.Path + "/root";
    for (const char* d : {"/Pictures/2024", "/Pictures/Recovered", "/Music", "/.cache/thumbs"})
      fs::create_directories(Root + d);
    Dialog = std::make_unique<TDialogSelectDir>(
        Desktop, nullptr,
        std::vector<TFolderModel::TRoot>{{"Tests", QString::fromStdString(Root)},
                                         {"File system", "/"}});
  }

  QModelIndex Find(const std::string& Path) {
    return Dialog->Model().FindPath(QString::fromStdString(Path));
  }

  // Runs the dialog; Act runs inside it once it is shown.
  bool Run(const std::function<void()>& Act) {
    QTimer::singleShot(0, Dialog.get(), [&] {
      Act();
      if (Dialog->isVisible())
        Dialog->reject();
    });
    return Dialog->Execute();
  }

  // Delivers what the dialog posted to itself (the refresh after a rename).
  static void Settle() {
    for (int i = 0; i < 3; ++i) {
      QCoreApplication::sendPostedEvents();
      QCoreApplication::processEvents();
    }
  }

  // Starts an in-place rename of the selected folder and hands in Name; false when the
  // edit was refused before it started.
  bool RenameSelected(const QString& Name) {
    Dialog->STV->edit(Dialog->STV->currentIndex());
    auto* editor = qobject_cast<QLineEdit*>(Dialog->STV->indexWidget(Dialog->STV->currentIndex()));
    if (!Dialog->STV->Editing() || !editor)
      return false;
    editor->setText(Name);
    QTest::keyClick(editor, Qt::Key_Return);
    Settle();
    return true;
  }

  TTempDir Dir;
  std::string Root;
  TTestDesktop Desktop;
  std::unique_ptr<TDialogSelectDir> Dialog;
};

} // namespace

TEST_F(DialogDirTest, LooksAsDesigned) {
  EXPECT_EQ(Dialog->windowTitle(), "Choose directory...");
  EXPECT_EQ(Dialog->size(), QSize(329, 264));
  EXPECT_EQ(Dialog->Label1->x(), 12);
  EXPECT_EQ(Dialog->SpeedButton3->text(), "&New");
  EXPECT_EQ(Dialog->SpeedButton1->text(), "&OK");
  EXPECT_EQ(Dialog->SpeedButton2->text(), "&Cancel");
  for (QWidget* w : Dialog->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
    EXPECT_TRUE(QRect(0, 0, 329, 264).contains(w->geometry())) << w->metaObject()->className();
  std::vector<TFolderModel::TRoot> roots = TFolderModel::DefaultRoots();
  ASSERT_GE(roots.size(), 2u);
  EXPECT_EQ(roots.front().Path, QDir::homePath());
  EXPECT_EQ(roots.back().Path, "/");
}

TEST_F(DialogDirTest, SetDirectoryEndsWithOneSlash) {
  struct TCase {
    std::string In, Out;
  };
  for (const TCase& c : {TCase{"/media/card/DCIM", "/media/card/DCIM/"},
                         TCase{"/media/card/DCIM/", "/media/card/DCIM/"}, TCase{"", "/"}}) {
    Dialog->SetDirectory(c.In);
    EXPECT_EQ(Dialog->Directory(), c.Out) << c.In;
  }
}

TEST_F(DialogDirTest, OkAnswersTheSelectedFolderAndCancelKeepsTheLastOne) {
  Dialog->SetDirectory(Root + "/Pictures/2024");
  EXPECT_TRUE(Run([this] {
    EXPECT_EQ(Dialog->SelectedPath(), Root + "/Pictures/2024");
    EXPECT_EQ(Dialog->Label1->text().toStdString(), Root + "/Pictures/2024");
    ASSERT_TRUE(Dialog->SetPath(Root + "/Music/"));
    QTest::mouseClick(Dialog->SpeedButton1, Qt::LeftButton);
  }));
  EXPECT_EQ(Dialog->Directory(), Root + "/Music/");
  EXPECT_FALSE(Run([this] {
    ASSERT_TRUE(Dialog->SetPath(Root + "/Pictures"));
    QTest::mouseClick(Dialog->SpeedButton2, Qt::LeftButton);
  }));
  EXPECT_EQ(Dialog->Directory(), Root + "/Music/");
}

// Enter presses OK wherever the focus is, except where the focus takes it for itself:
// a button presses itself, an open name editor hands in the name.
TEST_F(DialogDirTest, EnterPressesOkUnlessTheFocusTakesIt) {
  struct TCase {
    const char* What;
    Qt::Key Key;
    Qt::KeyboardModifiers Modifiers;
    std::function<QWidget*()> Focus; // selects and gives the focus; answers the key's target
    bool Open;                       // the dialog is still shown after the key
    bool Accepted;
    std::string Directory; // afterwards
  };
  const std::string music = Root + "/Music/";
  auto tree = [this] {
    Dialog->SetPath(Root + "/Music");
    Dialog->STV->setFocus();
    return static_cast<QWidget*>(Dialog->STV);
  };
  const TCase cases[] = {
      {"the folder tree", Qt::Key_Return, Qt::NoModifier, tree, false, true, music},
      {"the keypad's Enter", Qt::Key_Enter, Qt::KeypadModifier, tree, false, true, music},
      {"the Cancel button", Qt::Key_Return, Qt::NoModifier,
       [this] {
         Dialog->SetPath(Root + "/Music");
         Dialog->SpeedButton2->setFocus();
         return static_cast<QWidget*>(Dialog->SpeedButton2);
       },
       false, false, Root + "/Pictures/"},
      {"no folder selected", Qt::Key_Return, Qt::NoModifier,
       [this] {
         Dialog->STV->clearSelection();
         Dialog->STV->setFocus();
         return static_cast<QWidget*>(Dialog->STV);
       },
       true, false, Root + "/Pictures/"},
      {"a name being edited", Qt::Key_Return, Qt::NoModifier,
       [this]() -> QWidget* {
         Dialog->SetPath(Root + "/Music");
         Dialog->STV->edit(Dialog->STV->currentIndex());
         auto* editor =
             qobject_cast<QLineEdit*>(Dialog->STV->indexWidget(Dialog->STV->currentIndex()));
         if (editor)
           editor->setText("Songs");
         return editor;
       },
       true, false, Root + "/Pictures/"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    Dialog->SetDirectory(Root + "/Pictures");
    bool open = false;
    bool accepted = Run([&] {
      QWidget* target = c.Focus();
      ASSERT_NE(target, nullptr);
      QTest::keyClick(target, c.Key, c.Modifiers);
      Settle();
      open = Dialog->isVisible();
    });
    EXPECT_EQ(open, c.Open);
    EXPECT_EQ(accepted, c.Accepted);
    EXPECT_EQ(Dialog->Directory(), c.Directory);
  }
  EXPECT_TRUE(fs::is_directory(Root + "/Songs")) << "the edited name was handed in";
  EXPECT_FALSE(fs::exists(Root + "/Music"));
}

// With no folder selected, OK is off: it cannot answer "/" for nothing.
TEST_F(DialogDirTest, OkIsOffUntilAFolderIsSelected) {
  Dialog->SetDirectory(Root + "/gone");
  EXPECT_FALSE(Run([this] {
    EXPECT_EQ(Dialog->SelectedPath(), "");
    EXPECT_FALSE(Dialog->SpeedButton1->isEnabled());
    EXPECT_EQ(Dialog->Label1->text(), "");
    QTest::mouseClick(Dialog->SpeedButton1, Qt::LeftButton); // does nothing
    EXPECT_TRUE(Dialog->isVisible());
    Dialog->STV->setCurrentIndex(Find(Root + "/Music"));
    EXPECT_TRUE(Dialog->SpeedButton1->isEnabled());
    Dialog->STV->clearSelection();
    EXPECT_FALSE(Dialog->SpeedButton1->isEnabled());
  }));
  EXPECT_EQ(Dialog->Directory(), Root + "/gone/");
}

// With no folder selected, New is off as OK is: it would make "/New Folder".
TEST_F(DialogDirTest, NewIsOffUntilAFolderIsSelected) {
  const bool existed = fs::exists("/New Folder");
  Dialog->SetDirectory(Root + "/gone");
  Run([this] {
    EXPECT_FALSE(Dialog->SpeedButton3->isEnabled());
    Dialog->SpeedButton3Click(); // as a shortcut would
    EXPECT_TRUE(Dialog->isEnabled());
    Dialog->STV->setCurrentIndex(Find(Root + "/Music"));
    EXPECT_TRUE(Dialog->SpeedButton3->isEnabled());
    Dialog->STV->clearSelection();
    EXPECT_FALSE(Dialog->SpeedButton3->isEnabled());
  });
  EXPECT_EQ(fs::exists("/New Folder"), existed);
  if (!existed && fs::exists("/New Folder"))
    fs::remove("/New Folder");
  EXPECT_FALSE(fs::exists(Root + "/Music/New Folder"));
}

// The dialog's frame is centred on the screen at every show, the first one included.
TEST_F(DialogDirTest, CentredAtEveryShow) {
  std::vector<QPoint> places;
  for (int i = 0; i < 2; ++i)
    Run([&] {
      QRect frame = Dialog->frameGeometry();
      QRect box(QPoint(), frame.size());
      box.moveCenter(Dialog->screen()->availableGeometry().center());
      EXPECT_EQ(frame.topLeft(), box.topLeft()) << "show " << i;
      places.push_back(frame.topLeft());
    });
  ASSERT_EQ(places.size(), 2u);
  EXPECT_EQ(places[0], places[1]);
}

// With a main window, every show is centred on it, frames included; moving the main
// window between shows moves the next one with it.
TEST_F(DialogDirTest, CentredOnTheMainWindowAtEveryShow) {
  QWidget main;
  main.resize(795, 551);
  main.move(30, 40);
  main.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&main));
  TDialogSelectDir dialog(Desktop, &main, {{"Tests", QString::fromStdString(Root)}});
  std::vector<QRect> frames;
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    if (i == 3) {
      main.move(120, 10);
      QTest::qWait(100);
    }
    QTimer::singleShot(0, &dialog, [&] {
      // Under a window manager the frame comes a moment after the window is mapped.
      EXPECT_TRUE(QTest::qWaitForWindowExposed(&dialog));
      QTest::qWait(150);
      QRect frame = dialog.frameGeometry();
      QPoint off = frame.center() - main.frameGeometry().center();
      EXPECT_LE(off.manhattanLength(), 1)
          << "dialog " << frame.x() << "," << frame.y() << " " << frame.width() << "x"
          << frame.height() << ", main " << main.frameGeometry().x() << ","
          << main.frameGeometry().y();
      frames.push_back(frame);
      dialog.reject();
    });
    dialog.Execute();
  }
  ASSERT_EQ(frames.size(), 4u);
  EXPECT_EQ(frames[1], frames[0]);
  EXPECT_EQ(frames[2], frames[0]);
}

TEST_F(DialogDirTest, HiddenFoldersShowOnlyWhenAskedForByPath) {
  Dialog->Model().PopulateNode(Find(Root));
  QModelIndex root = Find(Root);
  std::vector<QString> names;
  for (int i = 0; i < Dialog->Model().rowCount(root); ++i)
    names.push_back(Dialog->Model().index(i, 0, root).data().toString());
  EXPECT_EQ(names, (std::vector<QString>{"Music", "Pictures"}));
  EXPECT_TRUE(Dialog->SetPath(Root + "/.cache/thumbs"));
  EXPECT_EQ(Dialog->SelectedPath(), Root + "/.cache/thumbs");
}

TEST_F(DialogDirTest, NewThreeTimesUnderAFolder) {
  Run([this] {
    for (const char* expected : {"New Folder", "New Folder 2", "New Folder 3"}) {
      SCOPED_TRACE(expected);
      ASSERT_TRUE(Dialog->SetPath(Root + "/Pictures"));
      QTest::mouseClick(Dialog->SpeedButton3, Qt::LeftButton);
      EXPECT_TRUE(fs::is_directory(Root + "/Pictures/" + expected));
      EXPECT_EQ(Dialog->SelectedPath(), Root + "/Pictures/" + expected);
      EXPECT_TRUE(Dialog->STV->Editing()); // its name is open
      EXPECT_TRUE(Dialog->isEnabled());
    }
    // The name typed into the open editor renames the last new folder.
    auto* editor = qobject_cast<QLineEdit*>(Dialog->STV->indexWidget(Dialog->STV->currentIndex()));
    ASSERT_NE(editor, nullptr);
    editor->setText("Beach");
    QTest::keyClick(editor, Qt::Key_Return);
    Settle();
    EXPECT_TRUE(fs::is_directory(Root + "/Pictures/Beach"));
    EXPECT_FALSE(fs::exists(Root + "/Pictures/New Folder 3"));
    EXPECT_EQ(Dialog->SelectedPath(), Root + "/Pictures/Beach");
  });
  EXPECT_TRUE(Lines().empty());
}

TEST_F(DialogDirTest, NewWhereNoFolderCanBeMadeIsLogged) {
  ASSERT_TRUE(Dialog->SetPath(Root + "/Music"));
  fs::remove(Root + "/Music");
  WriteFile(Root + "/Music", {1}); // a file now stands where the folder was
  Dialog->SpeedButton3Click();
  EXPECT_TRUE(Dialog->isEnabled());
  ASSERT_EQ(Lines().size(), 1u);
  EXPECT_EQ(Lines()[0].rfind("Exception while creating new folder: ", 0), 0u) << Lines()[0];
  EXPECT_TRUE(Desktop.Boxes.empty());
}

// Top-level entries and volume roots cannot be renamed; an empty name cancels without
// a word; a name with "/" or one that exists is refused with a box and changes nothing.
TEST_F(DialogDirTest, RenamingAndItsRefusals) {
  fs::create_directories(Root + "/Pictures/Empty");
  Dialog->show();
  struct TCase {
    const char* What;
    std::string Folder;
    QString Name;
    bool Starts;
    bool Box;
    std::string After; // the folder that holds it afterwards
  };
  std::vector<TCase> cases = {
      {"top-level entry", Root, "Other", false, false, Root},
      {"file-system root", "/", "x", false, false, "/"},
      {"empty name", Root + "/Music", "", true, false, Root + "/Music"},
      {"name with a slash", Root + "/Music", "a/b", true, true, Root + "/Music"},
      {"name of an existing folder", Root + "/Pictures/2024", "Empty", true, true,
       Root + "/Pictures/2024"},
      {"new name", Root + "/Pictures/2024", "Summer 2024", true, false,
       Root + "/Pictures/Summer 2024"},
  };
  struct stat proc {
  }, top{};
  if (stat("/proc", &proc) == 0 && stat("/", &top) == 0 && proc.st_dev != top.st_dev)
    cases.push_back({"mounted volume", "/proc", "x", false, false, "/proc"});
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    Desktop.Boxes.clear();
    ASSERT_TRUE(Dialog->SetPath(c.Folder));
    EXPECT_EQ(RenameSelected(c.Name), c.Starts);
    EXPECT_EQ(Desktop.Boxes.size(), c.Box ? 1u : 0u);
    EXPECT_TRUE(fs::is_directory(c.After));
    EXPECT_EQ(Dialog->SelectedPath(), c.After);
    EXPECT_EQ(Dialog->Label1->text().toStdString(), c.After);
  }
  EXPECT_TRUE(fs::is_directory(Root + "/Pictures/Empty"));
}

TEST_F(DialogDirTest, ALongPathLosesCharactersAfterTheThirdUntilItFits) {
  std::string deep = Root + "/Pictures";
  for (int i = 0; i < 6; ++i)
    deep += "/A rather long folder name " + std::to_string(i);
  fs::create_directories(deep);
  Dialog->show();
  ASSERT_TRUE(Dialog->SetPath(Root + "/Music"));
  EXPECT_EQ(Dialog->Label1->text().toStdString(), Root + "/Music");
  ASSERT_TRUE(Dialog->SetPath(deep));
  QString shown = Dialog->Label1->text(), full = QString::fromStdString(deep);
  ASSERT_GT(shown.size(), 6);
  EXPECT_EQ(shown, full.left(3) + "..." + full.right(shown.size() - 6));
  EXPECT_LE(Dialog->Label1->x() + Dialog->Label1->width(), Dialog->width() - 5);
  // One character more would not fit.
  QLabel longer(full.left(3) + "..." + full.right(shown.size() - 5), Dialog.get());
  longer.adjustSize();
  EXPECT_GT(Dialog->Label1->x() + longer.width(), Dialog->width() - 5);
}

// The program: starts the modules, shows the splash, creates the forms and runs the
// event loop until the main window closes.
//
// GF_SCREENSHOT=PREFIX (used by scripts/screenshot.sh only) scans the first image-file
// drive at once and, when the summary appears and the thumbnails are made, saves
// PREFIX-main.png (the main window) and PREFIX-screen.png (the whole screen), then shows
// the options dialog and the folder chooser and saves PREFIX-options.png,
// PREFIX-chooser.png and PREFIX-dialogs.png (the screen with both); then shows the
// folder chooser twice more and writes where its frame was at each of the three shows,
// beside the main window's centre, to PREFIX-chooser.txt, then ends.
#include "Application.h"
#include "Debug.h"
#include "Desktop.h"
#include "DeviceWatcher.h"
#include "DialogDir.h"
#include "LinuxDrives.h"
#include "Main.h"
#include "MessageForm.h"
#include "OptionDlg.h"
#include "Registry.h"
#include "Splash.h"

#include <QtCore/QTimer>
#include <QtGui/QScreen>
#include <QtWidgets/QListWidget>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

using namespace gf;

namespace {

bool UnderDebugger() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("TracerPid:", 0) == 0)
      return std::stoi(line.substr(10)) != 0;
  return false;
}

class TScreenshotDesktop : public TQtDesktop {
public:
  explicit TScreenshotDesktop(std::string Prefix) : FPrefix(std::move(Prefix)) {}
  void SetMain(TFormMain* Main) { FMain = Main; }
  void SetForm(TFormMessage* Form) {
    FForm = Form;
    SetMessageForm(Form);
  }

  // Nobody is there to answer: the questions (such as creating the destination) get Yes.
  TBoxAnswer MessageBox(QWidget*, TBoxKind, const std::string& Text, TBoxButtons Buttons) override {
    DebugLog("MAIN: Answered for the screenshot: %s", Text);
    return Buttons == TBoxButtons::Ok ? TBoxAnswer::Ok : TBoxAnswer::Yes;
  }

  void ShowText(const std::string& Text) override {
    FForm->SetText(Text);
    FForm->move(FMain->frameGeometry().center() - FForm->rect().center());
    FForm->show();
    QTimer::singleShot(800, FMain, [this] { ShotWhenThumbnailsAreDone(); });
  }

  void SetDialogs(TFormOptions* Options, TDialogSelectDir* SelectDir) {
    FOptions = Options;
    FSelectDir = SelectDir;
  }

  void ShotWhenThumbnailsAreDone() {
    if (FMain->QueuedThumbnails() > 0) {
      QTimer::singleShot(100, FMain, [this] { ShotWhenThumbnailsAreDone(); });
      return;
    }
    FMain->grab().save(QString::fromStdString(FPrefix + "-main.png"));
    if (QScreen* screen = QGuiApplication::primaryScreen())
      screen->grabWindow(0).save(QString::fromStdString(FPrefix + "-screen.png"));
    FForm->hide();
    // The options dialog over the main window, then the folder chooser at the
    // destination; shown without waiting for an answer.
    FOptions->move(FMain->frameGeometry().center() - FOptions->rect().center());
    FOptions->show();
    QTimer::singleShot(400, FMain, [this] {
      FOptions->grab().save(QString::fromStdString(FPrefix + "-options.png"));
      FSelectDir->SetDirectory(FMain->Controller().DestPath());
      FSelectDir->show();
      QTimer::singleShot(400, FMain, [this] {
        FSelectDir->grab().save(QString::fromStdString(FPrefix + "-chooser.png"));
        if (QScreen* screen = QGuiApplication::primaryScreen())
          screen->grabWindow(0).save(QString::fromStdString(FPrefix + "-dialogs.png"));
        NoteChooserPlace();
        ShowChooserAgain(2);
      });
    });
  }

  // Where the chooser's frame is, against the main window's centre (a window manager
  // may place a window that is shown again elsewhere than asked).
  void NoteChooserPlace() {
    QRect f = FSelectDir->frameGeometry();
    QPoint main = FMain->frameGeometry().center();
    FChooserPlaces << "show " << ++FChooserShows << ": frame " << f.x() << "," << f.y() << " "
                   << f.width() << "x" << f.height() << ", its centre " << f.center().x() << ","
                   << f.center().y() << "; the main window's " << main.x() << "," << main.y()
                   << "\n";
  }

  void ShowChooserAgain(int Times) {
    FSelectDir->hide();
    if (Times == 0) {
      FOptions->hide();
      std::ofstream(FPrefix + "-chooser.txt") << FChooserPlaces.str();
      QCoreApplication::exit(0);
      return;
    }
    QTimer::singleShot(200, FMain, [this, Times] {
      FSelectDir->show();
      QTimer::singleShot(400, FMain, [this, Times] {
        NoteChooserPlace();
        ShowChooserAgain(Times - 1);
      });
    });
  }

  // Selects the first image-file drive and presses Start.
  void StartScan() {
    for (int i = 0; i < FMain->LBDrives->count(); ++i) {
      TDriveInfo* info =
          FMain->Controller().FindDriveInfo(FMain->LBDrives->item(i)->text().toStdString());
      if (info && info->GetKind() == dkImageFile) {
        FMain->LBDrives->setCurrentRow(i);
        FMain->LBDrivesClick();
        FMain->SBStartClick();
        return;
      }
    }
    DebugLog("MAIN: No image-file drive to scan for the screenshot");
    QCoreApplication::exit(1);
  }

private:
  std::string FPrefix;
  TFormMain* FMain = nullptr;
  TFormMessage* FForm = nullptr;
  TFormOptions* FOptions = nullptr;
  TDialogSelectDir* FSelectDir = nullptr;
  std::ostringstream FChooserPlaces;
  int FChooserShows = 0;
};

} // namespace

int main(int argc, char** argv) {
  RegisterModules();
  DebugLogEnabled = true;
  TApplication app(argc, argv); // Qt needs its application object before any window

  std::unique_ptr<TFormSplash> splash;
  try {
    splash = std::make_unique<TFormSplash>();
    if (!UnderDebugger())
      splash->show();
  } catch (const std::exception& e) {
    DebugLog("MAIN: No splash: %s", e.what());
  }
  QCoreApplication::processEvents();

  const char* shot = std::getenv("GF_SCREENSHOT");
  std::unique_ptr<TQtDesktop> desktop;
  TScreenshotDesktop* shotDesktop = nullptr;
  if (shot && *shot) {
    auto d = std::make_unique<TScreenshotDesktop>(shot);
    shotDesktop = d.get();
    desktop = std::move(d);
  } else {
    desktop = std::make_unique<TQtDesktop>();
  }
  app.SetDesktop(desktop.get());

  std::vector<std::string> args(argv + 1, argv + argc);
  TRegistry settings(TRegistry::DefaultFileName());
  TLinuxDrives platform;
  TFormMain main(platform, settings, *desktop, args);
  // Cards and sticks that come and go refresh the drive list by themselves.
  TDeviceWatcher watcher(main.Controller().Window());
  if (!watcher.Active())
    DebugLog("MAIN: Not watching for device changes (%s); click the drive list to refresh",
             watcher.ErrorText());
  TDialogSelectDir dialogSelectDir(*desktop, &main);
  TFormOptions options(main, dialogSelectDir);
  TFormMessage message(&main);
  desktop->SetOptionsForm(&options);
  desktop->SetMessageForm(&message);
  main.show();
  if (shotDesktop) {
    if (splash)
      splash->hide();
    shotDesktop->SetMain(&main);
    shotDesktop->SetForm(&message);
    shotDesktop->SetDialogs(&options, &dialogSelectDir);
    QTimer::singleShot(300, &main, [shotDesktop] { shotDesktop->StartScan(); });
  }
  int rc = app.exec();
  desktop->SetOptionsForm(nullptr);
  desktop->SetMessageForm(nullptr);
  app.SetDesktop(nullptr);
  return rc;
}

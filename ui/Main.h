// The main window: lists the drives with their details, starts and cancels scans,
// saves the files found, shows progress, the busy animation and the summary, and
// shows the About page. It owns the recovery controller.
#pragma once

#include "Animation.h"
#include "Controller.h"
#include "FormDebug.h"

#include <QtCore/QTimer>
#include <QtGui/QPixmap>
#include <QtWidgets/QLabel>
#include <QtWidgets/QWidget>

#include <memory>
#include <optional>
#include <string>
#include <vector>

class QAction;
class QMenu;
class QTabWidget;
class QListWidget;
class QListWidgetItem;
class QProgressBar;
class QToolButton;
class QFrame;

namespace gf {

class TDesktop;
class TDrivePlatform;
class TFoundFileWriter;
class TSaverThread;
class TRegistry;
class TFormMain;
class TThumbItemDelegate;
class TThumbQueue;

// The About page's web link: red while the pointer is over it.
class TLinkLabel : public QLabel {
public:
  explicit TLinkLabel(TFormMain& Form, QWidget* Parent);

protected:
  void mouseMoveEvent(QMouseEvent* Event) override;
  void leaveEvent(QEvent* Event) override;
  void mouseReleaseEvent(QMouseEvent* Event) override;

private:
  TFormMain& FForm;
};

class TAnimationBox : public QWidget {
public:
  TAnimationBox(TFormMain& Form, QWidget* Parent);

protected:
  void paintEvent(QPaintEvent* Event) override;

private:
  TFormMain& FForm;
};

// What the window is doing about a scan. Every state but Idle keeps Start, Options,
// Exit and the drive list off, so that nothing starts or closes while files are written.
enum class TScanState {
  Idle,     // no scan
  Scanning, // a scan runs; Cancel is on
  Stopping, // Cancel was pressed; the scan ends after the file in hand, if any
  Flushing, // the scan has ended; its files are being written through to the disk
};

class TFormMain : public QWidget {
public:
  static constexpr const char* Version = "2.0";
  static constexpr const char* WebAddress = "http://www.tessaloon.example/glimmerfold/";
  static constexpr const char* HelpFile = "Glimmerfold.html";
  // How many files the box of those that could not go to the trash names.
  static constexpr std::size_t TrashBoxNames = 10;

  // Args: the command-line arguments after the program name.
  TFormMain(TDrivePlatform& Platform, TRegistry& Settings, TDesktop& Desktop,
            std::vector<std::string> Args);
  ~TFormMain() override;

  // The capacity text of a size in kB: "61.5 MB".
  static std::string FormatSize(uint64_t KB);

  TGlimmerfold& Controller() { return *FController; }
  TDesktop& Desktop() { return FDesktop; }
  TFormDebug& FormDebug() { return *FFormDebug; }
  TAnimation& Animation() { return *FAnimation; }
  TScanState ScanState() const { return FState; }
  bool Scanning() const { return FState != TScanState::Idle; }
  // Where found files are saved (the destination folder unless a test says otherwise).
  // Only while no scan runs.
  void SetFileWriter(std::unique_ptr<TFoundFileWriter> Writer);

  // Handlers, as the controls and the controller call them.
  void FormShow();
  void FormResize();
  void FormKeyDown(int Key, Qt::KeyboardModifiers Shift);
  bool FormCloseQuery();
  void FormClose();
  void SBStartClick();
  void SBCancelClick();
  void SBOptionsClick();
  void SBHelpClick();
  void SBExitClick();
  void LBDrivesClick();
  void STURLMouseMove(int X, int Y);
  void STURLClick();
  void RefreshDriveList();
  // The selected entry of the drive list; null when none is selected.
  QListWidgetItem* SelectedDrive() const;
  void ScanStarted();
  void ScanFinished(bool Completed, bool StoppedByUser, const std::string& Msg);
  void FileFound(const std::string& Name, std::unique_ptr<TMemoryStream> Stream);
  void ScanProgress(int64_t Position, int64_t SectorCount);
  void LoadAnimation();
  void PaintAnimation(QPainter& Canvas);
  // Thumbnails: the requests go to the thumbnail queue, which places the items.
  void QueueThumbnail(const std::string& FileName, std::unique_ptr<TMemoryStream> Stream);
  TThumbQueue& Thumbnails() { return *FThumbQueue; }
  std::size_t QueuedThumbnails() const;
  void ClearThumbnails();
  void LoadExistingThumbnails();
  void Open1Click();
  void Delete1Click();
  void LVThumbnailsDblClick();
  void LVThumbnailsEnter(); // Enter in the thumbnail view opens, as a double click does
  void LVThumbnailsKeyUp(int Key, Qt::KeyboardModifiers Shift);

  // Shows the latest progress now (a timer does it every 50 ms during a scan).
  void ShowProgress();
  // The number of files saved in the current or last scan.
  int64_t Recovered() const { return FRecovered; }
  // The number of files found in the current or last scan that could not be saved.
  int64_t NotSaved() const { return FNotSaved; }

  // The Windows virtual-key code that FormKeyDown compares for a Qt key (0 for keys
  // the window does not handle).
  static int KeyCode(int QtKey);

  QTabWidget* PageControl;
  QWidget* TSRecovery;
  QWidget* TSAbout;
  QListWidget* LBDrives;
  QLabel* LabelDrives;
  QLabel* LabelImages;
  QLabel* LabelMediaPrefix;
  QLabel* LabelSectorSizePrefix;
  QLabel* LabelCapacityPrefix;
  QLabel* LabelRecoveredPrefix;
  QLabel* LabelMedia;
  QLabel* LabelSectorSize;
  QLabel* LabelCapacity;
  QLabel* LabelRecovered;
  QListWidget* LVThumbnails;
  TThumbItemDelegate* ThumbDelegate = nullptr; // draws LVThumbnails' items
  QFrame* PanelMainBottom;
  QLabel* LabelRecoveryProgress;
  QLabel* LabelCurSector;
  QLabel* LabelStatus; // what the window waits for: a file being written, the flush
  QProgressBar* ProgressBar;
  QToolButton* SBStart;
  QToolButton* SBCancel;
  QToolButton* SBOptions;
  QToolButton* SBHelp;
  QToolButton* SBExit;
  QLabel* ImageAbout;
  QFrame* PanelAboutBottom;
  QLabel* Label1;
  TLinkLabel* STURL;
  QFrame* AnimationPanel = nullptr;
  TAnimationBox* AnimationBox = nullptr;
  std::vector<QPixmap> ILDriveIcons;
  std::vector<QPixmap> ILThumbnails;
  QMenu* PopupMenu1 = nullptr;
  QAction* Open1 = nullptr;
  QAction* Delete1 = nullptr;

protected:
  bool event(QEvent* Event) override;
  bool eventFilter(QObject* Watched, QEvent* Event) override;
  void showEvent(QShowEvent* Event) override;
  void closeEvent(QCloseEvent* Event) override;

private:
  void CreateRecoveryPage();
  void CreateAboutPage();
  void SetState(TScanState State);
  void ShowStatus();
  // Answers false after telling the user, when no scan can go to the destination.
  bool CheckDestination();
  void ShowOptions();
  void RaiseDebugAtStart();

  TDesktop& FDesktop;
  std::vector<std::string> FArgs;
  std::unique_ptr<TFormDebug> FFormDebug;
  std::unique_ptr<TGlimmerfold> FController;
  std::unique_ptr<TAnimation> FAnimation;
  std::unique_ptr<TThumbQueue> FThumbQueue;
  std::unique_ptr<TFoundFileWriter> FWriter;
  std::unique_ptr<TSaverThread> FSaver; // after FWriter: it ends before the writer goes
  TScanState FState = TScanState::Idle;
  std::string FSavingText; // the file being written, once that has taken a while; else empty
  QTimer FSavingTimer;     // shows FSavingText when a write takes long
  bool FShownOnce = false;
  bool FShowDebugAtStart = false; // /DEBUG: the debug window is to stay above this one
  std::string FCreditsKeys;
  int FCreditsKeyIndex = 0;
  int64_t FRecovered = 0;
  int64_t FNotSaved = 0; // files of the current or last scan that could not be saved
  // Progress is kept here as it arrives and shown by FProgressTimer, so that the
  // scanner's flood of progress messages costs no repaint each.
  int64_t FProgressPos = 0;
  int64_t FProgressCount = 0;
  int64_t FShownPos = -1;
  int64_t FShownCount = -1;
  QTimer FProgressTimer;
};

} // namespace gf

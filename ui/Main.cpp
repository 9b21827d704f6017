#include "Main.h"
#include "Application.h"

#include "Debug.h"
#include "Desktop.h"
#include "DriveItemDelegate.h"
#include "Fonts.h"
#include "Format.h"
#include "Language.h"
#include "SaverThread.h"
#include "ScanResults.h"
#include "Streams.h"
#include "ThumbItemDelegate.h"
#include "ThumbQueue.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QFile>
#include <QtGui/QGuiApplication>
#include <QtGui/QKeyEvent>
#include <QtGui/QPainter>
#include <QtGui/QScreen>
#include <QtWidgets/QApplication>
#include <QtWidgets/QFrame>
#include <QtWidgets/QListWidget>
#include <QtWidgets/QMenu>
#include <QtWidgets/QProgressBar>
#include <QtWidgets/QTabWidget>
#include <QtWidgets/QToolButton>
#include <QtWidgets/QVBoxLayout>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>

namespace gf {

namespace {

constexpr int ThumbSize = TThumbQueue::ThumbSize;
constexpr int BottomPanelHeight = 118;
const QColor FormColor(0, 0, 255); // the form's blue font

QByteArray Resource(const QString& Name) {
  QFile f(":/" + Name);
  if (!f.open(QIODevice::ReadOnly))
    throw std::runtime_error("Resource " + Name.toStdString() + " not found");
  return f.readAll();
}

bool SameText(const std::string& A, const char* B) {
  return QString::fromStdString(A).compare(QString(B), Qt::CaseInsensitive) == 0;
}

QLabel* MakeLabel(QWidget* Parent, const char* Text, int Left, int Top) {
  auto* l = new QLabel(Text, Parent);
  l->move(Left, Top);
  l->adjustSize();
  return l;
}

QLabel* MakeValueLabel(QWidget* Parent, int Top) {
  auto* l = new QLabel(Parent);
  l->setGeometry(121, Top, 87, 16);
  return l;
}

// The row of large buttons under the progress bar.
QToolButton* MakeButton(QWidget* Parent, const char* Text, const char* GlyphName, int Left) {
  return MakeGlyphButton(Parent, Text, GlyphName, {Left, 44, 80, 70}, 32,
                         Qt::ToolButtonTextUnderIcon);
}

} // namespace

TLinkLabel::TLinkLabel(TFormMain& Form, QWidget* Parent) : QLabel(Parent), FForm(Form) {
  setMouseTracking(true);
  setCursor(Qt::PointingHandCursor);
}

void TLinkLabel::mouseMoveEvent(QMouseEvent* Event) {
  FForm.STURLMouseMove(Event->position().toPoint().x(), Event->position().toPoint().y());
}

void TLinkLabel::leaveEvent(QEvent* Event) {
  QLabel::leaveEvent(Event);
  FForm.STURLMouseMove(-1, -1);
}

void TLinkLabel::mouseReleaseEvent(QMouseEvent* Event) {
  if (Event->button() == Qt::LeftButton && rect().contains(Event->position().toPoint()))
    FForm.STURLClick();
}

TAnimationBox::TAnimationBox(TFormMain& Form, QWidget* Parent) : QWidget(Parent), FForm(Form) {
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void TAnimationBox::paintEvent(QPaintEvent*) {
  QPainter p(this);
  FForm.PaintAnimation(p);
}

TFormMain::TFormMain(TDrivePlatform& Platform, TRegistry& Settings, TDesktop& Desktop,
                     std::vector<std::string> Args)
    : QWidget(nullptr), FDesktop(Desktop), FArgs(std::move(Args)),
      FWriter(std::make_unique<TDestinationWriter>()), FSaver(std::make_unique<TSaverThread>()) {
  QFont font = FormFont(13);
  setFont(font);
  QPalette pal = palette();
  for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
    pal.setColor(role, FormColor);
  setPalette(pal);

  PageControl = new QTabWidget(this);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(PageControl);
  CreateRecoveryPage();
  CreateAboutPage();
  for (int k = 0; k <= dkUnknown; ++k)
    ILDriveIcons.emplace_back(QString(":/DRIVE_%1.png").arg(k));

  // The form's creation, in the order the window relies on.
  FFormDebug = std::make_unique<TFormDebug>(Desktop);
  FController = std::make_unique<TGlimmerfold>(Platform, Settings);
  FController->OnDrivesChanged = [this](TGlimmerfold&) { RefreshDriveList(); };
  FController->OnScanStarted = [this](TGlimmerfold&) { ScanStarted(); };
  FController->OnScanDone = [this](TGlimmerfold&, bool c, bool s, const std::string& m) {
    ScanFinished(c, s, m);
  };
  FController->OnFileFound = [this](TGlimmerfold&, const std::string& name,
                                    std::unique_ptr<TMemoryStream> stream) {
    FileFound(name, std::move(stream));
  };
  FController->OnProgress = [this](TGlimmerfold&, int64_t pos, int64_t count) {
    ScanProgress(pos, count);
  };
  FController->RefreshDrives();
  bool debugSwitch = !FArgs.empty() && SameText(FArgs[0], "/DEBUG");
  // The switch acts only as the first argument; anywhere else it does nothing, and it
  // is never a drive.
  for (const std::string& arg : FArgs)
    if (!SameText(arg, "/DEBUG") && FController->AddImageFile(arg).empty())
      DebugLog("MAIN: Cannot open %s as a disk image", arg);
  FController->LoadSettings();
  FThumbQueue = std::make_unique<TThumbQueue>(*LVThumbnails, ILThumbnails, *ThumbDelegate);
  FShowDebugAtStart = debugSwitch;
  if (debugSwitch)
    FFormDebug->show();

  SBCancel->setEnabled(false);
  SBStart->setEnabled(false);
  SBExit->setEnabled(true);

  std::string caption = LoadStr(sProductTitle) + " " + Version;
  setWindowTitle(QString::fromStdString(caption));
  QCoreApplication::setApplicationName(QString::fromStdString(caption));

  QPixmap about;
  about.loadFromData(Resource("ABOUT.jpg"), "JPG");
  ImageAbout->setPixmap(about);
  STURL->setText(WebAddress);
  STURL->adjustSize();

  AnimationPanel = new QFrame(TSRecovery);
  AnimationPanel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  AnimationPanel->setLineWidth(2);
  int frame = AnimationPanel->frameWidth();
  AnimationPanel->setGeometry(8, LabelRecovered->y() + LabelRecovered->height() + 10,
                              200 + 2 * frame, 100 + 2 * frame);
  AnimationBox = new TAnimationBox(*this, AnimationPanel);
  AnimationBox->setGeometry(frame, frame, 200, 100);
  AnimationPanel->show();

  FAnimation = std::make_unique<TAnimation>();
  FAnimation->OnChange = [this](TAnimation&) { AnimationBox->update(); };
  FAnimation->SetInterval(800);
  LoadAnimation();

  setMinimumSize(795, 551);
  resize(795, 551);
  if (QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
  PageControl->setCurrentIndex(0);

  FCreditsKeys = "QZW";
  FCreditsKeyIndex = 0;

  FProgressTimer.setInterval(50);
  connect(&FProgressTimer, &QTimer::timeout, this, Guarded([this] { ShowProgress(); }));
  // A file written within this time is not worth a word: most are, on a local disk.
  FSavingTimer.setSingleShot(true);
  FSavingTimer.setInterval(200);
  connect(&FSavingTimer, &QTimer::timeout, this, Guarded([this] { ShowStatus(); }));
  // The one filter for the window's own handling of its controls' events: key preview,
  // the thumbnail and drive list keys, the pages' resizes. The application's filters see
  // every widget's events, so a filter of a control's own would run each of them twice.
  qApp->installEventFilter(this);
}

TFormMain::~TFormMain() {
  qApp->removeEventFilter(this);
  // The controller stops a running scan; its events must not reach a half-destroyed window.
  FController->OnDrivesChanged = nullptr;
  FController->OnScanDone = nullptr;
  FController->OnFileFound = nullptr;
  FController->OnProgress = nullptr;
  FController->OnScanStarted = nullptr;
  FController.reset();
}

void TFormMain::CreateRecoveryPage() {
  TSRecovery = new QWidget;
  PageControl->addTab(TSRecovery, "Recover Images");
  LabelDrives = MakeLabel(TSRecovery, "Drives:", 8, 6);
  LBDrives = new QListWidget(TSRecovery);
  LBDrives->setGeometry(8, 24, 200, 132);
  new TDriveItemDelegate(*LBDrives, ILDriveIcons, [this](const QString& Root) {
    std::optional<TDriveItemDelegate::TDrive> drive;
    TDriveInfo* info = FController ? FController->FindDriveInfo(Root.toStdString()) : nullptr;
    if (info)
      drive = {info->GetKind(), QString::fromStdString(info->GetDisplayName())};
    return drive;
  });
  LBDrives->setUniformItemSizes(true);
  // The selection, not the current row, names the drive: a click on the empty part of
  // the list clears the selection but leaves the current row.
  connect(LBDrives, &QListWidget::itemSelectionChanged, this, Guarded([this] { LBDrivesClick(); }));
  connect(LBDrives, &QListWidget::itemClicked, this, Guarded([this] { LBDrivesClick(); }));
  LabelMediaPrefix = MakeLabel(TSRecovery, "Media:", 8, 172);
  LabelSectorSizePrefix = MakeLabel(TSRecovery, "Sector size:", 8, 192);
  LabelCapacityPrefix = MakeLabel(TSRecovery, "Capacity:", 8, 212);
  LabelRecoveredPrefix = MakeLabel(TSRecovery, "Recovered:", 8, 232);
  LabelMedia = MakeValueLabel(TSRecovery, 172);
  LabelSectorSize = MakeValueLabel(TSRecovery, 192);
  LabelCapacity = MakeValueLabel(TSRecovery, 212);
  LabelRecovered = MakeValueLabel(TSRecovery, 232);
  LabelImages = MakeLabel(TSRecovery, "Images:", 218, 6);
  LVThumbnails = new QListWidget(TSRecovery);
  LVThumbnails->setViewMode(QListView::IconMode);
  LVThumbnails->setSelectionMode(QAbstractItemView::ExtendedSelection);
  LVThumbnails->setIconSize(QSize(ThumbSize, ThumbSize));
  LVThumbnails->setMovement(QListView::Static);
  // Every item has the same size, which the delegate makes fit every caption in full:
  // without this the view measures each caption again at every new item, which grows
  // with the list.
  LVThumbnails->setUniformItemSizes(true);
  LVThumbnails->setResizeMode(QListView::Adjust);
  ThumbDelegate = new TThumbItemDelegate(*LVThumbnails);
  LVThumbnails->move(218, 24);
  LVThumbnails->setContextMenuPolicy(Qt::CustomContextMenu);
  PopupMenu1 = new QMenu(LVThumbnails);
  Open1 = PopupMenu1->addAction("&Open");
  Delete1 = PopupMenu1->addAction("&Delete");
  connect(Open1, &QAction::triggered, this, Guarded([this] { Open1Click(); }));
  connect(Delete1, &QAction::triggered, this, Guarded([this] { Delete1Click(); }));
  connect(LVThumbnails, &QWidget::customContextMenuRequested, this, [this](const QPoint& Pos) {
    PopupMenu1->popup(LVThumbnails->viewport()->mapToGlobal(Pos));
  });
  connect(LVThumbnails, &QListWidget::itemDoubleClicked, this,
          Guarded([this] { LVThumbnailsDblClick(); }));

  PanelMainBottom = new QFrame(TSRecovery);
  PanelMainBottom->setFrameShape(QFrame::NoFrame);
  LabelRecoveryProgress = MakeLabel(PanelMainBottom, "Recovery progress:", 8, 0);
  LabelCurSector = new QLabel(PanelMainBottom);
  LabelCurSector->setGeometry(0, 0, 300, 16);
  LabelStatus = new QLabel(PanelMainBottom);
  LabelStatus->setWordWrap(true);
  LabelStatus->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  ProgressBar = new QProgressBar(PanelMainBottom);
  ProgressBar->move(8, 18);
  ProgressBar->resize(ProgressBar->width(), 18);
  ProgressBar->setTextVisible(false);
  ProgressBar->setRange(0, 100);
  ProgressBar->setValue(0);
  SBStart = MakeButton(PanelMainBottom, "&Start", "BTN_START", 8);
  SBCancel = MakeButton(PanelMainBottom, "&Cancel", "BTN_CANCEL", 104);
  SBOptions = MakeButton(PanelMainBottom, "&Options", "BTN_OPTIONS", 200);
  SBHelp = MakeButton(PanelMainBottom, "&Help", "BTN_HELP", 296);
  SBExit = MakeButton(PanelMainBottom, "&Exit", "BTN_EXIT", 392);
  connect(SBStart, &QToolButton::clicked, this, Guarded([this] { SBStartClick(); }));
  connect(SBCancel, &QToolButton::clicked, this, Guarded([this] { SBCancelClick(); }));
  connect(SBOptions, &QToolButton::clicked, this, Guarded([this] { SBOptionsClick(); }));
  connect(SBHelp, &QToolButton::clicked, this, Guarded([this] { SBHelpClick(); }));
  connect(SBExit, &QToolButton::clicked, this, Guarded([this] { SBExitClick(); }));
}

void TFormMain::CreateAboutPage() {
  TSAbout = new QWidget;
  PageControl->addTab(TSAbout, "About");
  ImageAbout = new QLabel(TSAbout);
  ImageAbout->setAlignment(Qt::AlignCenter);
  PanelAboutBottom = new QFrame(TSAbout);
  PanelAboutBottom->setFrameShape(QFrame::NoFrame);
  Label1 = new QLabel("Glimmerfold 2.0 recovers pictures, video and sound from camera media.",
                      PanelAboutBottom);
  Label1->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  STURL = new TLinkLabel(*this, PanelAboutBottom);
}

void TFormMain::SetFileWriter(std::unique_ptr<TFoundFileWriter> Writer) {
  if (FState == TScanState::Idle)
    FWriter = std::move(Writer);
}

std::string TFormMain::FormatSize(uint64_t KB) {
  return gf::FormatSize(KB);
}

void TFormMain::showEvent(QShowEvent* Event) {
  QWidget::showEvent(Event);
  FormShow();
}

void TFormMain::FormShow() {
  if (FShownOnce)
    return;
  FShownOnce = true;
  if (FController->ThumbnailExisting())
    LoadExistingThumbnails();
  if (FShowDebugAtStart)
    // The debug window was shown before this one; once this one is on the screen, the
    // debug window goes on top of it again.
    QTimer::singleShot(0, this, [this] { RaiseDebugAtStart(); });
}

void TFormMain::RaiseDebugAtStart() {
  if (!FShowDebugAtStart || !FFormDebug->isVisible())
    return;
  FFormDebug->raise();
}

bool TFormMain::event(QEvent* Event) {
  // A window manager raises the main window when it first activates it, which may be
  // after the raise above.
  if (Event->type() == QEvent::WindowActivate && FShowDebugAtStart) {
    RaiseDebugAtStart();
    FShowDebugAtStart = false;
  }
  return QWidget::event(Event);
}

bool TFormMain::eventFilter(QObject* Watched, QEvent* Event) {
  if (Event->type() == QEvent::Resize && (Watched == TSRecovery || Watched == TSAbout)) {
    FormResize();
    return false;
  }
  if (Event->type() == QEvent::KeyRelease && Watched == LVThumbnails) {
    auto* key = static_cast<QKeyEvent*>(Event);
    if (!key->isAutoRepeat()) {
      try {
        LVThumbnailsKeyUp(key->key(), key->modifiers() & ~Qt::KeypadModifier);
      } catch (const std::exception& e) {
        ShowHandlerError(e.what());
      }
    }
  }
  if (Event->type() == QEvent::KeyPress && Watched == LBDrives && !SelectedDrive()) {
    // With nothing selected, the first Up or Down selects the entry that has the focus
    // mark (the list gives the first entry the mark when it gets the focus) instead of
    // moving past it.
    auto* key = static_cast<QKeyEvent*>(Event);
    QListWidgetItem* current = LBDrives->currentItem();
    if ((key->key() == Qt::Key_Down || key->key() == Qt::Key_Up) &&
        key->modifiers() == Qt::NoModifier && current) {
      current->setSelected(true);
      return true;
    }
  }
  if (Event->type() == QEvent::KeyPress && Watched->isWidgetType()) {
    // Key preview: the form sees a key once, at the widget it is first delivered to.
    auto* w = static_cast<QWidget*>(Watched);
    QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : this;
    if (w == target && w->window() == this) {
      auto* key = static_cast<QKeyEvent*>(Event);
      try {
        FormKeyDown(KeyCode(key->key()), key->modifiers() & ~Qt::KeypadModifier);
      } catch (const std::exception& e) {
        ShowHandlerError(e.what());
      }
    }
  }
  if (Event->type() == QEvent::KeyPress && Watched == LVThumbnails) {
    auto* key = static_cast<QKeyEvent*>(Event);
    if (IsPlainEnter(*key)) {
      if (!key->isAutoRepeat())
        Guarded([this] { LVThumbnailsEnter(); })();
      return true;
    }
  }
  return QWidget::eventFilter(Watched, Event);
}

void TFormMain::FormResize() {
  int W = TSRecovery->width(), H = TSRecovery->height();
  for (QLabel* l : {LabelMedia, LabelSectorSize, LabelCapacity, LabelRecovered})
    l->move(121, l->y());
  LVThumbnails->move(218, LVThumbnails->y());
  LabelImages->move(218, LabelImages->y());
  LBDrives->resize(200, LBDrives->height());
  PanelMainBottom->setGeometry(0, H - BottomPanelHeight, W, BottomPanelHeight);
  LVThumbnails->resize(W - LVThumbnails->x() - 8, H - BottomPanelHeight - LVThumbnails->y() - 10);
  ProgressBar->resize(W - 2 * ProgressBar->x(), ProgressBar->height());
  LabelCurSector->move(LabelRecoveryProgress->x() + LabelRecoveryProgress->width() + 10,
                       LabelRecoveryProgress->y());
  const int statusLeft = SBExit->x() + SBExit->width() + 16;
  LabelStatus->setGeometry(statusLeft, SBExit->y(), std::max(0, W - statusLeft - 8),
                           SBExit->height());
  int aw = TSAbout->width(), ah = TSAbout->height();
  PanelAboutBottom->setGeometry(0, ah - 32, aw, 32);
  ImageAbout->setGeometry(0, 0, aw, ah - 32);
  STURL->move(8, (32 - STURL->height()) / 2);
  Label1->setGeometry(STURL->x() + STURL->width() + 16, 0, aw - STURL->width() - 32, 32);
}

int TFormMain::KeyCode(int QtKey) {
  if ((QtKey >= Qt::Key_A && QtKey <= Qt::Key_Z) || (QtKey >= Qt::Key_0 && QtKey <= Qt::Key_9))
    return QtKey;
  if (QtKey >= Qt::Key_F1 && QtKey <= Qt::Key_F24)
    return 112 + (QtKey - Qt::Key_F1);
  switch (QtKey) {
  case Qt::Key_Shift:
    return 16;
  case Qt::Key_Control:
    return 17;
  case Qt::Key_Alt:
    return 18;
  default:
    return 0;
  }
}

void TFormMain::FormKeyDown(int Key, Qt::KeyboardModifiers Shift) {
  if (Shift == (Qt::ShiftModifier | Qt::AltModifier) && Key == 123) {
    if (DebugLogEnabled) {
      FFormDebug->show();
      FFormDebug->raise();
      FFormDebug->activateWindow();
    }
    return;
  }
  if (Shift == (Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier)) {
    bool match = Key == static_cast<unsigned char>(FCreditsKeys[FCreditsKeyIndex]);
    ++FCreditsKeyIndex;
    if (!match)
      FCreditsKeyIndex = 0;
    if (FCreditsKeyIndex == static_cast<int>(FCreditsKeys.size())) {
      FCreditsKeyIndex = 0;
      FDesktop.MessageBox(this, TBoxKind::Information,
                          "Glimmerfold 2.0\r\n\r\nWritten by the Glimmerfold developers.\r\n"
                          "Thanks to everyone who sent us a damaged card.",
                          TBoxButtons::Ok);
    }
  }
}

bool TFormMain::FormCloseQuery() {
  // Also while the last files are written through: the summary must come first.
  return FState == TScanState::Idle;
}

void TFormMain::FormClose() {
  FThumbQueue->Close(); // hands out no more requests
}

void TFormMain::closeEvent(QCloseEvent* Event) {
  if (!FormCloseQuery()) {
    Event->ignore();
    return;
  }
  FormClose();
  FFormDebug->hide();
  Event->accept();
}

void TFormMain::LoadAnimation() {
  FAnimation->Stop();
  FAnimation->Clear();
  for (int i : {1, 2, 3, 4, 5, 6, 7, 8, 7, 6, 5})
    FAnimation->AddFrame(Resource(QString("ANIMATION_%1.jpg").arg(i)));
  FAnimation->Reset();
  AnimationBox->update();
}

void TFormMain::PaintAnimation(QPainter& Canvas) {
  if (const QImage* frame = FAnimation->CurrentFrame())
    Canvas.drawImage(0, 0, *frame);
  else
    Canvas.fillRect(AnimationBox->rect(), palette().brush(QPalette::Window));
}

QListWidgetItem* TFormMain::SelectedDrive() const {
  QList<QListWidgetItem*> items = LBDrives->selectedItems();
  return items.isEmpty() ? nullptr : items.first();
}

void TFormMain::RefreshDriveList() {
  QListWidgetItem* selectedItem = SelectedDrive();
  QString selected = selectedItem ? selectedItem->text() : QString();
  QSignalBlocker block(LBDrives);
  LBDrives->clear();
  for (int i = 0; i < FController->DriveInfoCount(); ++i) {
    TDriveInfo* info = FController->GetDriveInfo(i);
    uint8_t kind = info->GetKind();
    bool listed = kind == dkFloppy || kind == dkRemovable || kind == dkCDROM ||
                  kind == dkImageFile || (kind == dkFixedDisk && info->HasMedium());
    if (listed) {
      LBDrives->addItem(QString::fromStdString(info->Name()));
      LBDrives->item(LBDrives->count() - 1)
          ->setToolTip(QString::fromStdString(info->GetDisplayName()));
    }
  }
  if (selected.isEmpty())
    return;
  for (int i = 0; i < LBDrives->count(); ++i)
    if (LBDrives->item(i)->text() == selected) {
      LBDrives->setCurrentRow(i);
      return;
    }
  // The selected drive went away: nothing is selected now, so no details and no Start.
  block.unblock();
  LBDrivesClick();
}

void TFormMain::LBDrivesClick() {
  QListWidgetItem* item = SelectedDrive();
  if (!item) {
    SBStart->setEnabled(false);
    LabelCapacity->clear();
    LabelSectorSize->clear();
    LabelMedia->clear();
    return;
  }
  SBStart->setEnabled(FState == TScanState::Idle);
  TDriveInfo* info = FController->FindDriveInfo(item->text().toStdString());
  if (!info) {
    FController->RefreshDrives();
    return;
  }
  switch (info->GetKind()) {
  case dkFloppy:
    LabelMedia->setText(QString::fromStdString(LoadStr(sKindFloppy)));
    break;
  case dkFixedDisk:
    LabelMedia->setText(QString::fromStdString(LoadStr(sKindFixedDisk)));
    break;
  case dkRemovable:
    LabelMedia->setText(QString::fromStdString(LoadStr(sKindRemovable)));
    break;
  case dkCDROM:
    LabelMedia->setText(QString::fromStdString(LoadStr(sKindCDROM)));
    break;
  default:
    LabelMedia->clear(); // no label of its own, rather than the previous drive's
    break;
  }
  if (info->HasMedium()) {
    LabelCapacity->setText(QString::fromStdString(FormatSize(info->GetCapacity() / 1024)));
    LabelSectorSize->setText(QString::number(info->GetSectorSize()));
  } else {
    SBStart->setEnabled(false);
    LabelCapacity->setText(QString::fromStdString(LoadStr(sUnknown)));
    LabelSectorSize->setText(QString::fromStdString(LoadStr(sUnknown)));
  }
  LBDrives->viewport()->update();
}

void TFormMain::ShowOptions() {
  FDesktop.ShowOptions();
}

bool TFormMain::CheckDestination() {
  const std::string dest = FController->DestPath(), prefix = FController->FilePrefix();
  TResult<TDestinationState> check = CheckDestinationFolder(dest, prefix, false);
  if (check.Value == TDestinationState::Missing) {
    if (FDesktop.MessageBox(this, TBoxKind::Confirmation, check.Error, TBoxButtons::YesNo) !=
        TBoxAnswer::Yes) {
      ShowOptions();
      return false;
    }
    check = CheckDestinationFolder(dest, prefix, true);
  }
  if (!check.Ok()) {
    FDesktop.MessageBox(this, TBoxKind::Error, check.Error, TBoxButtons::Ok);
    ShowOptions();
    return false;
  }
  return true;
}

void TFormMain::SetState(TScanState State) {
  const TScanState old = FState;
  FState = State;
  const bool idle = State == TScanState::Idle;
  SBStart->setEnabled(idle);
  SBCancel->setEnabled(State == TScanState::Scanning);
  SBExit->setEnabled(idle);
  SBOptions->setEnabled(idle);
  LBDrives->setEnabled(idle);
  if (State == TScanState::Scanning && old == TScanState::Idle) {
    FProgressPos = FProgressCount = 0;
    FShownPos = FShownCount = -1;
    FProgressTimer.start();
  } else if (State == TScanState::Flushing) {
    FProgressTimer.stop();
    ShowProgress(); // where the scan ended, while its files are written through
  } else if (idle) {
    FProgressTimer.stop();
    ProgressBar->setValue(0);
    LabelCurSector->clear();
  }
  ShowStatus();
}

void TFormMain::ShowStatus() {
  std::string text;
  const bool writing = FSaver->Busy() && !FSavingTimer.isActive();
  switch (FState) {
  case TScanState::Idle:
    break;
  case TScanState::Scanning:
    if (writing)
      text = FSavingText;
    break;
  case TScanState::Stopping:
    text = FSaver->Busy() ? LoadStr(sStoppingAfterFile) : LoadStr(sStopping);
    break;
  case TScanState::Flushing:
    text = LoadStr(sFlushing);
    break;
  }
  const QString shown = QString::fromStdString(text);
  if (LabelStatus->text() != shown)
    LabelStatus->setText(shown);
}

void TFormMain::SBStartClick() {
  // A click that arrives while the last scan's end is still being handled (the
  // controller counts it as running until then, and the window until its summary)
  // would start nothing.
  if (FState != TScanState::Idle || FController->IsScanning())
    return;
  QListWidgetItem* item = SelectedDrive();
  std::string root = item ? item->text().toStdString() : std::string();
  TDriveInfo* info = item ? FController->FindDriveInfo(root) : nullptr;
  if (!info || !info->HasMedium()) {
    SBStart->setEnabled(false);
    FController->RefreshDrives();
    return;
  }
  if (!CheckDestination())
    return;
  if (info->GetKind() == dkFixedDisk &&
      FDesktop.MessageBox(this, TBoxKind::Warning, Format(LoadStr(sFixedDiskWarning), root),
                          TBoxButtons::YesNo) != TBoxAnswer::Yes)
    return;
  if (info->IsTruncated() &&
      FDesktop.MessageBox(
          this, TBoxKind::Warning,
          Format(LoadStr(sPartlyReadWarning), root, FormatSize(info->GetCapacity() / 1024),
                 FormatSize(uint64_t{info->GetSectorSize()} * info->GetSectorCount() / 1024)),
          TBoxButtons::YesNoDefaultNo) != TBoxAnswer::Yes)
    return;
  if (TResult<> offMedium = CheckDestinationOffMedium(*info, FController->DestPath());
      !offMedium.Ok() && FDesktop.MessageBox(this, TBoxKind::Warning, offMedium.Error,
                                             TBoxButtons::YesNoDefaultNo) != TBoxAnswer::Yes)
    return;
  // Leftovers of a run that was killed while it saved: cut files under hidden names.
  RemoveStalePartFiles(FController->DestPath());
  if (FController->ClearThumbs())
    ClearThumbnails();
  FRecovered = FNotSaved = 0;
  LabelRecovered->clear();
  SetState(TScanState::Scanning);
  LoadAnimation();
  FAnimation->Loop = true;
  FAnimation->Start();
  FDesktop.PlaySound("STARTWAV");
  FWriter->Begin(FController->DestPath());
  if (!FController->StartScan(root) && FState != TScanState::Idle) {
    // Refused without a summary: no scan runs, so the window must not wait for one.
    FAnimation->Stop();
    FWriter->End();
    SetState(TScanState::Idle);
  }
}

void TFormMain::ScanStarted() {}

void TFormMain::SBCancelClick() {
  if (FState != TScanState::Scanning)
    return;
  FDesktop.PlaySound("CANCELWAV");
  SetState(TScanState::Stopping);
  // Shown before the stop, which may wait for the scanner's worker to end its step.
  SBCancel->repaint();
  LabelStatus->repaint();
  FController->StopScan();
}

void TFormMain::SBOptionsClick() {
  if (FState == TScanState::Idle)
    ShowOptions();
}

void TFormMain::SBHelpClick() {
  std::string dir = QCoreApplication::applicationDirPath().toStdString();
  FDesktop.Open(this, dir + "/" + HelpFile, dir);
}

void TFormMain::SBExitClick() {
  close();
}

void TFormMain::STURLMouseMove(int X, int Y) {
  QPalette pal = STURL->palette();
  bool inside = X >= 0 && X <= STURL->width() && Y >= 0 && Y <= STURL->height();
  pal.setColor(QPalette::WindowText, inside ? QColor(255, 0, 0) : FormColor);
  STURL->setPalette(pal);
}

void TFormMain::STURLClick() {
  STURLMouseMove(-1, -1);
  FDesktop.Open(this, STURL->text().toStdString(),
                QCoreApplication::applicationDirPath().toStdString());
}

void TFormMain::FileFound(const std::string& Name, std::unique_ptr<TMemoryStream> Stream) {
  // Written on the saver thread while this one goes on answering; the scanner's worker
  // waits for this handler as ever, so a failed save still stops the scan at its file.
  const std::string dest = FController->DestPath(), prefix = FController->FilePrefix();
  const int64_t first = FController->FoundCount();
  TSaveResult r;
  {
    FSavingText = Format(LoadStr(sWritingFile), Name,
                         FormatSize(static_cast<uint64_t>(Stream->GetSize()) / 1024));
    // However the save ends, the window stops telling of it.
    struct TSavingShown {
      TFormMain& Form;
      ~TSavingShown() {
        Form.FSavingTimer.stop();
        Form.FSavingText.clear();
        Form.ShowStatus();
      }
    } shown{*this};
    FSaver->Run([&] { r = FWriter->Save(dest, prefix, first, Name, *Stream); },
                [this] { FSavingTimer.start(); });
  }
  if (!r.Ok()) {
    FController->SetPaused(true);
    if (FDesktop.MessageBox(this, TBoxKind::Error, Format(LoadStr(sSaveErrorContinue), r.Error),
                            TBoxButtons::YesNo) == TBoxAnswer::No)
      FController->StopScan();
    FController->SetPaused(false);
    ++FNotSaved;
    return; // nothing on disk, so no thumbnail: it would look recovered
  }
  ++FRecovered;
  LabelRecovered->setText(QString::number(FRecovered));
  // Saved: the queue holds the name only and reads the file back at its tick, so a
  // fast scan queues no bytes.
  QueueThumbnail(r.Value, nullptr);
}

void TFormMain::QueueThumbnail(const std::string& FileName, std::unique_ptr<TMemoryStream> Stream) {
  FThumbQueue->QueueThumbnail(FileName, std::move(Stream));
}

std::size_t TFormMain::QueuedThumbnails() const {
  return FThumbQueue->Queued();
}

void TFormMain::ClearThumbnails() {
  LVThumbnails->clear();
  ThumbDelegate->Reset();
  ILThumbnails.clear();
  FThumbQueue->Clear();
}

void TFormMain::LoadExistingThumbnails() {
  ClearThumbnails();
  const std::string dest = FController->DestPath();
  TResult<std::vector<std::string>> existing = ExistingFiles(dest, FController->FilePrefix());
  if (!existing.Ok())
    DebugLog("THUMBS: Cannot list %s: %s", dest, existing.Error);
  // Names only: each file is opened at its own tick, so no number of files can use up
  // the file handles.
  for (const std::string& name : existing.Value)
    QueueThumbnail(dest + name, nullptr);
}

void TFormMain::Open1Click() {
  for (int i = 0; i < LVThumbnails->count(); ++i) {
    QListWidgetItem* item = LVThumbnails->item(i);
    if (item->isSelected())
      FDesktop.Open(this, FController->DestPath() + item->text().toStdString(), std::string());
  }
}

void TFormMain::LVThumbnailsDblClick() {
  Open1Click();
}

void TFormMain::LVThumbnailsEnter() {
  // The selection, as a double click opens it; with none, the item that has the focus.
  QListWidgetItem* current = LVThumbnails->currentItem();
  if (LVThumbnails->selectedItems().isEmpty() && current)
    FDesktop.Open(this, FController->DestPath() + current->text().toStdString(), std::string());
  else
    Open1Click();
}

void TFormMain::Delete1Click() {
  std::vector<std::string> kept; // last first
  for (int i = LVThumbnails->count() - 1; i >= 0; --i) {
    QListWidgetItem* item = LVThumbnails->item(i);
    if (!item->isSelected())
      continue;
    // To the desktop's trash, from where the user can bring it back.
    std::string file = FController->DestPath() + item->text().toStdString();
    if (std::string why = FDesktop.MoveToTrash(file); !why.empty()) {
      // The file is still there (or was never there), so its item stays.
      DebugLog("THUMBS: Cannot move %s to the trash: %s", file, why);
      kept.push_back(file);
      continue;
    }
    delete LVThumbnails->takeItem(i);
  }
  LVThumbnails->sortItems(Qt::AscendingOrder);
  if (kept.empty())
    return;
  // A box of every name would grow past the screen, its OK button with it: the first
  // few are named, the debug log has them all.
  std::reverse(kept.begin(), kept.end());
  std::string names;
  for (std::size_t i = 0; i < kept.size() && i < TrashBoxNames; ++i)
    names += "\r\n" + kept[i];
  std::string text = Format(LoadStr(sTrashFailed), names);
  if (kept.size() > TrashBoxNames)
    text += Format(LoadStr(sTrashFailedMore), kept.size() - TrashBoxNames);
  DebugLog("THUMBS: %d files could not be moved to the trash", kept.size());
  FDesktop.MessageBox(this, TBoxKind::Error, text, TBoxButtons::Ok);
}

void TFormMain::LVThumbnailsKeyUp(int Key, Qt::KeyboardModifiers Shift) {
  if (Key == Qt::Key_Delete && Shift == Qt::NoModifier)
    Delete1Click();
  else if (Key == Qt::Key_A && Shift == Qt::ControlModifier)
    LVThumbnails->selectAll();
}

void TFormMain::ScanProgress(int64_t Position, int64_t SectorCount) {
  FProgressPos = Position;
  FProgressCount = SectorCount;
}

void TFormMain::ShowProgress() {
  if (FProgressPos == FShownPos && FProgressCount == FShownCount)
    return;
  FShownPos = FProgressPos;
  FShownCount = FProgressCount;
  // A progress bar counts in int: large media are shown at a coarser scale.
  int shift = 0;
  while ((FShownCount >> shift) > INT_MAX)
    ++shift;
  int max = static_cast<int>(FShownCount >> shift);
  int value = static_cast<int>(std::clamp<int64_t>(FShownPos >> shift, 0, max));
  if (ProgressBar->maximum() != max)
    ProgressBar->setRange(0, max);
  ProgressBar->setValue(value);
  LabelCurSector->setText(QString::fromStdString(Format("%d / %d", FShownPos, FShownCount)));
  LabelCurSector->adjustSize();
}

void TFormMain::ScanFinished(bool Completed, bool StoppedByUser, const std::string& Msg) {
  // The summary says the files are saved only once they are on the medium: a card or
  // stick taken out at the summary must hold every file it names. Until then the window
  // stays busy and says what it waits for, and the flush runs on the saver thread.
  SetState(TScanState::Flushing);
  TResult<> flushed;
  if (FRecovered > 0) {
    QGuiApplication::setOverrideCursor(Qt::BusyCursor);
    auto start = std::chrono::steady_clock::now();
    try {
      FSaver->Run([&] { flushed = FWriter->Flush(); });
    } catch (...) {
      QGuiApplication::restoreOverrideCursor();
      FWriter->End();
      SetState(TScanState::Idle);
      throw;
    }
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                  std::chrono::steady_clock::now() - start)
                  .count();
    QGuiApplication::restoreOverrideCursor();
    if (flushed.Ok())
      DebugLog("MAIN: Wrote %s through to its disk in %d ms", FController->DestPath(), ms);
    else
      DebugLog("MAIN: Cannot write %s through to its disk: %s", FController->DestPath(),
               flushed.Error);
  }
  FWriter->End();
  SetState(TScanState::Idle);
  QCoreApplication::processEvents();
  FAnimation->Stop();
  TSummary summary = ScanSummary(Completed, StoppedByUser, FRecovered, FNotSaved,
                                 FController->DestPath(), flushed.Error, Msg);
  if (!summary.Sound.empty())
    FDesktop.PlaySound(summary.Sound);
  FDesktop.ShowText(summary.Text);
}

} // namespace gf

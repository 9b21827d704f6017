#include "OptionDlg.h"
#include "Application.h"

#include "Controller.h"
#include "Desktop.h"
#include "DialogDir.h"
#include "Fonts.h"
#include "Format.h"
#include "Language.h"
#include "Main.h"

#include <QtGui/QCloseEvent>
#include <QtGui/QKeyEvent>
#include <QtWidgets/QCheckBox>
#include <QtWidgets/QLabel>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QToolButton>

namespace gf {

TFormOptions::TFormOptions(TFormMain& Main, TDialogSelectDir& SelectDir)
    // A title and a close button, nothing else. Without the close button the window
    // manager is told nothing about what the window allows, and offers everything.
    : QDialog(&Main, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowCloseButtonHint),
      FMain(Main), FSelectDir(SelectDir), Controller(Main.Controller()) {
  setFont(FormFont());
  QPalette pal = palette();
  for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
    pal.setColor(role, QColor(0, 0, 255));
  setPalette(pal);
  setFixedSize(454, 160);
  setModal(true);

  Label7 = new QLabel("Destination path:", this);
  Label7->move(8, 10);
  Label7->adjustSize();
  EditDestPath = new QLineEdit(this);
  EditDestPath->setGeometry(8, 28, 340, 24);
  SpeedButton3 = MakeGlyphButton(this, "&Browse", "BTN_BROWSE", {356, 25, 90, 30});
  Label8 = new QLabel("File name prefix:", this);
  Label8->move(8, 60);
  Label8->adjustSize();
  EditFilenamePrefix = new QLineEdit(this);
  EditFilenamePrefix->setGeometry(8, 78, 180, 24);
  CBThumbnailExisting = new QCheckBox("Thumbnail already recovered images", this);
  CBThumbnailExisting->setGeometry(8, 110, 340, 20);
  CBClearThumbs = new QCheckBox("Clear list of thumbnails when starting recovery", this);
  CBClearThumbs->setGeometry(8, 132, 340, 20);
  SpeedButton1 = MakeGlyphButton(this, "&OK", "BTN_OK", {356, 86, 90, 30});
  SpeedButton2 = MakeGlyphButton(this, "&Cancel", "BTN_CANCEL", {356, 122, 90, 30});
  // Edits first, then the switches, then the buttons, as the user works through it.
  setTabOrder(EditDestPath, SpeedButton3);
  setTabOrder(SpeedButton3, EditFilenamePrefix);
  setTabOrder(EditFilenamePrefix, CBThumbnailExisting);
  setTabOrder(CBThumbnailExisting, CBClearThumbs);
  setTabOrder(CBClearThumbs, SpeedButton1);
  setTabOrder(SpeedButton1, SpeedButton2);
  connect(SpeedButton1, &QToolButton::clicked, this, Guarded([this] { SpeedButton1Click(); }));
  connect(SpeedButton2, &QToolButton::clicked, this, Guarded([this] { SpeedButton2Click(); }));
  connect(SpeedButton3, &QToolButton::clicked, this, Guarded([this] { Button3Click(); }));

  // The dialog is the only subscriber of the controller's option changes.
  Controller.OnOptionsChanged = [this](TGlimmerfold&) { SettingsChanged(); };
  SettingsChanged();
  setWindowTitle(QString::fromStdString(LoadStr(sProductTitle) + " " + TFormMain::Version + " - " +
                                        LoadStr(sOptionsCaption)));
}

TFormOptions::~TFormOptions() {
  Controller.OnOptionsChanged = nullptr;
}

void TFormOptions::ShowModal() {
  move(FMain.frameGeometry().center() - rect().center());
  EditDestPath->setFocus();
  exec();
}

void TFormOptions::SettingsChanged() {
  EditDestPath->setText(QString::fromStdString(Controller.DestPath()));
  EditFilenamePrefix->setText(QString::fromStdString(Controller.FilePrefix()));
  CBThumbnailExisting->setChecked(Controller.ThumbnailExisting());
  CBClearThumbs->setChecked(Controller.ClearThumbs());
}

void TFormOptions::SpeedButton1Click() {
  // All four are read first: every setter that changes a value rewrites the controls.
  const std::string typed = EditDestPath->text().toStdString();
  const std::string prefix = EditFilenamePrefix->text().toStdString();
  const bool existing = CBThumbnailExisting->isChecked();
  const bool clear = CBClearThumbs->isChecked();
  // A value that would send the files elsewhere keeps the dialog open, with the reason.
  std::string path;
  if (!TGlimmerfold::FullDestPath(typed, path)) {
    Refuse(EditDestPath, Format(LoadStr(sDestNotFull), typed));
    return;
  }
  if (!TGlimmerfold::ValidFilePrefix(prefix)) {
    Refuse(EditFilenamePrefix, LoadStr(sPrefixInvalid));
    return;
  }
  bool reload = false, clearList = false;
  if (existing)
    reload = path != Controller.DestPath() || existing != Controller.ThumbnailExisting();
  else
    clearList = true;
  if (path != Controller.DestPath())
    Controller.SetDestPath(path);
  Controller.SetThumbnailExisting(existing);
  Controller.SetClearThumbs(clear);
  Controller.SetFilePrefix(prefix);
  Controller.SaveSettings();
  if (reload)
    FMain.LoadExistingThumbnails();
  else if (clearList)
    FMain.ClearThumbnails();
  accept();
}

void TFormOptions::Refuse(QLineEdit* Edit, const std::string& Why) {
  FMain.Desktop().MessageBox(this, TBoxKind::Error, Why, TBoxButtons::Ok);
  Edit->setFocus();
  Edit->selectAll();
}

void TFormOptions::SpeedButton2Click() {
  reject();
}

void TFormOptions::closeEvent(QCloseEvent* Event) {
  SpeedButton2Click();
  Event->accept();
}

void TFormOptions::Button3Click() {
  FSelectDir.SetDirectory(EditDestPath->text().toStdString());
  if (FSelectDir.Execute())
    EditDestPath->setText(QString::fromStdString(FSelectDir.Directory()));
}

void TFormOptions::keyPressEvent(QKeyEvent* Event) {
  int key = Event->key();
  if (key == Qt::Key_Return || key == Qt::Key_Enter) {
    SpeedButton1Click();
    return;
  }
  if (key == Qt::Key_Escape) {
    SpeedButton2Click();
    return;
  }
  QDialog::keyPressEvent(Event);
}

} // namespace gf

#include "Desktop.h"

#include "Debug.h"
#include "MessageForm.h"
#include "Sound.h"

#include <QtCore/QFile>
#include <QtCore/QProcess>
#include <QtWidgets/QFileDialog>
#include <QtWidgets/QMessageBox>

namespace gf {

const char* BoxTitle(TBoxKind Kind) {
  switch (Kind) {
  case TBoxKind::Error:
    return "Error";
  case TBoxKind::Warning:
    return "Warning";
  case TBoxKind::Confirmation:
    return "Confirm";
  case TBoxKind::Information:
    return "Information";
  }
  return "";
}

TQtDesktop::TQtDesktop() : FSound(std::make_unique<TSoundPlayer>()) {}

TQtDesktop::~TQtDesktop() = default;

TBoxAnswer TQtDesktop::MessageBox(QWidget* Owner, TBoxKind Kind, const std::string& Text,
                                  TBoxButtons Buttons) {
  QMessageBox::Icon icon = Kind == TBoxKind::Error         ? QMessageBox::Critical
                           : Kind == TBoxKind::Warning     ? QMessageBox::Warning
                           : Kind == TBoxKind::Information ? QMessageBox::Information
                                                           : QMessageBox::Question;
  QMessageBox box(
      icon, BoxTitle(Kind), QString::fromStdString(Text).replace("\r\n", "\n"),
      Buttons == TBoxButtons::YesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok, Owner);
  int r = box.exec();
  if (Buttons == TBoxButtons::Ok)
    return TBoxAnswer::Ok;
  return r == QMessageBox::Yes ? TBoxAnswer::Yes : TBoxAnswer::No;
}

void TQtDesktop::PlaySound(const std::string& Name) {
  QFile f(QString(":/%1.wav").arg(QString::fromStdString(Name)));
  if (!f.open(QIODevice::ReadOnly)) {
    DebugLog("SOUND: No sound resource %s", Name);
    return;
  }
  QByteArray bytes = f.readAll();
  FSound->Play(std::vector<uint8_t>(bytes.begin(), bytes.end()));
}

void TQtDesktop::Open(const std::string& Target, const std::string& WorkingDir) {
  // A missing opener or a failing one is ignored, like a shell that cannot open a file.
  QProcess::startDetached("xdg-open", {QString::fromStdString(Target)},
                          QString::fromStdString(WorkingDir));
}

void TQtDesktop::ShowText(const std::string& Text) {
  if (FMessageForm)
    FMessageForm->ShowText(Text);
}

std::string TQtDesktop::SaveFileName(QWidget* Owner, const std::string& Filter,
                                     const std::string& DefaultSuffix) {
  QFileDialog dialog(Owner);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setNameFilter(QString::fromStdString(Filter));
  dialog.setDefaultSuffix(QString::fromStdString(DefaultSuffix));
  dialog.setSizeGripEnabled(true);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
    return {};
  return dialog.selectedFiles().first().toStdString();
}

} // namespace gf

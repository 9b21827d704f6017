#include "Desktop.h"

#include "Debug.h"
#include "Format.h"
#include "MessageForm.h"
#include "OptionDlg.h"
#include "Sound.h"

#include <QtCore/QDir>
#include <QtCore/QElapsedTimer>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QPointer>
#include <QtCore/QProcess>
#include <QtCore/QStandardPaths>
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

std::string MoveToDesktopTrash(const std::string& File) {
  // The trash folder is made when missing (a new account may have no data folder yet).
  // Qt moves files into the working folder when it cannot make it itself, so nothing
  // is moved without it.
  QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
  if (data.isEmpty())
    return "The desktop has no data folder for a trash.";
  QString trash = data + "/Trash";
  if (!QFileInfo(trash).isDir()) {
    if (!QDir().mkpath(trash) || !QFileInfo(trash).isDir())
      return Format("The trash folder %s cannot be made.", trash.toStdString());
    QFile::setPermissions(trash, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  }
  QFile file(QString::fromStdString(File));
  if (file.moveToTrash())
    return {};
  std::string why = file.errorString().toStdString();
  return why.empty() ? "The desktop's trash refused it." : why;
}

TQtDesktop::TQtDesktop(std::string Opener)
    : FOpener(std::move(Opener)), FSound(std::make_unique<TSoundPlayer>()) {}

TQtDesktop::~TQtDesktop() = default;

TBoxAnswer TQtDesktop::MessageBox(QWidget* Owner, TBoxKind Kind, const std::string& Text,
                                  TBoxButtons Buttons) {
  QMessageBox::Icon icon = Kind == TBoxKind::Error         ? QMessageBox::Critical
                           : Kind == TBoxKind::Warning     ? QMessageBox::Warning
                           : Kind == TBoxKind::Information ? QMessageBox::Information
                                                           : QMessageBox::Question;
  QMessageBox box(icon, BoxTitle(Kind), QString::fromStdString(Text).replace("\r\n", "\n"),
                  Buttons == TBoxButtons::Ok ? QMessageBox::Ok : QMessageBox::Yes | QMessageBox::No,
                  Owner);
  if (Buttons == TBoxButtons::YesNoDefaultNo)
    box.setDefaultButton(QMessageBox::No);
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

void TQtDesktop::Open(QWidget* Owner, const std::string& Target, const std::string& WorkingDir) {
  auto* process = new QProcess(&FOpenings);
  process->setProgram(QString::fromStdString(FOpener));
  process->setArguments({QString::fromStdString(Target)});
  if (!WorkingDir.empty())
    process->setWorkingDirectory(QString::fromStdString(WorkingDir));
  // No pipes: a viewer that outlives this program must not die writing to one.
  process->setStandardInputFile(QProcess::nullDevice());
  process->setStandardOutputFile(QProcess::nullDevice());
  process->setStandardErrorFile(QProcess::nullDevice());
  QPointer<QWidget> owner(Owner);
  auto fail = [this, owner, Target](const std::string& Why) {
    DebugLog("MAIN: Cannot open %s: %s", Target, Why);
    MessageBox(owner.data(), TBoxKind::Error, Format("Cannot open %s.\r\n%s", Target, Why),
               TBoxButtons::Ok);
  };
  QObject::connect(
      process, &QProcess::errorOccurred, process, [this, process, fail](QProcess::ProcessError e) {
        if (e != QProcess::FailedToStart)
          return; // the end of a started opener comes through finished
        process->deleteLater();
        fail(Format("The desktop's opener %s was not found: install the package xdg-utils.",
                    FOpener));
      });
  QElapsedTimer started;
  started.start();
  QObject::connect(process, &QProcess::finished, process,
                   [this, process, fail, started, Target](int Code, QProcess::ExitStatus Status) {
                     process->deleteLater();
                     bool failed = Status != QProcess::NormalExit || Code != 0;
                     if (!failed)
                       return;
                     if (started.elapsed() > OpenFailureSeconds * 1000) {
                       // It opened something that ran this long; its own end is none of ours.
                       DebugLog("MAIN: The opener for %s ended with code %d", Target, Code);
                       return;
                     }
                     if (Status != QProcess::NormalExit)
                       fail(Format("The desktop's opener %s stopped unexpectedly.", FOpener));
                     else if (Code == 2)
                       fail("The file does not exist.");
                     else
                       fail(Format("The desktop has no program to open it (%s ended with code %d).",
                                   FOpener, Code));
                   });
  process->start();
}

std::string TQtDesktop::MoveToTrash(const std::string& File) {
  return MoveToDesktopTrash(File);
}

void TQtDesktop::ShowOptions() {
  if (FOptionsForm)
    FOptionsForm->ShowModal();
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

// The desktop services the windows use: message boxes, sounds, the desktop's opener and
// its trash, the summary window, the options dialog and the save-file dialog. The
// program uses TQtDesktop; tests put a recorder in its place.
#pragma once

#include <QtCore/QObject>

#include <memory>
#include <string>

class QWidget;

namespace gf {

class TFormMessage;
class TFormOptions;
class TSoundPlayer;

enum class TBoxKind { Error, Warning, Confirmation, Information };
// YesNoDefaultNo: Enter answers No, for a question whose Yes may cost the user data.
enum class TBoxButtons { Ok, YesNo, YesNoDefaultNo };
enum class TBoxAnswer { Ok, Yes, No };

// The title of a box of each kind: "Error", "Warning", "Confirm", "Information".
const char* BoxTitle(TBoxKind Kind);

// Moves a file into the user's trash (the freedesktop one under the data folder), from
// where the user can bring it back: empty when it went, else why it is still in place.
std::string MoveToDesktopTrash(const std::string& File);

class TDesktop {
public:
  virtual ~TDesktop() = default;
  // Shows a modal message box and returns the button pressed.
  virtual TBoxAnswer MessageBox(QWidget* Owner, TBoxKind Kind, const std::string& Text,
                                TBoxButtons Buttons) = 0;
  // Starts one of the sounds STARTWAV, CANCELWAV, OKWAV, FAILWAV and returns.
  virtual void PlaySound(const std::string& Name) = 0;
  // Asks the desktop to open a file or a web address and returns; when that fails, a
  // box owned by Owner says so. WorkingDir may be empty.
  virtual void Open(QWidget* Owner, const std::string& Target, const std::string& WorkingDir) = 0;
  // Moves a file to the desktop's trash: empty when it went, else why it is still in place.
  virtual std::string MoveToTrash(const std::string& File) = 0;
  // Shows a long text modally in the message window.
  virtual void ShowText(const std::string& Text) = 0;
  virtual void ShowOptions() = 0;
  // Asks for a file name to save to; empty when the user cancels.
  virtual std::string SaveFileName(QWidget* Owner, const std::string& Filter,
                                   const std::string& DefaultSuffix) = 0;
};

// Opens through the freedesktop opener, xdg-open (package xdg-utils). The opener may
// run the viewer it starts until that ends, so only a failure within
// OpenFailureSeconds of the start is reported; later ones are logged.
class TQtDesktop : public TDesktop {
public:
  static constexpr int OpenFailureSeconds = 10;

  // Opener: the program that opens a file or web address.
  explicit TQtDesktop(std::string Opener = "xdg-open");
  ~TQtDesktop() override;
  void SetMessageForm(TFormMessage* Form) { FMessageForm = Form; }
  void SetOptionsForm(TFormOptions* Form) { FOptionsForm = Form; }

  TBoxAnswer MessageBox(QWidget* Owner, TBoxKind Kind, const std::string& Text,
                        TBoxButtons Buttons) override;
  void PlaySound(const std::string& Name) override;
  void Open(QWidget* Owner, const std::string& Target, const std::string& WorkingDir) override;
  std::string MoveToTrash(const std::string& File) override;
  void ShowText(const std::string& Text) override;
  void ShowOptions() override;
  std::string SaveFileName(QWidget* Owner, const std::string& Filter,
                           const std::string& DefaultSuffix) override;

private:
  std::string FOpener;
  QObject FOpenings; // parent of the opener processes that still run
  TFormMessage* FMessageForm = nullptr;
  TFormOptions* FOptionsForm = nullptr;
  std::unique_ptr<TSoundPlayer> FSound;
};

} // namespace gf

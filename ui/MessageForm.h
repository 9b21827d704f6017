// Shows a longer text, such as the summary at the end of a scan, modally in a
// read-only, scrollable box with an OK button.
#pragma once

#include <QtWidgets/QDialog>

#include <string>

class QPlainTextEdit;
class QToolButton;
class QFrame;

namespace gf {

class TFormMessage : public QDialog {
public:
  explicit TFormMessage(QWidget* Owner);

  // Replaces the text ("\r\n" starts a new line) and shows the window modally.
  void ShowText(const std::string& Text);
  // Replaces the text only; ShowText and the tests use it.
  void SetText(const std::string& Text);
  void SpeedButton1Click();

  QPlainTextEdit* Memo1;
  QFrame* PanelBottom;
  QToolButton* SpeedButton1;

protected:
  // Enter closes the window as OK does (Space does so on the OK button, which has the
  // focus when the window opens).
  void keyPressEvent(QKeyEvent* Event) override;
};

} // namespace gf

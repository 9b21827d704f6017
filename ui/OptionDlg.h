// The options dialog: the destination folder (with a folder chooser), the file-name
// prefix and the two thumbnail switches. OK applies them through the controller's
// setters, saves them and brings the main window's thumbnails in line; Cancel keeps
// what was typed for the next opening. Closing only hides it.
#pragma once

#include <QtWidgets/QDialog>

#include <string>

class QCheckBox;
class QLabel;
class QLineEdit;
class QToolButton;

namespace gf {

class TDialogSelectDir;
class TFormMain;
class TGlimmerfold;

class TFormOptions : public QDialog {
public:
  TFormOptions(TFormMain& Main, TDialogSelectDir& SelectDir);
  ~TFormOptions() override;

  // Shows the dialog modally, centred on the main window.
  void ShowModal();
  // Copies the controller's settings into the controls.
  void SettingsChanged();
  void SpeedButton1Click(); // OK
  void SpeedButton2Click(); // Cancel
  void Button3Click();      // Browse

  QLabel* Label7;
  QLineEdit* EditDestPath;
  QToolButton* SpeedButton3;
  QLabel* Label8;
  QLineEdit* EditFilenamePrefix;
  QCheckBox* CBThumbnailExisting;
  QCheckBox* CBClearThumbs;
  QToolButton* SpeedButton1;
  QToolButton* SpeedButton2;

protected:
  // Enter applies as OK does and Escape cancels, from any control (an edit, a check
  // box and the buttons leave both keys to the dialog).
  void keyPressEvent(QKeyEvent* Event) override;
  // The close button cancels.
  void closeEvent(QCloseEvent* Event) override;

private:
  // Tells why a value cannot be taken and puts the cursor on it.
  void Refuse(QLineEdit* Edit, const std::string& Why);

  TFormMain& FMain;
  TDialogSelectDir& FSelectDir;
  TGlimmerfold& Controller;
};

} // namespace gf

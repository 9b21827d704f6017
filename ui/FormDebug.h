// The debug log window: shows the process-wide log lines, saves them to a text file
// and clears them. Closing it (Escape too) only hides it. It follows the line store by polling
// while it is visible, so a burst of lines from the scanner costs one refresh.
#pragma once

#include <QtCore/QAbstractListModel>
#include <QtCore/QTimer>
#include <QtWidgets/QWidget>

#include <cstdint>
#include <vector>

class QListView;
class QPushButton;
class QFrame;

namespace gf {

class TDesktop;

class TDebugLinesModel : public QAbstractListModel {
public:
  int rowCount(const QModelIndex& Parent) const override;
  QVariant data(const QModelIndex& Index, int Role) const override;
  // Brings the rows up to the store's lines.
  void Sync();

private:
  std::vector<QString> FRows;
  uint64_t FVersion = 0;
};

class TFormDebug : public QWidget {
public:
  explicit TFormDebug(TDesktop& Desktop);

  void Button1Click(); // Save
  void Button2Click(); // Clear
  // Refreshes the list from the store now (the poll does it every 100 ms while shown).
  void Sync() { FModel.Sync(); }
  // Writes every line, each ending in a line break, replacing the file; raises
  // EFileStreamError when it cannot.
  static void SaveLines(const std::string& FileName);

  QListView* LB;
  QFrame* Panel1;
  QPushButton* Button1;
  QPushButton* Button2;
  const TDebugLinesModel& Model() const { return FModel; }

protected:
  void showEvent(QShowEvent* Event) override;
  void keyPressEvent(QKeyEvent* Event) override;
  void hideEvent(QHideEvent* Event) override;
  void resizeEvent(QResizeEvent* Event) override;

private:
  void Layout();
  TDesktop& FDesktop;
  TDebugLinesModel FModel;
  QTimer FPoll;
};

} // namespace gf

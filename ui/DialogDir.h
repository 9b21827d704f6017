// The folder chooser: a tree of the file system's folders, rooted at "/" with the home
// folder and the removable-media mount folders at the top, in which the user picks the
// destination, creates a folder under the selected one and renames folders in place.
// Paths are file-system paths; a chosen Directory ends with "/".
#pragma once

#include <QtCore/QAbstractItemModel>
#include <QtCore/QTimer>
#include <QtWidgets/QDialog>
#include <QtWidgets/QStyledItemDelegate>
#include <QtWidgets/QTreeView>

#include <memory>
#include <set>
#include <string>
#include <vector>

class QLabel;
class QToolButton;

namespace gf {

class TDesktop;
class TDialogSelectDir;

// The folders, read from the disk as they are expanded (never watched: a node is
// re-read when it is expanded for the first time and when PopulateNode asks).
class TFolderModel : public QAbstractItemModel {
public:
  struct TRoot {
    QString Label; // shown in place of the folder's name
    QString Path;
  };
  // The top level: the home folder, the removable-media mount folders that exist, "/".
  static std::vector<TRoot> DefaultRoots();

  explicit TFolderModel(std::vector<TRoot> Roots = DefaultRoots(), QObject* Parent = nullptr);
  ~TFolderModel() override;

  QModelIndex index(int Row, int Column, const QModelIndex& Parent) const override;
  QModelIndex parent(const QModelIndex& Index) const override;
  int rowCount(const QModelIndex& Parent) const override;
  int columnCount(const QModelIndex&) const override { return 1; }
  bool hasChildren(const QModelIndex& Parent) const override;
  bool canFetchMore(const QModelIndex& Parent) const override;
  void fetchMore(const QModelIndex& Parent) override;
  QVariant data(const QModelIndex& Index, int Role) const override;
  Qt::ItemFlags flags(const QModelIndex& Index) const override;

  // The folder's file-system path ("/" or without a trailing "/"); empty for none.
  QString GetPath(const QModelIndex& Index) const;
  // The node of an existing folder, read from the disk down to it; invalid when the
  // folder does not exist. A hidden folder on the way is shown from then on.
  QModelIndex FindPath(const QString& Path);
  // Re-reads a node's folders: new ones appear, vanished ones go, the rest stay.
  void PopulateNode(const QModelIndex& Index);
  // Whether the folder is a top-level entry, "/" or the root of a mounted volume.
  bool IsRootOrMount(const QModelIndex& Index) const;
  // Renames the folder on disk and in the tree; an empty answer on success, else the
  // reason. Never replaces an existing folder.
  QString Rename(const QModelIndex& Index, const QString& NewName);

private:
  struct TNode;
  TNode* Node(const QModelIndex& Index) const;
  QModelIndex IndexOf(TNode* N) const;
  std::vector<QString> ReadFolders(TNode* N) const;
  void InsertChild(TNode* Parent, std::unique_ptr<TNode> Child);
  void Populate(TNode* N);

  std::vector<std::unique_ptr<TNode>> FRoots;
  std::set<QString> FRevealed; // hidden folders that were asked for by path
};

// The tree control: asks the dialog before an in-place rename starts.
class TFolderTree : public QTreeView {
public:
  TFolderTree(TDialogSelectDir& Dialog, QWidget* Parent);
  using QTreeView::edit;
  // Whether a folder's name is open for editing.
  bool Editing() const { return state() == EditingState; }

protected:
  bool edit(const QModelIndex& Index, EditTrigger Trigger, QEvent* Event) override;

private:
  TDialogSelectDir& FDialog;
};

// Hands an accepted in-place edit to the dialog instead of to the model.
class TFolderDelegate : public QStyledItemDelegate {
public:
  TFolderDelegate(TDialogSelectDir& Dialog, QObject* Parent);
  void setModelData(QWidget* Editor, QAbstractItemModel* Model,
                    const QModelIndex& Index) const override;

private:
  TDialogSelectDir& FDialog;
};

// Every show is centred on the main window (the parent's window), frame included, or on
// the screen without one.
class TDialogSelectDir : public QDialog {
public:
  // Desktop: where a refused rename is reported.
  TDialogSelectDir(TDesktop& Desktop, QWidget* Parent = nullptr,
                   std::vector<TFolderModel::TRoot> Roots = TFolderModel::DefaultRoots());

  // The folder to preselect; "/" is appended when missing (an empty path gives "/").
  void SetDirectory(const std::string& Path);
  const std::string& Directory() const { return FDirectory; }
  // Shows the dialog modally; true with Directory set to the chosen folder after OK.
  bool Execute();

  // The selected folder's path, empty when none is selected.
  std::string SelectedPath() const;
  // Selects an existing folder and shows it; false when it does not exist.
  bool SetPath(const std::string& Path);

  // Handlers.
  void FormShow();
  void STVChange();
  void SpeedButton1Click(); // OK
  void SpeedButton2Click(); // Cancel
  void SpeedButton3Click(); // New
  void STVEditing(const QModelIndex& Node, bool& AllowEdit);
  void STVEdited(const QModelIndex& Node, QString& S);
  void WMRefreshNode(const QPersistentModelIndex& Node);

  TFolderModel& Model() { return *FModel; }
  QLabel* Label1;
  TFolderTree* STV;
  QToolButton* SpeedButton3;
  QToolButton* SpeedButton1;
  QToolButton* SpeedButton2;

protected:
  void showEvent(QShowEvent* Event) override;
  // Enter presses OK, unless a button with the focus or a name being edited takes it.
  void keyPressEvent(QKeyEvent* Event) override;

private:
  void ShowPathLabel(const QString& Path);
  // Centres the dialog, frame included, on the main window.
  void Place();

  TDesktop& FDesktop;
  std::unique_ptr<TFolderModel> FModel;
  std::string FDirectory;
  // Mending the place once the window manager has framed the dialog (see FormShow).
  void MendPlace();

  QRect FPlaced; // where the frame was put at the last show
  QTimer FMendTimer;
  int FMendTicks = 0;
  int FCorrections = 0;
};

} // namespace gf

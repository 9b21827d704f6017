#include "DialogDir.h"
#include "Application.h"

#include "Debug.h"
#include "Desktop.h"
#include "Fonts.h"
#include "Format.h"
#include "Language.h"
#include "Streams.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QDir>
#include <QtCore/QDirIterator>
#include <QtCore/QFileInfo>
#include <QtCore/QTimer>
#include <QtGui/QKeyEvent>
#include <QtGui/QScreen>
#include <QtWidgets/QApplication>
#include <QtWidgets/QLabel>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QStyle>
#include <QtWidgets/QToolButton>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace gf {

namespace {

bool NameLess(const QString& A, const QString& B) {
  int c = A.compare(B, Qt::CaseInsensitive);
  return c != 0 ? c < 0 : A < B;
}

QString Join(const QString& Dir, const QString& Name) {
  return Dir.endsWith('/') ? Dir + Name : Dir + "/" + Name;
}

// A folder on another device than its parent folder (or "/" itself) is where a
// volume is mounted.
bool IsMountPoint(const QString& Path) {
  struct stat self {
  }, up{};
  QByteArray p = QFile::encodeName(Path);
  QByteArray u = QFile::encodeName(Join(Path, ".."));
  if (::stat(p.constData(), &self) != 0 || ::stat(u.constData(), &up) != 0)
    return false;
  return self.st_dev != up.st_dev || self.st_ino == up.st_ino;
}

QMargins FrameMargins(const QWidget& W) {
  QRect frame = W.frameGeometry(), client = W.geometry();
  return {client.left() - frame.left(), client.top() - frame.top(), frame.right() - client.right(),
          frame.bottom() - client.bottom()};
}

std::string UserName() {
  if (const char* u = std::getenv("USER"); u && *u)
    return u;
  if (const passwd* pw = ::getpwuid(::getuid()))
    return pw->pw_name;
  return {};
}

} // namespace

struct TFolderModel::TNode {
  QString Name;     // the folder's name; a top-level entry's label
  QString RootPath; // a top-level entry's folder
  TNode* Parent = nullptr;
  std::vector<std::unique_ptr<TNode>> Children;
  bool Populated = false;
  bool Mount = false;
  mutable int HasFolders = -1; // -1 until asked

  QString Path() const { return Parent ? Join(Parent->Path(), Name) : RootPath; }
};

std::vector<TFolderModel::TRoot> TFolderModel::DefaultRoots() {
  std::vector<TRoot> roots;
  roots.push_back({"Home", QDir::homePath()});
  std::string user = UserName();
  bool media = false;
  for (const char* base : {"/media/", "/run/media/"}) {
    QString path = QString::fromStdString(base + user);
    if (!user.empty() && QFileInfo(path).isDir()) {
      roots.push_back({"Removable media", path});
      media = true;
    }
  }
  if (!media && QFileInfo("/media").isDir())
    roots.push_back({"Removable media", "/media"});
  roots.push_back({"File system", "/"});
  return roots;
}

TFolderModel::TFolderModel(std::vector<TRoot> Roots, QObject* Parent) : QAbstractItemModel(Parent) {
  for (TRoot& r : Roots) {
    auto n = std::make_unique<TNode>();
    n->Name = r.Label;
    n->RootPath = QDir::cleanPath(r.Path);
    n->Mount = true;
    FRoots.push_back(std::move(n));
  }
}

TFolderModel::~TFolderModel() = default;

TFolderModel::TNode* TFolderModel::Node(const QModelIndex& Index) const {
  return Index.isValid() ? static_cast<TNode*>(Index.internalPointer()) : nullptr;
}

QModelIndex TFolderModel::IndexOf(TNode* N) const {
  if (!N)
    return {};
  const auto& siblings = N->Parent ? N->Parent->Children : FRoots;
  for (std::size_t i = 0; i < siblings.size(); ++i)
    if (siblings[i].get() == N)
      return createIndex(static_cast<int>(i), 0, N);
  return {};
}

QModelIndex TFolderModel::index(int Row, int Column, const QModelIndex& Parent) const {
  const auto& list = Parent.isValid() ? Node(Parent)->Children : FRoots;
  if (Row < 0 || Column != 0 || static_cast<std::size_t>(Row) >= list.size())
    return {};
  return createIndex(Row, 0, list[static_cast<std::size_t>(Row)].get());
}

QModelIndex TFolderModel::parent(const QModelIndex& Index) const {
  TNode* n = Node(Index);
  return n ? IndexOf(n->Parent) : QModelIndex();
}

int TFolderModel::rowCount(const QModelIndex& Parent) const {
  if (!Parent.isValid())
    return static_cast<int>(FRoots.size());
  return static_cast<int>(Node(Parent)->Children.size());
}

std::vector<QString> TFolderModel::ReadFolders(TNode* N) const {
  QString path = N->Path();
  std::vector<QString> names;
  QDirIterator it(path, QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
  while (it.hasNext()) {
    it.next();
    QString name = it.fileName();
    if (name.startsWith('.') && !FRevealed.count(Join(path, name)))
      continue; // hidden, as file managers do, unless asked for by path
    names.push_back(name);
  }
  std::sort(names.begin(), names.end(), NameLess);
  return names;
}

bool TFolderModel::hasChildren(const QModelIndex& Parent) const {
  TNode* n = Node(Parent);
  if (!n)
    return !FRoots.empty();
  if (n->Populated)
    return !n->Children.empty();
  if (n->HasFolders < 0) {
    n->HasFolders = 0;
    QDirIterator it(n->Path(), QDir::Dirs | QDir::NoDotAndDotDot | QDir::System);
    while (it.hasNext() && !n->HasFolders) {
      it.next();
      n->HasFolders = !it.fileName().startsWith('.');
    }
  }
  return n->HasFolders > 0;
}

bool TFolderModel::canFetchMore(const QModelIndex& Parent) const {
  TNode* n = Node(Parent);
  return n && !n->Populated;
}

void TFolderModel::fetchMore(const QModelIndex& Parent) {
  if (TNode* n = Node(Parent))
    Populate(n);
}

void TFolderModel::InsertChild(TNode* Parent, std::unique_ptr<TNode> Child) {
  auto& list = Parent->Children;
  auto at = std::lower_bound(
      list.begin(), list.end(), Child->Name,
      [](const std::unique_ptr<TNode>& c, const QString& name) { return NameLess(c->Name, name); });
  int row = static_cast<int>(at - list.begin());
  Child->Parent = Parent;
  Child->Mount = IsMountPoint(Child->Path());
  beginInsertRows(IndexOf(Parent), row, row);
  list.insert(at, std::move(Child));
  endInsertRows();
}

void TFolderModel::Populate(TNode* N) {
  std::vector<QString> names = ReadFolders(N);
  N->Populated = true;
  if (names.empty())
    return;
  QModelIndex parent = IndexOf(N);
  beginInsertRows(parent, 0, static_cast<int>(names.size()) - 1);
  for (const QString& name : names) {
    auto c = std::make_unique<TNode>();
    c->Name = name;
    c->Parent = N;
    c->Mount = IsMountPoint(c->Path());
    N->Children.push_back(std::move(c));
  }
  endInsertRows();
}

void TFolderModel::PopulateNode(const QModelIndex& Index) {
  TNode* n = Node(Index);
  if (!n)
    return;
  n->HasFolders = -1;
  if (!n->Populated) {
    Populate(n);
    return;
  }
  std::vector<QString> names = ReadFolders(n);
  auto present = [&names](const QString& name) {
    return std::binary_search(names.begin(), names.end(), name, NameLess);
  };
  for (int row = static_cast<int>(n->Children.size()) - 1; row >= 0; --row)
    if (!present(n->Children[static_cast<std::size_t>(row)]->Name)) {
      beginRemoveRows(Index, row, row);
      n->Children.erase(n->Children.begin() + row);
      endRemoveRows();
    }
  for (const QString& name : names) {
    bool known = std::any_of(n->Children.begin(), n->Children.end(),
                             [&name](const std::unique_ptr<TNode>& c) { return c->Name == name; });
    if (!known) {
      auto c = std::make_unique<TNode>();
      c->Name = name;
      InsertChild(n, std::move(c));
    }
  }
}

QVariant TFolderModel::data(const QModelIndex& Index, int Role) const {
  TNode* n = Node(Index);
  if (!n)
    return {};
  switch (Role) {
  case Qt::DisplayRole:
  case Qt::EditRole:
    return n->Name;
  case Qt::ToolTipRole:
    return n->Path();
  case Qt::DecorationRole: {
    QStyle* style = QApplication::style();
    if (!n->Parent && n->RootPath == QDir::homePath())
      return style->standardIcon(QStyle::SP_DirHomeIcon);
    if (!n->Parent && n->RootPath == "/")
      return style->standardIcon(QStyle::SP_DriveHDIcon);
    if (n->Mount && n->Parent)
      return QIcon(":/DRIVE_2.png");
    return style->standardIcon(QStyle::SP_DirIcon);
  }
  default:
    return {};
  }
}

Qt::ItemFlags TFolderModel::flags(const QModelIndex& Index) const {
  TNode* n = Node(Index);
  if (!n)
    return Qt::NoItemFlags;
  Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  if (n->Parent)
    f |= Qt::ItemIsEditable;
  return f;
}

QString TFolderModel::GetPath(const QModelIndex& Index) const {
  TNode* n = Node(Index);
  return n ? n->Path() : QString();
}

bool TFolderModel::IsRootOrMount(const QModelIndex& Index) const {
  TNode* n = Node(Index);
  return !n || !n->Parent || n->Mount || n->Path() == "/";
}

QModelIndex TFolderModel::FindPath(const QString& Path) {
  QString clean = QDir::cleanPath(Path);
  if (!clean.startsWith('/') || !QFileInfo(clean).isDir())
    return {};
  TNode* best = nullptr;
  for (auto& r : FRoots) {
    const QString& rp = r->RootPath;
    bool inside = rp == "/" || clean == rp || clean.startsWith(rp + "/");
    if (inside && (!best || rp.size() > best->RootPath.size()))
      best = r.get();
  }
  if (!best)
    return {};
  TNode* n = best;
  const QStringList parts = clean.mid(best->RootPath.size()).split('/', Qt::SkipEmptyParts);
  for (const QString& part : parts) {
    if (!n->Populated)
      Populate(n);
    auto find = [&]() -> TNode* {
      for (auto& c : n->Children)
        if (c->Name == part)
          return c.get();
      return nullptr;
    };
    TNode* next = find();
    if (!next) { // hidden, or made since the node was read
      if (part.startsWith('.'))
        FRevealed.insert(Join(n->Path(), part));
      PopulateNode(IndexOf(n));
      next = find();
    }
    if (!next)
      return {};
    n = next;
  }
  return IndexOf(n);
}

QString TFolderModel::Rename(const QModelIndex& Index, const QString& NewName) {
  TNode* n = Node(Index);
  if (!n || !n->Parent)
    return "A top-level folder cannot be renamed.";
  if (NewName == n->Name)
    return {};
  if (NewName == "." || NewName == ".." || NewName.contains('/') || NewName.contains(QChar(0)))
    return "A folder name cannot contain \"/\", nor be \".\" or \"..\".";
  QString from = n->Path();
  QString to = Join(n->Parent->Path(), NewName);
  // Never rename(2) alone: it would put the folder in the place of an empty one.
  if (int e = RenameNoReplace(QFile::encodeName(from).toStdString(),
                              QFile::encodeName(to).toStdString()))
    return e == EEXIST || e == ENOTEMPTY ? QString("A file or folder of that name exists already.")
                                         : QString::fromLocal8Bit(std::strerror(e));
  if (NewName.startsWith('.'))
    FRevealed.insert(to);
  // The node keeps its place in the selection; it moves to where its new name sorts.
  auto& list = n->Parent->Children;
  int from_row = Index.row();
  int to_row = 0;
  for (std::size_t i = 0; i < list.size(); ++i)
    if (list[i].get() != n && NameLess(list[i]->Name, NewName))
      ++to_row;
  QModelIndex parent = Index.parent();
  if (to_row != from_row) {
    beginMoveRows(parent, from_row, from_row, parent, to_row > from_row ? to_row + 1 : to_row);
    std::unique_ptr<TNode> moved = std::move(list[static_cast<std::size_t>(from_row)]);
    list.erase(list.begin() + from_row);
    moved->Name = NewName;
    list.insert(list.begin() + to_row, std::move(moved));
    endMoveRows();
  } else {
    n->Name = NewName;
  }
  QModelIndex now = IndexOf(n);
  emit dataChanged(now, now);
  return {};
}

TFolderTree::TFolderTree(TDialogSelectDir& Dialog, QWidget* Parent)
    : QTreeView(Parent), FDialog(Dialog) {}

bool TFolderTree::edit(const QModelIndex& Index, EditTrigger Trigger, QEvent* Event) {
  bool starts = Index.isValid() && Trigger != NoEditTriggers &&
                ((editTriggers() & Trigger) || Trigger == AllEditTriggers);
  if (starts && state() != EditingState) {
    bool allow = true;
    FDialog.STVEditing(Index, allow);
    if (!allow)
      return false;
  }
  return QTreeView::edit(Index, Trigger, Event);
}

TFolderDelegate::TFolderDelegate(TDialogSelectDir& Dialog, QObject* Parent)
    : QStyledItemDelegate(Parent), FDialog(Dialog) {}

void TFolderDelegate::setModelData(QWidget* Editor, QAbstractItemModel*,
                                   const QModelIndex& Index) const {
  auto* line = qobject_cast<QLineEdit*>(Editor);
  QString s = line ? line->text() : QString();
  FDialog.STVEdited(Index, s);
}

TDialogSelectDir::TDialogSelectDir(TDesktop& Desktop, QWidget* Parent,
                                   std::vector<TFolderModel::TRoot> Roots)
    : QDialog(Parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      FDesktop(Desktop), FModel(std::make_unique<TFolderModel>(std::move(Roots))) {
  setWindowTitle("Choose directory...");
  setFont(FormFont());
  QPalette pal = palette();
  for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
    pal.setColor(role, QColor(0, 0, 255));
  setPalette(pal);
  setFixedSize(329, 264);
  FMendTimer.setInterval(25);
  connect(&FMendTimer, &QTimer::timeout, this, [this] { MendPlace(); });
  setModal(true);
  Label1 = new QLabel("Directory:", this);
  Label1->move(12, 8);
  Label1->adjustSize();
  STV = new TFolderTree(*this, this);
  STV->setGeometry(12, 28, 305, 190);
  STV->setModel(FModel.get());
  STV->setHeaderHidden(true);
  STV->setRootIsDecorated(false);
  STV->setSelectionMode(QAbstractItemView::SingleSelection);
  STV->setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
  STV->setItemDelegate(new TFolderDelegate(*this, STV));
  for (int i = 0; i < FModel->rowCount({}); ++i)
    STV->expand(FModel->index(i, 0, {}));
  connect(STV->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          Guarded([this] { STVChange(); }));
  SpeedButton3 = MakeGlyphButton(this, "&New", "BTN_NEW", {12, 226, 96, 30});
  SpeedButton1 = MakeGlyphButton(this, "&OK", "BTN_OK", {117, 226, 96, 30});
  SpeedButton2 = MakeGlyphButton(this, "&Cancel", "BTN_CANCEL", {221, 226, 96, 30});
  connect(SpeedButton1, &QToolButton::clicked, this, Guarded([this] { SpeedButton1Click(); }));
  connect(SpeedButton2, &QToolButton::clicked, this, Guarded([this] { SpeedButton2Click(); }));
  connect(SpeedButton3, &QToolButton::clicked, this, Guarded([this] { SpeedButton3Click(); }));
  STVChange();
}

void TDialogSelectDir::SetDirectory(const std::string& Path) {
  FDirectory = Path;
  if (FDirectory.empty() || FDirectory.back() != '/')
    FDirectory += '/';
}

bool TDialogSelectDir::Execute() {
  if (exec() != QDialog::Accepted)
    return false;
  std::string selected = SelectedPath();
  if (selected.empty())
    return false; // OK cannot be pressed without a folder
  SetDirectory(selected);
  return true;
}

std::string TDialogSelectDir::SelectedPath() const {
  QModelIndexList selected = STV->selectionModel()->selectedIndexes();
  return selected.isEmpty() ? std::string() : FModel->GetPath(selected.first()).toStdString();
}

bool TDialogSelectDir::SetPath(const std::string& Path) {
  QModelIndex index = FModel->FindPath(QString::fromStdString(Path));
  if (!index.isValid())
    return false;
  for (QModelIndex p = index.parent(); p.isValid(); p = p.parent())
    STV->expand(p);
  STV->setCurrentIndex(index);
  STV->scrollTo(index);
  return true;
}

void TDialogSelectDir::showEvent(QShowEvent* Event) {
  QDialog::showEvent(Event);
  FormShow();
}

void TDialogSelectDir::keyPressEvent(QKeyEvent* Event) {
  if (IsPlainEnter(*Event)) {
    if (!Event->isAutoRepeat())
      SpeedButton1->click(); // nothing while it is off: no folder is selected
    return;
  }
  QDialog::keyPressEvent(Event);
}

void TDialogSelectDir::Place() {
  // The frame is centred on the main window (on the screen without one), not the client
  // area. Before the first show the window manager has not framed the dialog yet; a
  // framed window of the program tells how it will.
  QWidget* main = parentWidget() ? parentWidget()->window() : nullptr;
  QScreen* screen = main ? main->screen() : this->screen();
  if (!screen)
    return;
  QMargins frame = FrameMargins(*this);
  if (frame.isNull())
    for (QWidget* w : QApplication::topLevelWidgets())
      if (w != this && w->isVisible() && !(frame = FrameMargins(*w)).isNull())
        break;
  QRect box(QPoint(), size().grownBy(frame));
  box.moveCenter(main && main->isVisible() ? main->frameGeometry().center()
                                           : screen->availableGeometry().center());
  // Wholly on the screen, the title bar first.
  QRect avail = screen->availableGeometry();
  box.moveLeft(std::max(avail.left(), std::min(box.left(), avail.right() - box.width() + 1)));
  box.moveTop(std::max(avail.top(), std::min(box.top(), avail.bottom() - box.height() + 1)));
  FPlaced = box;
  // The client area's place, which means the same with every window manager; a frame
  // position is taken differently before and after the first map.
  setGeometry(QRect(box.topLeft() + QPoint(frame.left(), frame.top()), size()));
}

void TDialogSelectDir::MendPlace() {
  if (!isVisible() || --FMendTicks <= 0) {
    FMendTimer.stop();
    return;
  }
  if (FrameMargins(*this).isNull())
    return; // not framed yet
  if (frameGeometry() == FPlaced || FCorrections <= 0) {
    FMendTimer.stop();
    return;
  }
  --FCorrections;
  Place();
}

void TDialogSelectDir::FormShow() {
  Place();
  // The window manager frames the dialog after it is mapped, and its frame may differ
  // from the one it was placed by: for a moment the place is mended until the frame
  // sits where it was meant to. Moves after that are the user's.
  FCorrections = 2;
  FMendTicks = 40;
  FMendTimer.start();
  std::error_code ec;
  if (!FDirectory.empty() && std::filesystem::is_directory(FDirectory, ec))
    SetPath(FDirectory);
  STVChange();
}

void TDialogSelectDir::STVChange() {
  std::string path = SelectedPath();
  ShowPathLabel(QString::fromStdString(path));
  // Without a folder, OK would answer "/" and New would make a folder there.
  SpeedButton1->setEnabled(!path.empty());
  SpeedButton3->setEnabled(!path.empty());
}

void TDialogSelectDir::ShowPathLabel(const QString& Path) {
  QString text = Path;
  auto show = [this, &text] {
    Label1->setText(text);
    Label1->adjustSize();
  };
  auto fits = [this] { return width() - 5 >= Label1->x() + Label1->width(); };
  show();
  if (fits() || text.size() < 6)
    return;
  // Keep the start and the end of the path: characters from the fourth on give way
  // to "..." one at a time until it fits.
  text.replace(3, 3, "...");
  show();
  while (!fits() && text.size() > 6) {
    text.remove(6, 1);
    show();
  }
}

void TDialogSelectDir::SpeedButton1Click() {
  accept();
}

void TDialogSelectDir::SpeedButton2Click() {
  reject();
}

void TDialogSelectDir::SpeedButton3Click() {
  if (SelectedPath().empty())
    return;
  setEnabled(false);
  std::string target;
  try {
    std::string base = SelectedPath();
    if (base.back() != '/')
      base += '/';
    const std::string name = LoadStr(sNewFolder);
    target = base + name;
    std::error_code ec;
    for (int n = 2; std::filesystem::exists(target, ec) || ec; ++n) {
      if (ec)
        throw std::filesystem::filesystem_error("Cannot look at " + target, ec);
      target = base + name + " " + std::to_string(n);
    }
    std::filesystem::create_directories(target);
  } catch (const std::exception& e) {
    DebugLog("Exception while creating new folder: %s", e.what());
    setEnabled(true);
    return;
  }
  try {
    QModelIndex selected = STV->currentIndex();
    if (selected.isValid())
      FModel->PopulateNode(selected);
    QCoreApplication::processEvents();
  } catch (const std::exception&) {
  }
  setEnabled(true);
  // The new folder is selected with its name open for editing.
  try {
    if (SetPath(target)) {
      QCoreApplication::processEvents();
      STV->setFocus();
      STV->edit(STV->currentIndex());
      QCoreApplication::processEvents();
    }
  } catch (const std::exception&) {
  }
}

void TDialogSelectDir::STVEditing(const QModelIndex& Node, bool& AllowEdit) {
  if (STV->currentIndex() != Node)
    STV->setCurrentIndex(Node);
  // Neither a top-level entry nor the root of a volume gets a new name.
  AllowEdit = !FModel->IsRootOrMount(Node);
}

void TDialogSelectDir::STVEdited(const QModelIndex& Node, QString& S) {
  if (S.isEmpty())
    return;
  QPersistentModelIndex parent(Node.parent());
  QString from = FModel->GetPath(Node);
  QString error = FModel->Rename(Node, S);
  if (!error.isEmpty()) {
    // After the edit has ended: a box now would take the focus from the editor, which
    // would hand in its text again.
    std::string text = Format("Cannot rename %s to \"%s\".\r\n%s", from.toStdString(),
                              S.toStdString(), error.toStdString());
    QMetaObject::invokeMethod(
        this, [this, text] { FDesktop.MessageBox(this, TBoxKind::Error, text, TBoxButtons::Ok); },
        Qt::QueuedConnection);
  }
  QMetaObject::invokeMethod(
      this, [this, parent] { WMRefreshNode(parent); }, Qt::QueuedConnection);
}

void TDialogSelectDir::WMRefreshNode(const QPersistentModelIndex& Node) {
  if (Node.isValid())
    FModel->PopulateNode(Node);
  QModelIndex current = STV->currentIndex();
  if (current.isValid())
    STV->scrollTo(current);
  STVChange(); // the selected folder's path may have changed with its name
}

} // namespace gf

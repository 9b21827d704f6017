#include "FormDebug.h"
#include "Application.h"

#include "Debug.h"
#include "Desktop.h"
#include "Fonts.h"
#include "Streams.h"

#include <QtGui/QGuiApplication>
#include <QtGui/QKeyEvent>
#include <QtGui/QScreen>
#include <QtWidgets/QFrame>
#include <QtWidgets/QListView>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QScrollBar>

namespace gf {

int TDebugLinesModel::rowCount(const QModelIndex& Parent) const {
  return Parent.isValid() ? 0 : static_cast<int>(FRows.size());
}

QVariant TDebugLinesModel::data(const QModelIndex& Index, int Role) const {
  if (Role != Qt::DisplayRole || !Index.isValid() || Index.row() >= rowCount({}))
    return {};
  return FRows[static_cast<std::size_t>(Index.row())];
}

void TDebugLinesModel::Sync() {
  auto& store = TDebugLines::Instance();
  uint64_t before = store.Version();
  if (before == FVersion)
    return;
  // Every change adds one to the version: when the new lines are exactly as many as
  // the changes, nothing was cleared and they can be appended.
  std::vector<std::string> added = store.Since(FRows.size());
  uint64_t after = store.Version();
  if (before == after && after - FVersion == added.size()) {
    if (added.empty())
      return;
    int first = static_cast<int>(FRows.size());
    beginInsertRows({}, first, first + static_cast<int>(added.size()) - 1);
    for (auto& line : added)
      FRows.push_back(QString::fromStdString(line));
    endInsertRows();
    FVersion = after;
    return;
  }
  uint64_t version = store.Version();
  std::vector<std::string> all = store.Snapshot();
  beginResetModel();
  FRows.clear();
  FRows.reserve(all.size());
  for (auto& line : all)
    FRows.push_back(QString::fromStdString(line));
  endResetModel();
  // Lines added between the two reads are caught by the next sync's count check.
  FVersion = version;
}

TFormDebug::TFormDebug(TDesktop& Desktop)
    : QWidget(nullptr, Qt::Window), LB(new QListView(this)), Panel1(new QFrame(this)),
      Button1(new QPushButton("&Save", Panel1)), Button2(new QPushButton("&Clear", Panel1)),
      FDesktop(Desktop) {
  setWindowTitle("Debug Output");
  setFont(FormFont());
  resize(653, 298);
  if (QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->geometry().center() - rect().center());
  Layout();
  LB->setModel(&FModel);
  LB->setUniformItemSizes(true);
  LB->setEditTriggers(QAbstractItemView::NoEditTriggers);
  Panel1->setFrameShape(QFrame::NoFrame);
  Button1->setGeometry(8, 7, 75, 25);
  Button2->setGeometry(91, 7, 75, 25);
  connect(Button1, &QPushButton::clicked, this, Guarded([this] { Button1Click(); }));
  connect(Button2, &QPushButton::clicked, this, Guarded([this] { Button2Click(); }));
  FPoll.setInterval(100);
  connect(&FPoll, &QTimer::timeout, this, [this] {
    // Follow new lines only while the user has not scrolled up.
    QScrollBar* bar = LB->verticalScrollBar();
    bool follow = bar->value() == bar->maximum();
    int before = FModel.rowCount({});
    FModel.Sync();
    if (follow && FModel.rowCount({}) != before)
      LB->scrollToBottom();
  });
}

void TFormDebug::resizeEvent(QResizeEvent* Event) {
  QWidget::resizeEvent(Event);
  Layout();
}

void TFormDebug::Layout() {
  const int panel = 39;
  LB->setGeometry(0, 0, width(), height() - panel);
  Panel1->setGeometry(0, height() - panel, width(), panel);
}

void TFormDebug::showEvent(QShowEvent* Event) {
  QWidget::showEvent(Event);
  FModel.Sync();
  FPoll.start();
}

void TFormDebug::keyPressEvent(QKeyEvent* Event) {
  if (Event->key() == Qt::Key_Escape && Event->modifiers() == Qt::NoModifier) {
    close();
    return;
  }
  QWidget::keyPressEvent(Event);
}

void TFormDebug::hideEvent(QHideEvent* Event) {
  QWidget::hideEvent(Event);
  FPoll.stop();
}

void TFormDebug::SaveLines(const std::string& FileName) {
  std::string text;
  for (auto& line : TDebugLines::Instance().Snapshot()) {
    text += line;
    text += '\n';
  }
  TFileStream file(FileName, TFileMode::CreateReplace);
  file.WriteBuffer(text.data(), text.size());
}

void TFormDebug::Button1Click() {
  std::string name = FDesktop.SaveFileName(this, "Text files (*.TXT)", "TXT");
  if (!name.empty())
    SaveLines(name);
}

void TFormDebug::Button2Click() {
  TDebugLines::Instance().Clear();
  FModel.Sync();
}

} // namespace gf

#include "MessageForm.h"
#include "Application.h"

#include "Fonts.h"

#include <QtGui/QKeyEvent>
#include <QtWidgets/QFrame>
#include <QtWidgets/QPlainTextEdit>
#include <QtWidgets/QToolButton>

namespace gf {

TFormMessage::TFormMessage(QWidget* Owner)
    : QDialog(Owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      Memo1(new QPlainTextEdit(this)), PanelBottom(new QFrame(this)),
      SpeedButton1(MakeGlyphButton(PanelBottom, "&OK", "BTN_OK", {(585 - 88) / 2, 4, 88, 30})) {
  setWindowTitle("Information");
  setFont(FormFont());
  setModal(true);
  setFixedSize(585, 296);
  const int bottom = 38;
  Memo1->setGeometry(0, 0, 585, 296 - bottom);
  Memo1->setReadOnly(true);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  QPalette pal = Memo1->palette();
  pal.setColor(QPalette::Base, pal.color(QPalette::Button));
  Memo1->setPalette(pal);
  PanelBottom->setGeometry(0, 296 - bottom, 585, bottom);
  PanelBottom->setFrameShape(QFrame::NoFrame);
  Memo1->setFocusPolicy(Qt::ClickFocus); // Tab stays on OK
  connect(SpeedButton1, &QToolButton::clicked, this, Guarded([this] { SpeedButton1Click(); }));
}

void TFormMessage::SetText(const std::string& Text) {
  Memo1->setPlainText(QString::fromStdString(Text).replace("\r\n", "\n"));
}

void TFormMessage::ShowText(const std::string& Text) {
  SetText(Text);
  if (QWidget* owner = parentWidget())
    move(owner->frameGeometry().center() - rect().center());
  SpeedButton1->setFocus();
  exec();
}

void TFormMessage::keyPressEvent(QKeyEvent* Event) {
  if (IsPlainEnter(*Event)) {
    SpeedButton1->click();
    return;
  }
  QDialog::keyPressEvent(Event);
}

void TFormMessage::SpeedButton1Click() {
  accept();
}

} // namespace gf

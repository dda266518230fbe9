#include "app/qt/TQtMessageDialog.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QPushButton>

#include "app/TMessageDialog.h"

namespace kv::app::qt {

namespace {

QMessageBox::Icon ToQtIcon(TMsgDlgIcon icon) {
  switch (icon) {
    case TMsgDlgIcon::diWarning:
      return QMessageBox::Warning;
    case TMsgDlgIcon::diError:
      return QMessageBox::Critical;
    case TMsgDlgIcon::diInformation:
      return QMessageBox::Information;
  }
  return QMessageBox::NoIcon;
}

}  // namespace

TQtMessageDialog::TQtMessageDialog(QWidget* parent, const std::string& text, TMsgDlgType kind,
                                   const TMsgDlgButtons& buttons, TPoint at)
    : QMessageBox(parent) {
  setWindowTitle(QString::fromUtf8(MsgDlgCaption(kind)));
  setIcon(ToQtIcon(MsgDlgIcon(kind)));
  setTextFormat(Qt::PlainText);
  setText(QString::fromStdString(text));
  const TMsgDlgBtn defaultButton = MsgDlgDefaultButton(buttons);
  for (TMsgDlgBtn b : buttons) {
    // One role for all keeps the buttons in the given order whatever the desktop's button order;
    // the outcome comes from the button itself.
    QPushButton* button =
        addButton(QString::fromUtf8(MsgDlgButtonText(b)), QMessageBox::ActionRole);
    m_buttons.push_back({button, MsgDlgButtonResult(b)});
    if (b == defaultButton) {
      setDefaultButton(button);
    }
  }
  // Moving before the first show also keeps the dialog from centring itself over its parent.
  move(at.X, at.Y);
}

TModalResult TQtMessageDialog::Execute() {
  exec();
  for (const TButton& b : m_buttons) {
    if (clickedButton() == b.Button) {
      return b.Result;
    }
  }
  return kMsgDlgEscapeResult;
}

TModalResult TQtMessageDialog::MessageDlgPos(QWidget* parent, const std::string& text,
                                             TMsgDlgType kind, const TMsgDlgButtons& buttons,
                                             TPoint at) {
  TQtMessageDialog dialog(parent, text, kind, buttons, at);
  return dialog.Execute();
}

void TQtMessageDialog::keyPressEvent(QKeyEvent* event) {
  if (event->matches(QKeySequence::Cancel)) {
    reject();
    return;
  }
  QMessageBox::keyPressEvent(event);
}

void TQtMessageDialog::closeEvent(QCloseEvent* event) {
  // The close box always closes, as cancelled; no button counts as pressed.
  QDialog::closeEvent(event);
}

}  // namespace kv::app::qt

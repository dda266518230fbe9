#pragma once

#include <QMessageBox>
#include <string>

#include "app/TMainView.h"

class QAbstractButton;

namespace kv::app::qt {

// The program's modal message dialog: caption, icon, buttons and default button come from the
// kind and the button set, the message is the only text, and the outer top-left corner opens at
// the given screen point. Escape and the close box give mrCancel whatever the buttons are; a
// plain message box would instead treat a "No" button as the escape button.
class TQtMessageDialog : public QMessageBox {
  Q_OBJECT

 public:
  TQtMessageDialog(QWidget* parent, const std::string& text, TMsgDlgType kind,
                   const TMsgDlgButtons& buttons, TPoint at);

  // Runs the dialog modally and returns the outcome.
  TModalResult Execute();

  // Shows one dialog and returns its outcome.
  static TModalResult MessageDlgPos(QWidget* parent, const std::string& text, TMsgDlgType kind,
                                    const TMsgDlgButtons& buttons, TPoint at);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  struct TButton {
    QAbstractButton* Button = nullptr;
    TModalResult Result = TModalResult::mrCancel;
  };
  std::vector<TButton> m_buttons;
};

}  // namespace kv::app::qt

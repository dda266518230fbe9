#pragma once

#include <QPushButton>

namespace kv::app::qt {

// A push button that Enter presses while it has the focus, as Space does. The window has no
// default button, and the toolkit lets Enter press only default buttons.
class TQtPushButton : public QPushButton {
  Q_OBJECT

 public:
  TQtPushButton(const QString& text, QWidget* parent);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
};

}  // namespace kv::app::qt

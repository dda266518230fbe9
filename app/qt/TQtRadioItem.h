#pragma once

#include <QRadioButton>

namespace kv::app::qt {

// An item of the installation radio group. A click anywhere on the item selects it, not only on
// its circle and text: the items are as wide as the group, and the whole row is theirs.
class TQtRadioItem : public QRadioButton {
  Q_OBJECT

 public:
  using QRadioButton::QRadioButton;

 protected:
  bool hitButton(const QPoint& pos) const override;
};

}  // namespace kv::app::qt

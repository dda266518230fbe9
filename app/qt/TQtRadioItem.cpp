#include "app/qt/TQtRadioItem.h"

namespace kv::app::qt {

bool TQtRadioItem::hitButton(const QPoint& pos) const {
  return rect().contains(pos);
}

}  // namespace kv::app::qt

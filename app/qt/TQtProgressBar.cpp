#include "app/qt/TQtProgressBar.h"

#include <QStyleOptionProgressBar>
#include <QStylePainter>

namespace kv::app::qt {

void TQtProgressBar::paintEvent(QPaintEvent* event) {
  if (minimum() != maximum()) {
    QProgressBar::paintEvent(event);
    return;
  }
  QStyleOptionProgressBar option;
  initStyleOption(&option);
  option.minimum = 0;
  option.maximum = 1;
  option.progress = 0;
  QStylePainter painter(this);
  painter.drawControl(QStyle::CE_ProgressBar, option);
}

}  // namespace kv::app::qt

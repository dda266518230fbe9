#pragma once

#include <QProgressBar>

namespace kv::app::qt {

// A progress bar that shows an empty range (minimum equal to maximum) as an empty bar. The
// toolkit's own bar would show a moving "busy" indicator there, but a download whose length the
// server does not announce gives exactly that range and should show no fill.
class TQtProgressBar : public QProgressBar {
  Q_OBJECT

 public:
  using QProgressBar::QProgressBar;

 protected:
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace kv::app::qt

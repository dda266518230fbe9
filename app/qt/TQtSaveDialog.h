#pragma once

#include <QFileDialog>
#include <optional>
#include <string>

#include "app/TMainView.h"

namespace kv::app::qt {

// The modal "save as" dialog, set up from the logic's options. It is the toolkit's own dialog
// rather than the desktop's, so it looks the same everywhere and tests can answer it.
class TQtSaveDialog : public QFileDialog {
  Q_OBJECT

 public:
  TQtSaveDialog(QWidget* parent, const TSaveDialogOptions& options);

  // Runs the dialog modally; the chosen full path, or nothing when cancelled.
  std::optional<std::string> Execute();

  static std::optional<std::string> ExecuteSaveDialog(QWidget* parent,
                                                      const TSaveDialogOptions& options);

 private slots:
  // Lists every file under the "*.*" filter, names without a dot included.
  void ShowEveryFile();
};

}  // namespace kv::app::qt

#include "app/qt/TQtSaveDialog.h"

#include <QFileSystemModel>

namespace kv::app::qt {

namespace {

// "*.*" means every file where the pattern comes from, dot or no dot; the toolkit would take it
// literally and hide names without an extension.
constexpr const char* kEveryFilePattern = "*.*";

QString NameFilter(const TSaveDialogOptions& options) {
  const std::string patternPart = "(" + options.FilterPattern + ")";
  const std::string& name = options.FilterName;
  // The description usually names its pattern already ("Alle filer (*.*)"); show it once.
  if (name.size() >= patternPart.size() &&
      name.compare(name.size() - patternPart.size(), patternPart.size(), patternPart) == 0) {
    return QString::fromStdString(name);
  }
  return QString::fromStdString(name + " " + patternPart);
}

}  // namespace

TQtSaveDialog::TQtSaveDialog(QWidget* parent, const TSaveDialogOptions& options)
    : QFileDialog(parent) {
  setOption(QFileDialog::DontUseNativeDialog, true);
  setAcceptMode(QFileDialog::AcceptSave);
  // Any name may be typed, existing or not; whether the folder is usable shows when writing.
  setFileMode(QFileDialog::AnyFile);
  setOption(QFileDialog::DontConfirmOverwrite, !options.OverwritePrompt);
  setWindowTitle(QString::fromStdString(options.Title));
  setNameFilter(NameFilter(options));
  if (options.FilterPattern == kEveryFilePattern) {
    ShowEveryFile();
    connect(this, &QFileDialog::filterSelected, this, &TQtSaveDialog::ShowEveryFile);
  }
  if (!options.InitialDir.empty()) {
    setDirectory(QString::fromStdString(options.InitialDir));
  }
  selectFile(QString::fromStdString(options.FileName));
}

std::optional<std::string> TQtSaveDialog::Execute() {
  if (exec() != QDialog::Accepted || selectedFiles().isEmpty()) {
    return std::nullopt;
  }
  return selectedFiles().constFirst().toStdString();
}

std::optional<std::string> TQtSaveDialog::ExecuteSaveDialog(QWidget* parent,
                                                            const TSaveDialogOptions& options) {
  TQtSaveDialog dialog(parent, options);
  return dialog.Execute();
}

void TQtSaveDialog::ShowEveryFile() {
  if (auto* model = findChild<QFileSystemModel*>()) {
    model->setNameFilters({QStringLiteral("*")});
  }
}

}  // namespace kv::app::qt

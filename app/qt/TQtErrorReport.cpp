#include "app/qt/TQtErrorReport.h"

#include <QMessageBox>

#include "app/MainFormTexts.h"

namespace kv::app::qt {

void ShowErrorReport(QWidget* parent, const std::string& message) {
  QMessageBox report(QMessageBox::Critical, QString::fromUtf8(texts::kApplicationTitle),
                     QString::fromStdString(texts::ErrorReportText(message)), QMessageBox::Ok,
                     parent);
  report.setObjectName(QStringLiteral("ErrorReport"));
  report.setTextFormat(Qt::PlainText);
  report.exec();
}

}  // namespace kv::app::qt

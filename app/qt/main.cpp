#include <QApplication>

#include "app/MainFormTexts.h"
#include "app/TDateSettings.h"
#include "app/qt/TQtMainWindow.h"

int main(int argc, char* argv[]) {
  using namespace kv::app;
  // Dates are rendered with the regional settings as they are when the program starts.
  TDateSettings dateSettings = TDateSettings::FromLocale();
  QApplication application(argc, argv);
  // The window caption stays exactly as designed: a display name would be appended to it.
  QApplication::setApplicationName(QString::fromUtf8(texts::kApplicationTitle));
  {
    qt::TQtMainWindow window(std::move(dateSettings));
    window.show();
    QApplication::exec();
  }
  return 0;
}

#include "app/qt/TQtSaveDialog.h"

#include <QFile>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QtTest>

#include "tests/app/qt/QtTestSupport.h"

using kv::app::TSaveDialogOptions;
using kv::app::qt::TQtSaveDialog;
using kv::test::DialogAnswers;

namespace {

// The options the window's logic passes.
TSaveDialogOptions OptionsFor(const QString& folder, const char* fileName) {
  TSaveDialogOptions options;
  options.Title = "Gem som";
  options.FilterName = "Alle filer (*.*)";
  options.FilterPattern = "*.*";
  options.InitialDir = folder.toStdString();
  options.FileName = fileName;
  return options;
}

void WriteFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly));
  QCOMPARE(file.write(bytes), bytes.size());
}

// The names the dialog lists in its current folder.
QStringList ListedNames(QFileDialog& dialog) {
  auto* model = dialog.findChild<QFileSystemModel*>();
  const QModelIndex folder = model->index(dialog.directory().absolutePath());
  QStringList names;
  for (int row = 0; row < model->rowCount(folder); ++row) {
    names << model->index(row, 0, folder).data().toString();
  }
  return names;
}

}  // namespace

class TQtSaveDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void init();
  void showsTheLogicsSettings();
  void listsFilesWithAndWithoutExtension();
  void returnsTheTypedPath_data();
  void returnsTheTypedPath();
  void cancelReturnsNothing();

 private:
  std::unique_ptr<QTemporaryDir> m_folder;
};

void TQtSaveDialogTest::init() {
  m_folder = std::make_unique<QTemporaryDir>();
  QVERIFY(m_folder->isValid());
}

void TQtSaveDialogTest::showsTheLogicsSettings() {
  TQtSaveDialog dialog(nullptr, OptionsFor(m_folder->path(), "Kavora35ProgramInstal.exe"));
  QCOMPARE(dialog.windowTitle(), QString("Gem som"));
  QCOMPARE(dialog.nameFilters(), QStringList{"Alle filer (*.*)"});
  QCOMPARE(dialog.selectedNameFilter(), QString("Alle filer (*.*)"));
  QCOMPARE(dialog.directory().absolutePath(), QDir(m_folder->path()).absolutePath());
  QCOMPARE(dialog.findChild<QLineEdit*>("fileNameEdit")->text(),
           QString("Kavora35ProgramInstal.exe"));
  QCOMPARE(dialog.acceptMode(), QFileDialog::AcceptSave);
  QCOMPARE(dialog.fileMode(), QFileDialog::AnyFile);
  QVERIFY(dialog.testOption(QFileDialog::DontConfirmOverwrite));
  // The toolkit's own dialog, so that it can be driven here and looks the same on every desktop.
  QVERIFY(dialog.testOption(QFileDialog::DontUseNativeDialog));
}

void TQtSaveDialogTest::listsFilesWithAndWithoutExtension() {
  WriteFile(m_folder->filePath("README"), "x");
  WriteFile(m_folder->filePath("setup.exe"), "x");
  TQtSaveDialog dialog(nullptr, OptionsFor(m_folder->path(), "Kavora35TotalInstal.exe"));
  dialog.show();
  // "*.*" means every file; the file system model fills in the background.
  QTRY_VERIFY(ListedNames(dialog).contains("setup.exe"));
  QTRY_VERIFY(ListedNames(dialog).contains("README"));
  dialog.reject();
}

void TQtSaveDialogTest::returnsTheTypedPath_data() {
  QTest::addColumn<QString>("typed");
  QTest::addColumn<bool>("fileExists");

  QTest::newRow("the proposed name, no file there") << "Kavora35TotalInstal.exe" << false;
  QTest::newRow("an existing file, no replace question") << "Kavora35TotalInstal.exe" << true;
  QTest::newRow("another name is returned as typed") << "setup.exe" << false;
}

void TQtSaveDialogTest::returnsTheTypedPath() {
  QFETCH(QString, typed);
  QFETCH(bool, fileExists);

  const QString path = m_folder->filePath(typed);
  if (fileExists) {
    WriteFile(path, "old");
  }
  bool closedAtOnce = false;
  DialogAnswers answers;
  answers.Then<QFileDialog>([&](QFileDialog& dialog) {
    auto* edit = dialog.findChild<QLineEdit*>("fileNameEdit");
    edit->setText(typed);
    QTest::keyClick(edit, Qt::Key_Return);
    // A replace question would keep the dialog open behind a message box.
    closedAtOnce = !dialog.isVisible() && QApplication::activeModalWidget() == nullptr;
    if (!closedAtOnce) {
      if (auto* question = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        question->reject();
      }
      dialog.reject();
    }
  });
  const std::optional<std::string> chosen = TQtSaveDialog::ExecuteSaveDialog(
      nullptr, OptionsFor(m_folder->path(), "Kavora35TotalInstal.exe"));
  QCOMPARE(answers.Pending(), 0);
  QVERIFY(closedAtOnce);
  QVERIFY(chosen.has_value());
  QCOMPARE(QString::fromStdString(*chosen), path);
  if (fileExists) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("old"));
  }
}

void TQtSaveDialogTest::cancelReturnsNothing() {
  DialogAnswers answers;
  answers.Then<QFileDialog>([](QFileDialog& dialog) { QTest::keyClick(&dialog, Qt::Key_Escape); });
  const std::optional<std::string> chosen = TQtSaveDialog::ExecuteSaveDialog(
      nullptr, OptionsFor(m_folder->path(), "Kavora35TotalInstal.exe"));
  QCOMPARE(answers.Pending(), 0);
  QVERIFY(!chosen.has_value());
}

QTEST_MAIN(TQtSaveDialogTest)
#include "TQtSaveDialogTest.moc"

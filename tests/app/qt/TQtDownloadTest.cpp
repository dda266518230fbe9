// The whole Start sequence through the real window and the real HTTP client, against the
// scripted loopback server; the test answers the dialogs as a user would.
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>
#include <stdexcept>

#include "app/qt/TQtMainWindow.h"
#include "app/qt/TQtMessageDialog.h"
#include "tests/app/qt/QtTestSupport.h"
#include "tests/support/ScriptedServer.h"

using kv::app::qt::TQtMainWindow;
using kv::app::qt::TQtMessageDialog;
using kv::test::ButtonWithText;
using kv::test::DateSettingsOf;
using kv::test::DialogAnswers;
using kv::test::Script;
using kv::test::ScriptedServer;

namespace {

constexpr int kFirstPart = 1000;

// Bytes of every value, line breaks and zeros included.
QByteArray Body(int size) {
  QByteArray body;
  body.reserve(size);
  uint32_t x = 12345;
  for (int i = 0; i < size; ++i) {
    x = x * 1103515245u + 12345u;
    body.append(static_cast<char>(x >> 16));
  }
  return body;
}

std::string OkHead(qsizetype length) {
  return "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
         std::to_string(length) + "\r\n\r\n";
}

// The answer is sent in two parts; the second leaves only when the test signals, so the test
// sees the window in the middle of the transfer.
Script TwoPartAnswer(const QByteArray& body) {
  return Script()
      .ReadRequestHead()
      .Send(OkHead(body.size()) + body.left(kFirstPart).toStdString())
      .WaitForSignal()
      .Send(body.mid(kFirstPart).toStdString())
      .CloseGracefully();
}

QByteArray ReadFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    return "<missing>";
  }
  return file.readAll();
}

// What a message dialog showed.
struct ShownDialog {
  QString caption;
  QString text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QStringList buttons;
  QPoint corner;
  QString status;     // the status panel's text meanwhile
  int barValue = -1;  // the progress bar meanwhile
  int barMax = -1;
  bool busyCursor = true;  // an application-wide cursor was set meanwhile
  bool windowVisible = false;
};

// Samples the window whenever the event loop runs while a transfer is on.
class TransferWatch : public QObject {
 public:
  struct Sample {
    QString status;
    int cursor = -1;  // override cursor shape, -1 for none
    int barValue = 0;
    int barMax = 0;
    bool okEnabled = true;
  };

  explicit TransferWatch(TQtMainWindow& window) : m_window(window) {
    m_timer.setInterval(0);
    connect(&m_timer, &QTimer::timeout, this, [this] { Take(); });
    m_timer.start();
  }

  // Runs once, at the first sample that shows at least `barValue` on the bar.
  void AtBarValue(int barValue, std::function<void()> action) {
    m_trigger = barValue;
    m_action = std::move(action);
  }

  const QList<Sample>& Samples() const { return m_samples; }

 private:
  void Take() {
    const QString status = m_window.findChild<QLabel*>("PStatus")->text();
    if (!status.startsWith(" Download K")) {
      return;
    }
    auto* bar = m_window.findChild<QProgressBar*>("PBar");
    const QCursor* cursor = QApplication::overrideCursor();
    m_samples.push_back({status, cursor ? static_cast<int>(cursor->shape()) : -1, bar->value(),
                         bar->maximum(), m_window.findChild<QPushButton*>("OK")->isEnabled()});
    if (m_action && bar->value() >= m_trigger) {
      auto action = std::move(m_action);
      m_action = nullptr;
      action();
    }
  }

  TQtMainWindow& m_window;
  QTimer m_timer;
  QList<Sample> m_samples;
  int m_trigger = 0;
  std::function<void()> m_action;
};

}  // namespace

class TQtDownloadTest : public QObject {
  Q_OBJECT

 private slots:
  void init();
  void cleanup();
  void savesTheExactBytesAndAsksToStart();
  void yesStartsTheSavedFileFromItsFolder();
  void failedDownloadKeepsTheExistingFile_data();
  void failedDownloadKeepsTheExistingFile();
  void cancelledSaveDialogClosesWithoutARequest();
  void closeRequestsDuringTheTransferWaitForItsEnd();
  void failureEscapingAHandlerIsReportedAndTheWindowStays();

 private:
  void OpenWindow(uint16_t port);
  // Queues the save dialog's answer: the path typed into its name field.
  void AnswerSaveDialog(const QString& typedPath);
  // Queues the answer to the next message dialog: record it, then press `button`.
  void AnswerMessage(ShownDialog& shown, const QString& button);
  void ClickStart() { QTest::mouseClick(m_window->findChild<QPushButton*>("OK"), Qt::LeftButton); }
  QStringList FolderEntries() const {
    return QDir(m_folder->path()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
  }

  std::unique_ptr<QTemporaryDir> m_folder;
  std::unique_ptr<TQtMainWindow> m_window;
  std::unique_ptr<DialogAnswers> m_answers;
  QList<QPair<QString, QString>> m_started;  // (file, working folder) per start request
};

void TQtDownloadTest::init() {
  m_folder = std::make_unique<QTemporaryDir>();
  QVERIFY(m_folder->isValid());
  m_answers = std::make_unique<DialogAnswers>();
  m_started.clear();
}

void TQtDownloadTest::cleanup() {
  m_answers.reset();
  m_window.reset();
}

void TQtDownloadTest::OpenWindow(uint16_t port) {
  m_window = std::make_unique<TQtMainWindow>(DateSettingsOf("dd-MM-yyyy", "-"),
                                             "127.0.0.1:" + std::to_string(port));
  m_window->SetShellOpener([this](const std::string& file, const std::string& folder) {
    m_started.push_back({QString::fromStdString(file), QString::fromStdString(folder)});
  });
  m_window->move(300, 200);
  m_window->show();
  QApplication::setActiveWindow(m_window.get());
  QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
}

void TQtDownloadTest::AnswerSaveDialog(const QString& typedPath) {
  m_answers->Then<QFileDialog>([typedPath](QFileDialog& dialog) {
    auto* edit = dialog.findChild<QLineEdit*>("fileNameEdit");
    edit->setText(typedPath);
    QTest::keyClick(edit, Qt::Key_Return);
  });
}

void TQtDownloadTest::AnswerMessage(ShownDialog& shown, const QString& button) {
  m_answers->Then<TQtMessageDialog>([this, &shown, button](TQtMessageDialog& box) {
    shown.caption = box.windowTitle();
    shown.text = box.text();
    shown.icon = box.icon();
    for (QAbstractButton* b : box.buttons()) {
      shown.buttons << b->text();
    }
    shown.corner = box.frameGeometry().topLeft();
    shown.status = m_window->findChild<QLabel*>("PStatus")->text();
    shown.barValue = m_window->findChild<QProgressBar*>("PBar")->value();
    shown.barMax = m_window->findChild<QProgressBar*>("PBar")->maximum();
    shown.busyCursor = QApplication::overrideCursor() != nullptr;
    shown.windowVisible = m_window->isVisible();
    QAbstractButton* press = ButtonWithText(box, button);
    QVERIFY(press != nullptr);
    QTest::mouseClick(press, Qt::LeftButton);
  });
}

void TQtDownloadTest::savesTheExactBytesAndAsksToStart() {
  const QByteArray body = Body(200000);
  ScriptedServer server(TwoPartAnswer(body));
  OpenWindow(server.Port());
  TransferWatch watch(*m_window);
  watch.AtBarValue(kFirstPart, [&server] { server.Signal(); });

  // The name typed is ignored: the file keeps its own name in the chosen folder.
  AnswerSaveDialog(m_folder->filePath("setup.exe"));
  ShownDialog confirm;
  AnswerMessage(confirm, "&No");
  ClickStart();

  QCOMPARE(m_answers->Pending(), 0);
  const std::string expectedRequestStart =
      "GET /Downloads/Instal34/Kavora35TotalInstal.exe HTTP/1.1\r\nHost: 127.0.0.1:" +
      std::to_string(server.Port()) + "\r\n";
  QCOMPARE(QString::fromStdString(server.Received(1).substr(0, expectedRequestStart.size())),
           QString::fromStdString(expectedRequestStart));
  QCOMPARE(ReadFile(m_folder->filePath("Kavora35TotalInstal.exe")), body);
  QCOMPARE(FolderEntries(), QStringList{"Kavora35TotalInstal.exe"});

  // During the transfer: the status names the file, the busy cursor is up, the bar runs over the
  // announced length and Start cannot be pressed again.
  QVERIFY(!watch.Samples().isEmpty());
  bool sawFirstPart = false;
  for (const TransferWatch::Sample& s : watch.Samples()) {
    QCOMPARE(s.status, QString(" Download Kavora35TotalInstal.exe"));
    QCOMPARE(s.cursor, static_cast<int>(Qt::WaitCursor));
    QVERIFY(!s.okEnabled);
    if (s.barValue == kFirstPart) {
      QCOMPARE(s.barMax, body.size());
      sawFirstPart = true;
    }
  }
  QVERIFY(sawFirstPart);

  QCOMPARE(confirm.caption, QString("Confirm"));
  QCOMPARE(confirm.text, QString("Skal installationen startes?"));
  QCOMPARE(confirm.icon, QMessageBox::Information);
  QCOMPARE(confirm.buttons, (QStringList{"&Yes", "&No"}));
  QCOMPARE(confirm.corner, QPoint(400, 300));
  QCOMPARE(confirm.status, QString(" Download er fuldført"));
  QCOMPARE(confirm.barValue, 0);
  QCOMPARE(confirm.barMax, body.size());
  QVERIFY(!confirm.busyCursor);

  QVERIFY(m_started.isEmpty());
  QVERIFY(!m_window->isVisible());
  QVERIFY(QApplication::overrideCursor() == nullptr);
}

void TQtDownloadTest::yesStartsTheSavedFileFromItsFolder() {
  const QByteArray body = Body(5000);
  ScriptedServer server(Script().ReadRequestHead().Send(OkHead(body.size()) + body.toStdString()));
  OpenWindow(server.Port());
  QTest::mouseClick(m_window->findChild<QWidget*>("GruppeInstallationItem1"), Qt::LeftButton);

  AnswerSaveDialog(m_folder->filePath("Kavora35ProgramInstal.exe"));
  ShownDialog confirm;
  AnswerMessage(confirm, "&Yes");
  ClickStart();

  QCOMPARE(m_answers->Pending(), 0);
  QVERIFY(server.Received(1).starts_with(
      "GET /Downloads/Instal34/Kavora35ProgramInstal.exe HTTP/1.1\r\n"));
  QCOMPARE(ReadFile(m_folder->filePath("Kavora35ProgramInstal.exe")), body);
  // The bare file name, started from its folder (no trailing separator).
  QCOMPARE(m_started.size(), 1);
  QCOMPARE(m_started[0].first, QString("Kavora35ProgramInstal.exe"));
  QCOMPARE(m_started[0].second, QDir(m_folder->path()).absolutePath());
  QVERIFY(!m_window->isVisible());
}

void TQtDownloadTest::failedDownloadKeepsTheExistingFile_data() {
  QTest::addColumn<QString>("answer");

  QTest::newRow("404 with a page") << "404";
  QTest::newRow("body cut short of its length") << "short";
  QTest::newRow("connection reset in the body") << "reset";
  QTest::newRow("nothing listening") << "refused";
}

void TQtDownloadTest::failedDownloadKeepsTheExistingFile() {
  QFETCH(QString, answer);

  const std::string page = "HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found";
  const std::string cut = OkHead(1000) + std::string(10, 'x');
  std::unique_ptr<ScriptedServer> server;
  uint16_t port = 0;
  if (answer == "refused") {
    port = kv::test::UnusedLoopbackPort();
  } else {
    Script script = Script().ReadRequestHead().Send(answer == "404" ? page : cut);
    if (answer == "reset") {
      script.Reset();
    } else {
      script.CloseGracefully();
    }
    server = std::make_unique<ScriptedServer>(script);
    port = server->Port();
  }
  const QString target = m_folder->filePath("Kavora35TotalInstal.exe");
  QFile old(target);
  QVERIFY(old.open(QIODevice::WriteOnly));
  old.write("the installer kept from last time");
  old.close();

  OpenWindow(port);
  AnswerSaveDialog(target);
  ShownDialog error;
  AnswerMessage(error, "OK");
  ClickStart();

  QCOMPARE(m_answers->Pending(), 0);
  QCOMPARE(error.caption, QString("Error"));
  QCOMPARE(error.text, QString("Download mislykket"));
  QCOMPARE(error.icon, QMessageBox::Critical);
  QCOMPARE(error.buttons, QStringList{"OK"});
  QCOMPARE(error.corner, QPoint(400, 300));
  QCOMPARE(error.status, QString("Downloadforbindelsen er afbrudt"));
  QVERIFY(!error.busyCursor);
  QCOMPARE(ReadFile(target), QByteArray("the installer kept from last time"));
  QCOMPARE(FolderEntries(), QStringList{"Kavora35TotalInstal.exe"});
  QVERIFY(m_started.isEmpty());
  QVERIFY(!m_window->isVisible());
}

void TQtDownloadTest::cancelledSaveDialogClosesWithoutARequest() {
  ScriptedServer server(Script().ReadRequestHead().Send(OkHead(1) + "x"));
  OpenWindow(server.Port());
  m_answers->Then<QFileDialog>([](QFileDialog& dialog) { dialog.reject(); });
  ClickStart();
  QCOMPARE(m_answers->Pending(), 0);
  QVERIFY(!m_window->isVisible());
  QCOMPARE(server.ConnectionCount(), 0);
  QVERIFY(FolderEntries().isEmpty());
}

void TQtDownloadTest::closeRequestsDuringTheTransferWaitForItsEnd() {
  const QByteArray body = Body(50000);
  ScriptedServer server(TwoPartAnswer(body));
  OpenWindow(server.Port());
  TransferWatch watch(*m_window);
  bool closeRefused = false;
  bool visibleAfterRequests = false;
  watch.AtBarValue(kFirstPart, [&] {
    // The close box and Afbryd, both in the middle of the transfer.
    closeRefused = !m_window->close();
    QTest::mouseClick(m_window->findChild<QPushButton*>("Afbryd"), Qt::LeftButton);
    visibleAfterRequests = m_window->isVisible();
    server.Signal();
  });
  AnswerSaveDialog(m_folder->filePath("Kavora35TotalInstal.exe"));
  ShownDialog confirm;
  AnswerMessage(confirm, "&No");
  ClickStart();

  QCOMPARE(m_answers->Pending(), 0);
  QVERIFY(closeRefused);
  QVERIFY(visibleAfterRequests);
  // The transfer ran on to its end and the sequence finished before the window closed.
  QCOMPARE(ReadFile(m_folder->filePath("Kavora35TotalInstal.exe")), body);
  QCOMPARE(confirm.text, QString("Skal installationen startes?"));
  QVERIFY(confirm.windowVisible);
  QVERIFY(!m_window->isVisible());
}

void TQtDownloadTest::failureEscapingAHandlerIsReportedAndTheWindowStays() {
  const QByteArray body = Body(100);
  ScriptedServer server(Script().ReadRequestHead().Send(OkHead(body.size()) + body.toStdString()));
  OpenWindow(server.Port());
  m_window->SetShellOpener([](const std::string&, const std::string&) {
    throw std::runtime_error("No application is registered for this file");
  });
  AnswerSaveDialog(m_folder->filePath("Kavora35TotalInstal.exe"));
  ShownDialog confirm;
  AnswerMessage(confirm, "&Yes");
  QString reportCaption, reportText;
  QMessageBox::Icon reportIcon = QMessageBox::NoIcon;
  m_answers->Then<QMessageBox>([&](QMessageBox& report) {
    reportCaption = report.windowTitle();
    reportText = report.text();
    reportIcon = report.icon();
    QTest::keyClick(&report, Qt::Key_Return);
  });
  ClickStart();

  QCOMPARE(m_answers->Pending(), 0);
  QCOMPARE(reportCaption, QString("KAVORA download"));
  QCOMPARE(reportText, QString("No application is registered for this file."));
  QCOMPARE(reportIcon, QMessageBox::Critical);
  // The handler was cut short before it closed the window; the window goes on.
  QVERIFY(m_window->isVisible());
  QCOMPARE(ReadFile(m_folder->filePath("Kavora35TotalInstal.exe")), body);
}

QTEST_MAIN(TQtDownloadTest)
#include "TQtDownloadTest.moc"

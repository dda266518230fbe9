#include "app/qt/TQtMainWindow.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>
#include <memory>

#include "app/TMainForm.h"
#include "app/qt/TQtMessageDialog.h"
#include "tests/app/qt/QtTestSupport.h"

using kv::app::qt::TQtMainWindow;
using kv::app::qt::TQtMessageDialog;
using kv::test::ButtonWithText;
using kv::test::DateSettingsOf;
using kv::test::DialogAnswers;

namespace {

const char* const kHost = "127.0.0.1:8080";
const QStringList kNoticeLines{
    QString::fromUtf8("Du har købt KAVORA og har ansvaret for at gemme installationsfilen"),
    "'Kavora35TotalInstal.exe' for fremtidige installationer.",
    "Holvane A/S gemmer IKKE en kopi af filen og det er forbundet",
    "med en udgift at erhverve en ny installationsfil."};
const QStringList kCorrectionLines{
    QString::fromUtf8("Korriger følgende opsætning i Kontrolpanelet:"),
    QString::fromUtf8(" - Internationale indstillinger skal være 'Dansk'."),
    QString::fromUtf8(" - Kort datoformat skal være 'DD-MM-ÅÅÅÅ'."), ""};
const QStringList kEmptyLines{"", "", "", ""};
const QString kDateWarning = QString::fromUtf8("Datoformatet skal først ændres til DD-MM-ÅÅÅÅ");

const QColor kNavy(0, 0, 128);
const QColor kRed(255, 0, 0);

QString TextOf(QWidget* widget) {
  if (auto* label = qobject_cast<QLabel*>(widget)) {
    return label->text();
  }
  if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
    return button->text();
  }
  if (auto* group = qobject_cast<QGroupBox*>(widget)) {
    return group->title();
  }
  return {};
}

// Records every message dialog that opens and closes it with its only or its first button.
struct DialogLog {
  QStringList texts;
  QStringList captions;
  QList<QPoint> corners;
};

}  // namespace

class TQtMainWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void init();
  void cleanup();
  void controls_data();
  void controls();
  void windowFrame();
  void startState();
  void radioItemsStandInOneColumn();
  void focusMovesOkAfbrydGroup();
  void enterAndEscapePressNoButtonOfTheirOwn();
  void enterPressesTheFocusedButton();
  void selectingAKindSwitchesTheNoticeLines();
  void failedDateCheckWarnsAtFramePlus100AndKeepsTheWindow();
  void pressingTheSelectedItemKeepsTheCorrectionLines();
  void textsFitTheirPanels();
  void progressBarShowsWhatTheLogicSets();
  void afbrydClosesAtOnce();
  void closeBoxClosesAtOnce();
  void localeChangeRereadsTheDateSettings();

 private:
  template <typename T = QWidget>
  T* Child(const char* name) {
    T* child = m_window->findChild<T*>(QString::fromUtf8(name));
    if (child == nullptr) {
      qFatal("no control %s", name);
    }
    return child;
  }
  QStringList NoticeLabels() {
    return {Child<QLabel>("Label4")->text(), Child<QLabel>("Label5")->text(),
            Child<QLabel>("Label6")->text(), Child<QLabel>("Label7")->text()};
  }
  void ShowActive() {
    m_window->show();
    QApplication::setActiveWindow(m_window.get());
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
  }
  QString DateSample() const {
    return QString("Datoformat: 31-12-%1").arg(QDate::currentDate().year());
  }

  std::unique_ptr<TQtMainWindow> m_window;
};

void TQtMainWindowTest::init() {
  m_window = std::make_unique<TQtMainWindow>(DateSettingsOf("dd-MM-yyyy", "-"), kHost);
}

void TQtMainWindowTest::cleanup() {
  m_window.reset();
}

void TQtMainWindowTest::controls_data() {
  QTest::addColumn<QString>("parent");
  QTest::addColumn<QRect>("geometry");  // width -1: the size follows the text
  QTest::addColumn<QString>("text");
  QTest::addColumn<int>("fontPixels");
  QTest::addColumn<bool>("bold");
  QTest::addColumn<QColor>("color");  // invalid: the window-text colour is not checked

  const QColor none;
  QTest::newRow("Panel1") << "MainForm" << QRect(0, 0, 444, 415) << "" << 11 << false << none;
  QTest::newRow("Panel2") << "Panel1" << QRect(13, 13, 420, 156) << "" << 12 << true << kNavy;
  QTest::newRow("Label1") << "Panel2" << QRect(7, 7, -1, -1)
                          << "KAVORA download fra 127.0.0.1:8080." << 12 << true << kNavy;
  QTest::newRow("Label2") << "Panel2" << QRect(7, 27, -1, -1) << "KAVORA installation." << 12
                          << true << kNavy;
  QTest::newRow("Label4") << "Panel2" << QRect(7, 67, -1, -1) << kNoticeLines[0] << 12 << true
                          << kRed;
  QTest::newRow("Label5") << "Panel2" << QRect(7, 87, -1, -1) << kNoticeLines[1] << 12 << true
                          << kRed;
  QTest::newRow("Label6") << "Panel2" << QRect(7, 107, -1, -1) << kNoticeLines[2] << 12 << true
                          << kRed;
  QTest::newRow("Label7") << "Panel2" << QRect(7, 127, -1, -1) << kNoticeLines[3] << 12 << true
                          << kRed;
  QTest::newRow("GruppeInstallation")
      << "Panel1" << QRect(13, 183, 420, 82) << "" << 11 << false << none;
  QTest::newRow("GruppeInstallationItem0") << "GruppeInstallation" << QRect(8, 14, 410, 32)
                                           << "KAVORA total installation" << 11 << false << none;
  QTest::newRow("GruppeInstallationItem1") << "GruppeInstallation" << QRect(8, 46, 410, 32)
                                           << "KAVORA program installation" << 11 << false << none;
  QTest::newRow("OK") << "Panel1" << QRect(144, 347, 60, 20) << "Start" << 11 << false << none;
  QTest::newRow("Afbryd") << "Panel1" << QRect(257, 347, 61, 20) << "Afbryd" << 11 << false << none;
  // Docked to the bottom inside Panel1's one-pixel bevel.
  QTest::newRow("PStatus") << "Panel1" << QRect(1, 393, 442, 21) << DateSample() << 11 << true
                           << kNavy;
  QTest::newRow("PBar") << "PStatus" << QRect(232, 2, 157, 12) << "" << 11 << true << none;
}

void TQtMainWindowTest::controls() {
  QFETCH(QString, parent);
  QFETCH(QRect, geometry);
  QFETCH(QString, text);
  QFETCH(int, fontPixels);
  QFETCH(bool, bold);
  QFETCH(QColor, color);

  m_window->show();
  QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
  QWidget* control = Child(QTest::currentDataTag());
  QCOMPARE(control->parentWidget()->objectName(), parent);
  QVERIFY(control->isVisible());
  QCOMPARE(control->pos(), geometry.topLeft());
  if (geometry.width() < 0) {
    QCOMPARE(control->size(), control->sizeHint());
  } else {
    QCOMPARE(control->size(), geometry.size());
  }
  QCOMPARE(TextOf(control), text);
  QCOMPARE(control->font().pixelSize(), fontPixels);
  QCOMPARE(control->font().bold(), bold);
  QCOMPARE(control->font().styleHint(), QFont::SansSerif);
  if (color.isValid()) {
    QCOMPARE(control->palette().color(QPalette::WindowText), color);
  }
}

void TQtMainWindowTest::windowFrame() {
  m_window->show();
  QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
  // Two leading blanks, kept: no application name is appended either.
  QCOMPARE(m_window->windowTitle(), QString("  KAVORA v.3.50 download installation"));
  QCOMPARE(m_window->windowHandle()->title(), QString("  KAVORA v.3.50 download installation"));
  QCOMPARE(m_window->size(), QSize(444, 415));
  QCOMPARE(m_window->minimumSize(), QSize(444, 415));
  QCOMPARE(m_window->maximumSize(), QSize(444, 415));
  const Qt::WindowFlags flags = m_window->windowFlags();
  QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
  QVERIFY(flags.testFlag(Qt::WindowMinimizeButtonHint));
  QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
  QVERIFY(flags.testFlag(Qt::WindowSystemMenuHint));
  QVERIFY(!m_window->windowIcon().isNull());
  QCOMPARE(m_window->palette().color(QPalette::Window),
           m_window->palette().color(QPalette::Button));
}

void TQtMainWindowTest::startState() {
  QCOMPARE(m_window->InstallationItemIndex(), 0);
  QVERIFY(Child<QRadioButton>("GruppeInstallationItem0")->isChecked());
  QCOMPARE(NoticeLabels(), kNoticeLines);
  auto* status = Child<QLabel>("PStatus");
  QCOMPARE(status->text(), DateSample());
  QCOMPARE(status->alignment(), Qt::AlignLeft | Qt::AlignVCenter);
  auto* bar = Child<QProgressBar>("PBar");
  QCOMPARE(bar->minimum(), 0);
  QCOMPARE(bar->maximum(), 100);
  QCOMPARE(bar->value(), 0);
  for (const char* name : {"OK", "Afbryd"}) {
    auto* button = Child<QPushButton>(name);
    QVERIFY(!button->isDefault());
    QVERIFY(!button->autoDefault());
    QVERIFY(button->isEnabled());
  }
}

void TQtMainWindowTest::radioItemsStandInOneColumn() {
  auto* group = Child<QGroupBox>("GruppeInstallation");
  const QRect first = Child("GruppeInstallationItem0")->geometry();
  const QRect second = Child("GruppeInstallationItem1")->geometry();
  QCOMPARE(second.left(), first.left());
  QVERIFY(second.top() > first.bottom());
  QVERIFY(group->rect().contains(first));
  QVERIFY(group->rect().contains(second));
  QCOMPARE(group->title(), QString());
}

void TQtMainWindowTest::focusMovesOkAfbrydGroup() {
  ShowActive();
  QWidget* ok = Child("OK");
  QWidget* afbryd = Child("Afbryd");
  QWidget* item0 = Child("GruppeInstallationItem0");
  QCOMPARE(QApplication::focusWidget(), ok);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  QCOMPARE(QApplication::focusWidget(), afbryd);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  QCOMPARE(QApplication::focusWidget(), item0);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  QCOMPARE(QApplication::focusWidget(), ok);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
  QCOMPARE(QApplication::focusWidget(), item0);

  // The group is one stop, at its selected item.
  QTest::mouseClick(Child("GruppeInstallationItem1"), Qt::LeftButton);
  ok->setFocus();
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  QCOMPARE(QApplication::focusWidget(), Child("GruppeInstallationItem1"));
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  QCOMPARE(QApplication::focusWidget(), ok);
}

void TQtMainWindowTest::enterAndEscapePressNoButtonOfTheirOwn() {
  ShowActive();
  // Any dialog would mean that a key started something; catch it instead of hanging.
  int dialogs = 0;
  DialogAnswers answers;
  answers.Then<QDialog>([&](QDialog& dialog) {
    ++dialogs;
    dialog.reject();
  });
  Child("GruppeInstallationItem0")->setFocus();
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Enter);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
  Child("Afbryd")->setFocus();
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
  QCOMPARE(dialogs, 0);
  QVERIFY(m_window->isVisible());
}

void TQtMainWindowTest::enterPressesTheFocusedButton() {
  m_window = std::make_unique<TQtMainWindow>(DateSettingsOf("yyyy-MM-dd", "-"), kHost);
  ShowActive();
  QString shown;
  DialogAnswers answers;
  answers.Then<TQtMessageDialog>([&](TQtMessageDialog& box) {
    shown = box.text();
    box.accept();
  });
  Child("OK")->setFocus();
  QTest::keyClick(Child("OK"), Qt::Key_Return);
  QCOMPARE(shown, kDateWarning);

  // The warning moved the focus to Afbryd; Enter there ends the program.
  QCOMPARE(m_window->focusWidget(), Child("Afbryd"));
  QTest::keyClick(Child("Afbryd"), Qt::Key_Enter);
  QVERIFY(!m_window->isVisible());
}

void TQtMainWindowTest::selectingAKindSwitchesTheNoticeLines() {
  ShowActive();
  auto* item0 = Child<QRadioButton>("GruppeInstallationItem0");
  auto* item1 = Child<QRadioButton>("GruppeInstallationItem1");
  QTest::mouseClick(item1, Qt::LeftButton);
  QCOMPARE(m_window->InstallationItemIndex(), 1);
  QCOMPARE(NoticeLabels(), kEmptyLines);
  QTest::mouseClick(item0, Qt::LeftButton);
  QCOMPARE(m_window->InstallationItemIndex(), 0);
  QCOMPARE(NoticeLabels(), kNoticeLines);
  // The labels' size follows the restored text.
  auto* label4 = Child<QLabel>("Label4");
  QCOMPARE(label4->size(), label4->sizeHint());

  // By keyboard: the arrow keys move the selection.
  item0->setFocus();
  QTest::keyClick(item0, Qt::Key_Down);
  QCOMPARE(m_window->InstallationItemIndex(), 1);
  QCOMPARE(NoticeLabels(), kEmptyLines);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Up);
  QCOMPARE(m_window->InstallationItemIndex(), 0);
  QCOMPARE(NoticeLabels(), kNoticeLines);
}

void TQtMainWindowTest::failedDateCheckWarnsAtFramePlus100AndKeepsTheWindow() {
  m_window = std::make_unique<TQtMainWindow>(DateSettingsOf("yyyy-MM-dd", "-"), kHost);
  m_window->move(300, 200);
  ShowActive();
  QCOMPARE(m_window->frameGeometry().topLeft(), QPoint(300, 200));
  const QString sample = Child<QLabel>("PStatus")->text();
  QCOMPARE(sample, QString("Datoformat: %1-12-31").arg(QDate::currentDate().year()));

  QString caption, text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QPoint corner;
  QStringList labelsWhileShown;
  DialogAnswers answers;
  answers.Then<TQtMessageDialog>([&](TQtMessageDialog& box) {
    caption = box.windowTitle();
    text = box.text();
    icon = box.icon();
    corner = box.frameGeometry().topLeft();
    labelsWhileShown = NoticeLabels();
    QAbstractButton* ok = ButtonWithText(box, "OK");
    QVERIFY(ok != nullptr);
    QCOMPARE(box.buttons().size(), 1);
    QTest::mouseClick(ok, Qt::LeftButton);
  });
  QTest::mouseClick(Child("OK"), Qt::LeftButton);
  QCOMPARE(answers.Pending(), 0);
  QCOMPARE(caption, QString("Warning"));
  QCOMPARE(icon, QMessageBox::Warning);
  QCOMPARE(text, kDateWarning);
  QCOMPARE(corner, QPoint(400, 300));
  // The correction lines are up before the warning shows.
  QCOMPARE(labelsWhileShown, kCorrectionLines);

  QVERIFY(m_window->isVisible());
  QCOMPARE(NoticeLabels(), kCorrectionLines);
  QCOMPARE(m_window->focusWidget(), Child("Afbryd"));
  QCOMPARE(Child<QLabel>("PStatus")->text(), sample);
  QCOMPARE(Child<QProgressBar>("PBar")->value(), 0);
  QCOMPARE(m_window->InstallationItemIndex(), 0);
  QVERIFY(Child("OK")->isEnabled());

  // Start again: the same warning, as long as the format stays wrong.
  answers.Then<TQtMessageDialog>([&](TQtMessageDialog& box) {
    text = box.text();
    box.accept();
  });
  text.clear();
  QTest::mouseClick(Child("OK"), Qt::LeftButton);
  QCOMPARE(answers.Pending(), 0);
  QCOMPARE(text, kDateWarning);
  QVERIFY(m_window->isVisible());
}

void TQtMainWindowTest::pressingTheSelectedItemKeepsTheCorrectionLines() {
  m_window = std::make_unique<TQtMainWindow>(DateSettingsOf("dd/MM/yyyy", "/"), kHost);
  ShowActive();
  DialogAnswers answers;
  answers.Then<TQtMessageDialog>([](TQtMessageDialog& box) { box.accept(); });
  QTest::mouseClick(Child("OK"), Qt::LeftButton);
  QCOMPARE(NoticeLabels(), kCorrectionLines);

  QTest::mouseClick(Child("GruppeInstallationItem0"), Qt::LeftButton);
  QCOMPARE(NoticeLabels(), kCorrectionLines);
  QTest::mouseClick(Child("GruppeInstallationItem1"), Qt::LeftButton);
  QCOMPARE(NoticeLabels(), kEmptyLines);
  QTest::mouseClick(Child("GruppeInstallationItem0"), Qt::LeftButton);
  QCOMPARE(NoticeLabels(), kNoticeLines);
}

void TQtMainWindowTest::textsFitTheirPanels() {
  m_window = std::make_unique<TQtMainWindow>(DateSettingsOf("yyyy-MM-dd", "-"), kHost);
  ShowActive();
  auto* panel2 = Child<QFrame>("Panel2");
  const auto checkInformationPanel = [&] {
    for (const char* name : {"Label1", "Label2", "Label4", "Label5", "Label6", "Label7"}) {
      QVERIFY2(panel2->contentsRect().contains(Child(name)->geometry()), name);
    }
  };
  checkInformationPanel();  // the notice lines, the longest texts of the window
  DialogAnswers answers;
  answers.Then<TQtMessageDialog>([](TQtMessageDialog& box) { box.accept(); });
  QTest::mouseClick(Child("OK"), Qt::LeftButton);
  QCOMPARE(NoticeLabels(), kCorrectionLines);
  checkInformationPanel();

  // The longest status text ends before the progress bar starts.
  auto* status = Child<QLabel>("PStatus");
  m_window->SetStatusCaption(" Download Kavora35ProgramInstal.exe");
  QVERIFY(status->contentsRect().left() + status->fontMetrics().horizontalAdvance(status->text()) <
          Child("PBar")->x());
}

void TQtMainWindowTest::progressBarShowsWhatTheLogicSets() {
  ShowActive();
  auto* bar = Child<QProgressBar>("PBar");
  m_window->SetProgressRange(0, 1000);
  m_window->SetProgressPosition(400);
  QCOMPARE(bar->maximum(), 1000);
  QCOMPARE(bar->value(), 400);
  // A position beyond the range shows at its end rather than being dropped.
  m_window->SetProgressPosition(1500);
  QCOMPARE(bar->value(), 1000);

  // A body of unknown length gives the range 0 to 0: an empty bar, not a busy animation.
  m_window->SetProgressRange(0, 1);
  m_window->SetProgressPosition(0);
  const QImage empty = bar->grab().toImage();
  m_window->SetProgressRange(0, 0);
  m_window->SetProgressPosition(0);
  QCOMPARE(bar->maximum(), 0);
  QCOMPARE(bar->grab().toImage(), empty);
}

void TQtMainWindowTest::afbrydClosesAtOnce() {
  ShowActive();
  int dialogs = 0;
  DialogAnswers answers;
  answers.Then<QDialog>([&](QDialog& dialog) {
    ++dialogs;
    dialog.reject();
  });
  QTest::mouseClick(Child("Afbryd"), Qt::LeftButton);
  QVERIFY(!m_window->isVisible());
  QCOMPARE(dialogs, 0);
}

void TQtMainWindowTest::closeBoxClosesAtOnce() {
  ShowActive();
  QVERIFY(m_window->close());
  QVERIFY(!m_window->isVisible());
}

void TQtMainWindowTest::localeChangeRereadsTheDateSettings() {
  // Started with a passing format; the regional settings then change to the C locale's
  // "%m/%d/%y", and the next Start must warn.
  const QByteArray saved = qgetenv("LC_ALL");
  qputenv("LC_ALL", "C");
  QEvent change(QEvent::LocaleChange);
  QCoreApplication::sendEvent(m_window.get(), &change);
  if (saved.isNull()) {
    qunsetenv("LC_ALL");
  } else {
    qputenv("LC_ALL", saved);
  }
  QCOMPARE(m_window->Form().DateSettings().ShortDateFormat(), std::string("MM/dd/yy"));
  // The date sample stays that of start-up.
  QCOMPARE(Child<QLabel>("PStatus")->text(), DateSample());

  ShowActive();
  QString text;
  DialogAnswers answers;
  answers.Then<QDialog>([&](QDialog& dialog) {
    if (auto* box = qobject_cast<TQtMessageDialog*>(&dialog)) {
      text = box->text();
    }
    dialog.reject();
  });
  QTest::mouseClick(Child("OK"), Qt::LeftButton);
  QCOMPARE(text, kDateWarning);
}

QTEST_MAIN(TQtMainWindowTest)
#include "TQtMainWindowTest.moc"

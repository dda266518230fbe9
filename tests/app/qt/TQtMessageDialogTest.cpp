#include "app/qt/TQtMessageDialog.h"

#include <QAbstractButton>
#include <QPushButton>
#include <QtTest>

#include "app/qt/TQtErrorReport.h"
#include "tests/app/qt/QtTestSupport.h"

using kv::app::TModalResult;
using kv::app::TMsgDlgBtn;
using kv::app::TMsgDlgButtons;
using kv::app::TMsgDlgType;
using kv::app::TPoint;
using kv::app::qt::TQtMessageDialog;
using kv::test::ButtonWithText;
using kv::test::DialogAnswers;

Q_DECLARE_METATYPE(TMsgDlgType)
Q_DECLARE_METATYPE(TMsgDlgButtons)
Q_DECLARE_METATYPE(QMessageBox::Icon)

namespace {

const TMsgDlgButtons kOK{TMsgDlgBtn::mbOK};
const TMsgDlgButtons kYesNo{TMsgDlgBtn::mbYes, TMsgDlgBtn::mbNo};

// The button texts as shown, left to right.
QStringList ButtonTextsLeftToRight(QMessageBox& box) {
  QList<QAbstractButton*> buttons = box.buttons();
  std::sort(buttons.begin(), buttons.end(), [](QAbstractButton* a, QAbstractButton* b) {
    return a->mapToGlobal(QPoint()).x() < b->mapToGlobal(QPoint()).x();
  });
  QStringList texts;
  for (QAbstractButton* button : buttons) {
    texts << button->text();
  }
  return texts;
}

}  // namespace

class TQtMessageDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void outcome_data();
  void outcome();
  void appearance_data();
  void appearance();
  void opensAtTheGivenPoint();
  void isModalOverItsParent();
  void errorReport_data();
  void errorReport();
};

void TQtMessageDialogTest::outcome_data() {
  QTest::addColumn<TMsgDlgButtons>("buttons");
  QTest::addColumn<QString>("action");
  QTest::addColumn<int>("expected");

  QTest::newRow("OK pressed") << kOK << "click OK" << 1;
  QTest::newRow("OK by Enter, the default") << kOK << "Enter" << 1;
  QTest::newRow("OK set, Escape cancels") << kOK << "Escape" << 2;
  QTest::newRow("OK set, close box cancels") << kOK << "close box" << 2;
  QTest::newRow("Yes pressed") << kYesNo << "click &Yes" << 6;
  QTest::newRow("No pressed") << kYesNo << "click &No" << 7;
  QTest::newRow("Yes by Enter, the default") << kYesNo << "Enter" << 6;
  QTest::newRow("Yes by its access key") << kYesNo << "Alt+Y" << 6;
  QTest::newRow("No by its access key") << kYesNo << "Alt+N" << 7;
  QTest::newRow("Yes/No, Escape cancels rather than No") << kYesNo << "Escape" << 2;
  QTest::newRow("Yes/No, close box cancels rather than No") << kYesNo << "close box" << 2;
}

void TQtMessageDialogTest::outcome() {
  QFETCH(TMsgDlgButtons, buttons);
  QFETCH(QString, action);
  QFETCH(int, expected);

  DialogAnswers answers;
  answers.Then<TQtMessageDialog>([&](TQtMessageDialog& box) {
    // Access keys act in the active window only.
    QApplication::setActiveWindow(&box);
    QVERIFY(QTest::qWaitForWindowActive(&box));
    if (action.startsWith("click ")) {
      QAbstractButton* button = ButtonWithText(box, action.mid(6));
      QVERIFY(button != nullptr);
      QTest::mouseClick(button, Qt::LeftButton);
    } else if (action == "Enter") {
      QTest::keyClick(&box, Qt::Key_Return);
    } else if (action == "Escape") {
      QTest::keyClick(&box, Qt::Key_Escape);
    } else if (action == "Alt+Y" || action == "Alt+N") {
      QTest::keyClick(&box, action == "Alt+Y" ? Qt::Key_Y : Qt::Key_N, Qt::AltModifier);
      // An access key presses its button visibly, so the click arrives a moment later.
      QTRY_VERIFY(!box.isVisible());
    } else if (action == "close box") {
      box.close();
    }
    // Whatever the action, it must have closed the dialog; otherwise fail instead of hanging.
    if (box.isVisible()) {
      box.reject();
      QFAIL("the action did not close the dialog");
    }
  });
  const TModalResult result =
      TQtMessageDialog::MessageDlgPos(nullptr, "Text", TMsgDlgType::mtConfirmation, buttons, {});
  QCOMPARE(answers.Pending(), 0);
  QCOMPARE(static_cast<int>(result), expected);
}

void TQtMessageDialogTest::appearance_data() {
  QTest::addColumn<TMsgDlgType>("kind");
  QTest::addColumn<TMsgDlgButtons>("buttons");
  QTest::addColumn<QString>("caption");
  QTest::addColumn<QMessageBox::Icon>("icon");
  QTest::addColumn<QStringList>("buttonTexts");
  QTest::addColumn<QString>("defaultButton");

  QTest::newRow("warning") << TMsgDlgType::mtWarning << kOK << "Warning" << QMessageBox::Warning
                           << QStringList{"OK"} << "OK";
  QTest::newRow("error") << TMsgDlgType::mtError << kOK << "Error" << QMessageBox::Critical
                         << QStringList{"OK"} << "OK";
  QTest::newRow("confirmation shows the information icon")
      << TMsgDlgType::mtConfirmation << kYesNo << "Confirm" << QMessageBox::Information
      << QStringList{"&Yes", "&No"} << "&Yes";
}

void TQtMessageDialogTest::appearance() {
  QFETCH(TMsgDlgType, kind);
  QFETCH(TMsgDlgButtons, buttons);
  QFETCH(QString, caption);
  QFETCH(QMessageBox::Icon, icon);
  QFETCH(QStringList, buttonTexts);
  QFETCH(QString, defaultButton);

  const std::string text = "Skal installationen startes?";
  DialogAnswers answers;
  answers.Then<TQtMessageDialog>([&](TQtMessageDialog& box) {
    box.reject();
    QCOMPARE(box.windowTitle(), caption);
    QCOMPARE(box.icon(), icon);
    QVERIFY(!box.iconPixmap().isNull());
    QCOMPARE(box.text(), QString::fromStdString(text));
    // The message is the body; there is no heading above it and no second text.
    QCOMPARE(box.informativeText(), QString());
    QCOMPARE(box.detailedText(), QString());
    QCOMPARE(ButtonTextsLeftToRight(box), buttonTexts);
    QVERIFY(box.defaultButton() != nullptr);
    QCOMPARE(box.defaultButton()->text(), defaultButton);
  });
  TQtMessageDialog::MessageDlgPos(nullptr, text, kind, buttons, {});
  QCOMPARE(answers.Pending(), 0);
}

void TQtMessageDialogTest::opensAtTheGivenPoint() {
  QWidget parent;
  parent.move(10, 20);
  parent.show();
  QVERIFY(QTest::qWaitForWindowExposed(&parent));
  QPoint opened;
  DialogAnswers answers;
  answers.Then<TQtMessageDialog>([&](TQtMessageDialog& box) {
    opened = box.frameGeometry().topLeft();
    box.reject();
  });
  TQtMessageDialog::MessageDlgPos(&parent, "Download mislykket", TMsgDlgType::mtError, kOK,
                                  TPoint{400, 300});
  QCOMPARE(answers.Pending(), 0);
  // Not centred over the parent: the outer corner goes exactly where it was asked to.
  QCOMPARE(opened, QPoint(400, 300));
}

void TQtMessageDialogTest::isModalOverItsParent() {
  QWidget parent;
  parent.show();
  QVERIFY(QTest::qWaitForWindowExposed(&parent));
  bool parentBlocked = false;
  DialogAnswers answers;
  answers.Then<TQtMessageDialog>([&](TQtMessageDialog& box) {
    parentBlocked =
        box.isModal() && QApplication::activeModalWidget() == &box && box.parentWidget() == &parent;
    box.reject();
  });
  TQtMessageDialog::MessageDlgPos(&parent, "x", TMsgDlgType::mtWarning, kOK, {});
  QVERIFY(parentBlocked);
}

void TQtMessageDialogTest::errorReport_data() {
  QTest::addColumn<QString>("message");
  QTest::addColumn<QString>("shown");

  QTest::newRow("letter gets a full stop") << "Socket Error # 10061"
                                           << "Socket Error # 10061.";
  QTest::newRow("full stop kept single") << "Connection Closed Gracefully."
                                         << "Connection Closed Gracefully.";
  QTest::newRow("'/' sorts after '.'") << "a/"
                                       << "a/.";
  QTest::newRow("'?' sorts after '.'") << "Why?"
                                       << "Why?.";
  QTest::newRow("')' sorts before '.'") << "(x)"
                                        << "(x)";
  QTest::newRow("'!' sorts before '.'") << "Stop!"
                                        << "Stop!";
  QTest::newRow("',' sorts before '.'") << "a,"
                                        << "a,";
  QTest::newRow("'-' sorts before '.'") << "a-"
                                        << "a-";
  QTest::newRow("line break sorts before '.'") << "a\n"
                                               << "a\n";
  QTest::newRow("non-ASCII letter sorts after '.'") << "Fejl på linje ø"
                                                    << "Fejl på linje ø.";
  QTest::newRow("empty text stays empty") << ""
                                          << "";
}

void TQtMessageDialogTest::errorReport() {
  QFETCH(QString, message);
  QFETCH(QString, shown);

  DialogAnswers answers;
  answers.Then<QMessageBox>([&](QMessageBox& box) {
    QCOMPARE(box.windowTitle(), QString("KAVORA download"));
    QCOMPARE(box.icon(), QMessageBox::Critical);
    QCOMPARE(box.text(), shown);
    QCOMPARE(ButtonTextsLeftToRight(box).size(), 1);
    QCOMPARE(box.standardButtons(), QMessageBox::StandardButtons(QMessageBox::Ok));
    QTest::keyClick(&box, Qt::Key_Return);
    QVERIFY(!box.isVisible());
  });
  kv::app::qt::ShowErrorReport(nullptr, message.toStdString());
  QCOMPARE(answers.Pending(), 0);
}

QTEST_MAIN(TQtMessageDialogTest)
#include "TQtMessageDialogTest.moc"

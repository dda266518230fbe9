#include "app/qt/TQtMainWindow.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <algorithm>
#include <exception>

#include "app/MainFormTexts.h"
#include "app/TMainForm.h"
#include "app/qt/TQtErrorReport.h"
#include "app/qt/TQtMessageDialog.h"
#include "app/qt/TQtProgressBar.h"
#include "app/qt/TQtPushButton.h"
#include "app/qt/TQtRadioItem.h"
#include "app/qt/TQtSaveDialog.h"

// Resources live in a static library; their registration must be pulled in by hand.
static void InitKavoraResources() {
  Q_INIT_RESOURCE(kavora);
}

namespace kv::app::qt {

namespace {

// The designed layout, in pixels at 96 dots per inch.
constexpr QSize kClientSize{444, 415};
constexpr QRect kPanel2Rect{13, 13, 420, 156};
constexpr QPoint kLabel1Pos{7, 7};
constexpr QPoint kLabel2Pos{7, 27};
constexpr QPoint kLabel4Pos{7, 67};
constexpr QPoint kLabel5Pos{7, 87};
constexpr QPoint kLabel6Pos{7, 107};
constexpr QPoint kLabel7Pos{7, 127};
constexpr QRect kGruppeInstallationRect{13, 183, 420, 82};
constexpr QRect kOKRect{144, 347, 60, 20};
constexpr QRect kAfbrydRect{257, 347, 61, 20};
constexpr int kPStatusHeight = 21;
constexpr QRect kPBarRect{232, 2, 157, 12};
// Panel1's lowered inner bevel takes this much from the area its docked children may use.
constexpr int kPanel1BevelWidth = 1;

// Font heights in pixels: the window's font, Panel2's and the notice lines', and PStatus'.
constexpr int kWindowFontPixels = 11;
constexpr int kInformationFontPixels = 12;
constexpr int kStatusFontPixels = 11;

const QColor kNavy{0, 0, 128};
const QColor kRed{255, 0, 0};

// The designed face is a narrow sans-serif; the common sans-serif faces run about a quarter
// wider at the same height, and the longest notice line would no longer fit the information
// panel. Narrowed to this percentage, they take about the designed room.
constexpr int kFontStretch = 80;

QFont SansSerif(int pixels, bool bold) {
  QFont font(QStringLiteral("Sans Serif"));
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(pixels);
  font.setBold(bold);
  font.setStretch(kFontStretch);
  return font;
}

void SetTextColor(QWidget* widget, const QColor& color) {
  QPalette palette = widget->palette();
  palette.setColor(QPalette::WindowText, color);
  widget->setPalette(palette);
}

// A panel edge one pixel wide, dark above and left, light below and right.
void SetLoweredBevel(QFrame* frame) {
  frame->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  frame->setLineWidth(1);
}

QLabel* CreateLabel(QWidget* parent, const char* name, QPoint position) {
  auto* label = new QLabel(parent);
  label->setObjectName(QString::fromUtf8(name));
  label->setTextFormat(Qt::PlainText);
  label->move(position);
  label->adjustSize();
  return label;
}

// Radio items share the group's width in columns and its height below the caption line in rows,
// the way the classic radio group arranges them. The caption line is as high as a line of the
// designed window font, whatever font stands in for it.
QRect RadioItemRect(QSize group, int index, int count) {
  constexpr int kCaptionLineHeight = 13;
  constexpr int kColumns = 1;
  constexpr int kSideMargin = 10;
  constexpr int kLeft = 8;
  constexpr int kBottomMargin = 5;
  const int perColumn = (count + kColumns - 1) / kColumns;
  const int width = (group.width() - kSideMargin) / kColumns;
  const int rowsHeight = group.height() - kCaptionLineHeight - kBottomMargin;
  const int height = rowsHeight / perColumn;
  const int top = kCaptionLineHeight + 1 + (rowsHeight % perColumn) / 2;
  return {(index / perColumn) * width + kLeft, (index % perColumn) * height + top, width, height};
}

}  // namespace

TQtMainWindow::TQtMainWindow(std::optional<TDateSettings> dateSettings,
                             const std::string& downloadHost, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint) {
  InitKavoraResources();
  setObjectName(QStringLiteral("MainForm"));
  setWindowTitle(QString::fromUtf8(texts::kWindowCaption));
  setWindowIcon(QIcon(QStringLiteral(":/kavora/kavora.png")));
  setFixedSize(kClientSize);
  setFont(SansSerif(kWindowFontPixels, false));
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, palette.color(QPalette::Button));
  setPalette(palette);
  setAutoFillBackground(true);
  CreateControls();
  SetTabOrder();
  const std::string host = downloadHost.empty() ? TMainForm::DefaultDownloadHost() : downloadHost;
  m_form = dateSettings ? std::make_unique<TMainForm>(*this, std::move(*dateSettings), host)
                        : std::make_unique<TMainForm>(*this, host);
  RunHandler([this] { m_form->FormCreate(); });
}

TQtMainWindow::~TQtMainWindow() {
  RestoreCursor();
}

void TQtMainWindow::CreateControls() {
  m_panel1 = new QFrame(this);
  m_panel1->setObjectName(QStringLiteral("Panel1"));
  m_panel1->setGeometry(rect());
  SetLoweredBevel(m_panel1);

  m_panel2 = new QFrame(m_panel1);
  m_panel2->setObjectName(QStringLiteral("Panel2"));
  m_panel2->setGeometry(kPanel2Rect);
  SetLoweredBevel(m_panel2);
  m_panel2->setFont(SansSerif(kInformationFontPixels, true));
  SetTextColor(m_panel2, kNavy);

  m_label1 = CreateLabel(m_panel2, "Label1", kLabel1Pos);
  m_label2 = CreateLabel(m_panel2, "Label2", kLabel2Pos);
  m_label2->setText(QString::fromUtf8(texts::kLabel2));
  m_label2->adjustSize();
  m_label4 = CreateLabel(m_panel2, "Label4", kLabel4Pos);
  m_label5 = CreateLabel(m_panel2, "Label5", kLabel5Pos);
  m_label6 = CreateLabel(m_panel2, "Label6", kLabel6Pos);
  m_label7 = CreateLabel(m_panel2, "Label7", kLabel7Pos);
  for (QLabel* notice : {m_label4, m_label5, m_label6, m_label7}) {
    notice->setFont(SansSerif(kInformationFontPixels, true));
    SetTextColor(notice, kRed);
  }

  m_gruppeInstallation = new QGroupBox(m_panel1);
  m_gruppeInstallation->setObjectName(QStringLiteral("GruppeInstallation"));
  m_gruppeInstallation->setGeometry(kGruppeInstallationRect);
  m_installationButtons = new QButtonGroup(m_gruppeInstallation);
  m_installationButtons->setExclusive(true);
  const int itemCount = static_cast<int>(std::size(texts::kInstallationItems));
  for (int i = 0; i < itemCount; ++i) {
    auto* item =
        new TQtRadioItem(QString::fromUtf8(texts::kInstallationItems[i]), m_gruppeInstallation);
    item->setObjectName(QStringLiteral("GruppeInstallationItem%1").arg(i));
    item->setGeometry(RadioItemRect(kGruppeInstallationRect.size(), i, itemCount));
    m_installationButtons->addButton(item, i);
  }
  m_installationButtons->button(texts::kInitialInstallationItem)->setChecked(true);

  // Neither is a default or cancel button: Enter presses only the button that has the focus,
  // Escape presses none.
  m_ok = new TQtPushButton(QString::fromUtf8(texts::kOKCaption), m_panel1);
  m_ok->setObjectName(QStringLiteral("OK"));
  m_ok->setGeometry(kOKRect);
  m_afbryd = new TQtPushButton(QString::fromUtf8(texts::kAfbrydCaption), m_panel1);
  m_afbryd->setObjectName(QStringLiteral("Afbryd"));
  m_afbryd->setGeometry(kAfbrydRect);

  m_pStatus = new QLabel(m_panel1);
  m_pStatus->setObjectName(QStringLiteral("PStatus"));
  m_pStatus->setTextFormat(Qt::PlainText);
  m_pStatus->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  m_pStatus->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
  m_pStatus->setLineWidth(1);
  m_pStatus->setFont(SansSerif(kStatusFontPixels, true));
  SetTextColor(m_pStatus, kNavy);
  const QRect inside = m_panel1->rect().adjusted(kPanel1BevelWidth, kPanel1BevelWidth,
                                                 -kPanel1BevelWidth, -kPanel1BevelWidth);
  m_pStatus->setGeometry(inside.left(), inside.bottom() + 1 - kPStatusHeight, inside.width(),
                         kPStatusHeight);

  m_pBar = new TQtProgressBar(m_pStatus);
  m_pBar->setObjectName(QStringLiteral("PBar"));
  m_pBar->setGeometry(kPBarRect);
  m_pBar->setTextVisible(false);
  m_pBar->setRange(texts::kProgressInitialMin, texts::kProgressInitialMax);
  m_pBar->setValue(texts::kProgressInitialMin);

  connect(m_ok, &QPushButton::clicked, this, &TQtMainWindow::OKClick);
  connect(m_afbryd, &QPushButton::clicked, this, &TQtMainWindow::AfbrydClick);
  // Only a change of the selection counts; pressing the selected item again does nothing.
  connect(m_installationButtons, &QButtonGroup::idToggled, this, [this](int, bool checked) {
    if (checked) {
      GruppeInstallationClick();
    }
  });
}

void TQtMainWindow::SetTabOrder() {
  setTabOrder(m_ok, m_afbryd);
  QWidget* previous = m_afbryd;
  for (QAbstractButton* item : m_installationButtons->buttons()) {
    setTabOrder(previous, item);
    previous = item;
  }
  m_ok->setFocus();
}

QLabel* TQtMainWindow::LabelOf(TLabelId label) const {
  switch (label) {
    case TLabelId::liLabel1:
      return m_label1;
    case TLabelId::liLabel4:
      return m_label4;
    case TLabelId::liLabel5:
      return m_label5;
    case TLabelId::liLabel6:
      return m_label6;
    case TLabelId::liLabel7:
      return m_label7;
  }
  return nullptr;
}

void TQtMainWindow::SetLabelCaption(TLabelId label, const std::string& text) {
  QLabel* target = LabelOf(label);
  target->setText(QString::fromStdString(text));
  // A label's size follows its text.
  target->adjustSize();
}

void TQtMainWindow::SetStatusCaption(const std::string& text) {
  m_pStatus->setText(QString::fromStdString(text));
}

void TQtMainWindow::SetProgressRange(int32_t min, int32_t max) {
  m_pBar->setRange(min, max);
}

void TQtMainWindow::SetProgressPosition(int32_t position) {
  // The bar ignores a value outside its range; show it clamped instead.
  m_pBar->setValue(std::clamp(position, m_pBar->minimum(), m_pBar->maximum()));
}

int TQtMainWindow::InstallationItemIndex() const {
  return m_installationButtons->checkedId();
}

void TQtMainWindow::SetOKEnabled(bool enabled) {
  m_ok->setEnabled(enabled);
}

void TQtMainWindow::FocusAfbryd() {
  m_afbryd->setFocus();
}

TPoint TQtMainWindow::WindowTopLeft() const {
  const QPoint corner = frameGeometry().topLeft();
  return {corner.x(), corner.y()};
}

TModalResult TQtMainWindow::MessageDlgPos(const std::string& text, TMsgDlgType kind,
                                          const TMsgDlgButtons& buttons, TPoint at) {
  return TQtMessageDialog::MessageDlgPos(this, text, kind, buttons, at);
}

std::optional<std::string> TQtMainWindow::ExecuteSaveDialog(const TSaveDialogOptions& options) {
  return TQtSaveDialog::ExecuteSaveDialog(this, options);
}

void TQtMainWindow::SetScreenCursor(TCursor cursor) {
  switch (cursor) {
    case TCursor::crDefault:
      RestoreCursor();
      break;
    case TCursor::crArrow:
      OverrideCursor(Qt::ArrowCursor);
      break;
    case TCursor::crHourGlass:
      OverrideCursor(Qt::WaitCursor);
      break;
  }
}

void TQtMainWindow::OverrideCursor(Qt::CursorShape shape) {
  if (m_cursorOverridden) {
    QApplication::changeOverrideCursor(shape);
  } else {
    QApplication::setOverrideCursor(shape);
    m_cursorOverridden = true;
  }
}

void TQtMainWindow::RestoreCursor() {
  if (m_cursorOverridden) {
    QApplication::restoreOverrideCursor();
    m_cursorOverridden = false;
  }
}

void TQtMainWindow::ProcessMessages() {
  QCoreApplication::processEvents();
}

void TQtMainWindow::Close() {
  // Inside Start the request is taken when Start has returned, like any other close request.
  if (m_inStart) {
    m_closeRequested = true;
    return;
  }
  close();
}

void TQtMainWindow::ShellOpen(const std::string& fileName, const std::string& workingFolder) {
  m_shellOpener(fileName, workingFolder);
}

void TQtMainWindow::DesktopShellOpen(const std::string& fileName,
                                     const std::string& workingFolder) {
  QProcess::startDetached(QStringLiteral("xdg-open"), {QString::fromStdString(fileName)},
                          QString::fromStdString(workingFolder));
}

std::string TQtMainWindow::ExecutableFolder() const {
  return QCoreApplication::applicationDirPath().toStdString();
}

TDate TQtMainWindow::CurrentDate() const {
  const QDate today = QDate::currentDate();
  return {today.year(), today.month(), today.day()};
}

bool TQtMainWindow::event(QEvent* event) {
  if (event->type() == QEvent::LocaleChange) {
    RunHandler([this] { m_form->ReloadDateSettings(); });
  }
  return QWidget::event(event);
}

void TQtMainWindow::closeEvent(QCloseEvent* event) {
  if (m_inStart) {
    // A transfer runs; the request is taken when Start has run to its end.
    m_closeRequested = true;
    event->ignore();
    return;
  }
  TCloseAction action = TCloseAction::caHide;
  RunHandler([this, &action] { m_form->FormClose(action); });
  // The window is released by its owner once the loop has ended, so freeing is hiding here.
  if (action == TCloseAction::caNone || action == TCloseAction::caMinimize) {
    event->ignore();
    if (action == TCloseAction::caMinimize) {
      showMinimized();
    }
    return;
  }
  event->accept();
}

void TQtMainWindow::RunHandler(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& failure) {
    ShowErrorReport(this, failure.what());
  } catch (...) {
    ShowErrorReport(this, kUnknownFailureText);
  }
}

void TQtMainWindow::OKClick() {
  // Start may be pressed again through the message pumps of a running Start; the logic decides
  // what that does, so only the outermost run owns the pending close request.
  const bool outermost = !m_inStart;
  m_inStart = true;
  RunHandler([this] { m_form->OKClick(); });
  if (!outermost) {
    return;
  }
  m_inStart = false;
  if (m_closeRequested) {
    m_closeRequested = false;
    close();
  }
}

void TQtMainWindow::AfbrydClick() {
  RunHandler([this] { m_form->AfbrydClick(); });
}

void TQtMainWindow::GruppeInstallationClick() {
  RunHandler([this] { m_form->GruppeInstallationClick(); });
}

}  // namespace kv::app::qt

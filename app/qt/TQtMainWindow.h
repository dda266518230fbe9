#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/TDateSettings.h"
#include "app/TMainView.h"

class QButtonGroup;
class QFrame;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;

namespace kv::app {
class TMainForm;
}

namespace kv::app::qt {

class TQtProgressBar;

// The main window: the controls at their fixed places, the view the logic (TMainForm) draws
// through, and the wiring of the controls to the logic's handlers. It decides nothing itself.
class TQtMainWindow : public QWidget, public TMainView {
  Q_OBJECT

 public:
  // Starts a saved file with the desktop's default action; replaced by tests.
  using TShellOpener =
      std::function<void(const std::string& fileName, const std::string& workingFolder)>;

  // dateSettings: read by the caller at program start; without them the logic reads the user's
  // locale itself. downloadHost: the download server ("host" or "host:port"); empty for the
  // built-in one. The logic's FormCreate runs here, before the window is shown.
  explicit TQtMainWindow(std::optional<TDateSettings> dateSettings = std::nullopt,
                         const std::string& downloadHost = {}, QWidget* parent = nullptr);
  ~TQtMainWindow() override;

  void SetShellOpener(TShellOpener opener) { m_shellOpener = std::move(opener); }

  // The logic behind the window.
  TMainForm& Form() { return *m_form; }

  // TMainView
  void SetLabelCaption(TLabelId label, const std::string& text) override;
  void SetStatusCaption(const std::string& text) override;
  void SetProgressRange(int32_t min, int32_t max) override;
  void SetProgressPosition(int32_t position) override;
  int InstallationItemIndex() const override;
  void SetOKEnabled(bool enabled) override;
  void FocusAfbryd() override;
  TPoint WindowTopLeft() const override;
  TModalResult MessageDlgPos(const std::string& text, TMsgDlgType kind,
                             const TMsgDlgButtons& buttons, TPoint at) override;
  std::optional<std::string> ExecuteSaveDialog(const TSaveDialogOptions& options) override;
  void SetScreenCursor(TCursor cursor) override;
  void ProcessMessages() override;
  void Close() override;
  void ShellOpen(const std::string& fileName, const std::string& workingFolder) override;
  std::string ExecutableFolder() const override;
  TDate CurrentDate() const override;

  // Starts a file the way the desktop does: "xdg-open" with the file's folder as working folder.
  static void DesktopShellOpen(const std::string& fileName, const std::string& workingFolder);

 protected:
  bool event(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private slots:
  void OKClick();
  void AfbrydClick();
  void GruppeInstallationClick();

 private:
  void CreateControls();
  void SetTabOrder();
  QLabel* LabelOf(TLabelId label) const;
  void OverrideCursor(Qt::CursorShape shape);
  void RestoreCursor();
  // Runs a handler of the logic; a failure that escapes it is shown in the error report and the
  // window carries on.
  void RunHandler(const std::function<void()>& handler);

  QFrame* m_panel1 = nullptr;
  QFrame* m_panel2 = nullptr;
  QLabel* m_label1 = nullptr;
  QLabel* m_label2 = nullptr;
  QLabel* m_label4 = nullptr;
  QLabel* m_label5 = nullptr;
  QLabel* m_label6 = nullptr;
  QLabel* m_label7 = nullptr;
  QGroupBox* m_gruppeInstallation = nullptr;
  QButtonGroup* m_installationButtons = nullptr;
  QPushButton* m_ok = nullptr;
  QPushButton* m_afbryd = nullptr;
  QLabel* m_pStatus = nullptr;
  TQtProgressBar* m_pBar = nullptr;

  std::unique_ptr<TMainForm> m_form;
  TShellOpener m_shellOpener = &TQtMainWindow::DesktopShellOpen;
  bool m_cursorOverridden = false;
  // Start runs; close requests wait until it has returned.
  bool m_inStart = false;
  bool m_closeRequested = false;
};

}  // namespace kv::app::qt

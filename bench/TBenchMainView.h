#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "app/TMainView.h"

namespace kv::bench {

// A window without a screen for timing the download path: the save dialog answers with a path in
// a given folder, every question is answered No (so no installer is started), and the display
// calls only count what the logic asked for. Message processing does no more than a counter, so
// what is measured is the logic's own cost per notification.
class TBenchMainView : public kv::app::TMainView {
 public:
  explicit TBenchMainView(std::string targetFolder);

  void SetLabelCaption(kv::app::TLabelId label, const std::string& text) override;
  void SetStatusCaption(const std::string& text) override;
  void SetProgressRange(int32_t min, int32_t max) override;
  void SetProgressPosition(int32_t position) override;
  int InstallationItemIndex() const override { return m_installationItemIndex; }
  void SetOKEnabled(bool enabled) override;
  void FocusAfbryd() override;
  kv::app::TPoint WindowTopLeft() const override { return {}; }
  kv::app::TModalResult MessageDlgPos(const std::string& text, kv::app::TMsgDlgType kind,
                                      const kv::app::TMsgDlgButtons& buttons,
                                      kv::app::TPoint at) override;
  std::optional<std::string> ExecuteSaveDialog(const kv::app::TSaveDialogOptions& options) override;
  void SetScreenCursor(kv::app::TCursor cursor) override;
  void ProcessMessages() override { ++m_processMessagesCount; }
  void Close() override { m_closed = true; }
  void ShellOpen(const std::string& fileName, const std::string& workingFolder) override;
  std::string ExecutableFolder() const override { return m_targetFolder; }
  kv::app::TDate CurrentDate() const override;

  void SetInstallationItemIndex(int index) { m_installationItemIndex = index; }

  const std::string& TargetPath() const { return m_targetPath; }
  const std::string& Status() const { return m_status; }
  int64_t ProcessMessagesCount() const { return m_processMessagesCount; }
  int64_t ProgressUpdates() const { return m_progressUpdates; }
  int32_t ProgressMax() const { return m_progressMax; }
  int ErrorDialogs() const { return m_errorDialogs; }
  int WarningDialogs() const { return m_warningDialogs; }
  bool Closed() const { return m_closed; }
  bool Launched() const { return m_launched; }

 private:
  std::string m_targetFolder;
  std::string m_targetPath;
  std::string m_status;
  int m_installationItemIndex = 0;
  int64_t m_processMessagesCount = 0;
  int64_t m_progressUpdates = 0;
  int32_t m_progressMax = 0;
  int m_errorDialogs = 0;
  int m_warningDialogs = 0;
  bool m_closed = false;
  bool m_launched = false;
};

}  // namespace kv::bench

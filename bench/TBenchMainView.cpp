#include "bench/TBenchMainView.h"

#include <ctime>
#include <utility>

namespace kv::bench {

using kv::app::TModalResult;
using kv::app::TMsgDlgType;

TBenchMainView::TBenchMainView(std::string targetFolder) : m_targetFolder(std::move(targetFolder)) {
  if (m_targetFolder.empty() || m_targetFolder.back() != '/') {
    m_targetFolder += '/';
  }
}

void TBenchMainView::SetLabelCaption(kv::app::TLabelId, const std::string&) {}

void TBenchMainView::SetStatusCaption(const std::string& text) {
  m_status = text;
}

void TBenchMainView::SetProgressRange(int32_t, int32_t max) {
  m_progressMax = max;
}

void TBenchMainView::SetProgressPosition(int32_t) {
  ++m_progressUpdates;
}

void TBenchMainView::SetOKEnabled(bool) {}

void TBenchMainView::FocusAfbryd() {}

TModalResult TBenchMainView::MessageDlgPos(const std::string&, TMsgDlgType kind,
                                           const kv::app::TMsgDlgButtons&, kv::app::TPoint) {
  if (kind == TMsgDlgType::mtError) {
    ++m_errorDialogs;
  } else if (kind == TMsgDlgType::mtWarning) {
    ++m_warningDialogs;
  }
  // No: the downloaded installer is not started.
  return kind == TMsgDlgType::mtConfirmation ? TModalResult::mrNo : TModalResult::mrOk;
}

std::optional<std::string> TBenchMainView::ExecuteSaveDialog(
    const kv::app::TSaveDialogOptions& options) {
  m_targetPath = m_targetFolder + options.FileName;
  return m_targetPath;
}

void TBenchMainView::SetScreenCursor(kv::app::TCursor) {}

void TBenchMainView::ShellOpen(const std::string&, const std::string&) {
  m_launched = true;
}

kv::app::TDate TBenchMainView::CurrentDate() const {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
}

}  // namespace kv::bench

#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "app/TDateSettings.h"
#include "app/TMainView.h"
#include "http/Forward.h"
#include "net/EIdException.h"
#include "net/Forward.h"
#include "net/TIdComponent.h"

namespace kv::app {

using kv::net::EIdException;

// An answer that must not replace a file: a status outside 2xx or one that carries no whole
// file (204, 205, 206), a head or a body that did not reach its end, a multipart answer,
// Content-Length lines that disagree, or fewer or more bytes than the announced length. It
// takes the download's failure path like every other failure.
KV_DECLARE_EXCEPTION(EIncompleteDownload, EIdException);

// What happens to a window once it has closed.
enum class TCloseAction { caNone, caHide, caFree, caMinimize };

// The main window's logic: the installation kinds and their notice lines, the date-format check
// that opens Start, the download with its progress display, and the launch of the installer. It
// reaches the screen only through a TMainView, so it runs without any toolkit.
class TMainForm {
 public:
  // The installer file names, indexed by installation kind.
  static constexpr std::array<const char*, 2> InstallationFiles = {"Kavora35TotalInstal.exe",
                                                                   "Kavora35ProgramInstal.exe"};

  // The download server baked in at build time (host or host:port).
  static std::string DefaultDownloadHost();

  // Reads the date settings of the user's locale. `downloadHost` replaces the built-in server
  // (tests point it at a loopback server).
  explicit TMainForm(TMainView& view, std::string downloadHost = DefaultDownloadHost());
  TMainForm(TMainView& view, TDateSettings dateSettings,
            std::string downloadHost = DefaultDownloadHost());
  ~TMainForm();
  TMainForm(const TMainForm&) = delete;
  TMainForm& operator=(const TMainForm&) = delete;

  // Handlers, bound by the window to its events.
  void FormCreate();
  void FormClose(TCloseAction& action);
  void OKClick();
  void AfbrydClick();
  void GruppeInstallationClick();
  void FTPWorkBegin(kv::net::TIdComponent& sender, kv::net::TWorkMode workMode,
                    int64_t workCountMax);
  void FTPWork(kv::net::TIdComponent& sender, kv::net::TWorkMode workMode, int64_t workCount);

  // The regional settings changed: read the date settings of the user's locale again, as a
  // whole. The date sample in the status panel stays as it was.
  void ReloadDateSettings();
  // Replaces the date settings (tests, or a window that reads them itself).
  void SetDateSettings(TDateSettings settings) { m_dateSettings = std::move(settings); }
  const TDateSettings& DateSettings() const { return m_dateSettings; }

  // The text of Label1: "KAVORA download fra " + host + ".".
  const std::string& Label1Caption() const { return m_label1Caption; }
  // The download base URL: "http://" + host + "/Downloads/Instal34/".
  const std::string& KavoraInternetDownload() const { return m_kavoraInternetDownload; }
  kv::http::TIdHTTP& HTTP() { return *m_http; }
  // The download buffer; exists only during a download attempt.
  kv::net::TIdMemoryStream* MStream() const { return m_mStream.get(); }
  // True from the moment Start has a target path until it has asked the window to close. Start
  // pumps messages on the way (progress, status texts), and a press of OK delivered there must
  // not begin a second attempt on the same buffer and client.
  bool StartRunning() const { return m_startRunning; }

  // The date check that opens Start: renders today and, when the text is not of the form
  // DD-MM-YYYY, writes the correction lines, warns and moves the focus to Afbryd.
  bool CheckDateFormat();
  // "Datoformat: " + 31 December of the current year rendered with the date settings.
  std::string DateSample() const;

  // The folder of a path chosen in the save dialog: everything up to and including its last
  // "/". Only "/" separates: "\" and ":" are ordinary file-name characters here.
  static std::string FolderOf(const std::string& path);
  // The working folder for launching a file in `folder`: without its trailing "/", except the
  // root "/".
  static std::string LaunchFolderOf(const std::string& folder);

 private:
  class TStartGuard;

  void SetNoticeLines(int kind);
  TPoint DialogPoint() const;
  // The transfer and the write; throws on any failure.
  void DownloadTo(const std::string& fileName, const std::string& targetPath);
  // The answer may replace a file only when it is the whole file: a 2xx status with a body, a
  // head and a body that reached their ends, one framing, and, when a length was announced,
  // exactly that many bytes.
  void CheckAnswer() const;
  void SetProgressPosition(int64_t position);

  TMainView& m_view;
  TDateSettings m_dateSettings;
  std::string m_label1Caption;
  std::string m_kavoraInternetDownload;
  std::unique_ptr<kv::http::TIdHTTP> m_http;
  std::unique_ptr<kv::net::TIdMemoryStream> m_mStream;
  bool m_startRunning = false;
  // The progress bar's maximum, and how far work counts are shifted right so that the maximum
  // of a body of 2 GiB or more still fits the bar's signed 32-bit range.
  int32_t m_progressMax = 100;
  int m_progressShift = 0;
};

}  // namespace kv::app

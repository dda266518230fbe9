#include "app/TMainForm.h"

#include <cstdio>
#include <exception>
#include <limits>
#include <utility>
#include <vector>

#include "app/TFileSaver.h"
#include "app/TMessageDialog.h"
#include "http/IdGlobalProtocols.h"
#include "http/KavoraDownloadSettings.h"
#include "http/TIdEntityHeaderInfo.h"
#include "http/TIdHTTP.h"
#include "net/TIdStream.h"

#ifndef KAVORA_DOWNLOAD_HOST
#error "KAVORA_DOWNLOAD_HOST must name the download server (set by app/CMakeLists.txt)"
#endif

namespace kv::app {

namespace {

// The notice lines of the total installation, Label4 to Label7.
constexpr const char* kNoticeLines[4] = {
    "Du har købt KAVORA og har ansvaret for at gemme installationsfilen",
    "'Kavora35TotalInstal.exe' for fremtidige installationer.",
    "Holvane A/S gemmer IKKE en kopi af filen og det er forbundet",
    "med en udgift at erhverve en ny installationsfil."};

// The correction lines of a failed date check, Label4 to Label7.
constexpr const char* kCorrectionLines[4] = {"Korriger følgende opsætning i Kontrolpanelet:",
                                             " - Internationale indstillinger skal være 'Dansk'.",
                                             " - Kort datoformat skal være 'DD-MM-ÅÅÅÅ'.", ""};

constexpr TLabelId kLineLabels[4] = {TLabelId::liLabel4, TLabelId::liLabel5, TLabelId::liLabel6,
                                     TLabelId::liLabel7};

constexpr const char* kDateFormatWarning = "Datoformatet skal først ændres til DD-MM-ÅÅÅÅ";
constexpr const char* kDateSamplePrefix = "Datoformat: ";
constexpr const char* kStatusDownloading = " Download ";
constexpr const char* kStatusFailed = "Downloadforbindelsen er afbrudt";
constexpr const char* kStatusDone = " Download er fuldført";
constexpr const char* kDownloadFailed = "Download mislykket";
constexpr const char* kStartInstallation = "Skal installationen startes?";
constexpr const char* kSaveDialogTitle = "Gem som";
constexpr const char* kSaveDialogFilterName = "Alle filer (*.*)";
constexpr const char* kSaveDialogFilterPattern = "*.*";
constexpr const char* kDownloadPath = "/Downloads/Instal34/";

constexpr int kFirstSuccessCode = 200;
constexpr int kLastSuccessCode = 299;
// Success statuses whose body is not the whole file: none at all, or a part of it.
constexpr int kNoContent = 204;
constexpr int kResetContent = 205;
constexpr int kPartialContent = 206;

bool ContainsChunked(const std::string& transferEncoding) {
  return kv::http::TextPos(transferEncoding, "chunked") != std::string::npos;
}

// Whether every Content-Length line of the head names the same number. When they differ, there
// is no telling which one framed the body.
bool LengthsAgree(const kv::http::TIdHeaderList& headers) {
  const std::vector<std::string> values = headers.Extract("Content-Length");
  for (const std::string& value : values) {
    if (kv::http::ParseHeaderInt64(value) != kv::http::ParseHeaderInt64(values.front())) {
      return false;
    }
  }
  return true;
}

}  // namespace

// Ends a running Start however it is left.
class TMainForm::TStartGuard {
 public:
  explicit TStartGuard(TMainForm& form) : m_form(form), m_exceptions(std::uncaught_exceptions()) {}
  ~TStartGuard() {
    m_form.m_startRunning = false;
    if (std::uncaught_exceptions() > m_exceptions) {
      m_form.m_view.SetOKEnabled(true);
    }
  }
  TStartGuard(const TStartGuard&) = delete;
  TStartGuard& operator=(const TStartGuard&) = delete;

 private:
  TMainForm& m_form;
  int m_exceptions;
};

std::string TMainForm::DefaultDownloadHost() {
  return KAVORA_DOWNLOAD_HOST;
}

TMainForm::TMainForm(TMainView& view, std::string downloadHost)
    : TMainForm(view, TDateSettings::FromLocale(), std::move(downloadHost)) {}

TMainForm::TMainForm(TMainView& view, TDateSettings dateSettings, std::string downloadHost)
    : m_view(view),
      m_dateSettings(std::move(dateSettings)),
      m_label1Caption("KAVORA download fra " + downloadHost + "."),
      m_http(std::make_unique<kv::http::TIdHTTP>()) {
  kv::http::ApplyKavoraDownloadSettings(*m_http);
  m_http->OnWorkBegin = [this](kv::net::TIdComponent& sender, kv::net::TWorkMode mode,
                               int64_t countMax) { FTPWorkBegin(sender, mode, countMax); };
  m_http->OnWork = [this](kv::net::TIdComponent& sender, kv::net::TWorkMode mode, int64_t count) {
    FTPWork(sender, mode, count);
  };
  // Set at creation in FormCreate, but known from here on so that no caller sees it empty.
  m_kavoraInternetDownload = "http://" + downloadHost + kDownloadPath;
}

TMainForm::~TMainForm() = default;

void TMainForm::FormCreate() {
  m_view.SetLabelCaption(TLabelId::liLabel1, m_label1Caption);
  SetNoticeLines(0);
  m_view.SetStatusCaption(DateSample());
  // KavoraInternetDownload was set by the constructor from the same host.
  SetProgressPosition(0);
}

void TMainForm::FormClose(TCloseAction& action) {
  action = TCloseAction::caFree;
}

void TMainForm::AfbrydClick() {
  m_view.Close();
}

void TMainForm::GruppeInstallationClick() {
  const int kind = m_view.InstallationItemIndex();
  if (kind == 0 || kind == 1) {
    SetNoticeLines(kind);
  }
}

void TMainForm::SetNoticeLines(int kind) {
  for (int i = 0; i < 4; ++i) {
    m_view.SetLabelCaption(kLineLabels[i], kind == 0 ? kNoticeLines[i] : "");
  }
}

void TMainForm::ReloadDateSettings() {
  m_dateSettings = TDateSettings::FromLocale();
}

std::string TMainForm::DateSample() const {
  const TDate today = m_view.CurrentDate();
  return kDateSamplePrefix + m_dateSettings.DateToStr(TDate{today.Year, 12, 31});
}

bool TMainForm::CheckDateFormat() {
  if (DateTextPassesCheck(m_dateSettings.DateToStr(m_view.CurrentDate()))) {
    return true;
  }
  for (int i = 0; i < 4; ++i) {
    m_view.SetLabelCaption(kLineLabels[i], kCorrectionLines[i]);
  }
  m_view.MessageDlgPos(kDateFormatWarning, TMsgDlgType::mtWarning, {TMsgDlgBtn::mbOK},
                       DialogPoint());
  m_view.FocusAfbryd();
  return false;
}

TPoint TMainForm::DialogPoint() const {
  const TPoint topLeft = m_view.WindowTopLeft();
  return TPoint{topLeft.X + kMsgDlgOffset, topLeft.Y + kMsgDlgOffset};
}

std::string TMainForm::FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string TMainForm::LaunchFolderOf(const std::string& folder) {
  if (folder.size() > 1 && folder.back() == '/') {
    return folder.substr(0, folder.size() - 1);
  }
  return folder;
}

void TMainForm::OKClick() {
  if (m_startRunning) {
    return;
  }
  if (!CheckDateFormat()) {
    return;
  }
  const int kind = m_view.InstallationItemIndex();
  if (kind != 0 && kind != 1) {
    return;  // the radio group always has a selection; nothing sensible to download otherwise
  }
  const std::string fileName = InstallationFiles[kind];

  TSaveDialogOptions options;
  options.Title = kSaveDialogTitle;
  options.FilterName = kSaveDialogFilterName;
  options.FilterPattern = kSaveDialogFilterPattern;
  options.InitialDir = m_view.ExecutableFolder();
  options.FileName = fileName;
  const std::optional<std::string> chosen = m_view.ExecuteSaveDialog(options);
  if (!chosen) {
    m_view.Close();
    return;
  }
  const std::string folder = FolderOf(*chosen);
  const std::string targetPath = folder + fileName;

  // From here on Start ends by closing the window, so OK stays disabled; only a failure that
  // escapes (the window then stays open) gives it back.
  m_startRunning = true;
  m_view.SetOKEnabled(false);
  TStartGuard guard(*this);
  m_view.SetScreenCursor(TCursor::crHourGlass);
  bool succeeded = false;
  try {
    DownloadTo(fileName, targetPath);
    succeeded = true;
  } catch (...) {
    // Every failure of the transfer and of the write is reported alike; its own text is not
    // shown.
    m_mStream.reset();
    m_view.SetScreenCursor(TCursor::crArrow);
    m_view.SetScreenCursor(TCursor::crDefault);
    m_view.SetStatusCaption(kStatusFailed);
    m_view.ProcessMessages();
  }
  m_view.SetScreenCursor(TCursor::crArrow);
  m_view.SetScreenCursor(TCursor::crDefault);

  if (!succeeded) {
    m_view.MessageDlgPos(kDownloadFailed, TMsgDlgType::mtError, {TMsgDlgBtn::mbOK}, DialogPoint());
    m_view.Close();
    return;
  }
  m_view.SetStatusCaption(kStatusDone);
  SetProgressPosition(0);
  m_view.ProcessMessages();
  const TModalResult answer =
      m_view.MessageDlgPos(kStartInstallation, TMsgDlgType::mtConfirmation,
                           {TMsgDlgBtn::mbYes, TMsgDlgBtn::mbNo}, DialogPoint());
  if (answer == TModalResult::mrYes) {
    m_view.ShellOpen(fileName, LaunchFolderOf(folder));
  }
  m_view.Close();
}

void TMainForm::DownloadTo(const std::string& fileName, const std::string& targetPath) {
  m_view.SetStatusCaption(kStatusDownloading + fileName);
  m_view.ProcessMessages();
  m_mStream = std::make_unique<kv::net::TIdMemoryStream>();
  m_http->Get(m_kavoraInternetDownload + fileName, *m_mStream);
  CheckAnswer();
  SaveStreamAtomically(targetPath, *m_mStream);
  m_mStream.reset();
}

void TMainForm::CheckAnswer() const {
  const int32_t code = m_http->ResponseCode();
  if (code < kFirstSuccessCode || code > kLastSuccessCode || code == kNoContent ||
      code == kResetContent || code == kPartialContent) {
    char text[64];
    std::snprintf(text, sizeof text, "Unexpected status %d", static_cast<int>(code));
    throw EIncompleteDownload(text);
  }
  kv::http::TIdHTTPResponse& response = m_http->Response();
  // A head the server broke off, or one with more lines than the client reads (the rest of it
  // then arrives as the body), leaves nothing that can be taken for the file.
  if (!response.HeadComplete()) {
    throw EIncompleteDownload("Incomplete head");
  }
  // Part delimiters and part heads wrap the bytes of a multipart answer: it is never the file.
  if (kv::http::IsHeaderMediaType(response.ContentType(), "multipart")) {
    throw EIncompleteDownload("Multipart answer");
  }
  // The client ends some reads without an error although the body was cut: a close before the
  // declared length, a chunk-size line that is no number.
  if (!response.BodyComplete()) {
    throw EIncompleteDownload("Incomplete body");
  }
  // With chunked coding the length header does not frame the body.
  const bool chunked = ContainsChunked(response.TransferEncoding());
  if (!chunked && !LengthsAgree(response.RawHeaders())) {
    throw EIncompleteDownload("Conflicting Content-Length lines");
  }
  if (response.HasContentLength() && !chunked && m_mStream->Size() != response.ContentLength()) {
    char text[96];
    std::snprintf(text, sizeof text, "Incomplete body: %lld of %lld bytes",
                  static_cast<long long>(m_mStream->Size()),
                  static_cast<long long>(response.ContentLength()));
    throw EIncompleteDownload(text);
  }
}

void TMainForm::FTPWorkBegin(kv::net::TIdComponent&, kv::net::TWorkMode, int64_t workCountMax) {
  // The bar counts in signed 32 bits; a larger body is shown in units of a power of two bytes.
  int64_t max = workCountMax < 0 ? 0 : workCountMax;
  int shift = 0;
  while ((max >> shift) > std::numeric_limits<int32_t>::max()) {
    ++shift;
  }
  m_progressShift = shift;
  m_progressMax = static_cast<int32_t>(max >> shift);
  m_view.SetProgressRange(0, m_progressMax);
  m_view.SetProgressPosition(0);
  m_view.ProcessMessages();
}

void TMainForm::FTPWork(kv::net::TIdComponent&, kv::net::TWorkMode, int64_t workCount) {
  SetProgressPosition(workCount);
  m_view.ProcessMessages();
}

void TMainForm::SetProgressPosition(int64_t position) {
  // The bar shows a position outside its range at the nearest end.
  int64_t scaled = position < 0 ? 0 : (position >> m_progressShift);
  if (scaled > m_progressMax) {
    scaled = m_progressMax;
  }
  m_view.SetProgressPosition(static_cast<int32_t>(scaled));
}

}  // namespace kv::app

#include "app/TMainForm.h"

#include <gtest/gtest.h>
#include <locale.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "app/TMessageDialog.h"
#include "http/KavoraDownloadSettings.h"
#include "http/TIdHTTP.h"
#include "net/TIdStream.h"
#include "tests/app/ScriptedMainView.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/TestFiles.h"

namespace kv::app {
namespace {

using kv::app::test::ScriptedMainView;
using kv::net::TWorkMode;
using kv::test::FolderNames;
using kv::test::ReadFile;
using kv::test::Script;
using kv::test::ScriptedServer;
using kv::test::WriteFile;
using Calls = std::vector<std::string>;

constexpr const char* kTotal = "Kavora35TotalInstal.exe";
constexpr const char* kProgram = "Kavora35ProgramInstal.exe";

const Calls kNoticeLines = {
    "Label4=Du har købt KAVORA og har ansvaret for at gemme installationsfilen",
    "Label5='Kavora35TotalInstal.exe' for fremtidige installationer.",
    "Label6=Holvane A/S gemmer IKKE en kopi af filen og det er forbundet",
    "Label7=med en udgift at erhverve en ny installationsfil."};
const Calls kEmptyLines = {"Label4=", "Label5=", "Label6=", "Label7="};
const Calls kCorrectionLines = {"Label4=Korriger følgende opsætning i Kontrolpanelet:",
                                "Label5= - Internationale indstillinger skal være 'Dansk'.",
                                "Label6= - Kort datoformat skal være 'DD-MM-ÅÅÅÅ'.", "Label7="};
const std::string kDateWarning =
    "Dialog warning \"Datoformatet skal først ændres til DD-MM-ÅÅÅÅ\" {OK} at 400,300";
const std::string kFailureDialog = "Dialog error \"Download mislykket\" {OK} at 400,300";
const std::string kConfirmDialog =
    "Dialog confirmation \"Skal installationen startes?\" {Yes,No} at 400,300";

TDateSettings Settings(const std::string& picture, const std::string& separator) {
  TRegionalDateInfo info = ReadRegionalDateInfo("C");
  info.ShortDateFormat = picture;
  info.DateSeparator = separator;
  return TDateSettings::FromRegionalInfo(info);
}

// The Danish short date format, which passes the date check.
TDateSettings Passing() {
  return Settings("dd-MM-yyyy", "-");
}
// The American one, which does not.
TDateSettings Failing() {
  return Settings("MM/dd/yyyy", "/");
}

Calls Concat(std::initializer_list<Calls> parts) {
  Calls all;
  for (const Calls& part : parts) {
    all.insert(all.end(), part.begin(), part.end());
  }
  return all;
}

Calls Without(const Calls& calls, std::initializer_list<const char*> prefixes) {
  Calls kept;
  for (const std::string& call : calls) {
    bool drop = false;
    for (const char* prefix : prefixes) {
      drop = drop || call.rfind(prefix, 0) == 0;
    }
    if (!drop) {
      kept.push_back(call);
    }
  }
  return kept;
}

std::string HttpOk(const std::string& body) {
  return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\nContent-Type: application/octet-stream\r\n\r\n" + body;
}

// Bytes of every value, so that a text conversion anywhere would show.
std::string BinaryBody(size_t size) {
  std::string body(size, '\0');
  for (size_t i = 0; i < size; ++i) {
    body[i] = static_cast<char>((i * 131 + 7) % 256);
  }
  return body;
}

std::string Loopback(const ScriptedServer& server) {
  return "127.0.0.1:" + std::to_string(server.Port());
}

// A window logic on a scripted view, with a fresh folder for the downloads.
class MainFormTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(folder.empty()); }

  TMainForm& MakeForm(const std::string& host, TDateSettings settings = Passing()) {
    form = std::make_unique<TMainForm>(view, std::move(settings), host);
    return *form;
  }

  // Runs Start with the save dialog answering `chosen`; returns the calls made from then on.
  Calls Start(const std::optional<std::string>& chosen) {
    view.savePath = chosen;
    view.calls.clear();
    form->OKClick();
    return view.Summary();
  }

  // The folder as the launch receives it.
  std::string LaunchFolder() const { return folder.substr(0, folder.size() - 1); }

  kv::test::TempFolder temp{"kavora-app"};
  const std::string folder = temp.Path();  // with its trailing "/"
  ScriptedMainView view;
  std::unique_ptr<TMainForm> form;
};

// ---------------------------------------------------------------------------------------------
// Creation and closing.

TEST_F(MainFormTest, FormCreateFillsLabelsStatusAndBar) {
  MakeForm("download.kavora.dk");
  form->FormCreate();
  EXPECT_EQ(view.calls, Concat({{"Label1=KAVORA download fra download.kavora.dk."},
                                kNoticeLines,
                                {"Status=Datoformat: 31-12-2024", "Position=0"}}));
  EXPECT_EQ(form->KavoraInternetDownload(), "http://download.kavora.dk/Downloads/Instal34/");
}

TEST_F(MainFormTest, DateSampleIsNewYearsEveOfTheCurrentYear) {
  view.today = TDate{2031, 3, 5};
  MakeForm("h", Settings("d-M-yyyy", "-"));
  EXPECT_EQ(form->DateSample(), "Datoformat: 31-12-2031");
  form->SetDateSettings(Failing());
  EXPECT_EQ(form->DateSample(), "Datoformat: 12/31/2031");
}

TEST_F(MainFormTest, HostWithPortFillsLabelAndUrl) {
  MakeForm("127.0.0.1:8080");
  EXPECT_EQ(form->Label1Caption(), "KAVORA download fra 127.0.0.1:8080.");
  EXPECT_EQ(form->KavoraInternetDownload(), "http://127.0.0.1:8080/Downloads/Instal34/");
}

TEST_F(MainFormTest, DefaultHostIsTheBuildSetting) {
  EXPECT_EQ(TMainForm::DefaultDownloadHost(), KAVORA_DOWNLOAD_HOST);
  TMainForm built(view, Passing());
  EXPECT_EQ(built.Label1Caption(),
            std::string("KAVORA download fra ") + KAVORA_DOWNLOAD_HOST + ".");
  EXPECT_EQ(built.KavoraInternetDownload(),
            std::string("http://") + KAVORA_DOWNLOAD_HOST + "/Downloads/Instal34/");
}

TEST_F(MainFormTest, ClientHasTheDownloadSettingsAndTheProgressHandlers) {
  MakeForm("h");
  kv::http::TIdHTTP& http = form->HTTP();
  // A server that stops sending fails the download instead of blocking the window for ever.
  EXPECT_EQ(http.ReadTimeout(), 30000);
  EXPECT_EQ(http.ReadTimeout(), kv::http::kKavoraDownloadReadTimeoutMs);
  ASSERT_TRUE(http.OnWorkBegin);
  ASSERT_TRUE(http.OnWork);
  EXPECT_FALSE(http.OnWorkEnd);
  http.OnWorkBegin(http, TWorkMode::wmRead, 1000);
  http.OnWork(http, TWorkMode::wmRead, 250);
  EXPECT_EQ(view.calls, (Calls{"Range=0..1000", "Position=0", "ProcessMessages", "Position=250",
                               "ProcessMessages"}));
}

TEST_F(MainFormTest, AfbrydAsksToCloseAndTheWindowIsFreed) {
  MakeForm("h");
  form->AfbrydClick();
  EXPECT_EQ(view.calls, Calls{"Close"});
  TCloseAction action = TCloseAction::caHide;
  form->FormClose(action);
  EXPECT_EQ(action, TCloseAction::caFree);
}

// ---------------------------------------------------------------------------------------------
// Installation kinds.

TEST_F(MainFormTest, InstallationKindSetsOrClearsTheNoticeLines) {
  MakeForm("h");
  view.itemIndex = 1;
  form->GruppeInstallationClick();
  EXPECT_EQ(view.calls, kEmptyLines);
  view.calls.clear();
  view.itemIndex = 0;
  form->GruppeInstallationClick();
  EXPECT_EQ(view.calls, kNoticeLines);
  view.calls.clear();
  view.itemIndex = -1;  // no selection: nothing changes
  form->GruppeInstallationClick();
  EXPECT_TRUE(view.calls.empty());
}

TEST_F(MainFormTest, InstallationKindReplacesTheCorrectionLines) {
  MakeForm("h", Failing());
  form->OKClick();
  EXPECT_EQ(view.labels[TLabelId::liLabel4], "Korriger følgende opsætning i Kontrolpanelet:");
  view.calls.clear();
  view.itemIndex = 1;
  form->GruppeInstallationClick();
  EXPECT_EQ(view.calls, kEmptyLines);
  form->OKClick();
  view.calls.clear();
  view.itemIndex = 0;
  form->GruppeInstallationClick();
  EXPECT_EQ(view.calls, kNoticeLines);
}

// ---------------------------------------------------------------------------------------------
// The date check that opens Start.

TEST_F(MainFormTest, FailedDateCheckCorrectsWarnsAndFocusesAfbryd) {
  MakeForm("h", Failing());
  const Calls expected = Concat({kCorrectionLines, {kDateWarning, "Focus Afbryd"}});
  form->OKClick();
  EXPECT_EQ(view.calls, expected);
  // Pressing Start again repeats it as long as the format stays wrong.
  view.calls.clear();
  form->OKClick();
  EXPECT_EQ(view.calls, expected);
}

TEST_F(MainFormTest, DateCheckUsesTheSettingsOfTheMoment) {
  MakeForm("h", Failing());
  form->OKClick();
  EXPECT_EQ(view.saveDialogs.size(), 0u);
  // The user fixed the format while the window was open.
  form->SetDateSettings(Passing());
  EXPECT_EQ(Start(std::nullopt).front(), "SaveDialog");
}

TEST_F(MainFormTest, DateCheckOnToday) {
  MakeForm("h", Settings("d-M-yyyy", "-"));
  view.today = TDate{2024, 3, 5};
  form->OKClick();
  EXPECT_EQ(view.calls.back(), "Focus Afbryd");
  view.today = TDate{2024, 10, 15};
  view.calls.clear();
  form->OKClick();  // passes; the save dialog is cancelled
  EXPECT_EQ(view.calls, (Calls{"SaveDialog", "Close"}));
}

TEST_F(MainFormTest, ReloadReadsTheUsersLocaleAgain) {
  for (const char* name : {"da_DK.UTF-8", "en_US.UTF-8"}) {
    locale_t loc = newlocale(LC_TIME_MASK, name, locale_t{});
    if (loc == locale_t{}) {
      GTEST_SKIP() << name << " is not installed";
    }
    freelocale(loc);
  }
  const char* saved = getenv("LC_ALL");
  const std::string previous = saved != nullptr ? saved : "";
  MakeForm("h", Failing());
  setenv("LC_ALL", "da_DK.UTF-8", 1);
  form->ReloadDateSettings();
  const std::string danish = form->DateSettings().DateToStr(view.today);
  setenv("LC_ALL", "en_US.UTF-8", 1);
  form->ReloadDateSettings();
  const std::string american = form->DateSettings().DateToStr(view.today);
  if (saved != nullptr) {
    setenv("LC_ALL", previous.c_str(), 1);
  } else {
    unsetenv("LC_ALL");
  }
  EXPECT_EQ(danish, "31-12-2024");
  EXPECT_EQ(american, "12/31/2024");
}

// ---------------------------------------------------------------------------------------------
// The save dialog and the paths.

TEST_F(MainFormTest, SaveDialogProposesTheFileOfTheKind) {
  ScriptedServer server;
  MakeForm(Loopback(server));
  view.executableFolder = "/opt/kavora";
  for (int kind : {0, 1}) {
    view.itemIndex = kind;
    EXPECT_EQ(Start(std::nullopt), (Calls{"SaveDialog", "Close"}));
  }
  ASSERT_EQ(view.saveDialogs.size(), 2u);
  for (int kind : {0, 1}) {
    const TSaveDialogOptions& options = view.saveDialogs[kind];
    EXPECT_EQ(options.Title, "Gem som");
    EXPECT_EQ(options.FilterName, "Alle filer (*.*)");
    EXPECT_EQ(options.FilterPattern, "*.*");
    EXPECT_EQ(options.InitialDir, "/opt/kavora");
    EXPECT_EQ(options.FileName, kind == 0 ? kTotal : kProgram);
    EXPECT_FALSE(options.OverwritePrompt);
    EXPECT_FALSE(options.FileMustExist);
  }
  // Cancelling closes the window without a request.
  EXPECT_EQ(server.ConnectionCount(), 0);
  EXPECT_EQ(form->MStream(), nullptr);
}

struct TPathCase {
  const char* name;
  const char* chosen;
  const char* folder;
  const char* launchFolder;
};

class FolderRuleTest : public testing::TestWithParam<TPathCase> {};

TEST_P(FolderRuleTest, FolderAndLaunchFolder) {
  const TPathCase& c = GetParam();
  const std::string folder = TMainForm::FolderOf(c.chosen);
  EXPECT_EQ(folder, c.folder);
  EXPECT_EQ(TMainForm::LaunchFolderOf(folder), c.launchFolder);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, FolderRuleTest,
    testing::Values(TPathCase{"TypedName", "/tmp/Temp/setup.exe", "/tmp/Temp/", "/tmp/Temp"},
                    TPathCase{"Root", "/setup.exe", "/", "/"},
                    TPathCase{"DeepFolder", "/home/x/Downloads/Kavora35TotalInstal.exe",
                              "/home/x/Downloads/", "/home/x/Downloads"},
                    TPathCase{"FolderOnly", "/home/x/", "/home/x/", "/home/x"},
                    // "\" and ":" are ordinary characters of a Linux file name.
                    TPathCase{"BackslashAndColonAreNameCharacters", "/tmp/a\\b:c.exe", "/tmp/",
                              "/tmp"},
                    TPathCase{"NoSlash", "C:\\Temp\\setup.exe", "", ""}),
    [](const testing::TestParamInfo<TPathCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// Download and launch through the real client against the scripted loopback server.

TEST_F(MainFormTest, DownloadSavesTheExactBytesAndStartsTheInstaller) {
  const std::string body = BinaryBody(1000);
  ScriptedServer server(Script().ReadRequestHead().Send(HttpOk(body)).CloseGracefully());
  MakeForm(Loopback(server));
  view.dialogAnswers = {TModalResult::mrYes};
  const Calls calls = Start(folder + "setup.exe");
  EXPECT_EQ(calls,
            (Calls{"SaveDialog", "OK disabled", "Cursor=wait",
                   std::string("Status= Download ") + kTotal, "ProcessMessages",
                   "WorkBegin 0..1000", "Work up to 1000", "Cursor=arrow", "Cursor=default",
                   "Status= Download er fuldført", "Position=0", "ProcessMessages", kConfirmDialog,
                   std::string("ShellOpen ") + kTotal + " in " + LaunchFolder(), "Close"}));
  // The typed name is ignored; nothing but the installer is left in the folder.
  EXPECT_EQ(FolderNames(folder), Calls{kTotal});
  EXPECT_EQ(ReadFile(folder + kTotal), body);
  EXPECT_EQ(server.Received(1).rfind(
                std::string("GET /Downloads/Instal34/") + kTotal + " HTTP/1.1\r\n", 0),
            0u);
  EXPECT_EQ(form->MStream(), nullptr);
}

TEST_F(MainFormTest, ProgressFollowsTheBodyAndReturnsToZero) {
  const std::string body = BinaryBody(64 * 1024);
  ScriptedServer server(
      Script().ReadRequestHead().SendInPiecesOf(HttpOk(body), 16 * 1024).CloseGracefully());
  MakeForm(Loopback(server));
  view.dialogAnswers = {TModalResult::mrNo};
  Start(folder + kTotal);
  std::vector<int> positions;
  bool inWork = false;
  for (const std::string& call : view.calls) {
    if (call.rfind("Range=", 0) == 0) {
      EXPECT_EQ(call, "Range=0..65536");
      inWork = true;
    } else if (inWork && call.rfind("Position=", 0) == 0) {
      positions.push_back(std::stoi(call.substr(9)));
    } else if (call.rfind("Status=", 0) == 0) {
      inWork = false;
    }
  }
  ASSERT_GE(positions.size(), 3u);  // 0 at the begin, at least one step, 65536
  EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
  EXPECT_EQ(positions.front(), 0);
  EXPECT_EQ(positions.back(), 65536);
  EXPECT_EQ(view.progressPosition, 0);  // after success
  EXPECT_EQ(view.progressMax, 65536);   // the range stays
}

TEST_F(MainFormTest, ProgramInstallationReplacesAnExistingFileAndNoStartsNothing) {
  const std::string body = "new installer";
  ScriptedServer server(Script().ReadRequestHead().Send(HttpOk(body)).CloseGracefully());
  MakeForm(Loopback(server));
  WriteFile(folder + kProgram, "an older, longer installer file");
  view.itemIndex = 1;
  for (TModalResult answer : {TModalResult::mrNo, TModalResult::mrCancel}) {
    view.dialogAnswers = {answer};
    const Calls calls = Start(folder + kProgram);
    EXPECT_EQ(Calls(calls.end() - 2, calls.end()), (Calls{kConfirmDialog, "Close"}));
    EXPECT_EQ(ReadFile(folder + kProgram), body);
  }
  EXPECT_EQ(FolderNames(folder), Calls{kProgram});
  EXPECT_EQ(server.Received(1).rfind(
                std::string("GET /Downloads/Instal34/") + kProgram + " HTTP/1.1\r\n", 0),
            0u);
}

struct TSuccessCase {
  const char* name;
  std::string response;
  std::string saved;
  friend void PrintTo(const TSuccessCase& c, std::ostream* os) { *os << c.name; }
};

class DownloadSuccessTest : public MainFormTest,
                            public testing::WithParamInterface<TSuccessCase> {};

TEST_P(DownloadSuccessTest, SavesTheBody) {
  ScriptedServer server(Script().ReadRequestHead().Send(GetParam().response).CloseGracefully());
  MakeForm(Loopback(server));
  const Calls calls = Start(folder + kTotal);
  EXPECT_EQ(Calls(calls.end() - 2, calls.end()), (Calls{kConfirmDialog, "Close"}));
  EXPECT_EQ(FolderNames(folder), Calls{kTotal});
  EXPECT_EQ(ReadFile(folder + kTotal), GetParam().saved);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, DownloadSuccessTest,
    testing::Values(
        TSuccessCase{"EmptyBody", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", ""},
        TSuccessCase{"UntilClose", "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\nuntil close",
                     "until close"},
        // Chunked coding frames the body; a length header beside it does not count.
        TSuccessCase{"ChunkedWithStrayLength",
                     "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nContent-Length: 99\r\n\r\n"
                     "5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n",
                     "hello world"}),
    [](const testing::TestParamInfo<TSuccessCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// The failure path: an existing file stays as it was, and nothing else is left behind.

const Calls kFailureCalls = {"SaveDialog",
                             "OK disabled",
                             "Cursor=wait",
                             std::string("Status= Download ") + kTotal,
                             "ProcessMessages",
                             "Cursor=arrow",
                             "Cursor=default",
                             "Status=Downloadforbindelsen er afbrudt",
                             "ProcessMessages",
                             "Cursor=arrow",
                             "Cursor=default",
                             kFailureDialog,
                             "Close"};

constexpr const char* kOldFile = "the installer saved last year";

std::string RepeatedLine(const std::string& line, int count) {
  std::string text;
  for (int i = 0; i < count; ++i) {
    text += line;
  }
  return text;
}

struct TFailureCase {
  const char* name;
  Script script;
  friend void PrintTo(const TFailureCase& c, std::ostream* os) { *os << c.name; }
};

class DownloadFailureTest : public MainFormTest,
                            public testing::WithParamInterface<TFailureCase> {};

TEST_P(DownloadFailureTest, ReportsAndLeavesTheOldFile) {
  ScriptedServer server(GetParam().script);
  MakeForm(Loopback(server));
  WriteFile(folder + kTotal, kOldFile);
  const Calls calls = Start(folder + kTotal);
  EXPECT_EQ(Without(calls, {"WorkBegin", "Work up to"}), kFailureCalls);
  EXPECT_EQ(ReadFile(folder + kTotal), kOldFile);
  EXPECT_EQ(FolderNames(folder), Calls{kTotal});
  EXPECT_EQ(form->MStream(), nullptr);
  EXPECT_EQ(server.ConnectionCount(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, DownloadFailureTest,
    testing::Values(
        TFailureCase{
            "NotFound",
            Script().ReadRequestHead().Send("HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\n"
                                            "not found")},
        TFailureCase{"ServerError",
                     Script().ReadRequestHead().Send(
                         "HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\n\r\n")},
        // The client returns this one normally; it is still no installer.
        TFailureCase{"SwitchingProtocols",
                     Script().ReadRequestHead().Send("HTTP/1.1 101 Switching Protocols\r\n\r\n")},
        // The client returns a body cut short by the server's close as if complete.
        TFailureCase{"ShorterThanAnnounced",
                     Script().ReadRequestHead().Send(
                         "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n" + BinaryBody(40))},
        TFailureCase{"ChunkedBrokenOff",
                     Script().ReadRequestHead().Send(
                         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhel")},
        TFailureCase{"ResetDuringBody",
                     Script()
                         .ReadRequestHead()
                         .Send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n" + BinaryBody(40))
                         .Reset()},
        TFailureCase{"ClosedBeforeAnswer", Script().ReadRequestHead().CloseGracefully()},
        // The client returns these normally, but none of them is the whole installer.
        TFailureCase{"NoContent",
                     Script().ReadRequestHead().Send("HTTP/1.1 204 No Content\r\n\r\n")},
        TFailureCase{"PartialContent",
                     Script().ReadRequestHead().Send(
                         "HTTP/1.1 206 Partial Content\r\nContent-Length: 4\r\n\r\npart")},
        TFailureCase{"HeadBrokenOff",
                     Script().ReadRequestHead().Send(
                         "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n")},
        TFailureCase{
            "HeadLongerThanTheClientReads",
            Script().ReadRequestHead().Send("HTTP/1.1 200 OK\r\nContent-Length: 8\r\n" +
                                            RepeatedLine("X-Line: v\r\n", 300) + "\r\n01234567")},
        TFailureCase{"Multipart",
                     Script().ReadRequestHead().Send(
                         "HTTP/1.1 200 OK\r\nContent-Type: multipart/byteranges; boundary=B\r\n"
                         "\r\n--B\r\nContent-Range: bytes 0-3/8\r\n\r\npart\r\n--B--\r\n")},
        TFailureCase{
            "ChunkSizeLineOfNoNumber",
            Script().ReadRequestHead().Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                                            "5\r\nhello\r\nzz\r\nworld\r\n0\r\n\r\n")},
        TFailureCase{"ConflictingLengths",
                     Script().ReadRequestHead().Send(
                         "HTTP/1.1 200 OK\r\nContent-Length: 4\r\nContent-Length: 8\r\n\r\n"
                         "01234567")}),
    [](const testing::TestParamInfo<TFailureCase>& info) { return std::string(info.param.name); });

TEST_F(MainFormTest, RefusedConnectionTakesTheFailurePath) {
  MakeForm("127.0.0.1:" + std::to_string(kv::test::UnusedLoopbackPort()));
  WriteFile(folder + kTotal, kOldFile);
  EXPECT_EQ(Start(folder + kTotal), kFailureCalls);
  EXPECT_EQ(ReadFile(folder + kTotal), kOldFile);
}

TEST_F(MainFormTest, UnresolvableHostTakesTheFailurePath) {
  // A name the C library rejects before asking any server.
  MakeForm("no!such!host");
  EXPECT_EQ(Start(folder + kTotal), kFailureCalls);
  EXPECT_EQ(FolderNames(folder), Calls{});
}

TEST_F(MainFormTest, MissingFolderFailsAfterTheTransfer) {
  ScriptedServer server(Script().ReadRequestHead().Send(HttpOk("data")).CloseGracefully());
  MakeForm(Loopback(server));
  const Calls calls = Start(folder + "missing/setup.exe");
  EXPECT_EQ(Without(calls, {"WorkBegin", "Work up to"}), kFailureCalls);
  EXPECT_EQ(server.ConnectionCount(), 1);
  EXPECT_EQ(FolderNames(folder), Calls{});
}

TEST_F(MainFormTest, FailedReplaceRemovesTheTemporaryFile) {
  // A folder in the target's place: the bytes are written, but the rename cannot replace it.
  ScriptedServer server(Script().ReadRequestHead().Send(HttpOk("data")).CloseGracefully());
  MakeForm(Loopback(server));
  ASSERT_EQ(mkdir((folder + kTotal).c_str(), 0700), 0);
  const Calls calls = Start(folder + kTotal);
  EXPECT_EQ(Without(calls, {"WorkBegin", "Work up to"}), kFailureCalls);
  EXPECT_EQ(FolderNames(folder), Calls{kTotal});
  EXPECT_EQ(FolderNames(folder + kTotal), Calls{});
}

// ---------------------------------------------------------------------------------------------
// One attempt at a time.

TEST_F(MainFormTest, StartWhileStartRunsIsIgnored) {
  const std::string body = BinaryBody(4096);
  ScriptedServer server(
      Script().ReadRequestHead().SendInPiecesOf(HttpOk(body), 1024).CloseGracefully());
  MakeForm(Loopback(server));
  int nestedPresses = 0;
  bool okWasDisabled = true;
  bool bufferExisted = true;
  view.onProcessMessages = [&] {
    okWasDisabled = okWasDisabled && !view.okEnabled;
    // The work handlers' pumps, during the transfer: the buffer receives the body.
    const bool inWorkHandler = view.calls.size() >= 2 &&
                               view.calls[view.calls.size() - 2].rfind("Position=", 0) == 0 &&
                               view.status == std::string(" Download ") + kTotal;
    bufferExisted = bufferExisted && (!inWorkHandler || form->MStream() != nullptr);
    const size_t before = view.calls.size();
    form->OKClick();  // the user presses Start while the body flows, or at the end
    EXPECT_EQ(view.calls.size(), before) << "a nested Start did something";
    ++nestedPresses;
  };
  view.dialogAnswers = {TModalResult::mrNo};
  view.savePath = folder + kTotal;
  form->OKClick();
  view.onProcessMessages = nullptr;
  EXPECT_GE(nestedPresses, 3);
  EXPECT_TRUE(okWasDisabled);
  EXPECT_TRUE(bufferExisted);
  // Start ends by closing the window; OK is not given back on the way.
  EXPECT_FALSE(view.okEnabled);
  EXPECT_FALSE(form->StartRunning());
  EXPECT_EQ(server.ConnectionCount(), 1);
  EXPECT_EQ(ReadFile(folder + kTotal), body);
  EXPECT_EQ(view.calls.back(), "Close");
}

// ---------------------------------------------------------------------------------------------
// The progress display with counts of any size.

struct TProgressCase {
  const char* name;
  int64_t countMax;
  std::vector<int64_t> counts;
  int32_t shownMax;
  std::vector<int32_t> shown;
};

class ProgressTest : public MainFormTest, public testing::WithParamInterface<TProgressCase> {};

TEST_P(ProgressTest, ScalesIntoTheBarsRange) {
  const TProgressCase& c = GetParam();
  MakeForm("h");
  Calls expected = {"Range=0.." + std::to_string(c.shownMax), "Position=0", "ProcessMessages"};
  EXPECT_NO_THROW(form->FTPWorkBegin(form->HTTP(), TWorkMode::wmRead, c.countMax));
  for (size_t i = 0; i < c.counts.size(); ++i) {
    EXPECT_NO_THROW(form->FTPWork(form->HTTP(), TWorkMode::wmRead, c.counts[i]));
    expected.push_back("Position=" + std::to_string(c.shown[i]));
    expected.push_back("ProcessMessages");
  }
  EXPECT_EQ(view.calls, expected);
}

constexpr int64_t kGiB = int64_t{1} << 30;
constexpr int64_t kInt32Max = std::numeric_limits<int32_t>::max();

INSTANTIATE_TEST_SUITE_P(
    Counts, ProgressTest,
    testing::Values(
        TProgressCase{"Announced1000", 1000, {400, 1000}, 1000, {400, 1000}},
        TProgressCase{"BeyondTheMaximumShowsFull", 1000, {1500}, 1000, {1000}},
        TProgressCase{"UnknownLength", 0, {5000}, 0, {0}},
        TProgressCase{"NegativeMaximum", -1, {10}, 0, {0}},
        TProgressCase{"LargestUnscaled", kInt32Max, {kInt32Max}, kInt32Max, {kInt32Max}},
        TProgressCase{"TwoGiB", 2 * kGiB, {kGiB, 2 * kGiB}, kGiB, {kGiB / 2, kGiB}},
        TProgressCase{"ThreeGiB",
                      3 * kGiB,
                      {kGiB, 3 * kGiB / 2, 3 * kGiB},
                      static_cast<int32_t>(3 * kGiB / 2),
                      {static_cast<int32_t>(kGiB / 2), static_cast<int32_t>(3 * kGiB / 4),
                       static_cast<int32_t>(3 * kGiB / 2)}},
        TProgressCase{"LargestCount",
                      std::numeric_limits<int64_t>::max(),
                      {std::numeric_limits<int64_t>::max()},
                      kInt32Max,
                      {kInt32Max}}),
    [](const testing::TestParamInfo<TProgressCase>& info) { return std::string(info.param.name); });

TEST_F(MainFormTest, ANewBodyResetsTheScale) {
  MakeForm("h");
  form->FTPWorkBegin(form->HTTP(), TWorkMode::wmRead, 3 * kGiB);
  form->FTPWorkBegin(form->HTTP(), TWorkMode::wmRead, 1000);
  view.calls.clear();
  form->FTPWork(form->HTTP(), TWorkMode::wmRead, 999);
  EXPECT_EQ(view.calls, (Calls{"Position=999", "ProcessMessages"}));
}

// ---------------------------------------------------------------------------------------------
// Dialog details the window implementation takes from the logic.

TEST(MessageDialogTest, CaptionsButtonsAndOutcomes) {
  EXPECT_STREQ(MsgDlgCaption(TMsgDlgType::mtWarning), "Warning");
  EXPECT_STREQ(MsgDlgCaption(TMsgDlgType::mtError), "Error");
  EXPECT_STREQ(MsgDlgCaption(TMsgDlgType::mtConfirmation), "Confirm");
  EXPECT_EQ(MsgDlgIcon(TMsgDlgType::mtConfirmation), TMsgDlgIcon::diInformation);
  EXPECT_STREQ(MsgDlgButtonText(TMsgDlgBtn::mbYes), "&Yes");
  EXPECT_STREQ(MsgDlgButtonText(TMsgDlgBtn::mbNo), "&No");
  EXPECT_EQ(MsgDlgDefaultButton({TMsgDlgBtn::mbYes, TMsgDlgBtn::mbNo}), TMsgDlgBtn::mbYes);
  EXPECT_EQ(MsgDlgDefaultButton({TMsgDlgBtn::mbOK}), TMsgDlgBtn::mbOK);
  EXPECT_EQ(static_cast<int>(MsgDlgButtonResult(TMsgDlgBtn::mbOK)), 1);
  EXPECT_EQ(static_cast<int>(kMsgDlgEscapeResult), 2);
  EXPECT_EQ(static_cast<int>(MsgDlgButtonResult(TMsgDlgBtn::mbYes)), 6);
  EXPECT_EQ(static_cast<int>(MsgDlgButtonResult(TMsgDlgBtn::mbNo)), 7);
}

}  // namespace
}  // namespace kv::app

// Runs the window's whole download path once, without a screen: the main form's logic with its
// real HTTP client, the progress handlers and message processing, and a view double that answers
// the save dialog with a path in the given folder and every question with No. Used by run.py to
// time what the window costs next to the command-line client.
//
//   bench_window_download HOST[:PORT] FOLDER [KIND]
//
// fetches http://HOST[:PORT]/Downloads/Instal34/<installer of KIND> (KIND 0, the default, is the
// total installation) into FOLDER. Prints one line of counts and exits 0 when the window reports
// the download as complete, 1 when it reports a failure, 2 on a usage error.

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "app/TDateSettings.h"
#include "app/TMainForm.h"
#include "bench/TBenchMainView.h"

namespace {

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr const char* kDoneStatus = " Download er fuldført";

// The window insists on a DD-MM-YYYY short date before it downloads; the bench does not depend
// on the locale of the machine it runs on.
kv::app::TDateSettings DanishDateSettings() {
  kv::app::TRegionalDateInfo info;
  info.ShortDateFormat = "dd-MM-yyyy";
  info.DateSeparator = "-";
  info.Language = "da";
  return kv::app::TDateSettings::FromRegionalInfo(info);
}

int Usage() {
  std::fprintf(stderr, "usage: bench_window_download HOST[:PORT] FOLDER [KIND]\n");
  return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || argc > 4) {
    return Usage();
  }
  int kind = 0;
  if (argc == 4) {
    const std::string text = argv[3];
    if (text != "0" && text != "1") {
      return Usage();
    }
    kind = text == "1" ? 1 : 0;
  }
  try {
    kv::bench::TBenchMainView view(argv[2]);
    view.SetInstallationItemIndex(kind);
    kv::app::TMainForm form(view, DanishDateSettings(), argv[1]);
    form.FormCreate();
    form.OKClick();
    const bool done = view.Status() == kDoneStatus && view.ErrorDialogs() == 0 &&
                      view.WarningDialogs() == 0 && view.Closed() && !view.Launched();
    std::printf("%s file=%s process_messages=%lld progress_updates=%lld progress_max=%ld\n",
                done ? "ok" : "failed", view.TargetPath().c_str(),
                static_cast<long long>(view.ProcessMessagesCount()),
                static_cast<long long>(view.ProgressUpdates()),
                static_cast<long>(view.ProgressMax()));
    if (!done) {
      std::fprintf(stderr, "bench_window_download: the window reported \"%s\"\n",
                   view.Status().c_str());
      return kExitFailure;
    }
    return kExitSuccess;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "bench_window_download: %s\n", error.what());
    return kExitFailure;
  }
}

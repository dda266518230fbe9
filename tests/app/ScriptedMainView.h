#pragma once

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/TMainView.h"

namespace kv::app::test {

// A view that records every call of the logic in order, as one line of text each, and answers
// from a script: the installation kind, the dialogs' outcomes, the save dialog's path, the
// window's position, the executable's folder and today's date.
class ScriptedMainView : public TMainView {
 public:
  // Answers.
  int itemIndex = 0;
  TPoint topLeft{300, 200};
  std::deque<TModalResult> dialogAnswers;  // mrOk when empty
  std::optional<std::string> savePath;
  std::string executableFolder = "/opt/kavora/";
  TDate today{2024, 12, 31};
  // Runs inside ProcessMessages (input that arrives while the logic pumps messages).
  std::function<void()> onProcessMessages;

  // What was done.
  std::vector<std::string> calls;
  std::map<TLabelId, std::string> labels;
  std::string status;
  int32_t progressMin = 0;
  int32_t progressMax = 100;
  int32_t progressPosition = 0;
  bool okEnabled = true;
  std::vector<TSaveDialogOptions> saveDialogs;

  void SetLabelCaption(TLabelId label, const std::string& text) override {
    labels[label] = text;
    calls.push_back(LabelName(label) + "=" + text);
  }
  void SetStatusCaption(const std::string& text) override {
    status = text;
    calls.push_back("Status=" + text);
  }
  void SetProgressRange(int32_t min, int32_t max) override {
    progressMin = min;
    progressMax = max;
    calls.push_back("Range=" + std::to_string(min) + ".." + std::to_string(max));
  }
  void SetProgressPosition(int32_t position) override {
    progressPosition = position;
    calls.push_back("Position=" + std::to_string(position));
  }
  int InstallationItemIndex() const override { return itemIndex; }
  void SetOKEnabled(bool enabled) override {
    okEnabled = enabled;
    calls.push_back(enabled ? "OK enabled" : "OK disabled");
  }
  void FocusAfbryd() override { calls.push_back("Focus Afbryd"); }
  TPoint WindowTopLeft() const override { return topLeft; }
  TModalResult MessageDlgPos(const std::string& text, TMsgDlgType kind,
                             const TMsgDlgButtons& buttons, TPoint at) override {
    calls.push_back(DialogLine(text, kind, buttons, at));
    if (dialogAnswers.empty()) {
      return TModalResult::mrOk;
    }
    const TModalResult answer = dialogAnswers.front();
    dialogAnswers.pop_front();
    return answer;
  }
  std::optional<std::string> ExecuteSaveDialog(const TSaveDialogOptions& options) override {
    saveDialogs.push_back(options);
    calls.push_back("SaveDialog");
    return savePath;
  }
  void SetScreenCursor(TCursor cursor) override {
    calls.push_back(cursor == TCursor::crHourGlass ? "Cursor=wait"
                    : cursor == TCursor::crArrow   ? "Cursor=arrow"
                                                   : "Cursor=default");
  }
  void ProcessMessages() override {
    calls.push_back("ProcessMessages");
    if (onProcessMessages) {
      onProcessMessages();
    }
  }
  void Close() override { calls.push_back("Close"); }
  void ShellOpen(const std::string& fileName, const std::string& workingFolder) override {
    calls.push_back("ShellOpen " + fileName + " in " + workingFolder);
  }
  std::string ExecutableFolder() const override { return executableFolder; }
  TDate CurrentDate() const override { return today; }

  static std::string LabelName(TLabelId label) {
    switch (label) {
      case TLabelId::liLabel1:
        return "Label1";
      case TLabelId::liLabel4:
        return "Label4";
      case TLabelId::liLabel5:
        return "Label5";
      case TLabelId::liLabel6:
        return "Label6";
      case TLabelId::liLabel7:
        return "Label7";
    }
    return "?";
  }

  static std::string DialogLine(const std::string& text, TMsgDlgType kind,
                                const TMsgDlgButtons& buttons, TPoint at) {
    std::string line = "Dialog ";
    line += kind == TMsgDlgType::mtWarning ? "warning"
            : kind == TMsgDlgType::mtError ? "error"
                                           : "confirmation";
    line += " \"" + text + "\" {";
    for (size_t i = 0; i < buttons.size(); ++i) {
      line += i > 0 ? "," : "";
      line += buttons[i] == TMsgDlgBtn::mbOK    ? "OK"
              : buttons[i] == TMsgDlgBtn::mbYes ? "Yes"
                                                : "No";
    }
    line += "} at " + std::to_string(at.X) + "," + std::to_string(at.Y);
    return line;
  }

  // Calls that match a prefix, in order.
  std::vector<std::string> CallsStartingWith(const std::string& prefix) const {
    std::vector<std::string> result;
    for (const std::string& call : calls) {
      if (call.rfind(prefix, 0) == 0) {
        result.push_back(call);
      }
    }
    return result;
  }

  // The calls with the work handlers' calls summed up, since their number depends on how the
  // body arrived: "Range=0..N", "Position=0", "ProcessMessages" becomes "WorkBegin 0..N", and the
  // pairs "Position=x", "ProcessMessages" that follow become one "Work up to x" (the last x).
  std::vector<std::string> Summary() const {
    std::vector<std::string> result;
    size_t i = 0;
    auto isPair = [&](size_t k) {
      return k + 1 < calls.size() && calls[k].rfind("Position=", 0) == 0 &&
             calls[k + 1] == "ProcessMessages";
    };
    while (i < calls.size()) {
      if (calls[i].rfind("Range=", 0) == 0 && isPair(i + 1)) {
        result.push_back("WorkBegin " + calls[i].substr(6));
        i += 3;
        std::string last;
        while (isPair(i)) {
          last = calls[i].substr(9);
          i += 2;
        }
        if (!last.empty()) {
          result.push_back("Work up to " + last);
        }
        continue;
      }
      result.push_back(calls[i]);
      ++i;
    }
    return result;
  }
};

}  // namespace kv::app::test

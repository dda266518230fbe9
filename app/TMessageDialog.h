#pragma once

#include <string>

#include "app/TMainView.h"

// What a toolkit needs to draw a message dialog the way this program shows it: the caption and
// icon per kind, the button labels ("&" marks the access key), the default button and the
// outcome of each button. Kept here so that no window implementation decides them itself.
namespace kv::app {

// The icon shown per kind.
enum class TMsgDlgIcon { diWarning, diError, diInformation };

inline const char* MsgDlgCaption(TMsgDlgType kind) {
  switch (kind) {
    case TMsgDlgType::mtWarning:
      return "Warning";
    case TMsgDlgType::mtError:
      return "Error";
    case TMsgDlgType::mtConfirmation:
      return "Confirm";
  }
  return "";
}

// A confirmation shows the information icon, not a question mark.
inline TMsgDlgIcon MsgDlgIcon(TMsgDlgType kind) {
  switch (kind) {
    case TMsgDlgType::mtWarning:
      return TMsgDlgIcon::diWarning;
    case TMsgDlgType::mtError:
      return TMsgDlgIcon::diError;
    case TMsgDlgType::mtConfirmation:
      return TMsgDlgIcon::diInformation;
  }
  return TMsgDlgIcon::diInformation;
}

inline const char* MsgDlgButtonText(TMsgDlgBtn button) {
  switch (button) {
    case TMsgDlgBtn::mbYes:
      return "&Yes";
    case TMsgDlgBtn::mbNo:
      return "&No";
    case TMsgDlgBtn::mbOK:
      return "OK";
  }
  return "";
}

inline TModalResult MsgDlgButtonResult(TMsgDlgBtn button) {
  switch (button) {
    case TMsgDlgBtn::mbYes:
      return TModalResult::mrYes;
    case TMsgDlgBtn::mbNo:
      return TModalResult::mrNo;
    case TMsgDlgBtn::mbOK:
      return TModalResult::mrOk;
  }
  return TModalResult::mrCancel;
}

// OK when the set holds it, otherwise Yes (the callers only ever pass {OK} or {Yes, No}).
inline TMsgDlgBtn MsgDlgDefaultButton(const TMsgDlgButtons& buttons) {
  for (TMsgDlgBtn b : buttons) {
    if (b == TMsgDlgBtn::mbOK) {
      return b;
    }
  }
  return TMsgDlgBtn::mbYes;
}

// Escape and the close box always give this outcome, whatever the buttons.
inline constexpr TModalResult kMsgDlgEscapeResult = TModalResult::mrCancel;

// The dialog opens this far right of and below the main window's outer top-left corner.
inline constexpr int kMsgDlgOffset = 100;

}  // namespace kv::app

#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The narrow surface through which the window's logic (TMainForm) reaches the screen. A toolkit
// implements it (the Qt window); tests replace it with a scripted double. Every text, number and
// decision comes from the logic: an implementation only shows what it is given and reports what
// the user did.
namespace kv::app {

// A point in screen coordinates.
struct TPoint {
  int X = 0;
  int Y = 0;
  friend bool operator==(const TPoint&, const TPoint&) = default;
};

// A local calendar date (Month 1..12, Day 1..31).
struct TDate {
  int Year = 0;
  int Month = 0;
  int Day = 0;
  friend bool operator==(const TDate&, const TDate&) = default;
};

// The labels of the information panel whose captions the logic sets.
enum class TLabelId { liLabel1, liLabel4, liLabel5, liLabel6, liLabel7 };

// Kind of a message dialog; the caption and icon follow from it (see TMessageDialog.h).
enum class TMsgDlgType { mtWarning, mtError, mtConfirmation };

// One button of a message dialog.
enum class TMsgDlgBtn { mbYes, mbNo, mbOK };

// The buttons of a message dialog, in the order they are shown: {mbOK} or {mbYes, mbNo}.
using TMsgDlgButtons = std::vector<TMsgDlgBtn>;

// Outcome of a modal dialog. Escape or the close box give mrCancel.
enum class TModalResult : int { mrNone = 0, mrOk = 1, mrCancel = 2, mrYes = 6, mrNo = 7 };

// The application-wide pointer shape. crDefault lets every control show its own pointer again.
enum class TCursor { crDefault, crArrow, crHourGlass };

// How the save dialog is to be shown. The logic fills every field.
struct TSaveDialogOptions {
  std::string Title;             // "Gem som"
  std::string FilterName;        // "Alle filer (*.*)"
  std::string FilterPattern;     // "*.*"
  std::string InitialDir;        // folder shown first
  std::string FileName;          // proposed file name
  bool OverwritePrompt = false;  // ask before replacing an existing file
  bool FileMustExist = false;    // insist that the chosen file or folder exists
};

class TMainView {
 public:
  virtual ~TMainView() = default;

  // Captions.
  virtual void SetLabelCaption(TLabelId label, const std::string& text) = 0;
  virtual void SetStatusCaption(const std::string& text) = 0;  // PStatus

  // PBar. The logic keeps the position inside the range and max >= min.
  virtual void SetProgressRange(int32_t min, int32_t max) = 0;
  virtual void SetProgressPosition(int32_t position) = 0;

  // GruppeInstallation's ItemIndex (0 total installation, 1 program installation).
  virtual int InstallationItemIndex() const = 0;

  virtual void SetOKEnabled(bool enabled) = 0;
  virtual void FocusAfbryd() = 0;

  // Outer top-left corner of the main window's frame, in screen coordinates.
  virtual TPoint WindowTopLeft() const = 0;

  // A modal message dialog whose outer top-left corner goes to `at`. Returns mrOk, mrYes, mrNo
  // for the pressed button, mrCancel for Escape or the close box.
  virtual TModalResult MessageDlgPos(const std::string& text, TMsgDlgType kind,
                                     const TMsgDlgButtons& buttons, TPoint at) = 0;

  // The modal save dialog. Returns the chosen full path, or nothing when cancelled.
  virtual std::optional<std::string> ExecuteSaveDialog(const TSaveDialogOptions& options) = 0;

  virtual void SetScreenCursor(TCursor cursor) = 0;

  // Lets the window repaint and take pending input (which may call back into the logic).
  virtual void ProcessMessages() = 0;

  // Asks the window to close; the program ends once the running handler has returned.
  virtual void Close() = 0;

  // Starts a file with the desktop's default action. `fileName` is a bare name relative to
  // `workingFolder`. The result is not examined.
  virtual void ShellOpen(const std::string& fileName, const std::string& workingFolder) = 0;

  // The folder holding the program's executable.
  virtual std::string ExecutableFolder() const = 0;

  // Today's local date.
  virtual TDate CurrentDate() const = 0;
};

}  // namespace kv::app

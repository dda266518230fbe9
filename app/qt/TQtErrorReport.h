#pragma once

#include <string>

class QWidget;

namespace kv::app::qt {

// Shown for a failure that carries no text of its own.
inline constexpr const char* kUnknownFailureText = "Unknown exception";

// The standard report of a failure that escaped a handler: a modal message box with the
// failure's text (a full stop appended where the text lacks one), the application title as
// caption, the error icon and an OK button.
void ShowErrorReport(QWidget* parent, const std::string& message);

}  // namespace kv::app::qt

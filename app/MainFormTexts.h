#pragma once

#include <cstdint>
#include <string>

// The window's fixed texts and start values. The window implementation takes them from here so
// that the toolkit layer holds no texts of its own.
namespace kv::app::texts {

inline constexpr const char* kApplicationTitle = "KAVORA download";
inline constexpr const char* kWindowCaption = "  KAVORA v.3.50 download installation";
inline constexpr const char* kLabel2 = "KAVORA installation.";
inline constexpr const char* kInstallationItems[2] = {"KAVORA total installation",
                                                      "KAVORA program installation"};
inline constexpr int kInitialInstallationItem = 0;
inline constexpr const char* kOKCaption = "Start";
inline constexpr const char* kAfbrydCaption = "Afbryd";

// PBar before the first Start.
inline constexpr int32_t kProgressInitialMin = 0;
inline constexpr int32_t kProgressInitialMax = 100;

// The text of the standard error report for a failure that escapes a handler: a full stop is
// appended when the last character sorts after "." in character-code order.
inline std::string ErrorReportText(const std::string& message) {
  if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') {
    return message + ".";
  }
  return message;
}

}  // namespace kv::app::texts

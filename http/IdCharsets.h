#pragma once

#include <string_view>
#include <vector>

namespace kv::http {

// Code page numbers the decoder handles with its own code; every other known code page goes
// through the C library's converter.
inline constexpr int kCodePageUTF16LE = 1200;
inline constexpr int kCodePageUTF16BE = 1201;
inline constexpr int kCodePageUSASCII = 20127;
inline constexpr int kCodePageUTF7 = 65000;
inline constexpr int kCodePageUTF8 = 65001;
// Returned for a name the table does not know.
inline constexpr int kCodePageUnknown = 0;

// The code page of a charset name as registered for the Internet, or of one of its common
// aliases ("utf-8" 65001, "latin1" 28591, "shift_jis" 932, ...). Names compare ignoring ASCII
// case; blanks around the name are ignored. kCodePageUnknown for an empty or unknown name.
int CharsetToCodePage(std::string_view charset);

// Every name the charset table knows, in table order (for checks that walk the whole table).
std::vector<std::string_view> KnownCharsetNames();

// The name under which the C library's converter (iconv) knows a code page, or nullptr when it
// has none. The code pages the decoder handles itself have none either.
const char* CodePageToIconvName(int codePage);

}  // namespace kv::http

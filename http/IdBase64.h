#pragma once

#include <string>

namespace kv::http {

// Base64 with the standard alphabet and "=" padding (RFC 4648), as authentication headers use it.
std::string EncodeBase64(const std::string& bytes);
// Decodes Base64, ignoring white space; false (and output untouched) on any other bad input.
bool DecodeBase64(const std::string& text, std::string& bytes);
// The 6-bit value of a digit of the standard alphabet, or -1 for any other character.
int Base64DigitValue(char c);

}  // namespace kv::http

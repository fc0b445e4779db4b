// Pieces of host/text.cpp that the code for each system shares.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace txlib {

// Appends the UTF-8 bytes of a code point below 0x10000.
void AppendUtf8(std::string* out, uint32_t cp);

// The code point of the UTF-8 character at `at`, and its bytes; false where
// the bytes there are not one.
bool DecodeUtf8(const std::string& utf8, size_t at, uint32_t* code_point, size_t* length);

// The bytes of the C1 control character (U+0080 to U+009F) that begins at
// `at` in text as the terminal gets it; 0 when none does.
size_t C1ControlAt(const std::string& shown, size_t at);

} // namespace txlib

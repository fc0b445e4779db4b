// Text conversions of the library tool.
//
// The system's texts (slot values, member names) are Windows-1252 bytes. The
// Windows string table stores them as UTF-16; the terminal speaks UTF-8 on
// Linux and the ANSI code page (Windows-1252 in the Western locales this
// system serves) on Windows.
#pragma once

#include <cstdint>
#include <string>

namespace txlib {

// The UTF-16 unit of a Windows-1252 byte. The five bytes that code page
// leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the control
// characters of the same value, as Windows maps them.
uint16_t Cp1252ToUnit(uint8_t byte);

// The Windows-1252 byte of a code point; false when there is none.
bool UnitToCp1252(uint32_t code_point, uint8_t* byte);

// UTF-8 to Windows-1252: false (with the reason in *error) for bytes that are
// not UTF-8 and for characters outside the code page.
bool Utf8ToCp1252(const std::string& utf8, std::string* out, std::string* error);
std::string Cp1252ToUtf8(const std::string& text);

// A command-line argument as Windows-1252 text: UTF-8 converted on Linux,
// taken as it is on Windows. False with the reason when it cannot be.
bool ArgumentText(const std::string& argument, std::string* out, std::string* error);

// Windows-1252 text as the terminal shows it.
std::string DisplayText(const std::string& text);

// A path from the command line or the disk as UTF-8 text, for JSON: on
// Windows converted from the code page; elsewhere kept where it is UTF-8,
// with each byte that is not part of a UTF-8 character taken as Windows-1252
// (byte 0xFF becomes U+00FF), so that the JSON made of it is always valid.
std::string PathUtf8(const std::string& path);

} // namespace txlib

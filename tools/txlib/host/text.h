// Text conversions of the library tool.
//
// The system's texts (slot values, member names) are Windows-1252 bytes. The
// Windows string table stores them as UTF-16; the terminal speaks UTF-8 on
// Linux and the ANSI code page (Windows-1252 in the Western locales this
// system serves) on Windows.
#pragma once

#include <cstddef>
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

// The characters (columns) that text as the terminal gets it takes.
size_t DisplayColumns(const std::string& shown);

// Text as the terminal gets it (UTF-8 on Linux, the code page on Windows)
// with every control character written as `ls -b` writes it (\t, \n, \033),
// so that names read from files cannot move the cursor, clear the screen or
// retitle the window. A backslash stays as it is: it separates the folders
// of a member name. The C1 controls count too: U+0080 to U+009F in UTF-8,
// and on Windows the five bytes that the code page leaves undefined.
std::string EscapeControls(const std::string& shown);

// A name from a file (a member name, a path read from a library), in
// Windows-1252, as list and messages show it: DisplayText with its control
// characters escaped.
std::string ShownText(const std::string& text);

// Windows-1252 text with its lower-case letters in upper case, as Windows
// compares file names: a to z, and the accented letters, š, œ, ž and ÿ too
// (the launcher's own lookup folds a to z only).
std::string FoldFileCase(std::string text);

// A path from the command line or the disk as UTF-8 text, for JSON (the
// path fields of every document): on
// Windows converted from the code page; elsewhere kept where it is UTF-8,
// with each byte that is not part of a UTF-8 character taken as Windows-1252
// (byte 0xFF becomes U+00FF), so that the JSON made of it is always valid.
std::string PathUtf8(const std::string& path);

} // namespace txlib

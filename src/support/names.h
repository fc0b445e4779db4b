// Name rules that every layer shares: the case folding of names, and the
// names that Windows takes for devices rather than files.
#pragma once

namespace tx {

// The letters a to z upper-cased, every other byte as it is: the case of
// member names and paths is folded this way whatever the code page.
inline char UpperAscii(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// Whether Windows would open the device CON, PRN, AUX, NUL, CONIN$, CONOUT$,
// COM0..COM9 or LPT0..LPT9 for the file name `name` (no directory part):
// letters in any case, with or without an extension, and with spaces before
// the extension dropped ("nul.txt", "Con .dll"). The superscript digits of
// Windows-1252 (0xB9, 0xB2, 0xB3) count as digits after COM and LPT, as
// Windows reserves COM\xB9 and the like too. A null name is no device name.
bool ReservedDeviceName(const char* name);

} // namespace tx

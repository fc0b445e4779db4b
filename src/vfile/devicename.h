// Names that Windows takes for devices rather than files.
#pragma once

namespace tx {

// Whether Windows would open the device CON, PRN, AUX, NUL, CONIN$, CONOUT$,
// COM0..COM9 or LPT0..LPT9 for the file name `name` (no directory part):
// letters in any case, with or without an extension, and with spaces before
// the extension dropped ("nul.txt", "Con .dll"). The superscript digits of
// Windows-1252 (0xB9, 0xB2, 0xB3) count as digits after COM and LPT, as
// Windows reserves COM\xB9 and the like too. A null name is no device name.
bool ReservedDeviceName(const char* name);

} // namespace tx

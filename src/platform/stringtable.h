// The native form of a program's string table.
//
// Where there are no Windows resources, a program carries its string table as
// one exported byte array, TxStringTable, made by rc2table from the program's
// resource script:
//
//   offset 0  8 bytes  "TXSTRTAB"
//   offset 8  2 bytes  number of entries, little-endian
//   then per entry: 2 bytes id, 2 bytes stored length L (both little-endian),
//                   L bytes of text (Windows-1252, embedded NULs kept)
//
// The array lies in the file as it lies in memory, so a tool can find it by
// its signature and rewrite an entry's text in place within its length.
#pragma once

#include <cstddef>
#include <cstdint>

namespace txplat {

inline constexpr char kStringTableMagic[8] = {'T', 'X', 'S', 'T', 'R', 'T', 'A', 'B'};
inline constexpr size_t kStringTableHeader = 10;
inline constexpr size_t kStringEntryHeader = 4;

// Finds entry `id` in a table that starts at `table`. Returns its text and
// stores its stored length, or returns null when there is no such entry or the
// table is malformed.
const unsigned char* StringTableFind(const unsigned char* table, unsigned id, uint16_t* length);

} // namespace txplat

// The embedded-library record of a native (ELF) launcher.
//
// A Windows launcher keeps the file offset of its embedded library in the
// PointerToLinenumbers field of its .rsrc section header, and finds it again
// by scanning the first 30000 bytes of its own file for the text ".rsrc" and
// reading the 32 bits 28 bytes after it. An ELF file has no such header, so
// the native launcher carries a 40-byte record laid out like one: the name
// ".rsrc" padded with NULs to 8 bytes, then 32 zero bytes, of which the four
// at offset 28 hold the offset (0: no library). It sits in an ELF note of its
// own (section .note.txlib, owner "TXL", type kEmbedNoteType), which the
// linker places with the other notes right after the program headers, well
// inside the first 30000 bytes. The same scan therefore finds it on both
// systems, and the library tool patches it like the Windows header. The
// native launcher gets the record with the core's embedded-library code.
#pragma once

#include <cstdint>

namespace txlib {

constexpr uint32_t kEmbedNoteType = 0x4C425854; // "TXBL"
constexpr uint32_t kEmbedNoteNameSize = 4;      // "TXL" and its NUL
constexpr uint32_t kEmbedRecordSize = 40;
// The note header (name size, descriptor size, type) and the owner name
// precede the record.
constexpr uint32_t kEmbedNoteHeaderSize = 16;

} // namespace txlib

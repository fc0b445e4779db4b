// The library embedded in the launcher's own file: where it begins.
//
// The library tool appends the application's library container to the
// launcher and writes the file offset where it begins into the 32-bit field
// at offset 28 of the .rsrc section header (PointerToLinenumbers, otherwise
// unused by the image). The header is found by its name among the first
// 30000 bytes of the file. The native launcher carries a 40-byte record laid
// out like that header near the start of its file, so the same scan finds it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tx {

constexpr size_t kHeaderScanBytes = 30000;  // bytes searched for the section header
constexpr size_t kSectionHeaderSize = 40;   // bytes of a section header
constexpr size_t kEmbeddedOffsetField = 28; // PointerToLinenumbers in a section header

// Results of EmbeddedLibraryOffset other than an offset.
constexpr int32_t kEmbeddedNoFile = -1;   // the file does not open
constexpr int32_t kEmbeddedNoHeader = -2; // its first 64 bytes cannot be read
constexpr int32_t kEmbeddedNotImage = -3; // not an executable image

// The stored offset of the embedded library of an executable file: 0 when no
// .rsrc section header begins in its first 30000 bytes (or the field holds 0).
// Natively an ELF file counts as an executable image as well as a PE file.
int32_t EmbeddedLibraryOffset(const char* path);

// Position of the first ".rsrc" section name in the first `length` bytes of
// `buffer`, compared without regard to case and ended by a zero byte or by the
// end of those bytes; -1 when there is none.
int32_t FindSectionHeader(const uint8_t* buffer, size_t length);

} // namespace tx

// The library embedded in the launcher's own file, and the copying of the
// runtime modules out of it.
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
constexpr int kModulePathMax = 260;         // characters of a module file's path

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

// Whether a module name is a plain file name: not empty, no drive, no path
// separator, no wildcard, control or other character a file name cannot
// hold, not ending in a dot or a space (which Windows drops, so that "..",
// "..." or "  " would name the directory or another file), and not a device
// name (CON.DLL, NUL.DLL, COM1.DLL...: see support/names.h).
bool PlainFileName(const char* name);

// Brings directory\name up to date from the member `name` of the library
// `selector`: a file of the member's size, date and time is left alone,
// otherwise the member is copied out with its date and time into a private
// directory beside it (see library/scratchdir.h) and then takes the module's
// name in one step, replacing the old file. Several
// starts may do this at once: the module file is always absent, whole and
// old, or whole and new. A copy that fails leaves the old file as it was. A
// file that cannot be replaced (read-only, a directory, or in use under
// Windows) stops the launcher with a message (exit status 0), unless another
// start has meanwhile put the member in place. Where no private directory
// can be made (the directory cannot be written, or the path leaves no room
// for it), or the rename is still refused with 2 (someone holds the file)
// after a few brief retries, the file is deleted and the member copied in its
// place, and a file
// that cannot be deleted for another reason than its absence stops the
// launcher with the same message. A name that is not a plain file name, or a
// path over 260 characters, is not extracted. Leaves library search off, and
// libraries first off when a file on disk was compared.
void ExtractModule(const char* name, int16_t selector, const char* directory);

} // namespace tx

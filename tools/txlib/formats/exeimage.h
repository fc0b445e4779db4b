// Reading and patching a launcher executable: the Windows program (PE) and
// the native one (ELF).
//
// Two things are found in it:
// - the configuration strings, ids 1 to 11: in the PE file the entries of
//   the RT_STRING resource (UTF-16 counted strings, sixteen to a block); in
//   the ELF file the entries of the exported byte table TxStringTable
//   (Windows-1252, see platform/stringtable.h). Each keeps its stored length;
//   a value is rewritten in place within it.
// - the 32-bit field that records where the embedded library starts. The
//   launcher finds it by scanning the first 30000 bytes of its own file for
//   the first text ".rsrc" (any case, NUL-terminated) and reading the 32 bits
//   28 bytes further on. In the PE file that is PointerToLinenumbers of the
//   .rsrc section header. The ELF file has no such header, so the native
//   launcher carries a 40-byte record laid out like one inside an ELF note
//   (see embedrecord.h), which the linker puts among the first bytes of the
//   file; the same scan finds it.
//
// The program is read by range: its headers, tables and strings, never the
// library appended to it.
#pragma once

#include "host/bytesource.h"

#include "library/embedded.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace txlib {

enum class ImageFormat { Pe, Elf };

// One stored copy of a configuration string.
struct StringEntry {
    size_t offset;   // file offset of the first character
    uint16_t length; // stored length in characters
    bool utf16;      // two bytes per character (Windows string table)
};

struct ExeImage {
    ImageFormat format;
    std::string description; // such as "PE32 (GUI)" or "ELF64"
    // The stored copies of each string id found (one per language of the
    // Windows string table); the first is what the program reads.
    std::map<unsigned, std::vector<StringEntry>> strings;
    std::string strings_problem; // why no strings were found
    // File offset of the embedded-library offset field, when the launcher's
    // scan finds it and it is the field it should be.
    std::optional<size_t> library_field;
    std::string library_problem; // why there is none
    // Bytes the program itself needs: an embedded library never starts
    // below this.
    uint64_t image_end = 0;
    // PE optional header CheckSum field, when the file carries a checksum.
    std::optional<size_t> checksum_field;
};

// The embedded library's offset recorded in the program, 0 when none is (or
// the program cannot record one). An offset inside the program's image (or
// below the record that holds it) or beyond its end, or one the launcher
// cannot take as a signed 32-bit number, is damage: Failure, status 2.
uint32_t EmbeddedOffset(const ByteSource& bytes, const ExeImage& image);

// Whether the bytes start like an executable this tool reads (MZ or ELF).
bool LooksLikeExecutable(const uint8_t* data, size_t size);

// Parses the executable. Damaged structure (offsets outside the file, a
// resource directory running past its section) throws Failure with status 2
// naming bytes.Name(); a missing string table or record is told in the
// *_problem fields instead.
ExeImage ParseExecutable(const ByteSource& bytes);

// The stored characters of an entry as Windows-1252 bytes, NULs and padding
// included. A UTF-16 unit outside the code page comes back as '?' and sets
// *lossy when given.
std::string ReadEntry(const ByteSource& bytes, const StringEntry& entry, bool* lossy = nullptr);

// The bytes that store `text` (exactly entry.length Windows-1252 bytes) in
// the entry.
Patch EntryPatch(const StringEntry& entry, const std::string& text);

// The launcher's own search: the position of the first ".rsrc" text, in any
// case and followed by a NUL, among the first 30000 bytes (a text running
// into byte 30000 ends there).
std::optional<size_t> LauncherRecordScan(const uint8_t* data, size_t size);
constexpr size_t kLauncherScanBytes = tx::kHeaderScanBytes;
// The offset field, counted from the start of the ".rsrc" name.
constexpr size_t kRecordOffsetField = tx::kEmbeddedOffsetField;

// The PE checksum of a file's bytes, the 4 bytes at `field` counted as zero.
// The file may be fed in pieces of any length, in order.
class PeChecksum {
  public:
    explicit PeChecksum(size_t field) : field_(field) {}
    void Add(const uint8_t* data, size_t size);
    uint32_t Finish() const;

  private:
    size_t field_;
    uint64_t position_ = 0;
    uint32_t sum_ = 0;
};

} // namespace txlib

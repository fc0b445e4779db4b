// Placing a new resource section in a Windows program.
//
// The resource section of our builds is followed by .reloc and, unstripped,
// by debug sections and a COFF symbol table, so it cannot grow where it is.
// The new one becomes the program's last section instead: its header is
// added after the others (the old section is renamed ".rsrcold" and kept
// as it is, since nothing but the directory entry leads to resources), its
// address follows the last section's and its bytes follow the other
// sections' (readers such as wrestool take a section whose bytes lie beyond
// its address for damage). The COFF symbol table moves behind it, its
// pointer rewritten. Nothing mapped moves, so code, data, relocations and
// symbols stay valid. When the resources are
// already in the last section, laid there by an earlier run, that section
// is replaced instead of another being added.
//
// What was appended to the program (the embedded library) moves behind the
// new section by a multiple of 512 bytes, and the offset field the launcher
// finds (the first ".rsrc" header among the first 30000 bytes) records
// where it now starts. A certificate table is dropped with its directory
// entry: the program no longer matches it.
#pragma once

#include "host/bytesource.h"
#include "formats/exeimage.h"
#include "formats/pelayout.h"
#include "formats/resourcetree.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace txlib {

struct ResourcePlan {
    std::vector<Patch> header_patches;         // over the program's first bytes
    uint64_t keep = 0;                         // program bytes copied as they are
    uint64_t section_at = 0;                   // file offset of the new section
    std::vector<uint8_t> section;              // its bytes, padded to the file alignment
    uint64_t symbols_from = 0, symbols_to = 0; // the COFF symbol table, moved...
    uint64_t symbols_at = 0;                   // ...to follow the section
    uint64_t tail_from = 0, tail_to = 0;       // appended data moved...
    uint64_t tail_at = 0;                      // ...to here
    uint32_t library = 0;                      // the library's new offset, 0: none
    std::optional<size_t> checksum_field;
    bool signature_removed = false;
    uint64_t size = 0; // of the new file
};

// Lays `resources` out as the program's resource section. Where they cannot
// be placed (no room for another section header, a header beyond the
// launcher's scan, a file past 2 GiB) throws Failure (status 2) saying why.
ResourcePlan PlanResourceSection(const ByteSource& bytes, const PeLayout& pe, const ExeImage& image,
                                 const std::vector<Resource>& resources);

// Writes the new program in order through `put`, and answers its PE
// checksum (to be stored at plan.checksum_field, when set).
uint32_t EmitProgram(const ByteSource& bytes, const ResourcePlan& plan,
                     const std::function<void(const uint8_t*, size_t)>& put);

} // namespace txlib

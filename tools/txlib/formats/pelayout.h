// The layout of a Windows program (PE32 or PE32+) as the resource and
// signature code needs it: where its headers, data directories and sections
// lie, and where its COFF symbol table ends.
#pragma once

#include "host/bytesource.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace txlib {

struct PeSectionHeader {
    char name[8];
    uint32_t virtual_size;
    uint32_t virtual_address;
    uint32_t raw_size;
    uint32_t raw_offset;
    uint32_t characteristics;
    size_t header; // file offset of the section header
};

// Data directory indexes.
constexpr unsigned kResourceDirectory = 2;
constexpr unsigned kCertificateDirectory = 4;

struct PeLayout {
    bool wide = false; // PE32+
    size_t optional = 0;
    size_t directories = 0; // file offset of data directory 0
    uint32_t directory_count = 0;
    size_t section_table = 0;
    std::vector<PeSectionHeader> sections;
    uint32_t file_alignment = 0;
    uint32_t section_alignment = 0;
    uint32_t size_of_headers = 0;
    // The COFF symbol table and the string table that follows it; 0 when
    // the program has none.
    uint64_t symbols = 0, symbols_end = 0;
    // The end of everything the program itself holds: headers, sections and
    // symbol table. What follows is appended data.
    uint64_t program_end = 0;
    std::optional<size_t> checksum_field;
    // Why the program cannot be laid out anew (alignments that are not
    // powers of two, a symbol table outside the file); empty when it can.
    std::string problem;

    // File offset of data directory `index`, when the header has it.
    std::optional<size_t> Directory(unsigned index) const {
        if (index >= directory_count) return std::nullopt;
        return directories + 8 * size_t{index};
    }
};

// Reads the headers of a PE program; damage to the headers and section
// table throws Failure (status 2).
PeLayout ReadPeLayout(const ByteSource& bytes);

// The file offset of `rva` and the raw bytes that follow it in its section.
bool PeRvaToOffset(const PeLayout& pe, uint32_t rva, uint64_t* offset, uint64_t* available);

uint32_t ReadU32(const ByteSource& bytes, uint64_t offset);
uint16_t ReadU16(const ByteSource& bytes, uint64_t offset);

} // namespace txlib

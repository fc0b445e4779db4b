#include "formats/pelayout.h"

#include "host/failure.h"

#include <algorithm>

namespace txlib {

namespace {

void Need(const ByteSource& bytes, uint64_t offset, uint64_t count, const char* what) {
    if (offset > bytes.Size() || count > bytes.Size() - offset)
        Fail(bytes.Name(), std::string("damaged: part of ") + what + " lies outside the file");
}

} // namespace

uint16_t ReadU16(const ByteSource& bytes, uint64_t offset) {
    Need(bytes, offset, 2, "the program's headers");
    uint8_t b[2];
    bytes.Read(offset, b, 2);
    return static_cast<uint16_t>(b[0] | (b[1] << 8));
}

uint32_t ReadU32(const ByteSource& bytes, uint64_t offset) {
    return ReadU16(bytes, offset) | (static_cast<uint32_t>(ReadU16(bytes, offset + 2)) << 16);
}

PeLayout ReadPeLayout(const ByteSource& bytes) {
    PeLayout pe;
    Need(bytes, 0, 64, "the MZ header");
    const uint32_t header = ReadU32(bytes, 0x3C);
    Need(bytes, header, 24, "the PE header");
    if (ReadU32(bytes, header) != 0x4550)
        Fail(bytes.Name(), "not a Windows program: no PE header after the MZ header");
    const uint16_t section_count = ReadU16(bytes, header + 6);
    const uint32_t symbols = ReadU32(bytes, header + 12);
    const uint32_t symbol_count = ReadU32(bytes, header + 16);
    const uint16_t optional_size = ReadU16(bytes, header + 20);
    pe.optional = header + 24;
    Need(bytes, pe.optional, optional_size, "the optional header");
    const uint16_t magic = optional_size >= 2 ? ReadU16(bytes, pe.optional) : 0;
    if (magic != 0x10B && magic != 0x20B) Fail(bytes.Name(), "damaged: unknown PE optional header");
    pe.wide = magic == 0x20B;
    const size_t count_at = pe.optional + (pe.wide ? 108 : 92);
    if (count_at + 4 > pe.optional + optional_size)
        Fail(bytes.Name(), "damaged: the PE optional header is cut short");
    pe.directories = count_at + 4;
    const uint32_t room = static_cast<uint32_t>((pe.optional + optional_size - pe.directories) / 8);
    pe.directory_count = std::min(ReadU32(bytes, count_at), room);
    pe.section_alignment = ReadU32(bytes, pe.optional + 32);
    pe.file_alignment = ReadU32(bytes, pe.optional + 36);
    pe.size_of_headers = ReadU32(bytes, pe.optional + 60);
    if (ReadU32(bytes, pe.optional + 64) != 0) pe.checksum_field = pe.optional + 64;
    const auto power_of_two = [](uint32_t v) { return v != 0 && (v & (v - 1)) == 0; };
    if (!power_of_two(pe.file_alignment) || !power_of_two(pe.section_alignment))
        pe.problem = "its header's alignments are not powers of two";

    pe.section_table = pe.optional + optional_size;
    Need(bytes, pe.section_table, 40ull * section_count, "the section table");
    pe.program_end =
        std::max<uint64_t>(pe.size_of_headers, pe.section_table + 40ull * section_count);
    for (unsigned i = 0; i < section_count; ++i) {
        PeSectionHeader s{};
        s.header = pe.section_table + 40 * size_t{i};
        bytes.Read(s.header, s.name, 8);
        s.virtual_size = ReadU32(bytes, s.header + 8);
        s.virtual_address = ReadU32(bytes, s.header + 12);
        s.raw_size = ReadU32(bytes, s.header + 16);
        s.raw_offset = ReadU32(bytes, s.header + 20);
        s.characteristics = ReadU32(bytes, s.header + 36);
        if (s.raw_size > 0) {
            Need(bytes, s.raw_offset, s.raw_size, "a section");
            pe.program_end =
                std::max<uint64_t>(pe.program_end, uint64_t{s.raw_offset} + s.raw_size);
        }
        pe.sections.push_back(s);
    }
    // 18 bytes a symbol, then the string table, which starts with its own
    // length.
    const uint64_t strings = symbols + 18ull * symbol_count;
    const uint64_t size = bytes.Size();
    uint32_t strings_size = 0;
    if (symbols != 0 &&
        (strings + 4 > size || (strings_size = ReadU32(bytes, strings)) > size - strings)) {
        pe.problem = "its COFF symbol table lies outside the file";
    } else if (symbols != 0) {
        pe.symbols = symbols;
        pe.symbols_end = strings + std::max<uint32_t>(strings_size, 4);
        pe.program_end = std::max(pe.program_end, pe.symbols_end);
    }
    return pe;
}

bool PeRvaToOffset(const PeLayout& pe, uint32_t rva, uint64_t* offset, uint64_t* available) {
    for (const PeSectionHeader& s : pe.sections) {
        const uint32_t span = std::max(s.virtual_size, s.raw_size);
        if (rva < s.virtual_address || rva - s.virtual_address >= span) continue;
        const uint32_t delta = rva - s.virtual_address;
        if (delta >= s.raw_size) return false;
        *offset = uint64_t{s.raw_offset} + delta;
        *available = s.raw_size - delta;
        return true;
    }
    return false;
}

} // namespace txlib

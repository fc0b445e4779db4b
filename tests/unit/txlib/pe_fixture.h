// Windows programs built byte by byte for the library tool's tests: a PE32
// file with a .text section and a .rsrc section holding a string table.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace txtest {

// A PE32 file with a .text section and a .rsrc section whose string table
// block 1 holds `strings` (ids 0..15), in `languages` languages.
struct PeFile {
    std::vector<uint8_t> bytes;
    size_t rsrc_header; // file offset of the .rsrc section header
    size_t rsrc_raw;    // file offset of the resource section
    size_t block_at;    // file offset of the first language's string block
    size_t checksum;    // file offset of the optional header's CheckSum (left 0)
};

inline void Put16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}
inline void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    Put16(b, at, v & 0xFFFF);
    Put16(b, at + 2, v >> 16);
}

inline PeFile BuildPe(const std::vector<std::u16string>& strings, int languages = 1,
                      size_t lfanew = 0x80) {
    PeFile pe{};
    const size_t optional = lfanew + 24, table = optional + 224;
    const size_t text_raw = (table + 80 + 0x1FF) & ~size_t{0x1FF};
    pe.rsrc_raw = text_raw + 0x200;
    pe.rsrc_header = table + 40;
    pe.checksum = optional + 64;
    std::vector<uint8_t> block;
    for (size_t i = 0; i < 16; ++i) {
        const std::u16string s = i < strings.size() ? strings[i] : u"";
        block.push_back(static_cast<uint8_t>(s.size()));
        block.push_back(static_cast<uint8_t>(s.size() >> 8));
        for (char16_t c : s) {
            block.push_back(static_cast<uint8_t>(c));
            block.push_back(static_cast<uint8_t>(c >> 8));
        }
    }
    const size_t data_entries = 0x30 + 16 + 8 * languages;
    const size_t strings_at = data_entries + 16 * languages;
    const size_t rsrc_size = strings_at + block.size() * languages;
    std::vector<uint8_t>& b = pe.bytes;
    b.assign(pe.rsrc_raw + ((rsrc_size + 0x1FF) & ~size_t{0x1FF}), 0);
    b[0] = 'M';
    b[1] = 'Z';
    Put32(b, 0x3C, static_cast<uint32_t>(lfanew));
    std::memcpy(&b[lfanew], "PE\0\0", 4);
    Put16(b, lfanew + 4, 0x14C);
    Put16(b, lfanew + 6, 2);
    Put16(b, lfanew + 20, 224);
    Put16(b, optional, 0x10B);
    Put32(b, optional + 92, 16);
    Put32(b, optional + 96 + 16, 0x2000);
    Put32(b, optional + 96 + 20, static_cast<uint32_t>(rsrc_size));
    const char* names[2] = {".text", ".rsrc"};
    const size_t raws[2] = {text_raw, pe.rsrc_raw};
    for (int s = 0; s < 2; ++s) {
        const size_t h = table + 40 * s;
        std::memcpy(&b[h], names[s], std::strlen(names[s]));
        Put32(b, h + 8, s ? static_cast<uint32_t>(rsrc_size) : 0x200);
        Put32(b, h + 12, s ? 0x2000 : 0x1000);
        Put32(b, h + 16, s ? static_cast<uint32_t>(b.size() - pe.rsrc_raw) : 0x200);
        Put32(b, h + 20, static_cast<uint32_t>(raws[s]));
    }
    // Root -> RT_STRING (6) -> block 1 -> one data entry per language.
    const size_t r = pe.rsrc_raw;
    Put16(b, r + 14, 1);
    Put32(b, r + 16, 6);
    Put32(b, r + 20, 0x80000000u | 0x18);
    Put16(b, r + 0x18 + 14, 1);
    Put32(b, r + 0x18 + 16, 1);
    Put32(b, r + 0x18 + 20, 0x80000000u | 0x30);
    Put16(b, r + 0x30 + 14, static_cast<uint32_t>(languages));
    for (int l = 0; l < languages; ++l) {
        Put32(b, r + 0x30 + 16 + 8 * l, 0x409 + l);
        Put32(b, r + 0x30 + 20 + 8 * l, static_cast<uint32_t>(data_entries + 16 * l));
        const size_t at = strings_at + block.size() * l;
        Put32(b, r + data_entries + 16 * l, static_cast<uint32_t>(0x2000 + at));
        Put32(b, r + data_entries + 16 * l + 4, static_cast<uint32_t>(block.size()));
        std::memcpy(&b[r + at], block.data(), block.size());
    }
    pe.block_at = r + strings_at;
    return pe;
}

// Slot-like strings: id N holds "S<N>", a NUL and dots to 20 characters.
inline std::vector<std::u16string> SlotStrings() {
    std::vector<std::u16string> out(16);
    for (int id = 1; id <= 11; ++id) {
        std::u16string s;
        s.push_back(u'S');
        s.push_back(static_cast<char16_t>(u'A' + id));
        s.push_back(0);
        s.resize(20, u'.');
        out[id] = s;
    }
    return out;
}

} // namespace txtest

// Container files built byte by byte for the tests, independently of the
// code under test: header fields, directory entries and member data are put
// at their offsets by hand.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace txtest {

inline void Put16(std::string& bytes, size_t at, uint16_t value) {
    bytes[at] = static_cast<char>(value & 0xFF);
    bytes[at + 1] = static_cast<char>(value >> 8);
}

inline void Put32(std::string& bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

inline uint16_t Get16(const std::string& bytes, size_t at) {
    return static_cast<uint16_t>(static_cast<uint8_t>(bytes[at]) |
                                 (static_cast<uint8_t>(bytes[at + 1]) << 8));
}

inline uint32_t Get32(const std::string& bytes, size_t at) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | static_cast<uint8_t>(bytes[at + i]);
    return value;
}

struct FixtureMember {
    std::string name; // "" gives an all-zero (never used) entry
    std::string data;
    uint16_t state = 1;
    uint16_t date = 0x2147; // 7 October 1996
    uint16_t time = 0x6D44; // 13:42:08
};

struct FixtureContainer {
    uint16_t capacity = 8;
    int used = -1; // -1: the number of members
    uint16_t kind = 0;
    uint16_t seed = 0xFFFF;
    uint8_t method = 0;
    uint8_t sorted = 0;
    uint8_t key = 0; // XORed into member data when not 0
    std::vector<FixtureMember> members;
};

// A container of the default shape holding these members.
inline FixtureContainer Lib(std::vector<FixtureMember> members) {
    FixtureContainer spec;
    spec.members = std::move(members);
    return spec;
}

// Header block (offsets 0..127), directory at 128, member data back to back
// after the directory in member order.
inline std::string BuildContainer(const FixtureContainer& spec) {
    std::string bytes(128 + spec.capacity * 48, '\0');
    const std::string magic =
        std::string("XTKORELAN 0.00\xE0\r\nMeta-fichier Torvix") + std::string(61, ' ') + "\x1A";
    bytes.replace(0, magic.size(), magic);
    bytes[0] = 'M';
    Put16(bytes, 98, 128);
    Put16(bytes, 100, 0x6D44);
    Put16(bytes, 102, 0x2147);
    Put16(bytes, 104, spec.kind);
    Put16(bytes, 106, spec.seed);
    Put16(bytes, 108, 2);
    Put16(bytes, 110, spec.capacity);
    Put16(bytes, 112, 100);
    Put16(bytes, 114, 2048);
    Put16(bytes, 116, static_cast<uint16_t>(spec.used < 0 ? spec.members.size() : spec.used));
    bytes[118] = static_cast<char>(spec.method);
    bytes[119] = static_cast<char>(spec.sorted);
    uint32_t offset = static_cast<uint32_t>(bytes.size());
    for (size_t i = 0; i < spec.members.size(); ++i) {
        const FixtureMember& m = spec.members[i];
        if (m.name.empty()) continue;
        const size_t at = 128 + i * 48;
        bytes.replace(at, m.name.size(), m.name);
        Put16(bytes, at + 13, 0xFFFF);
        Put16(bytes, at + 15, 0xFFFF);
        Put16(bytes, at + 17, m.state);
        Put32(bytes, at + 19, static_cast<uint32_t>(m.data.size()));
        Put32(bytes, at + 23, offset);
        Put32(bytes, at + 27, static_cast<uint32_t>(m.data.size()));
        bytes[at + 31] = 0x20;
        Put16(bytes, at + 32, m.time);
        Put16(bytes, at + 34, m.date);
        std::string data = m.data;
        for (char& c : data)
            c = static_cast<char>(c ^ spec.key);
        bytes += data;
        offset += static_cast<uint32_t>(data.size());
    }
    return bytes;
}

// Offset of directory entry `index`.
inline size_t EntryAt(int index) {
    return 128 + static_cast<size_t>(index) * 48;
}

// Name field of entry `index` up to its NUL.
inline std::string EntryName(const std::string& bytes, int index) {
    return std::string(bytes.c_str() + EntryAt(index));
}

// "M12" and the like. (Built with snprintf: concatenating short strings
// trips a false -Wrestrict of the MinGW compiler at -O3.)
inline std::string Numbered(const char* prefix, int number) {
    char text[32];
    std::snprintf(text, sizeof text, "%s%d", prefix, number);
    return text;
}

// Deterministic filler bytes.
inline std::string Pattern(size_t length, unsigned seed) {
    std::string s(length, '\0');
    for (size_t i = 0; i < length; ++i)
        s[i] = static_cast<char>((i * 31 + seed * 7 + (i >> 8)) & 0xFF);
    return s;
}

} // namespace txtest

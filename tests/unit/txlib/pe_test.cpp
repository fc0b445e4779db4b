// The library tool's reading and patching of Windows programs, over PE files
// built byte by byte here: the string table walk, the .rsrc header that
// records the embedded library, and damaged files.
#include "exeimage.h"
#include "failure.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using txlib::ExeImage;

// A PE32 file with a .text section and a .rsrc section whose string table
// block 1 holds `strings` (ids 0..15), in `languages` languages.
struct PeFile {
    std::vector<uint8_t> bytes;
    size_t rsrc_header; // file offset of the .rsrc section header
    size_t rsrc_raw;    // file offset of the resource section
    size_t block_at;    // file offset of the first language's string block
};

void Put16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    Put16(b, at, v & 0xFFFF);
    Put16(b, at + 2, v >> 16);
}

PeFile BuildPe(const std::vector<std::u16string>& strings, int languages = 1,
               size_t lfanew = 0x80) {
    PeFile pe{};
    const size_t optional = lfanew + 24, table = optional + 224;
    const size_t text_raw = (table + 80 + 0x1FF) & ~size_t{0x1FF};
    pe.rsrc_raw = text_raw + 0x200;
    pe.rsrc_header = table + 40;
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
std::vector<std::u16string> SlotStrings() {
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

ExeImage Parse(const std::vector<uint8_t>& bytes) {
    return txlib::ParseExecutable(bytes, "test.exe");
}

TEST(PeImage, FindsTheSlotsAndTheLibraryField) {
    const PeFile pe = BuildPe(SlotStrings());
    const ExeImage image = Parse(pe.bytes);
    ASSERT_EQ(image.strings.size(), 11u);
    ASSERT_TRUE(image.library_field.has_value());
    EXPECT_EQ(*image.library_field, pe.rsrc_header + 28);
    EXPECT_FALSE(image.checksum_field.has_value());
    const txlib::StringEntry& five = image.strings.at(5).front();
    EXPECT_EQ(five.length, 20);
    EXPECT_EQ(txlib::ReadEntry(pe.bytes, five), std::string("SF\0.................", 20));
}

TEST(PeImage, RewritesAnEntryInPlaceAsUtf16) {
    PeFile pe = BuildPe(SlotStrings());
    const ExeImage image = Parse(pe.bytes);
    const txlib::StringEntry& one = image.strings.at(1).front();
    std::string text = "\x80\xE9";
    text.push_back('\0');
    text.resize(20, '.');
    const std::vector<uint8_t> before = pe.bytes;
    txlib::WriteEntry(pe.bytes, one, text);
    EXPECT_EQ(txlib::ReadEntry(pe.bytes, one), text);
    // The euro sign and e acute as their UTF-16 units; the length word and
    // every other byte unchanged.
    const uint8_t expected[] = {0xAC, 0x20, 0xE9, 0x00, 0x00, 0x00, '.', 0x00};
    EXPECT_EQ(std::memcmp(&pe.bytes[one.offset], expected, sizeof expected), 0);
    for (size_t i = 0; i < pe.bytes.size(); ++i) {
        if (i < one.offset || i >= one.offset + 2 * one.length) {
            ASSERT_EQ(pe.bytes[i], before[i]) << i;
        }
    }
}

TEST(PeImage, EveryLanguageCopyOfTheStringsIsFound) {
    const ExeImage image = Parse(BuildPe(SlotStrings(), 3).bytes);
    EXPECT_EQ(image.strings.at(3).size(), 3u);
    EXPECT_NE(image.strings.at(3)[0].offset, image.strings.at(3)[2].offset);
}

TEST(PeImage, TheLibraryFieldMustBeWhereTheLauncherLooks) {
    PeFile renamed = BuildPe(SlotStrings());
    renamed.bytes[renamed.rsrc_header + 4] = 'x';
    EXPECT_FALSE(Parse(renamed.bytes).library_field.has_value());
    EXPECT_EQ(Parse(renamed.bytes).strings.size(), 11u); // strings come from the data directory

    PeFile decoy = BuildPe(SlotStrings());
    std::memcpy(&decoy.bytes[0x50], ".RSRC", 6); // the launcher's scan stops here first
    const ExeImage image = Parse(decoy.bytes);
    EXPECT_FALSE(image.library_field.has_value());
    EXPECT_NE(image.library_problem.find("0x50"), std::string::npos);

    const ExeImage far = Parse(BuildPe(SlotStrings(), 1, 30000).bytes);
    EXPECT_FALSE(far.library_field.has_value());
    EXPECT_NE(far.library_problem.find("30000"), std::string::npos);
}

// Damage is refused with status 2, never read past the file.
void ExpectDamaged(const std::vector<uint8_t>& bytes) {
    try {
        Parse(bytes);
        ADD_FAILURE() << "damage accepted";
    } catch (const txlib::Failure& failure) {
        EXPECT_EQ(failure.status, txlib::kExitFailed);
        EXPECT_EQ(failure.file, "test.exe");
    }
}

TEST(PeImage, DamageIsRefused) {
    const PeFile pe = BuildPe(SlotStrings());
    // Cut anywhere: a clean refusal or (cut in padding) a clean parse.
    for (size_t cut = 0; cut < pe.bytes.size(); ++cut) {
        const std::vector<uint8_t> part(pe.bytes.begin(), pe.bytes.begin() + cut);
        try {
            Parse(part);
        } catch (const txlib::Failure& failure) {
            ASSERT_EQ(failure.status, txlib::kExitFailed) << cut;
        }
    }
    PeFile lengthy = pe;
    Put16(lengthy.bytes, lengthy.block_at + 2 * 1, 0x7FFF); // string 0 runs past its block
    ExpectDamaged(lengthy.bytes);
    PeFile wild = pe;
    Put32(wild.bytes, wild.rsrc_raw + 20, 0x80000000u | 0x7FFF0); // subdirectory outside
    ExpectDamaged(wild.bytes);
    PeFile far = pe;
    Put32(far.bytes, far.rsrc_raw + 0x48, 0x90000); // the block's data outside every section
    ExpectDamaged(far.bytes);
    PeFile big = pe;
    Put32(big.bytes, big.rsrc_raw + 0x4C, 0x7FFFFFFF); // the block's size past its section
    ExpectDamaged(big.bytes);
}

} // namespace

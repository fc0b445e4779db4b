// The library tool's reading of native launchers, over ELF files built byte
// by byte here: the exported string table found by its symbol (or, without
// one, by its signature), the embedded-library record in its note, and
// damaged files.
#include "formats/exeimage.h"
#include "host/failure.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr size_t kNote = 0x40;    // the note holding the record
constexpr size_t kRodata = 0x80;  // the string table
constexpr size_t kDynstr = 0x200; // "\0TxStringTable\0"
constexpr size_t kDynsym = 0x220; // two symbols
constexpr size_t kSections = 0x280;
constexpr uint64_t kAddress = 0x1000; // address of file offset 0

struct ElfFile {
    std::vector<uint8_t> bytes;
    size_t table_size;
};

void Put(std::vector<uint8_t>& b, size_t at, uint64_t v, int size) {
    for (int i = 0; i < size; ++i)
        b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

std::vector<uint8_t> Table() {
    std::vector<uint8_t> t = {'T', 'X', 'S', 'T', 'R', 'T', 'A', 'B', 11, 0};
    for (uint8_t id = 1; id <= 11; ++id) {
        t.insert(t.end(), {id, 0, 10, 0, 'V', static_cast<uint8_t>('A' + id), 0});
        t.insert(t.end(), 7, '.');
    }
    return t;
}

ElfFile BuildElf() {
    ElfFile elf;
    std::vector<uint8_t>& b = elf.bytes;
    b.assign(kSections + 4 * 64, 0);
    std::memcpy(b.data(),
                "\x7F"
                "ELF\x02\x01\x01",
                7);
    Put(b, 16, 2, 2);
    Put(b, 18, 62, 2);
    Put(b, 40, kSections, 8);
    Put(b, 52, 64, 2);
    Put(b, 58, 64, 2);
    Put(b, 60, 4, 2);
    // The note: name size 4, record size 40, type, "TXL", the record.
    Put(b, kNote, 4, 4);
    Put(b, kNote + 4, 40, 4);
    Put(b, kNote + 8, 0x4C425854, 4);
    std::memcpy(&b[kNote + 12], "TXL\0.rsrc", 9);
    const std::vector<uint8_t> table = Table();
    elf.table_size = table.size();
    std::memcpy(&b[kRodata], table.data(), table.size());
    std::memcpy(&b[kDynstr], "\0TxStringTable", 15);
    Put(b, kDynsym + 24, 1, 4);     // name
    Put(b, kDynsym + 24 + 6, 3, 2); // section .rodata
    Put(b, kDynsym + 24 + 8, kAddress + kRodata, 8);
    Put(b, kDynsym + 24 + 16, table.size(), 8);
    // Sections: null, .dynsym, .dynstr, .rodata.
    const uint64_t sections[3][5] = {
        {11, kDynsym, 48, 2, 24}, {3, kDynstr, 15, 0, 0}, {1, kRodata, table.size(), 0, 0}};
    for (int s = 0; s < 3; ++s) {
        const size_t h = kSections + 64 * (s + 1);
        Put(b, h + 4, sections[s][0], 4);
        Put(b, h + 16, kAddress + sections[s][1], 8);
        Put(b, h + 24, sections[s][1], 8);
        Put(b, h + 32, sections[s][2], 8);
        Put(b, h + 40, sections[s][3], 4);
        Put(b, h + 56, sections[s][4], 8);
    }
    return elf;
}

txlib::ExeImage Parse(const std::vector<uint8_t>& bytes) {
    return txlib::ParseExecutable(txlib::MemoryBytes(bytes, "launcher"));
}

TEST(ElfImage, FindsTheStringTableAndTheRecord) {
    const ElfFile elf = BuildElf();
    const txlib::ExeImage image = Parse(elf.bytes);
    ASSERT_EQ(image.strings.size(), 11u);
    const txlib::StringEntry& five = image.strings.at(5).front();
    EXPECT_FALSE(five.utf16);
    EXPECT_EQ(txlib::ReadEntry(txlib::MemoryBytes(elf.bytes, "launcher"), five),
              std::string("VF\0.......", 10));
    ASSERT_TRUE(image.library_field.has_value());
    EXPECT_EQ(*image.library_field, kNote + 16 + 28);
}

TEST(ElfImage, WithoutItsSymbolTheOneWholeTableIsTaken) {
    ElfFile elf = BuildElf();
    elf.bytes[kDynstr + 13] = 'X'; // the symbol is gone
    EXPECT_EQ(Parse(elf.bytes).strings.size(), 11u);
    // A second whole table leaves no way to tell which one the program reads.
    const std::vector<uint8_t> table = Table();
    elf.bytes.insert(elf.bytes.end(), table.begin(), table.end());
    const txlib::ExeImage image = Parse(elf.bytes);
    EXPECT_TRUE(image.strings.empty());
    EXPECT_NE(image.strings_problem.find("more than one"), std::string::npos);
    // Unless it lies in the embedded library (a launcher stored as a member),
    // which is no part of the program.
    Put(elf.bytes, kNote + 16 + 28, elf.bytes.size() - table.size(), 4);
    EXPECT_EQ(Parse(elf.bytes).strings.size(), 11u);
}

TEST(ElfImage, AnRsrcTextOutsideTheNoteIsNoRecord) {
    ElfFile elf = BuildElf();
    Put(elf.bytes, kNote + 8, 1, 4); // another note type
    const txlib::ExeImage image = Parse(elf.bytes);
    EXPECT_FALSE(image.library_field.has_value());
    EXPECT_NE(image.library_problem.find("not its embedded-library record"), std::string::npos);
    elf.bytes[kNote + 16] = 'x'; // no ".rsrc" at all
    EXPECT_EQ(Parse(elf.bytes).library_problem, "carries no embedded-library record");
}

TEST(ElfImage, DamageIsRefused) {
    const ElfFile elf = BuildElf();
    for (size_t cut = 4; cut < elf.bytes.size(); ++cut) {
        const std::vector<uint8_t> part(elf.bytes.begin(), elf.bytes.begin() + cut);
        try {
            Parse(part);
        } catch (const txlib::Failure& failure) {
            ASSERT_EQ(failure.status, txlib::kExitFailed) << cut;
        }
    }
    ElfFile wild = BuildElf();
    Put(wild.bytes, kDynsym + 24 + 8, kAddress + 0x10000, 8); // the symbol outside its section
    EXPECT_THROW(Parse(wild.bytes), txlib::Failure);
    ElfFile lengthy = BuildElf();
    Put(lengthy.bytes, kRodata + 10 + 2, 0x7000, 2); // entry 1 runs past the table
    EXPECT_THROW(Parse(lengthy.bytes), txlib::Failure);
    ElfFile far = BuildElf();
    Put(far.bytes, kSections + 64 * 3 + 24, 0x7FFFFF, 8); // .rodata beyond the file
    EXPECT_THROW(Parse(far.bytes), txlib::Failure);
}

TEST(ElfImage, SymbolNamesOutsideTheFileAreNotRead) {
    ElfFile elf = BuildElf();
    Put(elf.bytes, kSections + 64 * 2 + 4, 8, 4);         // .dynstr holds no file bytes
    Put(elf.bytes, kSections + 64 * 2 + 24, 0x7FFFFF, 8); // and points beyond the file
    EXPECT_EQ(Parse(elf.bytes).strings.size(), 11u);      // found by its signature instead
}

} // namespace

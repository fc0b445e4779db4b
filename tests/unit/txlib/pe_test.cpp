// The library tool's reading and patching of Windows programs, over PE files
// built byte by byte here: the string table walk, the .rsrc header that
// records the embedded library, and damaged files.
#include "formats/exeimage.h"
#include "host/failure.h"
#include "pe_fixture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using txlib::ExeImage;
using txtest::BuildPe;
using txtest::PeFile;
using txtest::Put16;
using txtest::Put32;
using txtest::SlotStrings;

ExeImage Parse(const std::vector<uint8_t>& bytes) {
    return txlib::ParseExecutable(txlib::MemoryBytes(bytes, "test.exe"));
}

std::string Entry(const std::vector<uint8_t>& bytes, const txlib::StringEntry& entry) {
    return txlib::ReadEntry(txlib::MemoryBytes(bytes, "test.exe"), entry);
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
    EXPECT_EQ(Entry(pe.bytes, five), std::string("SF\0.................", 20));
}

TEST(PeImage, RewritesAnEntryInPlaceAsUtf16) {
    PeFile pe = BuildPe(SlotStrings());
    const ExeImage image = Parse(pe.bytes);
    const txlib::StringEntry& one = image.strings.at(1).front();
    std::string text = "\x80\xE9";
    text.push_back('\0');
    text.resize(20, '.');
    const std::vector<uint8_t> before = pe.bytes;
    txlib::ApplyPatch(txlib::EntryPatch(one, text), 0, pe.bytes.data(), pe.bytes.size());
    EXPECT_EQ(Entry(pe.bytes, one), text);
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

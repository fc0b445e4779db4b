// The library tool's slot values: laying a value into the stored entries so
// that the launcher's reading gives it back, and refusing what cannot be.
#include "formats/exeimage.h"
#include "commands/librarytools.h"
#include "formats/slotvalues.h"
#include "host/text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const txlib::SlotInfo& Slot(const char* key) {
    const txlib::SlotInfo* slot = txlib::FindSlot(key);
    EXPECT_NE(slot, nullptr) << key;
    return *slot;
}

TEST(SlotValues, EveryPairValueReadsBackWhole) {
    const txlib::SlotInfo& project = Slot("5");
    for (size_t length = 0; length <= 252; ++length) {
        std::string value;
        for (size_t i = 0; i < length; ++i)
            value.push_back(static_cast<char>('A' + i % 26));
        std::string first, second, error;
        ASSERT_TRUE(txlib::EncodeSlot(project, value, 126, 126, &first, &second, &error)) << length;
        ASSERT_EQ(first.size(), 126u);
        ASSERT_EQ(second.size(), 126u);
        ASSERT_EQ(txlib::SlotValue(project, first, second), value) << length;
        if (length >= 126) {
            // The first entry is filled whole, without a terminator.
            EXPECT_EQ(first, value.substr(0, 126));
        } else {
            // An unused continuation holds one space.
            EXPECT_EQ(second.substr(0, 2), std::string(" \0", 2));
        }
    }
    std::string first, second, error;
    EXPECT_FALSE(
        txlib::EncodeSlot(project, std::string(253, 'X'), 126, 126, &first, &second, &error));
    EXPECT_FALSE(txlib::EncodeSlot(project, "ENDS ", 126, 126, &first, &second, &error));
    EXPECT_NE(error.find("space"), std::string::npos);
}

TEST(SlotValues, SingleSlotsKeepToTheirLengthAndReadLimit) {
    std::string first, second, error;
    const txlib::SlotInfo& version = Slot("version");
    ASSERT_TRUE(txlib::EncodeSlot(version, std::string(100, '9'), 100, 0, &first, &second, &error));
    EXPECT_EQ(first, std::string(100, '9'));
    EXPECT_FALSE(
        txlib::EncodeSlot(version, std::string(101, '9'), 100, 0, &first, &second, &error));
    ASSERT_TRUE(txlib::EncodeSlot(version, "1.00A", 100, 0, &first, &second, &error));
    EXPECT_EQ(first, std::string("1.00A\0", 6) + std::string(94, '.'));

    // The flags are read with a limit of 100: 99 characters of their 132.
    const txlib::SlotInfo& flags = Slot("11");
    EXPECT_TRUE(txlib::EncodeSlot(flags, std::string(99, 'O'), 132, 0, &first, &second, &error));
    EXPECT_EQ(txlib::SlotValue(flags, first, ""), std::string(99, 'O'));
    EXPECT_FALSE(txlib::EncodeSlot(flags, std::string(100, 'O'), 132, 0, &first, &second, &error));

    EXPECT_TRUE(txlib::FindSlot("2")->continuation);
    EXPECT_EQ(txlib::FindSlot("window")->id, 1u);
    EXPECT_EQ(txlib::FindSlot("12"), nullptr);
    EXPECT_EQ(txlib::FindSlot("0005"), nullptr);
}

TEST(LauncherScan, FindsTheFirstRsrcNameInAnyCase) {
    std::string bytes(40000, 'x');
    bytes.replace(100, 6, std::string(".rsrcx", 6)); // no NUL after the name
    bytes.replace(200, 6, std::string(".RsRc\0", 6));
    bytes.replace(300, 6, std::string(".rsrc\0", 6));
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
    EXPECT_EQ(txlib::LauncherRecordScan(data, bytes.size()), std::optional<size_t>(200));
    // A name that runs into byte 30000 ends there; past it nothing is seen.
    std::string edge(40000, 'x');
    edge.replace(29995, 5, ".rsrc");
    edge.replace(30100, 6, std::string(".rsrc\0", 6));
    const auto* e = reinterpret_cast<const uint8_t*>(edge.data());
    EXPECT_EQ(txlib::LauncherRecordScan(e, edge.size()), std::optional<size_t>(29995));
    edge[29995] = 'x';
    EXPECT_FALSE(txlib::LauncherRecordScan(e, edge.size()).has_value());
}

TEST(Text, Windows1252AndUtf8) {
    std::string all;
    for (int b = 1; b < 256; ++b)
        all.push_back(static_cast<char>(b));
    std::string back, error;
    ASSERT_TRUE(txlib::Utf8ToCp1252(txlib::Cp1252ToUtf8(all), &back, &error));
    EXPECT_EQ(back, all);
    EXPECT_FALSE(txlib::Utf8ToCp1252("\xE4\xB8\xAD", &back, &error)); // a CJK character
    EXPECT_FALSE(txlib::Utf8ToCp1252("caf\xE9", &back, &error));      // Latin-1, not UTF-8
    EXPECT_FALSE(txlib::Utf8ToCp1252("\xC0\xAF", &back, &error));     // overlong '/'
    EXPECT_EQ(txlib::Cp1252ToUnit(0x80), 0x20AC);
    EXPECT_EQ(txlib::Cp1252ToUnit(0x81), 0x0081);
}

TEST(MemberNames, OnlyPlainNamesAreStoredOrWritten) {
    std::string reason;
    for (const char* name : {"TX413EXE.DLL", "A", "NAME12345678", "CAF\xC9.TXT"}) {
        EXPECT_TRUE(txlib::ValidMemberName(name, &reason)) << name;
        EXPECT_TRUE(txlib::SafeFileName(name, &reason)) << name;
    }
    for (const char* name : {"", "NAME123456789", "A/B", "A\\B", "C:X", "A*", "..", ".", "\xE5X"})
        EXPECT_FALSE(txlib::ValidMemberName(name, &reason)) << name;
    for (const char* name : {"..X", "X..", "CON", "nul.txt", "COM1.DLL", "LPT9", "NAME.", "NAME ",
                             "COM\xB9", "lpt\xB2.txt", "COM\xB3.DLL", "CON .TXT"})
        EXPECT_FALSE(txlib::SafeFileName(name, &reason)) << name;
    EXPECT_TRUE(txlib::SafeFileName("CONSOLE.TXT", &reason));
}

} // namespace

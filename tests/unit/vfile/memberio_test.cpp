// Reading, writing and positioning members: bounds of a member opened for
// reading, the written size of a new member, scrambling, and the write-back
// of header and directory.
#include "layer_fixture.h"

#include <cstring>

using namespace tx;
using txtest::FixtureContainer;
using txtest::FixtureMember;

namespace {

class MemberIoTest : public txtest::LayerTest {};

FixtureContainer Lib(std::vector<FixtureMember> members) {
    FixtureContainer spec;
    spec.members = std::move(members);
    return spec;
}

} // namespace

TEST(ScrambleKey, PinnedVectors) {
    // Method 0: high byte + low byte + 0x5A.
    EXPECT_EQ(ScrambleKey(0x1234, 0), 0xA0);
    EXPECT_EQ(ScrambleKey(0xFFFE, 0), 0x57);
    EXPECT_EQ(ScrambleKey(0x0000, 0), 0x5A);
    // Method 1: odd seeds shift by 3, even by 5; (low - 0x1234) >> 2
    // arithmetic, + 2 * high + 0x3C; key = high byte - low byte.
    EXPECT_EQ(ScrambleKey(0x0001, 1), 0x4A);
    EXPECT_EQ(ScrambleKey(0x0401, 1), 0x52);
    EXPECT_EQ(ScrambleKey(0xFFFF, 1), 0x40);
    EXPECT_EQ(ScrambleKey(0x8000, 1), 0x2C);
    EXPECT_EQ(ScrambleKey(0x4000, 1), 0x3C);
    EXPECT_EQ(ScrambleKey(0x0700, 1), 0x44);
    int valid = 1;
    EXPECT_EQ(ScrambleKey(0x1234, 2, &valid), 0);
    EXPECT_EQ(valid, 0);
    ScrambleKey(0x1234, 1, &valid);
    EXPECT_EQ(valid, 1);

    std::string bytes = "abc";
    XorBytes(bytes.data(), 3, 0x20);
    EXPECT_EQ(bytes, "ABC");
    XorBytes(bytes.data(), 0, 0xFF);
    EXPECT_EQ(bytes, "ABC");
}

TEST_F(MemberIoTest, ReadAndSeekStayInsideAMemberOf100Bytes) {
    const std::string data = txtest::Pattern(100, 1);
    Put("a.lib", Lib({{"HUNDRED", data}, {"NEXT", "next member"}}));
    const int16_t s = OpenLib("a.lib");
    int16_t h;
    ASSERT_EQ(FileOpen("|HUNDRED", &h, s), 1);
    std::string buffer(150, '\0');
    EXPECT_EQ(FileRead(h, buffer.data(), 150), 100);
    EXPECT_EQ(buffer.substr(0, 100), data);
    SetErrorNumber(1);
    EXPECT_EQ(FileRead(h, buffer.data(), 150), 0);
    EXPECT_EQ(ErrorLastNumber(), 1019);
    SetErrorNumber(1);
    EXPECT_EQ(FileReadExact(h, buffer.data(), 0), 1); // nothing asked, nothing read
    EXPECT_EQ(ErrorLastNumber(), 1019);

    EXPECT_EQ(FileSeek(h, 0, 2), 100);
    EXPECT_EQ(FileSeek(h, 1, 2), -1);
    EXPECT_EQ(ErrorLastNumber(), 1019);
    EXPECT_EQ(FileSeek(h, -1, 0), -1);
    EXPECT_EQ(FileSeek(h, 40, 0), 40);
    EXPECT_EQ(FileSeek(h, -10, 1), 30);
    EXPECT_EQ(FileSeek(h, -100, 2), 0);
    EXPECT_EQ(FileReadAt(h, 90, buffer.data(), 10), 1);
    EXPECT_EQ(buffer.substr(0, 10), data.substr(90));
    EXPECT_EQ(FileReadAt(h, 95, buffer.data(), 10), 0); // past the end
    EXPECT_EQ(FileReadAt(h, 1000, buffer.data(), 0), 1);

    // Report errors off: the same results, nothing recorded.
    g_layer.report_errors = 0;
    SetErrorNumber(1);
    EXPECT_EQ(FileSeek(h, 101, 0), -1);
    EXPECT_EQ(ErrorLastNumber(), 1);
}

TEST_F(MemberIoTest, WritesThroughAMemberOpenedForReadingAreRefused) {
    Put("a.lib", Lib({{"FIRST", "first"}, {"SECOND", "second member"}}));
    const std::string before = dir.read("a.lib");
    const int16_t s = OpenLib("a.lib");
    int16_t h;
    ASSERT_EQ(FileOpen("|FIRST", &h, s), 1);
    std::string text = "overwrites the next member";
    EXPECT_EQ(FileWrite(h, text.data(), static_cast<uint16_t>(text.size())), 0);
    EXPECT_EQ(ErrorLastNumber(), 1016);
    EXPECT_EQ(text, "overwrites the next member");
    EXPECT_EQ(FileClose(h), 1);
    EXPECT_EQ(LibraryClose(s), 1);
    EXPECT_EQ(dir.read("a.lib"), before);
}

TEST_F(MemberIoTest, WrittenSizeOfANewMember) {
    Put("a.lib", Lib({{"OLD", "old"}}));
    const std::string before = dir.read("a.lib");
    const int16_t s = OpenLib("a.lib");
    int16_t h;
    ASSERT_EQ(FileCreate("|NEW", &h, s), 1);
    LibraryRecord* lib = g_current_record;
    const int32_t end_before = lib->end_of_data;
    for (char c : {'a', 'b', 'c'})
        EXPECT_EQ(WriteText(h, std::string(10, c)), 10);
    EXPECT_EQ(lib->written_size, 30);
    EXPECT_EQ(FileSeek(h, 5, 0), 5);
    EXPECT_EQ(WriteText(h, std::string(10, 'x')), 10);
    EXPECT_EQ(lib->written_size, 30);
    // Reading back inside what was written does not make later writes count twice.
    std::string buffer(5, '\0');
    EXPECT_EQ(FileRead(h, buffer.data(), 5), 5);
    EXPECT_EQ(buffer, "bbbbb");
    EXPECT_EQ(WriteText(h, "yy"), 2);
    EXPECT_EQ(lib->written_size, 30);
    EXPECT_EQ(FileSeek(h, 31, 0), -1); // not beyond what has been written
    EXPECT_EQ(FileSeek(h, 20, 0), 20);
    EXPECT_EQ(WriteText(h, std::string(30, 'z')), 30);
    EXPECT_EQ(lib->written_size, 50);
    EXPECT_EQ(FileSeek(h, 0, 2), 50);
    std::string empty;
    EXPECT_EQ(FileWriteExact(h, empty.data(), 0), 1);
    EXPECT_EQ(FileClose(h), 1);
    EXPECT_EQ(lib->end_of_data, end_before + 50);

    const std::string after = dir.read("a.lib");
    // "yy" went to 20..21, under the later z's.
    const std::string member =
        std::string(5, 'a') + std::string(10, 'x') + std::string(5, 'b') + std::string(30, 'z');
    ASSERT_EQ(after.size(), before.size() + 50);
    EXPECT_EQ(after.substr(before.size()), member);
    const size_t at = txtest::EntryAt(1);
    EXPECT_EQ(txtest::Get32(after, at + 19), 50u);
    EXPECT_EQ(txtest::Get32(after, at + 23), before.size());
    EXPECT_EQ(txtest::Get32(after, at + 27), 50u);
    EXPECT_EQ(txtest::Get16(after, 116), 2);

    ASSERT_EQ(FileOpen("|NEW", &h, s), 1);
    EXPECT_EQ(ReadAll(h), member);
}

TEST_F(MemberIoTest, ScrambledMembersDifferInTheContainerByTheKey) {
    FixtureContainer spec = Lib({{"OLD", "stored scrambled"}});
    spec.seed = 0x0401;
    spec.method = 1;
    spec.key = 0x52; // ScrambleKey(0x0401, 1)
    Put("s.lib", spec);
    const int16_t s = OpenLib("s.lib");
    int16_t h;
    ASSERT_EQ(FileOpen("|OLD", &h, s), 1);
    EXPECT_EQ(ReadAll(h), "stored scrambled");

    const std::string before = dir.read("s.lib");
    std::string text = txtest::Pattern(300, 9);
    const std::string original = text;
    ASSERT_EQ(FileCreate("|NEW", &h, s), 1);
    EXPECT_EQ(FileWrite(h, text.data(), 300), 300);
    EXPECT_EQ(text, original); // the caller's buffer comes back unchanged
    EXPECT_EQ(FileClose(h), 1);
    const std::string stored = dir.read("s.lib").substr(before.size());
    ASSERT_EQ(stored.size(), 300u);
    for (size_t i = 0; i < 300; ++i)
        ASSERT_EQ(static_cast<uint8_t>(stored[i] ^ original[i]), 0x52) << i;
    ASSERT_EQ(FileOpen("|NEW", &h, s), 1);
    EXPECT_EQ(ReadAll(h), original);
}

TEST_F(MemberIoTest, PlainMembersAreStoredAsWritten) {
    Put("p.lib", Lib({}));
    const std::string before = dir.read("p.lib");
    const int16_t s = OpenLib("p.lib");
    int16_t h;
    ASSERT_EQ(FileCreate("|NEW", &h, s), 1);
    EXPECT_EQ(WriteText(h, "plain bytes"), 11);
    EXPECT_EQ(FileClose(h), 1);
    EXPECT_EQ(dir.read("p.lib").substr(before.size()), "plain bytes");
}

TEST_F(MemberIoTest, FailedWriteGivesTheCallerItsBytesBack) {
    if (!txplat::FaultsSupported()) GTEST_SKIP() << txtest::kNoFaultsReason;
    FixtureContainer spec = Lib({});
    spec.seed = 0x1234;
    Put("s.lib", spec);
    const int16_t s = OpenLib("s.lib");
    int16_t h;
    ASSERT_EQ(FileCreate("|NEW", &h, s), 1);
    std::string text = "caller's bytes";
    txplat::FaultInject("WriteFile", 112);
    EXPECT_EQ(FileWrite(h, text.data(), static_cast<uint16_t>(text.size())), 0);
    EXPECT_EQ(ErrorLastNumber(), 1016);
    EXPECT_EQ(text, "caller's bytes");
    EXPECT_EQ(g_current_record->written_size, 0);
    txplat::FaultInject("ReadFile", 5);
    std::string buffer(4, '\0');
    EXPECT_EQ(FileRead(h, buffer.data(), 4), 0);
}

TEST_F(MemberIoTest, WriteBackZeroesTheSlotsBeyondTheUsedCount) {
    FixtureContainer spec;
    spec.capacity = 60;
    for (int i = 0; i < 31; ++i)
        spec.members.push_back({txtest::Numbered("M", i), "d"});
    std::string bytes = txtest::BuildContainer(spec);
    for (size_t at = txtest::EntryAt(31); at < txtest::EntryAt(60); ++at)
        bytes[at] = '\x77';
    dir.write("a.lib", bytes);
    const int16_t s = OpenLib("a.lib");
    ASSERT_EQ(LibrarySelect(s), 1);
    ASSERT_EQ(DirectoryWriteBack(), 1);
    const std::string after = dir.read("a.lib");
    std::string expected = bytes;
    std::fill(expected.begin() + txtest::EntryAt(31), expected.begin() + txtest::EntryAt(60), '\0');
    EXPECT_EQ(after, expected);
}

TEST_F(MemberIoTest, ContainerAtABaseOffsetIsWrittenBackInPlace) {
    const std::string prefix = "MZ" + txtest::Pattern(498, 3);
    const std::string lib = txtest::BuildContainer(Lib({{"OLD", "old member"}}));
    dir.write("app.exe", prefix + lib);
    int16_t s, h;
    ASSERT_EQ(LibraryOpen(dir.win("app.exe").c_str(), &s, 0, 1, -1, -1, -1, 500), 1);
    ASSERT_EQ(FileCreate("|ADDED", &h, s), 1);
    EXPECT_EQ(WriteText(h, "appended"), 8);
    EXPECT_EQ(FileClose(h), 1);
    ASSERT_EQ(LibraryClose(s), 1);

    const std::string after = dir.read("app.exe");
    ASSERT_EQ(after.size(), prefix.size() + lib.size() + 8);
    EXPECT_EQ(after.substr(0, prefix.size()), prefix);
    const std::string inner = after.substr(prefix.size());
    EXPECT_EQ(inner.substr(0, 116), lib.substr(0, 116));
    EXPECT_EQ(txtest::Get16(inner, 116), 2);
    EXPECT_EQ(txtest::EntryName(inner, 1), "ADDED");
    EXPECT_EQ(txtest::Get32(inner, txtest::EntryAt(1) + 23), lib.size()); // container offset
    EXPECT_EQ(inner.substr(lib.size()), "appended");

    ASSERT_EQ(LibraryOpen(dir.win("app.exe").c_str(), &s, 0, 1, -1, -1, -1, 500), 1);
    ASSERT_EQ(FileOpen("|ADDED", &h, s), 1);
    EXPECT_EQ(ReadAll(h), "appended");
}

TEST_F(MemberIoTest, EntriesPointingOutsideTheContainerAreNeverRead) {
    FixtureContainer spec = Lib({{"GOOD", "good"}, {"WILD", "wild"}});
    std::string bytes = txtest::BuildContainer(spec);
    txtest::Put32(bytes, txtest::EntryAt(1) + 23, 0x7FFFFF00); // data offset far beyond the end
    dir.write("a.lib", bytes);
    const int16_t s = OpenLib("a.lib");
    int16_t h;
    ASSERT_EQ(FileOpen("|GOOD", &h, s), 1);
    EXPECT_EQ(FileOpen("|WILD", &h, s), 0);
    EXPECT_EQ(h, -1);
    EXPECT_EQ(ErrorLastNumber(), 1010);
    EXPECT_EQ(ReadAll(1000), "good"); // the member open before is still the current one
}

// Opening, creating and closing through virtual handles: handle numbers,
// the library search before and after the disk, member creation over an
// existing name, existence and size queries, and stamping.
#include "diskfile/filetime.h"
#include "layer_fixture.h"

#include <cstring>
#include <functional>
#include <iterator>
#include <tuple>

using namespace tx;
using txtest::FixtureContainer;
using txtest::FixtureMember;
using txtest::Lib;

namespace {

class OpenTest : public txtest::LayerTest {
  protected:
    int16_t Opened(const std::string& name) { return OpenLib(name); }
};

const std::vector<FixtureMember> kFive = {
    {"A", "a"}, {"B", "b"}, {"C", "c"}, {"D", "d"}, {"DATA.FIC", "member data"}};

} // namespace

TEST_F(OpenTest, MemberHandlesNameLibraryAndEntry) {
    Put("zero.lib", Lib(kFive));
    Put("one.lib", Lib({{"OTHER", "o"}}));
    Put("two.lib", Lib(kFive));
    const int16_t s0 = Opened("zero.lib");
    Opened("one.lib");
    const int16_t s2 = Opened("two.lib");
    SetLibrarySearch(0);
    int16_t h;
    ASSERT_EQ(FileOpen("|DATA.FIC", &h, s0), 1);
    EXPECT_EQ(h, 1004);
    ASSERT_EQ(FileOpen("|data.fic", &h, s2), 1);
    EXPECT_EQ(h, 3004);
    EXPECT_EQ(g_current_library, 2);
    EXPECT_EQ(ReadAll(1004), "member data"); // the handle selects its library again
    EXPECT_EQ(g_current_library, 0);
    EXPECT_EQ(FileClose(h), 1);

    SetErrorNumber(1);
    h = 77;
    EXPECT_EQ(FileOpen("|NONE", &h, s0), 0);
    EXPECT_EQ(h, -1);
    EXPECT_EQ(ErrorLastNumber(), 1012);
    EXPECT_EQ(FileOpen("|A", &h, 280), 0); // no such library: LibrarySelect raises
    EXPECT_EQ(ErrorLastNumber(), 1066);
}

TEST_F(OpenTest, LibrariesFirstAgainstADiskFileOfTheSameName) {
    Put("a.lib", Lib({{"DATA.FIC", "from the library"}}));
    Opened("a.lib");
    dir.write("DATA.FIC", "from the disk");
    dir.write("ONLYDISK.FIC", "disk only");
    const std::string path = dir.win("DATA.FIC");
    int16_t h;
    ASSERT_EQ(FileOpen(path.c_str(), &h, -1), 1); // libraries first, search on
    EXPECT_EQ(h, 1000);
    EXPECT_EQ(ReadAll(h), "from the library");

    SetLibrariesFirst(0);
    ASSERT_EQ(FileOpen(path.c_str(), &h, -1), 1);
    EXPECT_LT(h, 255);
    EXPECT_EQ(ReadAll(h), "from the disk");
    EXPECT_EQ(FileClose(h), 1);
    dir.write("DATA.FIC", "");
    std::filesystem::remove(dir.host("DATA.FIC"));
    ASSERT_EQ(FileOpen(path.c_str(), &h, -1), 1); // disk missing: the library after it
    EXPECT_EQ(h, 1000);

    SetLibrarySearch(0);
    EXPECT_EQ(FileOpen(path.c_str(), &h, -1), 0);
    EXPECT_EQ(ErrorLastNumber(), 1012);
    ASSERT_EQ(FileOpen(dir.win("ONLYDISK.FIC").c_str(), &h, -1), 1);
    EXPECT_EQ(FileClose(h), 1);

    // Creating never looks in the libraries.
    SetLibrarySearch(1);
    SetLibrariesFirst(1);
    ASSERT_EQ(FileCreate(path.c_str(), &h, -1), 1);
    EXPECT_LT(h, 255);
    EXPECT_EQ(WriteText(h, "new"), 3);
    EXPECT_EQ(FileClose(h), 1);
    EXPECT_EQ(dir.read("DATA.FIC"), "new");
}

TEST_F(OpenTest, MemberPathSearchesEarlierLibrariesFirst) {
    Put("a.lib", Lib({{"X", "in A"}}));
    Put("b.lib", Lib({{"X", "in B"}, {"Y", "y in B"}}));
    Opened("a.lib");
    const int16_t b = Opened("b.lib");
    int16_t h;
    ASSERT_EQ(FileOpen("|X", &h, b), 1);
    EXPECT_EQ(ReadAll(h), "in A");
    ASSERT_EQ(FileOpen("|Y", &h, b), 1);
    EXPECT_EQ(ReadAll(h), "y in B");
    SetLibrariesFirst(0);
    ASSERT_EQ(FileOpen("|X", &h, b), 1);
    EXPECT_EQ(ReadAll(h), "in B");
}

TEST_F(OpenTest, CreatingOverAnExistingNameWritesANewEntry) {
    Put("a.lib", Lib({{"KEEP", "keep"}, {"DATA.FIC", "old data"}}));
    const std::string before = dir.read("a.lib");
    const int16_t s = Opened("a.lib");
    int16_t h;
    ASSERT_EQ(FileCreate("|data.fic", &h, s), 1);
    EXPECT_EQ(h, 1002); // the entry at the used count
    EXPECT_EQ(WriteText(h, "new data!"), 9);
    EXPECT_EQ(FileClose(h), 1);

    const std::string after = dir.read("a.lib");
    const size_t data_end = before.size();
    ASSERT_EQ(after.size(), data_end + 9);
    EXPECT_EQ(after.substr(data_end), "new data!");
    EXPECT_EQ(txtest::Get16(after, 116), 3); // used count
    // The old entry: deleted, its other bytes as they were.
    const size_t old_at = txtest::EntryAt(1);
    EXPECT_EQ(static_cast<uint8_t>(after[old_at]), 0xE5);
    EXPECT_EQ(txtest::Get16(after, old_at + 17), 0);
    EXPECT_EQ(after.substr(old_at + 1, 16), before.substr(old_at + 1, 16));
    EXPECT_EQ(after.substr(old_at + 19),
              before.substr(old_at + 19, 48 - 19) + after.substr(old_at + 48));
    // The new entry, byte by byte.
    const size_t at = txtest::EntryAt(2);
    std::string expected(48, '\0');
    expected.replace(0, 8, "DATA.FIC");
    txtest::Put16(expected, 13, 0xFFFF);
    txtest::Put16(expected, 15, 0xFFFF);
    txtest::Put16(expected, 17, 1);
    txtest::Put32(expected, 19, 9);
    txtest::Put32(expected, 23, static_cast<uint32_t>(data_end));
    txtest::Put32(expected, 27, 9);
    expected[31] = 0x20;
    txtest::Put16(expected, 32, txtest::Get16(after, at + 32));
    txtest::Put16(expected, 34, txtest::Get16(after, at + 34));
    EXPECT_EQ(after.substr(at, 48), expected);
    EXPECT_NE(txtest::Get16(after, at + 34), 0); // stamped with today's date

    ASSERT_EQ(FileOpen("|DATA.FIC", &h, s), 1);
    EXPECT_EQ(ReadAll(h), "new data!");
    ASSERT_EQ(FileOpen("|KEEP", &h, s), 1);
    EXPECT_EQ(ReadAll(h), "keep");
}

TEST_F(OpenTest, RefusedCreatesLeaveTheContainerAsItWas) {
    FixtureContainer sorted = Lib({{"A", "a"}, {"B", "b"}});
    sorted.sorted = 1;
    sorted.capacity = 2;
    Put("sorted.lib", sorted);
    FixtureContainer odd = Lib({{"A", "a"}});
    odd.seed = 0x1234;
    odd.method = 2; // no key defined
    Put("odd.lib", odd);
    Put("plain.lib", Lib({{"A", "a"}}));
    const std::string sorted_bytes = dir.read("sorted.lib");
    const std::string odd_bytes = dir.read("odd.lib");
    const std::string plain_bytes = dir.read("plain.lib");
    const int16_t s1 = Opened("sorted.lib");
    const int16_t s2 = Opened("odd.lib");
    const int16_t s3 = Opened("plain.lib");
    SetLibrarySearch(0);
    int16_t h;
    EXPECT_EQ(FileCreate("|A", &h, s1), 0);
    EXPECT_EQ(ErrorLastNumber(), 1008);
    EXPECT_EQ(FileCreate("|A", &h, s2), 0);
    EXPECT_EQ(ErrorLastNumber(), 1010);
    EXPECT_EQ(FileOpen("|A", &h, s2), 0); // nor is it read
    EXPECT_EQ(ErrorLastNumber(), 1010);
    EXPECT_EQ(FileCreate("|THIRTEEN.CHAR", &h, s3), 0); // longer than an entry holds
    EXPECT_EQ(ErrorLastNumber(), 1010);
    EXPECT_EQ(h, -1);
    for (int16_t s : {s1, s2, s3})
        EXPECT_EQ(LibraryClose(s), 1);
    EXPECT_EQ(dir.read("sorted.lib"), sorted_bytes);
    EXPECT_EQ(dir.read("odd.lib"), odd_bytes);
    EXPECT_EQ(dir.read("plain.lib"), plain_bytes);
}

TEST_F(OpenTest, ExistenceAndSizeByPath) {
    Put("a.lib", Lib({{"MEMBER.TXT", "twelve bytes"}}));
    Opened("a.lib");
    dir.write("disk.txt", std::string(1234, 'd'));
    EXPECT_EQ(FileExists("    "), 0);
    EXPECT_EQ(FileExists(""), 0);
    EXPECT_EQ(FileExists(("  " + dir.win("disk.txt") + "  ").c_str()), 1);
    EXPECT_EQ(FileExists("|member.txt"), 1);
    EXPECT_EQ(FileExists(dir.win("MEMBER.TXT").c_str()), 1); // found in the library
    EXPECT_EQ(FileExists(dir.win("nothing.txt").c_str()), 0);
    EXPECT_EQ(FileExists(dir.win("").c_str()), 0); // a directory
    SetLibrarySearch(0);
    EXPECT_EQ(FileExists(dir.win("MEMBER.TXT").c_str()), 0);

    SelectLibrary(0);
    EXPECT_EQ(FileSizeOfPath("|MEMBER.TXT"), 12);
    EXPECT_EQ(FileSizeOfPath("|NOPE"), -1);
    EXPECT_EQ(FileSizeOfPath(dir.win("disk.txt").c_str()), 1234);
    EXPECT_EQ(FileSizeOfPath(dir.win("nothing.txt").c_str()), -1);
    SetLibrarySearch(1);
    EXPECT_EQ(FileSizeOfPath(dir.win("MEMBER.TXT").c_str()), 12);
    EXPECT_EQ(g_layer.report_errors, 1);
}

TEST_F(OpenTest, MemberDateTimeAndSizeByHandle) {
    Put("a.lib", Lib({{"M", "0123456789", 1, 0x2147, 0x6D44}}));
    const std::string before = dir.read("a.lib");
    const int16_t s = Opened("a.lib");
    int16_t h;
    ASSERT_EQ(FileOpen("|M", &h, s), 1);
    uint16_t date = 0, time = 0;
    uint32_t size = 0;
    EXPECT_EQ(FileGetDateTime(h, &date, &time), 1);
    EXPECT_EQ(date, 0x2147);
    EXPECT_EQ(time, 0x6D44);
    EXPECT_EQ(FileGetSize(h, &size), 1);
    EXPECT_EQ(size, 10u);
    // The opening put the member's date and time into the stamp record.
    EXPECT_EQ(g_layer.stamp.date, 0x2147);
    EXPECT_EQ(g_layer.stamp.time, 0x6D44);
    EXPECT_EQ(FileSetDateTime(h, 0x1111, 0x2222), 1);
    EXPECT_EQ(FileGetDateTime(h, &date, &time), 1);
    EXPECT_EQ(date, 0x1111);
    EXPECT_EQ(time, 0x2222);
    EXPECT_EQ(dir.read("a.lib"), before); // only the entry in memory changed
    EXPECT_EQ(FileByteLocked(h, 0), 0);
    EXPECT_EQ(FileClose(h), 1);
}

TEST_F(OpenTest, CreatedDiskFileTakesTheStampOfTheLastOpen) {
    Put("a.lib", Lib({{"SRC", "source", 1, 0x2147, 0x6D44}}));
    const int16_t s = Opened("a.lib");
    int16_t source, target;
    ASSERT_EQ(FileOpenRead("|SRC", &source, s), 1);
    ASSERT_EQ(FileCreate(dir.win("out.bin").c_str(), &target, -1), 1);
    EXPECT_EQ(g_layer.pending_stamp, 1);
    EXPECT_EQ(g_layer.stamp_now, 1);
    g_layer.stamp_now = 0; // as a copy does: the source's time, not the clock's
    EXPECT_EQ(WriteText(target, "copied"), 6);
    EXPECT_EQ(FileClose(target), 1);
    EXPECT_EQ(g_layer.pending_stamp, 0);
    FindRecord found{};
    ASSERT_EQ(DiskFindFirst(dir.win("out.bin").c_str(), &found, 0), 1);
    DiskFindClose(&found);
    EXPECT_EQ(found.when.year, 1996);
    EXPECT_EQ(found.when.month, 10);
    EXPECT_EQ(found.when.day, 7);
    EXPECT_EQ(found.when.hour, 13);
    EXPECT_EQ(found.when.minute, 42);
    EXPECT_EQ(found.when.second, 8);

    // An open of an existing file in between spends nothing but clears the
    // pending stamp: the created file keeps the time it was written.
    ASSERT_EQ(FileCreate(dir.win("second.bin").c_str(), &target, -1), 1);
    ASSERT_EQ(FileOpenRead("|SRC", &source, s), 1);
    EXPECT_EQ(FileClose(target), 1);
    ASSERT_EQ(DiskFindFirst(dir.win("second.bin").c_str(), &found, 0), 1);
    DiskFindClose(&found);
    EXPECT_NE(found.when.year, 1996);
}

TEST_F(OpenTest, ByteLockOfAnotherHolder) {
    dir.write("locked.bin", "MZ........");
    int16_t mine, other;
    ASSERT_EQ(FileOpen(dir.win("locked.bin").c_str(), &mine, -1), 1);
    ASSERT_EQ(DiskOpen(dir.win("locked.bin").c_str(), 15, &other), 1);
    EXPECT_EQ(FileByteLocked(mine, 0), 0);
    ASSERT_EQ(DiskLock(other, 0, 1), 1);
    EXPECT_EQ(FileByteLocked(mine, 0), 1);
    EXPECT_EQ(FileByteLocked(mine, 1), 0);
    DiskUnlock(other, 0, 1);
    DiskClose(other);
    EXPECT_EQ(FileClose(mine), 1);
    EXPECT_EQ(FileClose(mine), 0); // already closed
    EXPECT_EQ(ErrorLastNumber(), 1020);
    EXPECT_EQ(FileLockingWorks((dir.win("") + "\\").c_str()), 1);
    EXPECT_EQ(FileLockingWorks((dir.win("missing") + "\\").c_str()), 0);
}

TEST_F(OpenTest, CreateThatCannotBePositionedLeavesTheOldMember) {
    if (!txplat::FaultsSupported()) GTEST_SKIP() << txtest::kNoFaultsReason;
    FixtureContainer spec;
    spec.members = {{"OLD", "old"}};
    Put("a.lib", spec);
    const int16_t s = OpenLib("a.lib");
    int16_t old, h;
    ASSERT_EQ(FileOpen("|OLD", &old, s), 1);
    txplat::FaultInject("SetFilePointer", 6);
    EXPECT_EQ(FileCreate("|OLD", &h, s), 0);
    txplat::FaultClear();
    EXPECT_EQ(FileClose(old), 1); // commits nothing
    ASSERT_EQ(FileOpen("|OLD", &h, s), 1);
    EXPECT_EQ(ReadAll(h), "old");
}

TEST_F(OpenTest, MemberBeingCreatedOutlivesLookupsInItsLibrary) {
    Put("a.lib", Lib({{"OLD", "old"}}));
    const std::string before = dir.read("a.lib");
    dir.write("unrelated.txt", "disk");
    const int16_t s = Opened("a.lib");
    int16_t h, other;
    ASSERT_EQ(FileCreate("|NEW", &h, s), 1);
    EXPECT_EQ(WriteText(h, "seven b"), 7);
    // Searches, existence tests and size queries look into the library on
    // the way; none of them may drop the member.
    ASSERT_EQ(FileOpen(dir.win("unrelated.txt").c_str(), &other, -1), 1);
    EXPECT_LT(other, 255);
    EXPECT_EQ(FileClose(other), 1);
    EXPECT_EQ(FileExists("|NONE"), 0);
    EXPECT_EQ(FileExists(dir.win("OLD").c_str()), 1);
    SelectLibrary(0);
    EXPECT_EQ(FileSizeOfPath("|OLD"), 3);
    // Opening or creating another member would take its place: refused.
    EXPECT_EQ(FileOpen("|OLD", &other, s), 0);
    EXPECT_EQ(ErrorLastNumber(), 1008);
    EXPECT_EQ(FileCreate("|SECOND", &other, s), 0);
    EXPECT_EQ(ErrorLastNumber(), 1008);
    EXPECT_EQ(other, -1);

    EXPECT_EQ(FileClose(h), 1);
    const std::string after = dir.read("a.lib");
    EXPECT_EQ(txtest::Get16(after, 116), 2); // used count
    EXPECT_EQ(after.substr(before.size()), "seven b");
    EXPECT_EQ(FileExists("|NEW"), 1);
    ASSERT_EQ(FileOpen("|NEW", &h, s), 1);
    EXPECT_EQ(ReadAll(h), "seven b");
    ASSERT_EQ(FileOpen("|OLD", &h, s), 1); // the library takes opens again
    EXPECT_EQ(ReadAll(h), "old");
}

TEST_F(OpenTest, MemberHandleOfALibraryWithNoMemberOpenClosesWithNothingToDo) {
    Put("a.lib", Lib({{"OLD", "old"}}));
    const std::string before = dir.read("a.lib");
    const int16_t s = Opened("a.lib");
    g_layer.pending_stamp = 1;
    EXPECT_EQ(FileClose(static_cast<int16_t>((s - 255 + 1) * 1000)), 1);
    EXPECT_EQ(g_layer.pending_stamp, 0);
    EXPECT_EQ(LibraryClose(s), 1);
    EXPECT_EQ(dir.read("a.lib"), before);
    // A library that is not open names nothing to close.
    g_layer.pending_stamp = 1;
    EXPECT_EQ(FileClose(1000), 0);
    EXPECT_EQ(g_layer.pending_stamp, 1);
}

TEST_F(OpenTest, MemberQueriesWithoutAnOpenMemberFailAsAnInvalidHandle) {
    Put("a.lib", Lib({{"M", "0123456789"}}));
    const int16_t s = Opened("a.lib");
    uint16_t date, time;
    uint32_t size;
    const std::function<int(int16_t)> queries[] = {
        [&](int16_t h) { return FileGetDateTime(h, &date, &time); },
        [&](int16_t h) { return FileGetSize(h, &size); },
        [&](int16_t h) { return FileSetDateTime(h, 0x2147, 0); }};
    // A library open with no member open, and a library that is not open.
    for (int handle : {(s - 255 + 1) * 1000, 7000}) {
        for (size_t query = 0; query < std::size(queries); ++query) {
            SCOPED_TRACE(std::to_string(handle) + " query " + std::to_string(query));
            DiskSeek(-1, 0, 9); // leaves 87 behind
            EXPECT_EQ(queries[query](static_cast<int16_t>(handle)), 0);
            EXPECT_EQ(DiskLastError(), ERROR_INVALID_HANDLE);
        }
    }
}

// a.lib holds X, or is writing X, or neither: only then does b.lib's X answer.
TEST_F(OpenTest, BusySearchListLibraryStopsTheSearchForANameItHolds) {
    for (const auto& [held, written, answer] :
         {std::tuple{"X", "|NEW", "1008"}, {"OTHER", "|X", "1008"}, {"OTHER", "|NEW", "in B"}}) {
        TearDown();
        SetUp();
        Put("a.lib", Lib({{held, "in A"}}));
        Put("b.lib", Lib({{"X", "in B"}}));
        int16_t writing, h;
        ASSERT_EQ(FileCreate(written, &writing, Opened("a.lib")), 1);
        SetErrorNumber(1);
        const int opened = FileOpen("|X", &h, Opened("b.lib"));
        EXPECT_EQ(opened ? ReadAll(h) : std::to_string(ErrorLastNumber()), answer) << written;
        EXPECT_EQ(FileClose(writing), 1);
    }
}

// INNER.LIB, a container in a.lib, shares a.lib's file: opened while NEW is
// written it is refused; opened before, its reads move the file between the
// writes, and the writes between its reads.
TEST_F(OpenTest, MemberWriteKeepsItsPlaceWhenTheContainerFileIsUsedInBetween) {
    const std::string inner = txtest::BuildContainer(Lib({{"X", "inner data"}}));
    const std::string inner_path = dir.win("INNER.LIB"); // no such disk file
    for (const bool nested_first : {false, true}) {
        TearDown();
        SetUp();
        Put("a.lib", Lib({{"INNER.LIB", inner}}));
        const int16_t s = Opened("a.lib");
        int16_t nested = -1, h, x;
        const int early = nested_first && LibraryOpenExisting(inner_path.c_str(), &nested, -1);
        ASSERT_EQ(FileCreate("|NEW", &h, s) + early, 1 + nested_first);
        EXPECT_EQ(WriteText(h, "first"), 5);
        SetErrorNumber(1);
        if (nested_first && FileOpen("|X", &x, nested)) {
            char part[6] = {};
            EXPECT_EQ(FileRead(x, part, 5) + WriteText(h, "sec"), 8);
            EXPECT_EQ(std::string(part) + ReadAll(x), "inner data");
            EXPECT_EQ(WriteText(h, "ond"), 3);
        } else if (!nested_first) {
            EXPECT_EQ(LibraryOpenExisting(inner_path.c_str(), &nested, -1), 0);
            EXPECT_EQ(ErrorLastNumber(), 1008);
            EXPECT_EQ(WriteText(h, "second"), 6);
        }
        EXPECT_EQ(FileClose(h), 1);
        EXPECT_TRUE(dir.read("a.lib").compare(txtest::EntryAt(8), inner.size(), inner) == 0);
        ASSERT_EQ(FileOpen("|NEW", &h, s), 1);
        EXPECT_EQ(ReadAll(h), "firstsecond") << nested_first;
    }
}

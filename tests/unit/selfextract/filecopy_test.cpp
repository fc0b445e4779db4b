// Copying files between disk and libraries: chunking, dates and times in all
// four directions, the locked first byte of an executable, and the failures
// that must neither report success nor leave a partial copy behind.
#include "diskfile/filetime.h"
#include "layer_fixture.h"

using namespace tx;
using txtest::FixtureContainer;
using txtest::FixtureMember;
using txtest::Lib;

namespace {

using Fat = std::pair<uint16_t, uint16_t>; // FAT date and time words

constexpr uint16_t kDate = 0x2147; // 7 October 1996
constexpr uint16_t kTime = 0x6D44; // 13:42:08

class FileCopyTest : public txtest::LayerTest {
  protected:
    // The FAT date and time of a disk file.
    static std::pair<uint16_t, uint16_t> Stamp(const std::string& path) {
        FindRecord record{};
        EXPECT_EQ(DiskFindFirst(path.c_str(), &record, 0), 1) << path;
        DiskFindClose(&record);
        return {PackFatDate(record.when), PackFatTime(record.when)};
    }

    static void SetStamp(const std::string& path, uint16_t date, uint16_t time) {
        int16_t h;
        ASSERT_EQ(DiskOpen(path.c_str(), kDiskRead | kDiskWrite, &h), 1);
        ASSERT_EQ(DiskSetFileTime(h, UnpackFatDateTime(date, time)), 1);
        DiskClose(h);
    }

    // Disk handles still open: a copy leaves none behind.
    static int OpenDiskHandles() {
        int open = 0;
        for (int16_t h = 2; h <= 141; ++h)
            if (DiskSystemHandle(h) != INVALID_HANDLE_VALUE) ++open;
        return open;
    }
};

} // namespace

TEST_F(FileCopyTest, MemberToDiskInChunksWithTheMembersDateAndTime) {
    const std::string data = txtest::Pattern(150000, 3);
    Put("app.lib", Lib({{"SMALL", "x"}, {"TX413EXE.DLL", data}}));
    const int16_t s = OpenLib("app.lib");
    const int before = OpenDiskHandles();
    txplat::FaultClear();
    const std::string target = dir.win("TX413EXE.DLL");
    EXPECT_EQ(FileCopy(-1, s, target.c_str(), target.c_str(), nullptr), 1);
    if (txplat::FaultsSupported()) {
        EXPECT_EQ(txplat::CallSizes("ReadFile"), (std::vector<uint32_t>{65000, 65000, 20000}));
    }
    EXPECT_EQ(dir.read("TX413EXE.DLL"), data);
    EXPECT_EQ(Stamp(target), Fat(kDate, kTime));
    EXPECT_EQ(OpenDiskHandles(), before);
    EXPECT_EQ(g_layer.stamp_now, 1);
    EXPECT_EQ(g_layer.pending_stamp, 0);
}

TEST_F(FileCopyTest, EmptySources) {
    Put("app.lib", Lib({{"EMPTY", ""}}));
    const int16_t s = OpenLib("app.lib");
    SetErrorNumber(1);
    EXPECT_EQ(FileCopy(-1, s, dir.win("EMPTY").c_str(), nullptr, nullptr), 1);
    EXPECT_TRUE(std::filesystem::exists(dir.host("EMPTY")));
    EXPECT_EQ(dir.read("EMPTY"), "");
    EXPECT_EQ(ErrorLastNumber(), 1019); // the empty member's first read

    dir.write("empty.txt", "");
    SetLibrarySearch(0); // so that no library is asked for the disk file
    SetErrorNumber(1);
    EXPECT_EQ(FileCopy(-1, -1, dir.win("copy.txt").c_str(), dir.win("empty.txt").c_str(), nullptr),
              1);
    EXPECT_EQ(dir.read("copy.txt"), "");
    EXPECT_EQ(ErrorLastNumber(), 1);
}

TEST_F(FileCopyTest, DiskToDiskAndIntoAndBetweenLibraries) {
    const std::string data = txtest::Pattern(70000, 5);
    dir.write("SOURCE.DAT", data);
    SetStamp(dir.win("SOURCE.DAT"), 0x2A21, 0x5A10);
    SetLibrarySearch(0);
    // Both selectors -1: the second path is the source.
    EXPECT_EQ(FileCopy(-1, -1, dir.win("COPY.DAT").c_str(), dir.win("SOURCE.DAT").c_str(), nullptr),
              1);
    EXPECT_EQ(dir.read("COPY.DAT"), data);
    EXPECT_EQ(Stamp(dir.win("COPY.DAT")), Fat(0x2A21, 0x5A10));

    // Disk into a library: the member takes the file's name, date and time.
    Put("a.lib", Lib({{"OTHER", "o"}}));
    Put("b.lib", Lib({{"OTHER", "o"}}));
    const int16_t a = OpenLib("a.lib");
    const int16_t b = OpenLib("b.lib");
    EXPECT_EQ(FileCopy(a, -1, dir.win("SOURCE.DAT").c_str(), nullptr, nullptr), 1);
    int16_t h;
    ASSERT_EQ(FileOpen("|SOURCE.DAT", &h, a), 1);
    uint16_t date, time;
    FileGetDateTime(h, &date, &time);
    EXPECT_EQ(date, 0x2A21);
    EXPECT_EQ(time, 0x5A10);
    FileClose(h);

    // Member to member, under a new name; the member named after the path in
    // the destination is left alone.
    EXPECT_EQ(FileCopy(b, a, "C:\\ANY\\SOURCE.DAT", nullptr, "renamed.dat"), 1);
    ASSERT_EQ(FileOpen("|RENAMED.DAT", &h, b), 1);
    std::string back(70000, '\0');
    EXPECT_EQ(FileReadExact(h, back.data(), 65000), 1);
    EXPECT_EQ(FileReadExact(h, back.data() + 65000, 5000), 1);
    EXPECT_EQ(back, data);
    FileGetDateTime(h, &date, &time);
    EXPECT_EQ(date, 0x2A21);
    FileClose(h);
    EXPECT_EQ(FileOpen("|OTHER", &h, b), 1);
    FileClose(h);
    // The container on disk holds it after the libraries are closed.
    ASSERT_EQ(LibraryClose(b), 1);
    const int16_t again = OpenLib("b.lib");
    EXPECT_EQ(FileSizeOfPath("|RENAMED.DAT"), 70000);
    LibraryClose(again);
}

TEST_F(FileCopyTest, RefusedBeforeAnythingIsCreated) {
    Put("a.lib", Lib({{"M.DLL", "member"}}));
    const int16_t a = OpenLib("a.lib");
    dir.write("self.txt", "keep me");
    txplat::MessageBoxesClear();
    SetErrorNumber(1);
    // A source selector naming no open library: quiet.
    EXPECT_EQ(FileCopy(-1, 260, dir.win("M.DLL").c_str(), nullptr, nullptr), 0);
    EXPECT_EQ(ErrorLastNumber(), 1);
    EXPECT_TRUE(txplat::MessageBoxes().empty());
    // A member into its own library; a disk file onto itself; a new name for
    // a disk file; a path longer than a working path.
    EXPECT_EQ(FileCopy(a, a, "M.DLL", nullptr, "N.DLL"), 0);
    EXPECT_EQ(FileCopy(-1, -1, dir.win("SELF.TXT").c_str(), dir.win("self.txt").c_str(), nullptr),
              0);
    EXPECT_EQ(FileCopy(-1, a, dir.win("M.DLL").c_str(), nullptr, "N.DLL"), 0);
    const std::string long_path = dir.win(std::string(270 - dir.win().size(), 'x'));
    EXPECT_EQ(FileCopy(-1, -1, long_path.c_str(), dir.win("self.txt").c_str(), nullptr), 0);
    EXPECT_FALSE(std::filesystem::exists(dir.host("M.DLL")));
    EXPECT_EQ(dir.read("self.txt"), "keep me");
    ASSERT_EQ(LibrarySelect(a), 1);
    EXPECT_EQ(FileSizeOfPath("|N.DLL"), -1);
    EXPECT_EQ(FileSizeOfPath("|M.DLL"), 6);
}

TEST_F(FileCopyTest, LockedFirstByteIsCopiedAsM) {
    std::string data = txtest::Pattern(100, 9);
    data[0] = 'X';
    dir.write("RUNNING.EXE", data);
    int16_t holder;
    ASSERT_EQ(DiskOpen(dir.win("RUNNING.EXE").c_str(), kDiskRead | kDiskForceShare, &holder), 1);
    ASSERT_EQ(DiskLock(holder, 0, 1), 1);
    SetLibrarySearch(0);
    EXPECT_EQ(
        FileCopy(-1, -1, dir.win("COPY.EXE").c_str(), dir.win("RUNNING.EXE").c_str(), nullptr), 1);
    std::string expected = data;
    expected[0] = 'M';
    EXPECT_EQ(dir.read("COPY.EXE"), expected);
    DiskUnlock(holder, 0, 1);
    DiskClose(holder);
}

TEST_F(FileCopyTest, LockedFirstByteWhereLockingDoesNotWork) {
    if (!txplat::FaultsSupported()) GTEST_SKIP() << txtest::kNoFaultsReason;
    const std::string data = "Xrest of the file";
    dir.write("RUNNING.EXE", data);
    SetLibrarySearch(0);
    // The byte test fails and so does the probe: the byte is read as it is.
    txplat::FaultInject("LockFile", 33, 0, 2);
    EXPECT_EQ(
        FileCopy(-1, -1, dir.win("COPY.EXE").c_str(), dir.win("RUNNING.EXE").c_str(), nullptr), 1);
    EXPECT_EQ(dir.read("COPY.EXE"), data);
}

TEST_F(FileCopyTest, FailurePartWayLeavesNoCopy) {
    if (!txplat::FaultsSupported()) GTEST_SKIP() << txtest::kNoFaultsReason;
    const std::string data = txtest::Pattern(150000, 4);
    Put("app.lib", Lib({{"MOD.DLL", data}}));
    Put("dest.lib", Lib({{"OTHER", "o"}}));
    const int16_t s = OpenLib("app.lib");
    const int16_t d = OpenLib("dest.lib");
    const int before = OpenDiskHandles();
    const std::string target = dir.win("MOD.DLL");

    // The second chunk's read fails.
    txplat::FaultInject("ReadFile", 5, 1);
    EXPECT_EQ(FileCopy(-1, s, target.c_str(), nullptr, nullptr), 0);
    EXPECT_FALSE(std::filesystem::exists(dir.host("MOD.DLL")));
    EXPECT_EQ(OpenDiskHandles(), before);
    EXPECT_EQ(g_layer.stamp_now, 1);

    // A write fails: the disk is full.
    txplat::FaultClear();
    txplat::FaultInject("WriteFile", 112, 20); // in the second chunk
    EXPECT_EQ(FileCopy(-1, s, target.c_str(), nullptr, nullptr), 0);
    EXPECT_FALSE(std::filesystem::exists(dir.host("MOD.DLL")));
    EXPECT_EQ(OpenDiskHandles(), before);

    // Into a library: the partial member does not stay a member.
    txplat::FaultClear();
    txplat::FaultInject("ReadFile", 5, 2);
    EXPECT_EQ(FileCopy(d, s, target.c_str(), nullptr, nullptr), 0);
    txplat::FaultClear();
    SetLibrarySearch(0);
    int16_t h;
    EXPECT_EQ(FileOpen("|MOD.DLL", &h, d), 0);
    EXPECT_EQ(FileOpen("|OTHER", &h, d), 1);
    FileClose(h);
    EXPECT_EQ(OpenDiskHandles(), before);
}

TEST_F(FileCopyTest, FromALibraryNestedInTheDestination) {
    const std::string data = txtest::Pattern(70000, 6);
    FixtureContainer inner = Lib({{"BIG.DAT", data}});
    inner.kind = 1;
    Put("outer.lib", Lib({{"IN.LIB", txtest::BuildContainer(inner)}}));
    const int16_t o = OpenLib("outer.lib");
    SetLibrariesFirst(0);
    int16_t n, h;
    ASSERT_EQ(LibraryOpenExisting(dir.win("IN.LIB").c_str(), &n, -1), 1);
    // Both libraries read and write through the one container file.
    EXPECT_EQ(FileCopy(o, n, "C:\\BIG.DAT", nullptr, nullptr), 1);
    ASSERT_EQ(FileOpen("|BIG.DAT", &h, o), 1);
    std::string back(70000, '\0');
    EXPECT_EQ(FileReadExact(h, back.data(), 65000), 1);
    EXPECT_EQ(FileReadExact(h, back.data() + 65000, 5000), 1);
    EXPECT_EQ(back, data);
}

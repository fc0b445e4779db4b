// The handle table: numbering, reuse, capacity, the init and term counts, and
// what open, create, close and delete leave in the last disk error.
#include "diskfile/filetime.h"
#include "fixture.h"

#include <filesystem>
#include <vector>

using namespace tx;
using txtest::DiskTest;

namespace {

// "f<i>", built by appending (GCC 12 mistakes the prepending form for an overlap).
std::string Numbered(int i) {
    std::string name = "f";
    name += std::to_string(i);
    return name;
}

TEST_F(DiskTest, NumbersAreReusedLastInFirstOut) {
    int16_t a = Create("a");
    int16_t b = Create("b");
    EXPECT_EQ(a, 2);
    EXPECT_EQ(b, 3);
    ASSERT_EQ(DiskClose(a), 1);
    EXPECT_EQ(Create("c"), 2);

    ASSERT_EQ(DiskClose(3), 1);
    ASSERT_EQ(DiskClose(2), 1);
    EXPECT_EQ(Create("d"), 2);
    EXPECT_EQ(Create("e"), 3);
    EXPECT_EQ(Create("f"), 4);
}

TEST_F(DiskTest, FullTableRefusesWithoutTouchingTheFile) {
    std::vector<int16_t> open;
    for (int i = 0; i < 140; ++i)
        open.push_back(Create(Numbered(i)));
    EXPECT_EQ(open.front(), 2);
    EXPECT_EQ(open.back(), 141);

    dir.write("keep", "precious");
    MarkLastError();
    long creates = txplat::CallCount("CreateFileA");
    int16_t h = 7;
    EXPECT_EQ(DiskCreate(dir.win("keep").c_str(), 15, &h), 0);
    EXPECT_EQ(h, -1);
    EXPECT_EQ(DiskLastError(), 87);
    // Nothing was opened, so nothing leaks and the existing file is not emptied.
    EXPECT_EQ(txplat::CallCount("CreateFileA"), creates);
    EXPECT_EQ(dir.read("keep"), "precious");

    // One close makes room again, for the number just closed.
    ASSERT_EQ(DiskClose(77), 1);
    EXPECT_EQ(DiskOpen(dir.win("keep").c_str(), 13, &h), 1);
    EXPECT_EQ(h, 77);
}

TEST_F(DiskTest, InitAndTermAreCounted) {
    int16_t h = Create("a");
    HANDLE system = DiskSystemHandle(h);
    ASSERT_NE(system, INVALID_HANDLE_VALUE);
    long allocs = txplat::CallCount("GlobalAlloc");

    EXPECT_EQ(DiskInitHandles(140), 1); // builds nothing
    EXPECT_EQ(txplat::CallCount("GlobalAlloc"), allocs);
    EXPECT_EQ(DiskSystemHandle(h), system);

    EXPECT_EQ(DiskTermHandles(), 1); // the table survives the first
    EXPECT_EQ(DiskSystemHandle(h), system);
    EXPECT_EQ(DiskTermHandles(), 1); // and goes with the second
    EXPECT_EQ(DiskSystemHandle(h), INVALID_HANDLE_VALUE);
    EXPECT_EQ(DiskTermHandles(), 0); // nothing left to count down

    // The last term closed the file it left open: it can be deleted now, which
    // Windows refuses for a file still open without delete sharing.
    EXPECT_TRUE(DeleteFileA(dir.win("a").c_str()));
    EXPECT_EQ(DiskInitHandles(140), 1);
}

TEST_F(DiskTest, CapacityOutsideTheHandleRangeIsRefused) {
    ASSERT_EQ(DiskTermHandles(), 1);
    EXPECT_EQ(DiskInitHandles(0), 0);
    EXPECT_EQ(DiskInitHandles(254), 0); // its last handle would be 255
    ASSERT_EQ(DiskInitHandles(253), 1);
    for (int i = 0; i < 253; ++i)
        Create(Numbered(i));
    int16_t h = 0;
    EXPECT_EQ(DiskCreate(dir.win("x").c_str(), 15, &h), 0);
    EXPECT_NE(DiskSystemHandle(254), INVALID_HANDLE_VALUE);
    EXPECT_EQ(DiskSystemHandle(255), INVALID_HANDLE_VALUE);
}

TEST_F(DiskTest, OperationsAfterFailedInitFailCleanly) {
    SKIP_WITHOUT_FAULTS();
    ASSERT_EQ(DiskTermHandles(), 1);

    txplat::FaultInject("GlobalAlloc", ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(DiskInitHandles(140), 0);
    txplat::FaultInject("GlobalLock", ERROR_INVALID_HANDLE);
    long frees = txplat::CallCount("GlobalFree");
    EXPECT_EQ(DiskInitHandles(140), 0);
    EXPECT_EQ(txplat::CallCount("GlobalFree"), frees + 1); // the unlockable block is given back

    int16_t h = 5;
    EXPECT_EQ(DiskCreate(dir.win("a").c_str(), 15, &h), 0);
    EXPECT_EQ(h, -1);
    EXPECT_EQ(txplat::CallCount("CreateFileA"), 0);
    EXPECT_FALSE(std::filesystem::exists(dir.host("a")));
    EXPECT_EQ(DiskSystemHandle(2), INVALID_HANDLE_VALUE);
    EXPECT_EQ(DiskClose(2), 0);
    char byte;
    EXPECT_EQ(DiskRead(2, &byte, 1), 0);
    EXPECT_EQ(DiskLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(DiskTermHandles(), 0);

    // A failed init counted nothing: the next one builds the table.
    ASSERT_EQ(DiskInitHandles(140), 1);
    EXPECT_EQ(Create("a"), 2);
}

TEST_F(DiskTest, CreateEmptiesAndOpenNeedsTheFile) {
    dir.write("a", "old contents");
    int16_t h = Create("a");
    uint32_t size = 99;
    EXPECT_EQ(DiskSeek(h, 0, 2, &size), 1);
    EXPECT_EQ(size, 0u);
    ASSERT_EQ(DiskClose(h), 1);

    h = 9;
    EXPECT_EQ(DiskOpen(dir.win("missing").c_str(), 13, &h), 0);
    EXPECT_EQ(h, -1);
    EXPECT_EQ(DiskLastError(), 2);
    EXPECT_EQ(DiskOpen(dir.win("no\\such\\dir").c_str(), 13, &h), 0);
    EXPECT_EQ(DiskLastError(), 3);
    EXPECT_FALSE(std::filesystem::exists(dir.host("missing")));

    EXPECT_EQ(DiskOpen(dir.win("a").c_str(), 13, &h), 1);
    EXPECT_EQ(DiskLastError(), 0);
}

TEST_F(DiskTest, FileHeldWithoutSharingReadsAsMissing) {
    dir.write("held", "x");
    HANDLE holder = INVALID_HANDLE_VALUE;
    if (txplat::FaultsSupported()) {
        // Linux does not enforce share modes; the system's answer is made up.
        txplat::FaultInject("CreateFileA", ERROR_SHARING_VIOLATION);
    } else {
        holder = CreateFileA(dir.win("held").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                             nullptr);
        ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    }
    int16_t h = 0;
    EXPECT_EQ(DiskOpen(dir.win("held").c_str(), 13, &h), 0);
    EXPECT_EQ(h, -1);
    EXPECT_EQ(DiskLastError(), 2);
    if (holder != INVALID_HANDLE_VALUE) CloseHandle(holder);
}

TEST_F(DiskTest, OpenFlagsAndTheSharedOpenSwitchReachCreateFileA) {
    EXPECT_EQ(DiskSetSharedOpen(1), 0);
    EXPECT_EQ(DiskSetSharedOpen(0), 1);
    dir.write("f", "x");
    std::string path = dir.win("f");
    if (txplat::FaultsSupported()) {
        // Linux cannot refuse a second open, so what CreateFileA was asked
        // is what tells.
        constexpr uint32_t kRead = GENERIC_READ, kBoth = GENERIC_READ | GENERIC_WRITE;
        const struct {
            bool create;
            uint16_t flags;
            int shared_open;
            uint32_t access, share, disposition;
        } cases[] = {
            {false, 1, 0, kRead, 0, OPEN_EXISTING},
            {false, 1 | 4, 0, kRead, FILE_SHARE_READ, OPEN_EXISTING},
            {false, 3 | 8, 0, kBoth, FILE_SHARE_WRITE, OPEN_EXISTING},
            {false, 1 | 0x20, 0, kRead, 3, OPEN_EXISTING},
            {false, 1, 1, kRead, 3, OPEN_EXISTING},
            {false, 1 | 0x10 | 0x40, 0, kRead, 0, OPEN_EXISTING}, // other bits are ignored
            {true, 15, 0, kBoth, 3, CREATE_ALWAYS},
            {true, 2 | 0x8000, 1, GENERIC_WRITE, 3, OPEN_EXISTING},
        };
        for (const auto& c : cases) {
            SCOPED_TRACE(std::to_string(c.flags) + (c.create ? " create" : " open") +
                         (c.shared_open ? " shared" : ""));
            DiskSetSharedOpen(c.shared_open);
            txplat::FaultClear();
            int16_t h = -1;
            ASSERT_EQ((c.create ? DiskCreate : DiskOpen)(path.c_str(), c.flags, &h), 1);
            DiskClose(h);
            const std::vector<txplat::CreateFileCall> calls = txplat::CreateFileCalls();
            ASSERT_EQ(calls.size(), 1u);
            EXPECT_EQ(calls[0].access, c.access);
            EXPECT_EQ(calls[0].share, c.share);
            EXPECT_EQ(calls[0].disposition, c.disposition);
            EXPECT_EQ(calls[0].flags, static_cast<uint32_t>(FILE_FLAG_RANDOM_ACCESS));
        }
        DiskSetSharedOpen(0);
        return;
    }

    // Windows enforces the share modes.
    int16_t first = 0, second = 0;
    ASSERT_EQ(DiskOpen(path.c_str(), 1, &first), 1); // read, no sharing
    EXPECT_EQ(DiskOpen(path.c_str(), 1, &second), 0);
    EXPECT_EQ(DiskLastError(), 2);
    ASSERT_EQ(DiskClose(first), 1);

    DiskSetSharedOpen(1);
    ASSERT_EQ(DiskOpen(path.c_str(), 1, &first), 1);
    EXPECT_EQ(DiskOpen(path.c_str(), 3, &second), 1);
    DiskSetSharedOpen(0);
    DiskClose(first);
    DiskClose(second);

    ASSERT_EQ(DiskOpen(path.c_str(), 1 | 0x20, &first), 1);
    EXPECT_EQ(DiskOpen(path.c_str(), 3 | 0x20, &second), 1);
}

TEST_F(DiskTest, CloseOfAClosedHandleLeavesTheErrorAlone) {
    int16_t h = Create("a");
    ASSERT_EQ(DiskClose(h), 1);
    MarkLastError();
    EXPECT_EQ(DiskClose(h), 0);
    EXPECT_EQ(DiskClose(0), 0);
    EXPECT_EQ(DiskClose(1), 0);
    EXPECT_EQ(DiskClose(142), 0);
    EXPECT_EQ(DiskClose(-1), 0);
    EXPECT_EQ(DiskLastError(), 87);
    EXPECT_EQ(DiskSystemHandle(h), INVALID_HANDLE_VALUE);
}

TEST_F(DiskTest, FailedSystemCloseStillFreesTheHandle) {
    SKIP_WITHOUT_FAULTS();
    int16_t a = Create("a");
    int16_t b = Create("b");
    txplat::FaultInject("CloseHandle", ERROR_GEN_FAILURE);
    EXPECT_EQ(DiskClose(a), 0);
    EXPECT_EQ(DiskLastError(), ERROR_GEN_FAILURE);
    EXPECT_EQ(DiskSystemHandle(a), INVALID_HANDLE_VALUE);
    EXPECT_EQ(Create("c"), a);
    EXPECT_EQ(DiskClose(b), 1);
    EXPECT_EQ(DiskLastError(), 0);
}

TEST_F(DiskTest, DeleteReportsMissingFilesAs2) {
    dir.write("a", "x");
    EXPECT_EQ(DiskDelete(dir.win("a").c_str()), 1);
    EXPECT_EQ(DiskLastError(), 0);
    EXPECT_FALSE(std::filesystem::exists(dir.host("a")));
    EXPECT_EQ(DiskDelete(dir.win("a").c_str()), 0);
    EXPECT_EQ(DiskLastError(), 2);
}

TEST_F(DiskTest, CriticalErrorModeIsPutBackOnEveryPath) {
    UINT outer = SEM_NOGPFAULTERRORBOX;
    UINT saved = SetErrorMode(outer);
    int16_t h = 0;
    DiskOpen(dir.win("missing").c_str(), 13, &h);
    DiskCreate(dir.win("new").c_str(), 15, &h);
    DiskDelete(dir.win("missing").c_str());
    DiskIsRegularFile(dir.win("new").c_str());
    DateTimeRecord when{};
    DiskGetFileTime(h, &when);
    DiskSetFileTime(h, {2000, 1, 1, 0, 0, 0});
    DiskGetFileTime(99, &when);
    FindRecord record{};
    DiskFindFirst(dir.win("*").c_str(), &record, 0);
    DiskFindClose(&record);
    DiskFindFirst(dir.win("none\\*").c_str(), &record, 0);
    DiskWrite(h, "x", 1);
    EXPECT_EQ(SetErrorMode(saved), outer);
    // Boxes are off during the calls that may touch a drive, and only then.
    const struct {
        const char* call;
        UINT mode;
    } calls[] = {{"CreateFileA", SEM_FAILCRITICALERRORS},
                 {"DeleteFileA", SEM_FAILCRITICALERRORS},
                 {"_stat", SEM_FAILCRITICALERRORS},
                 {"GetFileTime", SEM_FAILCRITICALERRORS},
                 {"SetFileTime", SEM_FAILCRITICALERRORS},
                 {"FindFirstFileA", SEM_FAILCRITICALERRORS},
                 {"WriteFile", outer}};
    for (const auto& c : calls) {
        if (!txplat::FaultsSupported()) break; // the calls are not observed
        const std::vector<unsigned> modes = txplat::CallErrorModes(c.call);
        EXPECT_FALSE(modes.empty()) << c.call;
        for (unsigned mode : modes)
            EXPECT_EQ(mode, c.mode) << c.call;
    }
}

} // namespace

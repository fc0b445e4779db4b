// Reading, writing, seeking and locking through disk handles, and the path
// tests: regular file, current directory of a drive, locking probe.
// crt.h comes first: its _stat has fields that <sys/stat.h> on Linux defines
// as macros.
#include "platform/crt.h"

#include "fixture.h"

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

using namespace tx;
using txtest::DiskTest;

namespace {

std::string Pattern(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>('a' + i % 23);
    return s;
}

// Where the platform layer observes calls: the byte counts asked of `call`.
void ExpectSizes(const char* call, std::vector<uint32_t> expected) {
    if (!txplat::FaultsSupported()) return;
    EXPECT_EQ(txplat::CallSizes(call), expected) << call;
}

TEST_F(DiskTest, ShortReadsAndEndOfFile) {
    dir.write("ten", "0123456789");
    int16_t h = 0;
    ASSERT_EQ(DiskOpen(dir.win("ten").c_str(), 13, &h), 1);
    char buf[32] = {};
    uint32_t got = 99;

    EXPECT_EQ(DiskRead(h, buf, 4, &got), 1);
    EXPECT_EQ(got, 4u);
    EXPECT_EQ(std::string(buf, 4), "0123");
    EXPECT_EQ(DiskRead(h, buf, 4), 1); // exact without a count variable

    // Short: success with a count variable, failure without, error 0 either way.
    EXPECT_EQ(DiskRead(h, buf, 20, &got), 1);
    EXPECT_EQ(got, 2u);
    EXPECT_EQ(std::string(buf, 2), "89");
    ASSERT_EQ(DiskSeek(h, 8, 0), 1);
    MarkLastError();
    EXPECT_EQ(DiskRead(h, buf, 20), 0);
    EXPECT_EQ(DiskLastError(), 0);

    // At the end: 1 and 0 bytes with a count variable, 0 without.
    EXPECT_EQ(DiskRead(h, buf, 5, &got), 1);
    EXPECT_EQ(got, 0u);
    MarkLastError();
    EXPECT_EQ(DiskRead(h, buf, 5), 0);
    EXPECT_EQ(DiskLastError(), 0);

    txplat::FaultClear();
    EXPECT_EQ(DiskRead(h, buf, 0), 1);
    ExpectSizes("ReadFile", {0});
}

TEST_F(DiskTest, ReadOfAHandleNotOpenFailsWithSystemError) {
    char buf[4];
    uint32_t got = 7;
    EXPECT_EQ(DiskRead(9, buf, 4, &got), 0);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(DiskLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(DiskTest, PendingAndInterruptedReadsAreContinued) {
    SKIP_WITHOUT_FAULTS();
    std::string data = Pattern(5000);
    dir.write("f", data);
    int16_t h = 0;
    ASSERT_EQ(DiskOpen(dir.win("f").c_str(), 13, &h), 1);

    txplat::FaultInject("ReadFile", ERROR_IO_PENDING);
    txplat::FaultInject("ReadFile", ERROR_SIGNAL_PENDING);
    std::string buf(5000, '\0');
    EXPECT_EQ(DiskRead(h, buf.data(), 5000), 1);
    EXPECT_EQ(buf, data);
    EXPECT_EQ(txplat::CallCount("ReadFile"), 3);

    // Any other failure ends the read at once with its error.
    ASSERT_EQ(DiskSeek(h, 0, 0), 1);
    txplat::FaultClear();
    txplat::FaultInject("ReadFile", ERROR_ACCESS_DENIED);
    uint32_t got = 9;
    EXPECT_EQ(DiskRead(h, buf.data(), 10, &got), 0);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(DiskLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(txplat::CallCount("ReadFile"), 1);
}

TEST_F(DiskTest, WritesGoOutIn4096ByteChunksAndAFinalCall) {
    int16_t h = Create("out");
    std::string data = Pattern(10000);

    MarkLastError();
    EXPECT_EQ(DiskWrite(h, data.data(), 0), 1);
    EXPECT_EQ(DiskLastError(), 87);
    EXPECT_EQ(txplat::CallCount("WriteFile"), 0);

    EXPECT_EQ(DiskWrite(h, data.data(), 8192), 1);
    EXPECT_EQ(DiskLastError(), 0);
    ExpectSizes("WriteFile", {4096, 4096, 0});
    txplat::FaultClear();
    EXPECT_EQ(DiskWrite(h, data.data() + 8192, 1808), 1);
    ExpectSizes("WriteFile", {1808});
    txplat::FaultClear();
    EXPECT_EQ(DiskWrite(h, nullptr, 0), 1); // a zero-byte system write
    ExpectSizes("WriteFile", {0});

    ASSERT_EQ(DiskClose(h), 1);
    EXPECT_EQ(dir.read("out"), data);
}

TEST_F(DiskTest, ARaisedWriteChunkIsTheToolsAndZeroPutsTheLaunchersBack) {
    int16_t h = Create("out");
    std::string data = Pattern(10000);
    EXPECT_EQ(DiskSetWriteChunk(6000), 4096u);
    EXPECT_EQ(DiskWrite(h, data.data(), 10000), 1);
    ExpectSizes("WriteFile", {6000, 4000});
    EXPECT_EQ(DiskSetWriteChunk(0), 6000u);
    txplat::FaultClear();
    EXPECT_EQ(DiskWrite(h, data.data(), 4096), 1);
    ExpectSizes("WriteFile", {4096, 0});
    ASSERT_EQ(DiskClose(h), 1);
    EXPECT_EQ(dir.read("out"), data + data.substr(0, 4096));
}

TEST_F(DiskTest, WriteThroughAReadOnlyHandleFails) {
    dir.write("f", "abc");
    int16_t h = 0;
    ASSERT_EQ(DiskOpen(dir.win("f").c_str(), 13, &h), 1);
    EXPECT_EQ(DiskWrite(h, "xyz", 3), 0);
    EXPECT_EQ(DiskLastError(), ERROR_ACCESS_DENIED);
    ASSERT_EQ(DiskClose(h), 1);
    EXPECT_EQ(dir.read("f"), "abc");
}

TEST_F(DiskTest, FailedOrShortChunkStopsTheWrite) {
    SKIP_WITHOUT_FAULTS();
    std::string data = Pattern(9000);
    int16_t h = Create("out");
    txplat::FaultInject("WriteFile", ERROR_DISK_FULL, 1);
    EXPECT_EQ(DiskWrite(h, data.data(), 9000), 0);
    EXPECT_EQ(DiskLastError(), ERROR_DISK_FULL);
    EXPECT_EQ(txplat::CallCount("WriteFile"), 2);
    ASSERT_EQ(DiskClose(h), 1);
    EXPECT_EQ(dir.read("out"), data.substr(0, 4096)); // the first chunk stays

    // A chunk the system takes only in part is a failure too, with a reason
    // even though the call itself reported success.
    h = Create("out");
    txplat::FaultClear();
    SetLastError(0);
    txplat::FaultShortTransfer("WriteFile", 100);
    EXPECT_EQ(DiskWrite(h, data.data(), 9000), 0);
    EXPECT_EQ(DiskLastError(), ERROR_DISK_FULL);
    EXPECT_EQ(txplat::CallCount("WriteFile"), 1);
}

TEST_F(DiskTest, SeekOrigins) {
    dir.write("f", Pattern(1000));
    int16_t h = 0;
    ASSERT_EQ(DiskOpen(dir.win("f").c_str(), 13, &h), 1);
    uint32_t pos = 0;
    EXPECT_EQ(DiskSeek(h, 0, 2, &pos), 1);
    EXPECT_EQ(pos, 1000u);
    EXPECT_EQ(DiskSeek(h, 100, 0, &pos), 1);
    EXPECT_EQ(pos, 100u);
    EXPECT_EQ(DiskSeek(h, -40, 1, &pos), 1);
    EXPECT_EQ(pos, 60u);
    EXPECT_EQ(DiskSeek(h, -10, 2, &pos), 1);
    EXPECT_EQ(pos, 990u);

    // Other origins are refused without moving.
    for (int origin : {3, -1, 0x10000}) {
        pos = 1234;
        EXPECT_EQ(DiskSeek(h, 5, origin, &pos), 0);
        EXPECT_EQ(DiskLastError(), ERROR_INVALID_PARAMETER);
        EXPECT_EQ(pos, 1234u);
    }
    EXPECT_EQ(DiskSeek(h, 0, 1, &pos), 1);
    EXPECT_EQ(pos, 990u);
    EXPECT_EQ(DiskLastError(), 0);

    EXPECT_EQ(DiskSeek(h, -5, 0, &pos), 0);
    EXPECT_NE(DiskLastError(), 0);
    EXPECT_EQ(pos, 990u);
}

TEST_F(DiskTest, LocksConflictBetweenHandles) {
    dir.write("f", Pattern(100));
    int16_t a = 0, b = 0;
    ASSERT_EQ(DiskOpen(dir.win("f").c_str(), 15, &a), 1);
    ASSERT_EQ(DiskOpen(dir.win("f").c_str(), 15, &b), 1);
    EXPECT_EQ(DiskLock(a, 10, 20), 1);
    EXPECT_EQ(DiskLock(b, 25, 1), 0);
    EXPECT_EQ(DiskLastError(), ERROR_LOCK_VIOLATION);
    EXPECT_EQ(DiskLock(b, 30, 5), 1); // just past a's range
    EXPECT_EQ(DiskUnlock(a, 10, 20), 1);
    EXPECT_EQ(DiskLastError(), 0);
    EXPECT_EQ(DiskLock(b, 25, 1), 1);
    EXPECT_EQ(DiskUnlock(a, 10, 20), 0); // nothing locked there any more
    EXPECT_NE(DiskLastError(), 0);       // 158 on Windows, 33 under Wine
}

TEST_F(DiskTest, RegularFileTest) {
    dir.write("file", "x");
    std::filesystem::create_directory(dir.host("sub"));
    MarkLastError();
    EXPECT_EQ(DiskIsRegularFile(dir.win("file").c_str()), 1);
    EXPECT_EQ(DiskIsRegularFile(dir.win("sub").c_str()), 0);
    EXPECT_EQ(DiskIsRegularFile(dir.win("missing").c_str()), 0);
    EXPECT_EQ(DiskIsRegularFile(dir.win("fil?").c_str()), 0);
    EXPECT_EQ(DiskIsRegularFile(dir.win("*").c_str()), 0);
    EXPECT_EQ(DiskIsRegularFile(nullptr), 0);
#ifndef _WIN32
    // Linux allows such names; a wildcard still never names a file here.
    dir.write("st*r", "x");
    EXPECT_EQ(DiskIsRegularFile(dir.win("st*r").c_str()), 0);
#endif
    EXPECT_EQ(DiskLastError(), 87);
}

TEST_F(DiskTest, CurrentDirectoryOfADrive) {
    char expected[MAX_PATH];
    ASSERT_GT(GetCurrentDirectoryA(MAX_PATH, expected), 0u);
    char buf[MAX_PATH];
    ASSERT_EQ(DiskGetDriveDir(0, buf, MAX_PATH), 1);
    EXPECT_STREQ(buf, expected);
    EXPECT_EQ(DiskLastError(), 0);

    char upper = expected[0];
    char lower = static_cast<char>(upper - 'A' + 'a');
    std::memset(buf, 0, sizeof buf);
    ASSERT_EQ(DiskGetDriveDir(lower, buf, MAX_PATH), 1);
    EXPECT_STREQ(buf, expected);
    ASSERT_EQ(DiskGetDriveDir(upper, buf, MAX_PATH), 1);
    EXPECT_STREQ(buf, expected);

    // Exactly room for the path and its NUL, then one byte less.
    int16_t fits = static_cast<int16_t>(std::strlen(expected) + 1);
    EXPECT_EQ(DiskGetDriveDir(0, buf, fits), 1);
    EXPECT_EQ(DiskGetDriveDir(0, buf, static_cast<int16_t>(fits - 1)), 0);
    EXPECT_EQ(DiskLastError(), 34);
    EXPECT_EQ(DiskGetDriveDir(0, buf, 0), 0);
    EXPECT_EQ(DiskLastError(), 34);

    EXPECT_EQ(DiskGetDriveDir('Q', buf, MAX_PATH), 0); // no such drive
    EXPECT_EQ(DiskLastError(), 13);
    for (char c : {'1', '[', '\xE9'}) {
        EXPECT_EQ(DiskGetDriveDir(c, buf, MAX_PATH), 0) << int(c);
        EXPECT_EQ(DiskLastError(), 13);
    }
    EXPECT_EQ(DiskGetDriveDir(0, nullptr, MAX_PATH), 0);
    EXPECT_EQ(DiskLastError(), 22);
    EXPECT_EQ(DiskGetDriveDir(0, buf, -1), 0);
    EXPECT_EQ(DiskLastError(), 22);
}

bool IsEmptyDir(const std::filesystem::path& p) {
    return std::filesystem::is_empty(p);
}

TEST_F(DiskTest, LockingProbe) {
    std::string prefix = dir.win() + "\\";
    EXPECT_EQ(DiskProbeLocking(prefix.c_str()), 1);
    EXPECT_TRUE(IsEmptyDir(dir.host()));

    // A directory where nothing can be created. Tests run as root, which
    // writes even into read-only directories, so a missing one stands in.
    EXPECT_EQ(DiskProbeLocking((dir.win("missing") + "\\").c_str()), 4);
    EXPECT_TRUE(IsEmptyDir(dir.host()));

    // No room for the name within 260 characters.
    std::string deep = prefix + std::string(MAX_PATH - prefix.size() - 7, 'd') + "\\";
    EXPECT_EQ(DiskProbeLocking(deep.c_str()), 3);
}

TEST_F(DiskTest, LockingProbeKeepsFilesOfTheProbedDirectory) {
    // The name the temporary-name facility picks first for this directory is
    // taken by a file of ours: the probe must pick another and leave it whole.
    std::string prefix = dir.win() + "\\";
    std::string first = prefix + "SHXXXXXX";
    ASSERT_NE(_mktemp(first.data()), nullptr);
    std::string name = first.substr(prefix.size());
    dir.write(name, "keep me");
    EXPECT_EQ(DiskProbeLocking(prefix.c_str()), 1);
    EXPECT_EQ(dir.read(name), "keep me");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.host()),
                            std::filesystem::directory_iterator()),
              1);
}

TEST_F(DiskTest, LockingProbeWithoutLocksDeletesItsFile) {
    SKIP_WITHOUT_FAULTS();
    txplat::FaultInject("LockFile", ERROR_NOT_SUPPORTED);
    EXPECT_EQ(DiskProbeLocking((dir.win() + "\\").c_str()), 2);
    EXPECT_TRUE(IsEmptyDir(dir.host()));
}

} // namespace

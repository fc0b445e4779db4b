// FAT words, directory search, file times, and date, time and size by handle.
#include "diskfile/filetime.h"
#include "diskfile/internal.h"
#include "diskfile/libraryhooks.h"
#include "fixture.h"

#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <tuple>

using namespace tx;
using txtest::DiskTest;

namespace {

auto Fields(const DateTimeRecord& r) {
    return std::tuple(r.year, r.month, r.day, r.hour, r.minute, r.second);
}

TEST(FatWords, PackingAndUnpacking) {
    DateTimeRecord when{1996, 10, 7, 13, 42, 9};
    uint16_t date = PackFatDate(when);
    uint16_t time = PackFatTime(when);
    EXPECT_EQ(date, 0x2147);
    EXPECT_EQ(date >> 9, 16);
    EXPECT_EQ((date >> 5) & 0x0F, 10);
    EXPECT_EQ(date & 0x1F, 7);
    EXPECT_EQ(time >> 11, 13);
    EXPECT_EQ((time >> 5) & 0x3F, 42);
    EXPECT_EQ(time & 0x1F, 4);

    EXPECT_EQ(Fields(UnpackFatDateTime(date, time)), Fields({1996, 10, 7, 13, 42, 8}));

    // Years wrap modulo 128 in the seven year bits.
    EXPECT_EQ(PackFatDate({2108, 1, 1, 0, 0, 0}), PackFatDate({1980, 1, 1, 0, 0, 0}));
    EXPECT_EQ(UnpackFatDateTime(PackFatDate({1979, 12, 31, 0, 0, 0}), 0).year, 2107);
    EXPECT_EQ(PackFatTime({0, 0, 0, 23, 59, 59}), 0xBF7D);
}

TEST(FindRecordFill, CopiesAreBoundedAndShortNameFallsBack) {
    WIN32_FIND_DATAA entry;
    std::memset(&entry, 'N', sizeof entry); // no NUL anywhere in the names
    entry.dwFileAttributes = 0xFFFFFFFF;
    entry.nFileSizeHigh = 1;
    entry.nFileSizeLow = 1234;
    ASSERT_TRUE(DosDateTimeToFileTime(0x2147, 0x6D44, &entry.ftLastWriteTime));
    FILETIME utc;
    ASSERT_TRUE(LocalFileTimeToFileTime(&entry.ftLastWriteTime, &utc));
    entry.ftLastWriteTime = utc;

    FindRecord record;
    std::memset(&record, 0x7F, sizeof record);
    ASSERT_EQ(disk::FillFindRecord(entry, &record), 1);
    EXPECT_EQ(record.size, 1234u); // the low 32 bits only
    EXPECT_EQ(record.attributes, 0x37);
    EXPECT_EQ(std::strlen(record.name), 260u);
    EXPECT_EQ(std::strlen(record.short_name), 14u);
    EXPECT_EQ(Fields(record.when), Fields({1996, 10, 7, 13, 42, 8}));

    std::strcpy(entry.cFileName, "a-rather-long-file-name.text");
    entry.cAlternateFileName[0] = '\0';
    entry.dwFileAttributes = FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_READONLY;
    ASSERT_EQ(disk::FillFindRecord(entry, &record), 1);
    EXPECT_STREQ(record.name, "a-rather-long-file-name.text");
    EXPECT_STREQ(record.short_name, "a-rather-long-");
    EXPECT_EQ(record.attributes, kAttrReadOnly);

    std::strcpy(entry.cAlternateFileName, "AR~1.TXT");
    ASSERT_EQ(disk::FillFindRecord(entry, &record), 1);
    EXPECT_STREQ(record.short_name, "AR~1.TXT");
}

std::set<std::string> FindAll(const std::string& pattern, uint16_t filter) {
    std::set<std::string> names;
    FindRecord record{};
    for (int ok = DiskFindFirst(pattern.c_str(), &record, filter); ok; ok = DiskFindNext(&record))
        names.insert(record.name);
    DiskFindClose(&record);
    return names;
}

TEST_F(DiskTest, FindFiltersDirectoriesAndDotNames) {
    dir.write("one.txt", "1");
    dir.write("two.dat", "22");
    dir.write(".hidden", "x");
    std::filesystem::create_directory(dir.host("sub"));
    std::filesystem::create_directory(dir.host(".dotdir"));
    std::string all = dir.win("*");

    EXPECT_EQ(FindAll(all, 0), (std::set<std::string>{"one.txt", "two.dat"}));
    EXPECT_EQ(FindAll(all, kAttrDirectory), (std::set<std::string>{"sub"}));
    EXPECT_EQ(FindAll(all, kAttrDirectory | kAttrReadOnly), (std::set<std::string>{"sub"}));

    // Only "." and ".." match: nothing qualifies, the last disk error stays
    // and the search is still open until closed.
    MarkLastError();
    FindRecord record{};
    EXPECT_EQ(DiskFindFirst(dir.win("sub\\*").c_str(), &record, kAttrDirectory), 0);
    EXPECT_EQ(DiskLastError(), 87);
    EXPECT_NE(record.search, INVALID_HANDLE_VALUE);
    EXPECT_EQ(DiskFindNext(&record), 0);
    DiskFindClose(&record);
    EXPECT_EQ(record.search, INVALID_HANDLE_VALUE);
    DiskFindClose(&record);

    EXPECT_EQ(FindAll(dir.win(".hidden"), 0), std::set<std::string>{});
    EXPECT_EQ(DiskFindFirst(dir.win("nothing*").c_str(), &record, 0), 0);
    EXPECT_EQ(DiskLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(record.search, INVALID_HANDLE_VALUE);
    DiskFindClose(&record);

    FindRecord zeros{};
    DiskFindClose(&zeros);
    EXPECT_EQ(zeros.search, nullptr);
}

TEST_F(DiskTest, FileTimesRoundTripToTheEvenSecond) {
    std::string name = "a-rather-long-file-name.text";
    dir.write(name, std::string(1234, 'z'));
    int16_t h = 0;
    ASSERT_EQ(DiskOpen(dir.win(name).c_str(), 15, &h), 1);
    MarkLastError();
    ASSERT_EQ(DiskSetFileTime(h, {2019, 12, 31, 23, 59, 59}), 1);
    EXPECT_EQ(DiskLastError(), 0);
    DateTimeRecord when{};
    MarkLastError();
    ASSERT_EQ(DiskGetFileTime(h, &when), 1);
    EXPECT_EQ(DiskLastError(), 87);
    EXPECT_EQ(Fields(when), Fields({2019, 12, 31, 23, 59, 58}));

    // The same through the FAT words of the by-handle operations, and as a
    // directory search sees the file.
    uint16_t date = 0, time = 0;
    ASSERT_EQ(FileSetDateTime(h, 0x2147, 0x6D44), 1);
    ASSERT_EQ(FileGetDateTime(h, &date, &time), 1);
    EXPECT_EQ(date, 0x2147);
    EXPECT_EQ(time, 0x6D44);
    FindRecord record{};
    ASSERT_EQ(DiskFindFirst(dir.win(name).c_str(), &record, 0), 1);
    DiskFindClose(&record);
    EXPECT_EQ(Fields(record.when), Fields({1996, 10, 7, 13, 42, 8}));
    EXPECT_STREQ(record.name, name.c_str());
    EXPECT_EQ(record.size, 1234u);
    EXPECT_LE(std::strlen(record.short_name), 14u);

    ASSERT_EQ(DiskClose(h), 1);
    date = time = 1;
    EXPECT_EQ(FileGetDateTime(h, &date, &time), 0);
    EXPECT_EQ(date + time, 0);
    EXPECT_EQ(DiskLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(DiskSetFileTime(h, when), 0);
    EXPECT_EQ(DiskLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(DiskTest, FileGetSizeKeepsThePosition) {
    int16_t h = Create("f");
    ASSERT_EQ(DiskWrite(h, std::string(1000, 'x').data(), 1000), 1);
    ASSERT_EQ(DiskSeek(h, 123, 0), 1);
    uint32_t size = 0, pos = 0;
    EXPECT_EQ(FileGetSize(h, &size), 1);
    EXPECT_EQ(size, 1000u);
    ASSERT_EQ(DiskSeek(h, 0, 1, &pos), 1);
    EXPECT_EQ(pos, 123u);

    size = 5;
    EXPECT_EQ(FileGetSize(77, &size), 0); // not open
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(DiskLastError(), ERROR_INVALID_HANDLE);
}

// The position of an open file through the high part of SetFilePointer.
uint64_t PositionOf(HANDLE file) {
    LONG high = 0;
    const DWORD low = SetFilePointer(file, 0, &high, FILE_CURRENT);
    return static_cast<uint64_t>(static_cast<uint32_t>(high)) << 32 | low;
}

TEST_F(DiskTest, FileGetSizePutsBackPositionsPastTwoGibibytes) {
    constexpr uint64_t kGiB = uint64_t{1} << 30;
    // Sparse files: only their sizes are set.
    dir.write("3g", "");
    dir.write("5g", "");
    std::filesystem::resize_file(dir.host("3g"), 3 * kGiB);
    std::filesystem::resize_file(dir.host("5g"), 5 * kGiB);
    const struct {
        const char* file;
        uint64_t position;
        int answer;
        uint32_t size;
        int32_t error;
    } cases[] = {
        {"3g", 0, 1, 3 * kGiB, 0},
        {"3g", 0x7FFFFFFF, 1, 3 * kGiB, 0},
        {"3g", 0x80000000, 1, 3 * kGiB, 0},
        {"3g", 2684354559, 1, 3 * kGiB, 0},
        {"3g", 3 * kGiB, 1, 3 * kGiB, 0},
        // 4 GiB and more has no 32-bit size.
        {"5g", 100, 0, 0, ERROR_ARITHMETIC_OVERFLOW},
        {"5g", 4 * kGiB + 5, 0, 0, ERROR_ARITHMETIC_OVERFLOW},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " at " + std::to_string(c.position));
        int16_t h = -1;
        ASSERT_EQ(DiskOpen(dir.win(c.file).c_str(), 13, &h), 1);
        HANDLE file = DiskSystemHandle(h);
        LONG high = static_cast<LONG>(c.position >> 32);
        SetFilePointer(file, static_cast<LONG>(static_cast<uint32_t>(c.position)), &high,
                       FILE_BEGIN);
        ASSERT_EQ(PositionOf(file), c.position);
        MarkLastError();
        uint32_t size = 1;
        EXPECT_EQ(FileGetSize(h, &size), c.answer);
        EXPECT_EQ(size, c.size);
        EXPECT_EQ(DiskLastError(), c.error);
        EXPECT_EQ(PositionOf(file), c.position);
        DiskClose(h);
    }
}

TEST_F(DiskTest, FailedSeekToTheEndStillPutsThePositionBack) {
    SKIP_WITHOUT_FAULTS();
    int16_t h = Create("f");
    ASSERT_EQ(DiskWrite(h, "abcdef", 6), 1);
    ASSERT_EQ(DiskSeek(h, 2, 0), 1);
    txplat::FaultInject("SetFilePointer", ERROR_SEEK, 1);
    uint32_t size = 9, pos = 0;
    EXPECT_EQ(FileGetSize(h, &size), 0);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(DiskLastError(), ERROR_SEEK);
    ASSERT_EQ(DiskSeek(h, 0, 1, &pos), 1);
    EXPECT_EQ(pos, 2u);
}

// A stand-in for the library layer: one member and one container file.
struct FakeLibrary {
    static inline int16_t container = -1;
    static inline int16_t last_member = 0;
    static inline uint16_t date = 0x2147, time = 0x6D44;

    static int GetDateTime(int16_t h, uint16_t* d, uint16_t* t) {
        last_member = h;
        *d = date;
        *t = time;
        return 1;
    }
    static int GetSize(int16_t h, uint32_t* s) {
        last_member = h;
        *s = 4321;
        return 1;
    }
    static int SetDateTime(int16_t h, uint16_t d, uint16_t t) {
        last_member = h;
        date = d;
        time = t;
        return 1;
    }
    static int16_t Container() { return container; }
};

TEST_F(DiskTest, ContainerAndMemberHandlesGoToTheLibraryLayer) {
    // Until the library layer installs its hooks, such handles fail cleanly.
    uint16_t date = 1, time = 1;
    uint32_t size = 1;
    for (int16_t handle : {255, 999, 1000, 20999}) {
        SCOPED_TRACE(handle);
        MarkLastError();
        EXPECT_EQ(FileGetDateTime(handle, &date, &time), 0);
        EXPECT_EQ(date + time, 0);
        EXPECT_EQ(DiskLastError(), ERROR_INVALID_HANDLE);
        EXPECT_EQ(FileGetSize(handle, &size), 0);
        EXPECT_EQ(size, 0u);
        EXPECT_EQ(FileSetDateTime(handle, 0x2147, 0), 0);
    }

    LibraryHooks hooks{FakeLibrary::GetDateTime, FakeLibrary::GetSize, FakeLibrary::SetDateTime,
                       FakeLibrary::Container};
    DiskSetLibraryHooks(&hooks);
    int16_t h = Create("container");
    ASSERT_EQ(DiskWrite(h, "12345", 5), 1);
    FakeLibrary::container = h;

    EXPECT_EQ(FileGetSize(260, &size), 1);
    EXPECT_EQ(size, 5u);
    EXPECT_EQ(FileSetDateTime(260, 0x2147, 0x6D44), 1);
    EXPECT_EQ(FileGetDateTime(h, &date, &time), 1);
    EXPECT_EQ(date, 0x2147);

    EXPECT_EQ(FileGetSize(3007, &size), 1);
    EXPECT_EQ(size, 4321u);
    EXPECT_EQ(FakeLibrary::last_member, 3007);
    EXPECT_EQ(FileSetDateTime(2001, 0x1111, 0x2222), 1);
    EXPECT_EQ(FileGetDateTime(2001, &date, &time), 1);
    EXPECT_EQ(date, 0x1111);
    EXPECT_EQ(time, 0x2222);

    FakeLibrary::container = -1; // no current library
    EXPECT_EQ(FileGetSize(255, &size), 0);
    EXPECT_EQ(DiskLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(DiskTest, TimeConversionFailureIsReported) {
    SKIP_WITHOUT_FAULTS();
    dir.write("f", "x");
    txplat::FaultInject("FileTimeToLocalFileTime", ERROR_INVALID_PARAMETER);
    FindRecord record{};
    EXPECT_EQ(DiskFindFirst(dir.win("f").c_str(), &record, 0), 0);
    EXPECT_EQ(DiskLastError(), ERROR_INVALID_PARAMETER);
    DiskFindClose(&record);

    int16_t h = 0;
    ASSERT_EQ(DiskOpen(dir.win("f").c_str(), 13, &h), 1);
    txplat::FaultInject("GetFileTime", ERROR_ACCESS_DENIED);
    uint16_t date = 1, time = 1;
    EXPECT_EQ(FileGetDateTime(h, &date, &time), 0);
    EXPECT_EQ(date + time, 0);
    EXPECT_EQ(DiskLastError(), ERROR_ACCESS_DENIED);
}

TEST(CurrentDosDateTime, MatchesTheLocalClock) {
    SYSTEMTIME before, after;
    uint16_t date = 0, time = 0;
    GetLocalTime(&before);
    CurrentDosDateTime(&date, &time);
    GetLocalTime(&after);
    auto word = [](const SYSTEMTIME& t) {
        DateTimeRecord r{t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
        return (uint32_t(PackFatDate(r)) << 16) | PackFatTime(r);
    };
    uint32_t now = (uint32_t(date) << 16) | time;
    EXPECT_GE(now, word(before));
    EXPECT_LE(now, word(after));
    EXPECT_LT(LocalTimeStamp().hundredths, 100);
}

} // namespace

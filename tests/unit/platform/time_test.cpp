// GetLocalTime, GetSystemTime and the FILETIME / SYSTEMTIME / local time /
// FAT date and time conversions. Natively some tests fix the time zone with
// TZ; under Wine the zone is the host's, so those tests check only what holds
// in any zone (round trips, equal shifts).
#include "filetest.h"
#include "platform/fault.h"
#include "platform/win32.h"
#include "testutil.h"

#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>
#include <string>

namespace {

using filetest::Handle;
using filetest::kReadWrite;
using filetest::MakeFileTime;
using filetest::Open;
using filetest::Ticks;

DWORD Err() {
    return GetLastError();
}

constexpr uint64_t kSecond = 10000000ULL;
constexpr uint64_t kHour = 3600 * kSecond;

uint64_t FromSystem(WORD y, WORD mo, WORD d, WORD h = 0, WORD mi = 0, WORD s = 0, WORD ms = 0) {
    SYSTEMTIME st = {y, mo, 0, d, h, mi, s, ms};
    FILETIME ft = {};
    EXPECT_TRUE(SystemTimeToFileTime(&st, &ft)) << y << "-" << mo << "-" << d;
    return Ticks(ft);
}

SYSTEMTIME ToSystem(uint64_t ticks) {
    FILETIME ft = MakeFileTime(ticks);
    SYSTEMTIME st = {};
    EXPECT_TRUE(FileTimeToSystemTime(&ft, &st));
    return st;
}

int64_t LocalShift(uint64_t utc) {
    FILETIME in = MakeFileTime(utc), out = {};
    EXPECT_TRUE(FileTimeToLocalFileTime(&in, &out));
    return static_cast<int64_t>(Ticks(out) - utc);
}

// Sets TZ for the POSIX layer for the life of the object.
class ZoneFixture : public ::testing::Test {
  protected:
    void SetZone(const char* tz) {
#ifndef _WIN32
        const char* old = std::getenv("TZ");
        if (!saved_) {
            had_ = old != nullptr;
            if (old) old_ = old;
            saved_ = true;
        }
        setenv("TZ", tz, 1);
        tzset();
#else
        (void)tz;
#endif
    }
    void TearDown() override {
#ifndef _WIN32
        if (saved_) {
            if (had_) {
                setenv("TZ", old_.c_str(), 1);
            } else {
                unsetenv("TZ");
            }
            tzset();
        }
#endif
    }

  private:
    bool saved_ = false;
    bool had_ = false;
    std::string old_;
};

TEST(Time, FileTimeToSystemTimeAtTheLimits) {
    SYSTEMTIME st = ToSystem(0);
    EXPECT_EQ(st.wYear, 1601);
    EXPECT_EQ(st.wMonth, 1);
    EXPECT_EQ(st.wDay, 1);
    EXPECT_EQ(st.wDayOfWeek, 1); // a Monday
    EXPECT_EQ(st.wHour + st.wMinute + st.wSecond + st.wMilliseconds, 0);

    st = ToSystem(0x7FFFFFFFFFFFFFFFULL);
    EXPECT_EQ(st.wYear, 30828);
    EXPECT_EQ(st.wMonth, 9);
    EXPECT_EQ(st.wDay, 14);
    EXPECT_EQ(st.wDayOfWeek, 4);
    EXPECT_EQ(st.wHour, 2);
    EXPECT_EQ(st.wMinute, 48);
    EXPECT_EQ(st.wSecond, 5);
    EXPECT_EQ(st.wMilliseconds, 477);

    for (uint64_t bad : {0x8000000000000000ULL, 0xFFFFFFFFFFFFFFFFULL}) {
        FILETIME ft = MakeFileTime(bad);
        SYSTEMTIME out;
        EXPECT_FAILS(FileTimeToSystemTime(&ft, &out), ERROR_INVALID_PARAMETER);
    }
}

TEST(Time, KnownDatesAndDaysOfTheWeek) {
    EXPECT_EQ(FromSystem(1970, 1, 1), 116444736000000000ULL);
    EXPECT_EQ(FromSystem(1601, 1, 1), 0u);
    EXPECT_EQ(FromSystem(2000, 2, 29, 12, 0, 0, 1), 125962992000010000ULL);
    struct {
        WORD y, m, d, dow;
    } days[] = {{2000, 1, 1, 6}, {1996, 10, 7, 1},  {2024, 2, 29, 4},
                {1980, 1, 1, 2}, {2107, 12, 31, 6}, {1970, 1, 1, 4}};
    for (const auto& c : days) {
        SYSTEMTIME st = ToSystem(FromSystem(c.y, c.m, c.d));
        EXPECT_EQ(st.wDayOfWeek, c.dow) << c.y << "-" << c.m << "-" << c.d;
        EXPECT_EQ(st.wYear, c.y);
        EXPECT_EQ(st.wMonth, c.m);
        EXPECT_EQ(st.wDay, c.d);
    }
    // wDayOfWeek is not looked at.
    SYSTEMTIME odd = {2000, 1, 3, 1, 0, 0, 0, 0};
    FILETIME ft;
    EXPECT_TRUE(SystemTimeToFileTime(&odd, &ft));
    EXPECT_EQ(Ticks(ft), FromSystem(2000, 1, 1));
}

TEST(Time, SystemTimeRoundTrips) {
    // Steps of a prime number of milliseconds over five centuries.
    const uint64_t step = 7919ULL * 86400 * 10000 + 123 * 10000;
    for (uint64_t t = FromSystem(1601, 1, 1); t < FromSystem(2200, 1, 1); t += step) {
        SYSTEMTIME st = ToSystem(t);
        FILETIME back;
        ASSERT_TRUE(SystemTimeToFileTime(&st, &back));
        ASSERT_EQ(Ticks(back), t - t % 10000) << st.wYear << "-" << st.wMonth << "-" << st.wDay;
    }
}

TEST(Time, SystemTimeToFileTimeRefusesBadFields) {
    const SYSTEMTIME bad[] = {
        {1600, 12, 0, 31, 0, 0, 0, 0},  {2023, 13, 0, 1, 0, 0, 0, 0}, {2023, 0, 0, 1, 0, 0, 0, 0},
        {2023, 1, 0, 0, 0, 0, 0, 0},    {2023, 4, 0, 31, 0, 0, 0, 0}, {2023, 1, 0, 32, 0, 0, 0, 0},
        {2023, 1, 0, 1, 24, 0, 0, 0},   {2023, 1, 0, 1, 0, 60, 0, 0}, {2023, 1, 0, 1, 0, 0, 60, 0},
        {2023, 1, 0, 1, 0, 0, 0, 1000}, {40000, 1, 0, 1, 0, 0, 0, 0},
    };
    for (const SYSTEMTIME& st : bad) {
        FILETIME ft = {0x55, 0x55};
        SetLastError(0);
        EXPECT_FALSE(SystemTimeToFileTime(&st, &ft))
            << st.wYear << "-" << st.wMonth << "-" << st.wDay << " " << st.wHour << ":"
            << st.wMinute << ":" << st.wSecond << "." << st.wMilliseconds;
        EXPECT_EQ(Err(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    }
    EXPECT_EQ(FromSystem(30827, 12, 31, 23, 59, 59, 999), 0x7FFF35F4F06C58F0ULL);
}

TEST(Time, TwentyNinthOfFebruaryOfACommonYear) {
    if (filetest::OnWine()) GTEST_SKIP() << "Wine 8 accepts 29 February of any year";
    SYSTEMTIME st = {2023, 2, 0, 29, 0, 0, 0, 0};
    FILETIME ft;
    EXPECT_FAILS(SystemTimeToFileTime(&st, &ft), ERROR_INVALID_PARAMETER);
    // FAT date 2026-02-29.
    EXPECT_FALSE(DosDateTimeToFileTime(((2026 - 1980) << 9) | (2 << 5) | 29, 0, &ft));
    // 1900 is a common year, 2000 a leap year.
    st.wYear = 1900;
    EXPECT_FALSE(SystemTimeToFileTime(&st, &ft));
    st.wYear = 2000;
    EXPECT_TRUE(SystemTimeToFileTime(&st, &ft));
}

TEST(Time, DosDateAndTimeBothWays) {
    // 7 October 1996, 13:42:09: date word 0x2147; the second halves to 4.
    const WORD date = 0x2147;
    const WORD time = (13 << 11) | (42 << 5) | (9 / 2);
    FILETIME ft;
    ASSERT_TRUE(DosDateTimeToFileTime(date, time, &ft));
    // No zone is applied: the file time holds exactly the fields.
    EXPECT_EQ(Ticks(ft), FromSystem(1996, 10, 7, 13, 42, 8));
    WORD d = 0, t = 0;
    ASSERT_TRUE(FileTimeToDosDateTime(&ft, &d, &t));
    EXPECT_EQ(d, date);
    EXPECT_EQ(t, time);

    // Odd seconds and milliseconds are dropped on the way to FAT.
    FILETIME odd = MakeFileTime(FromSystem(2001, 2, 3, 4, 5, 7, 999));
    ASSERT_TRUE(FileTimeToDosDateTime(&odd, &d, &t));
    EXPECT_EQ(d, ((2001 - 1980) << 9) | (2 << 5) | 3);
    EXPECT_EQ(t, (4 << 11) | (5 << 5) | 3);

    // The ends of the FAT range.
    FILETIME first = MakeFileTime(FromSystem(1980, 1, 1));
    ASSERT_TRUE(FileTimeToDosDateTime(&first, &d, &t));
    EXPECT_EQ(d, 0x0021);
    EXPECT_EQ(t, 0);
    FILETIME last = MakeFileTime(FromSystem(2107, 12, 31, 23, 59, 59, 999));
    ASSERT_TRUE(FileTimeToDosDateTime(&last, &d, &t));
    EXPECT_EQ(d, 0xFF9F);
    EXPECT_EQ(t, 0xBF7D);
    ASSERT_TRUE(DosDateTimeToFileTime(0xFF9F, 0xBF7D, &ft));
    EXPECT_EQ(Ticks(ft), FromSystem(2107, 12, 31, 23, 59, 58));
}

TEST(Time, DosDateTimeToFileTimeRefusesBadFields) {
    const WORD good_date = 0x2147, good_time = 0x6D44;
    const struct {
        WORD date, time;
    } bad[] = {
        {0x2140, good_time},                    // day 0
        {(16 << 9) | (0 << 5) | 7, good_time},  // month 0
        {(16 << 9) | (13 << 5) | 7, good_time}, // month 13
        {good_date, (24 << 11)},                // hour 24
        {good_date, (23 << 11) | (60 << 5)},    // minute 60
        {good_date, 30},                        // second 60
        {(16 << 9) | (4 << 5) | 31, good_time}, // 31 April
    };
    for (const auto& c : bad) {
        FILETIME ft = {0x55, 0x55};
        SetLastError(1234);
        EXPECT_FALSE(DosDateTimeToFileTime(c.date, c.time, &ft))
            << std::hex << c.date << " " << c.time;
        // Windows and this layer say 87; Wine 8 leaves the last error alone.
        if (!filetest::OnWine()) {
            EXPECT_EQ(Err(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
        }
        EXPECT_EQ(ft.dwLowDateTime, 0x55u);
    }
    FILETIME ft;
    EXPECT_TRUE(DosDateTimeToFileTime(good_date, 29, &ft)); // second 58
}

TEST(Time, FileTimeToDosDateTimeOutsideTheFatRange) {
    FILETIME before = MakeFileTime(FromSystem(1975, 6, 1));
    WORD d = 0x5555, t = 0x5555;
    EXPECT_FAILS(FileTimeToDosDateTime(&before, &d, &t), ERROR_INVALID_PARAMETER);
    FILETIME first = MakeFileTime(FromSystem(1980, 1, 1));
    EXPECT_FAILS(FileTimeToDosDateTime(&first, nullptr, &t), ERROR_INVALID_PARAMETER);
    EXPECT_FAILS(FileTimeToDosDateTime(&first, &d, nullptr), ERROR_INVALID_PARAMETER);
    if (!filetest::OnWine()) {
        // Windows refuses dates after 2107; Wine 8 wraps them to 1980.
        FILETIME after = MakeFileTime(FromSystem(2108, 6, 1));
        EXPECT_FAILS(FileTimeToDosDateTime(&after, &d, &t), ERROR_INVALID_PARAMETER);
    }
}

TEST(Time, LocalConversionsUndoEachOther) {
    for (uint64_t utc : {FromSystem(1996, 10, 7, 13, 42, 8), FromSystem(2021, 3, 28, 1, 30),
                         FromSystem(2021, 10, 31, 1, 30), FromSystem(2038, 1, 19, 3, 14, 8),
                         FromSystem(1601, 6, 1), FromSystem(2107, 12, 31, 23, 59, 58)}) {
        FILETIME in = MakeFileTime(utc), local, back;
        ASSERT_TRUE(FileTimeToLocalFileTime(&in, &local));
        ASSERT_TRUE(LocalFileTimeToFileTime(&local, &back));
        EXPECT_EQ(Ticks(back), utc);
    }
}

TEST(Time, LocalShiftIsTheSameForEveryDate) {
    // Windows applies the zone's bias of the moment, whatever the date
    // converted: a winter and a summer time move alike.
    int64_t winter = LocalShift(FromSystem(2020, 1, 15, 12));
    int64_t summer = LocalShift(FromSystem(2020, 7, 15, 12));
    EXPECT_EQ(winter, summer);
    EXPECT_EQ(winter % (15 * 60 * static_cast<int64_t>(kSecond)), 0);
}

TEST(Time, ClocksAgreeWithTheConversions) {
    SYSTEMTIME sys, loc;
    GetSystemTime(&sys);
    GetLocalTime(&loc);
    FILETIME sys_ft, loc_ft, expected;
    ASSERT_TRUE(SystemTimeToFileTime(&sys, &sys_ft));
    ASSERT_TRUE(SystemTimeToFileTime(&loc, &loc_ft));
    ASSERT_TRUE(FileTimeToLocalFileTime(&sys_ft, &expected));
    int64_t diff = static_cast<int64_t>(Ticks(loc_ft) - Ticks(expected));
    EXPECT_LT(diff < 0 ? -diff : diff, static_cast<int64_t>(5 * kSecond));
    EXPECT_GE(sys.wYear, 2024);
    EXPECT_EQ(ToSystem(Ticks(sys_ft)).wDayOfWeek, sys.wDayOfWeek);
    EXPECT_EQ(ToSystem(Ticks(loc_ft)).wDayOfWeek, loc.wDayOfWeek);
}

TEST_F(ZoneFixture, FixedZoneShiftsByItsBias) {
    if (!filetest::OurLayer()) GTEST_SKIP() << "a Windows process has the system's time zone";
    SetZone("<+0530>-5:30");
    uint64_t utc = FromSystem(1996, 10, 7, 13, 42, 8);
    EXPECT_EQ(LocalShift(utc), static_cast<int64_t>(5 * kHour + 30 * 60 * kSecond));
    SetZone("<-03>3");
    EXPECT_EQ(LocalShift(utc), -static_cast<int64_t>(3 * kHour));
    SetZone("UTC0");
    EXPECT_EQ(LocalShift(utc), 0);
}

TEST_F(ZoneFixture, ZoneWithDaylightSavingUsesTheCurrentBias) {
    if (!filetest::OurLayer()) GTEST_SKIP() << "a Windows process has the system's time zone";
#ifndef _WIN32
    SetZone("CET-1CEST,M3.5.0,M10.5.0/3");
    time_t now = ::time(nullptr);
    struct tm tm;
    ASSERT_NE(localtime_r(&now, &tm), nullptr);
    int64_t bias = static_cast<int64_t>(tm.tm_gmtoff) * static_cast<int64_t>(kSecond);
    EXPECT_TRUE(bias == static_cast<int64_t>(kHour) || bias == static_cast<int64_t>(2 * kHour));
    EXPECT_EQ(LocalShift(FromSystem(2020, 1, 15, 12)), bias);
    EXPECT_EQ(LocalShift(FromSystem(2020, 7, 15, 12)), bias);
    // Times in the gap and in the overlap of a DST change still go both ways.
    for (uint64_t local : {FromSystem(2021, 3, 28, 2, 30), FromSystem(2021, 10, 31, 2, 30)}) {
        FILETIME in = MakeFileTime(local), utc, back;
        ASSERT_TRUE(LocalFileTimeToFileTime(&in, &utc));
        EXPECT_EQ(static_cast<int64_t>(local - Ticks(utc)), bias);
        ASSERT_TRUE(FileTimeToLocalFileTime(&utc, &back));
        EXPECT_EQ(Ticks(back), local);
    }
    // GetLocalTime follows the zone.
    SYSTEMTIME sys, loc;
    GetSystemTime(&sys);
    GetLocalTime(&loc);
    int64_t diff = static_cast<int64_t>(
        FromSystem(loc.wYear, loc.wMonth, loc.wDay, loc.wHour, loc.wMinute, loc.wSecond) -
        FromSystem(sys.wYear, sys.wMonth, sys.wDay, sys.wHour, sys.wMinute, sys.wSecond));
    EXPECT_LT(diff - bias < 0 ? bias - diff : diff - bias, static_cast<int64_t>(5 * kSecond));
#endif
}

TEST(Time, FileStampThroughLocalTimeAndBack) {
    // As the disk layer stamps a file: FAT words -> local file time -> UTC ->
    // SetFileTime; and reads it back: GetFileTime -> local -> FAT words.
    txtest::ScratchDir dir;
    dir.write("stamp.txt", "x");
    Handle h(Open(dir.win("stamp.txt"), kReadWrite, OPEN_EXISTING));
    ASSERT_TRUE(h.valid());
    for (WORD date : {static_cast<WORD>(0x2147), static_cast<WORD>(0x0021),
                      static_cast<WORD>(0x5A8F), static_cast<WORD>(0xFF9F)}) {
        const WORD time = (23 << 11) | (59 << 5) | 29;
        FILETIME local, utc, got, got_local;
        ASSERT_TRUE(DosDateTimeToFileTime(date, time, &local));
        ASSERT_TRUE(LocalFileTimeToFileTime(&local, &utc));
        ASSERT_TRUE(SetFileTime(h, nullptr, nullptr, &utc));
        ASSERT_TRUE(GetFileTime(h, nullptr, nullptr, &got));
        EXPECT_EQ(Ticks(got), Ticks(utc));
        ASSERT_TRUE(FileTimeToLocalFileTime(&got, &got_local));
        WORD d = 0, t = 0;
        ASSERT_TRUE(FileTimeToDosDateTime(&got_local, &d, &t));
        EXPECT_EQ(d, date);
        EXPECT_EQ(t, time);
    }
}

TEST(Time, NullPointersFailWith87) {
    if (!filetest::OurLayer()) GTEST_SKIP() << "Windows faults on these null pointers";
    FILETIME ft = {0, 0};
    SYSTEMTIME st = {2000, 1, 0, 1, 0, 0, 0, 0};
    EXPECT_FAILS(FileTimeToLocalFileTime(nullptr, &ft), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(LocalFileTimeToFileTime(&ft, nullptr));
    EXPECT_FALSE(FileTimeToSystemTime(&ft, nullptr));
    EXPECT_FALSE(SystemTimeToFileTime(nullptr, &ft));
    EXPECT_FALSE(SystemTimeToFileTime(&st, nullptr));
    EXPECT_FALSE(DosDateTimeToFileTime(0x2147, 0, nullptr));
    EXPECT_FAILS(FileTimeToDosDateTime(nullptr, nullptr, nullptr), ERROR_INVALID_PARAMETER);
    GetLocalTime(nullptr);
    GetSystemTime(nullptr);
}

TEST(Time, FaultInjection) {
    if (!txplat::FaultsSupported()) GTEST_SKIP() << "the Windows calls are the system's own";
    txplat::FaultClear();
    txplat::FaultInject("FileTimeToLocalFileTime", ERROR_GEN_FAILURE);
    FILETIME in = {0, 0}, out;
    EXPECT_FAILS(FileTimeToLocalFileTime(&in, &out), ERROR_GEN_FAILURE);
    EXPECT_TRUE(FileTimeToLocalFileTime(&in, &out));
    SYSTEMTIME st;
    GetLocalTime(&st);
    GetLocalTime(&st);
    EXPECT_EQ(txplat::CallCount("GetLocalTime"), 2);
    txplat::FaultClear();
}

} // namespace

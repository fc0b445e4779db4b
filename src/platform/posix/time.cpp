// Time of the POSIX layer: GetLocalTime, GetSystemTime and the FILETIME,
// SYSTEMTIME and FAT date/time conversions.
//
// Local time is universal time plus the time zone's bias *now* (TZ as the C
// library reads it), for every date: Windows' FileTimeToLocalFileTime and
// LocalFileTimeToFileTime apply the current bias, daylight saving included,
// and do not look at the date converted. So a summer and a winter file time
// move by the same amount, and the two conversions undo each other exactly.
//
// Checks follow Windows where Wine 8 is laxer: 29 February of a common year
// is refused (Wine accepts it), FileTimeToDosDateTime refuses years after
// 2107 (Wine wraps them) and DosDateTimeToFileTime sets 87 on refusal (Wine
// leaves the last error alone).
#include "files.h"

#include <ctime>

namespace txplat::posix {

namespace {

constexpr int64_t kDaysTo1970 = 134774; // 1601-01-01 to 1970-01-01
constexpr uint64_t kMaxFileTime = 0x7FFFFFFFFFFFFFFFULL;

// Days from 1970-01-01 to a civil date, and back (H. Hinnant's algorithms).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int64_t* y, unsigned* m, unsigned* d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    *d = doy - (153 * mp + 2) / 5 + 1;
    *m = mp < 10 ? mp + 3 : mp - 9;
    *y = static_cast<int64_t>(yoe) + era * 400 + (*m <= 2);
}

bool IsLeap(unsigned y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

unsigned DaysInMonth(unsigned y, unsigned m) {
    static const unsigned days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : days[m - 1];
}

void TicksToSystemTime(uint64_t ticks, SYSTEMTIME* st) {
    uint64_t secs = ticks / kTicksPerSecond;
    int64_t days = static_cast<int64_t>(secs / 86400);
    unsigned sod = static_cast<unsigned>(secs % 86400);
    int64_t y;
    unsigned m, d;
    CivilFromDays(days - kDaysTo1970, &y, &m, &d);
    st->wYear = static_cast<WORD>(y);
    st->wMonth = static_cast<WORD>(m);
    st->wDay = static_cast<WORD>(d);
    st->wDayOfWeek = static_cast<WORD>((days + 1) % 7); // 1601-01-01 was a Monday
    st->wHour = static_cast<WORD>(sod / 3600);
    st->wMinute = static_cast<WORD>(sod / 60 % 60);
    st->wSecond = static_cast<WORD>(sod % 60);
    st->wMilliseconds = static_cast<WORD>(ticks / 10000 % 1000);
}

// Fields to ticks; false when a field is out of range or the time does not
// fit in a FILETIME (above 0x7FFFFFFFFFFFFFFF).
bool FieldsToTicks(unsigned y, unsigned mo, unsigned d, unsigned h, unsigned mi, unsigned s,
                   unsigned ms, uint64_t* ticks) {
    if (y < 1601 || y > 30828 || mo < 1 || mo > 12 || d < 1 || d > DaysInMonth(y, mo) || h > 23 ||
        mi > 59 || s > 59 || ms > 999)
        return false;
    int64_t days = DaysFromCivil(y, mo, d) + kDaysTo1970;
    uint64_t t =
        (static_cast<uint64_t>(days) * 86400 + h * 3600ULL + mi * 60ULL + s) * kTicksPerSecond +
        ms * 10000ULL;
    if (t > kMaxFileTime) return false;
    *ticks = t;
    return true;
}

// The current bias of local time over UTC, in ticks.
int64_t BiasTicksAt(time_t when) {
    tzset();
    struct tm tm;
    if (!localtime_r(&when, &tm)) return 0;
    return static_cast<int64_t>(tm.tm_gmtoff) * kTicksPerSecond;
}

uint64_t NowTicks(int64_t* bias) {
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    if (bias) *bias = BiasTicksAt(ts.tv_sec);
    return TicksOf(FileTimeOfUnix(ts));
}

} // namespace

} // namespace txplat::posix

using namespace txplat::posix;

extern "C" {

void WINAPI GetSystemTime(LPSYSTEMTIME lpSystemTime) {
    FaultEnter("GetSystemTime"); // counted; there is no failure to give
    if (!lpSystemTime) return;
    TicksToSystemTime(NowTicks(nullptr), lpSystemTime);
}

void WINAPI GetLocalTime(LPSYSTEMTIME lpSystemTime) {
    FaultEnter("GetLocalTime");
    if (!lpSystemTime) return;
    int64_t bias = 0;
    uint64_t now = NowTicks(&bias);
    TicksToSystemTime(now + static_cast<uint64_t>(bias), lpSystemTime);
}

BOOL WINAPI FileTimeToLocalFileTime(const FILETIME* lpFileTime, LPFILETIME lpLocalFileTime) {
    if (FaultEnter("FileTimeToLocalFileTime")) return FALSE;
    if (!lpFileTime || !lpLocalFileTime) return Fail(ERROR_INVALID_PARAMETER);
    int64_t bias = BiasTicksAt(time(nullptr));
    *lpLocalFileTime = FileTimeOf(TicksOf(*lpFileTime) + static_cast<uint64_t>(bias));
    return TRUE;
}

BOOL WINAPI LocalFileTimeToFileTime(const FILETIME* lpLocalFileTime, LPFILETIME lpFileTime) {
    if (FaultEnter("LocalFileTimeToFileTime")) return FALSE;
    if (!lpLocalFileTime || !lpFileTime) return Fail(ERROR_INVALID_PARAMETER);
    int64_t bias = BiasTicksAt(time(nullptr));
    *lpFileTime = FileTimeOf(TicksOf(*lpLocalFileTime) - static_cast<uint64_t>(bias));
    return TRUE;
}

BOOL WINAPI FileTimeToSystemTime(const FILETIME* lpFileTime, LPSYSTEMTIME lpSystemTime) {
    if (FaultEnter("FileTimeToSystemTime")) return FALSE;
    if (!lpFileTime || !lpSystemTime) return Fail(ERROR_INVALID_PARAMETER);
    uint64_t t = TicksOf(*lpFileTime);
    if (t > kMaxFileTime) return Fail(ERROR_INVALID_PARAMETER);
    TicksToSystemTime(t, lpSystemTime);
    return TRUE;
}

BOOL WINAPI SystemTimeToFileTime(const SYSTEMTIME* lpSystemTime, LPFILETIME lpFileTime) {
    if (FaultEnter("SystemTimeToFileTime")) return FALSE;
    if (!lpSystemTime || !lpFileTime) return Fail(ERROR_INVALID_PARAMETER);
    const SYSTEMTIME& s = *lpSystemTime; // wDayOfWeek is ignored, as on Windows
    uint64_t t;
    if (!FieldsToTicks(s.wYear, s.wMonth, s.wDay, s.wHour, s.wMinute, s.wSecond, s.wMilliseconds,
                       &t))
        return Fail(ERROR_INVALID_PARAMETER);
    *lpFileTime = FileTimeOf(t);
    return TRUE;
}

BOOL WINAPI DosDateTimeToFileTime(WORD wFatDate, WORD wFatTime, LPFILETIME lpFileTime) {
    if (FaultEnter("DosDateTimeToFileTime")) return FALSE;
    if (!lpFileTime) return Fail(ERROR_INVALID_PARAMETER);
    uint64_t t;
    // The result is a local file time, exactly as the fields say: no zone.
    if (!FieldsToTicks((wFatDate >> 9) + 1980u, (wFatDate >> 5) & 0x0Fu, wFatDate & 0x1Fu,
                       wFatTime >> 11, (wFatTime >> 5) & 0x3Fu, (wFatTime & 0x1Fu) * 2u, 0, &t))
        return Fail(ERROR_INVALID_PARAMETER);
    *lpFileTime = FileTimeOf(t);
    return TRUE;
}

BOOL WINAPI FileTimeToDosDateTime(const FILETIME* lpFileTime, LPWORD lpFatDate, LPWORD lpFatTime) {
    if (FaultEnter("FileTimeToDosDateTime")) return FALSE;
    if (!lpFileTime || !lpFatDate || !lpFatTime) return Fail(ERROR_INVALID_PARAMETER);
    uint64_t t = TicksOf(*lpFileTime);
    if (t > kMaxFileTime) return Fail(ERROR_INVALID_PARAMETER);
    SYSTEMTIME st;
    TicksToSystemTime(t, &st);
    if (st.wYear < 1980 || st.wYear > 2107) return Fail(ERROR_INVALID_PARAMETER);
    *lpFatDate = static_cast<WORD>(((st.wYear - 1980) << 9) | (st.wMonth << 5) | st.wDay);
    *lpFatTime = static_cast<WORD>((st.wHour << 11) | (st.wMinute << 5) | (st.wSecond / 2));
    return TRUE;
}

} // extern "C"

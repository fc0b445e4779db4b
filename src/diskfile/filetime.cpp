// FAT date and time words, directory search, file times and the by-handle
// date, time and size operations.
#include "diskfile/filetime.h"
#include "diskfile/diskfile.h"
#include "diskfile/internal.h"
#include "diskfile/libraryhooks.h"

#include <cstring>

namespace tx {

namespace {

constexpr int16_t kFirstContainerHandle = 255;
constexpr int16_t kFirstMemberHandle = 1000;

LibraryHooks library_hooks{};

bool Qualifies(const WIN32_FIND_DATAA& entry, uint16_t filter) {
    if (entry.cFileName[0] == '.') return false;
    bool is_directory = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    bool wants_directory = (filter & kAttrDirectory) != 0;
    return is_directory == wants_directory;
}

bool SearchOpen(HANDLE search) {
    return search != nullptr && search != INVALID_HANDLE_VALUE;
}

// Copies at most `limit` characters of a field of `field_size` bytes that the
// system may have left without a NUL, and ends the copy at `limit`.
void CopyName(char* to, const char* from, size_t field_size, size_t limit) {
    size_t n = 0;
    while (n < limit && n < field_size && from[n] != '\0') {
        to[n] = from[n];
        ++n;
    }
    std::memset(to + n, 0, limit + 1 - n);
}

// The disk handle that a virtual handle below 1000 stands for: itself below
// 255, else the current library's container file. False, with
// ERROR_INVALID_HANDLE as the last disk error, when no container is known.
bool DiskHandleOf(int16_t handle, int16_t* disk_handle) {
    *disk_handle = handle;
    if (handle < kFirstContainerHandle) return true;
    *disk_handle =
        library_hooks.container_handle != nullptr ? library_hooks.container_handle() : -1;
    if (*disk_handle != -1) return true;
    disk::SetErrorCode(ERROR_INVALID_HANDLE);
    return false;
}

bool MemberHooksReady() {
    if (library_hooks.member_get_date_time != nullptr && library_hooks.member_get_size != nullptr &&
        library_hooks.member_set_date_time != nullptr)
        return true;
    disk::SetErrorCode(ERROR_INVALID_HANDLE);
    return false;
}

// What a member operation answers after its hook: a handle that names no
// member of an open library fails as a handle that names nothing does.
int MemberAnswer(int answered) {
    if (answered) return 1;
    disk::SetErrorCode(ERROR_INVALID_HANDLE);
    return 0;
}

// Moves the file pointer by a 64-bit distance, through the high part of
// SetFilePointer, so that positions of 2 GiB and beyond are reached: true
// with the new position, or false with the system's code in GetLastError.
bool SeekWide(HANDLE file, int64_t distance, DWORD method, uint64_t* position) {
    LONG high = static_cast<LONG>(distance >> 32);
    SetLastError(ERROR_SUCCESS);
    const DWORD low =
        SetFilePointer(file, static_cast<LONG>(static_cast<uint32_t>(distance)), &high, method);
    // A true position whose low half is all ones comes with error 0.
    if (low == INVALID_SET_FILE_POINTER && GetLastError() != ERROR_SUCCESS) return false;
    *position = static_cast<uint64_t>(static_cast<uint32_t>(high)) << 32 | low;
    return true;
}

// The size of an open file, read by a seek to its end; the file position is
// put back wherever it stood. 1 with the last disk error cleared, or 0: with
// the system's error when a seek fails, with ERROR_ARITHMETIC_OVERFLOW for a
// file of 4 GiB or more, whose size does not fit the answer.
int SizeKeepingPosition(HANDLE file, uint32_t* size) {
    uint64_t here = 0;
    if (!SeekWide(file, 0, FILE_CURRENT, &here)) {
        disk::SetErrorFromSystem();
        return 0;
    }
    uint64_t end = 0;
    const bool measured = SeekWide(file, 0, FILE_END, &end);
    const DWORD error = GetLastError();
    uint64_t back = 0;
    if (!SeekWide(file, static_cast<int64_t>(here), FILE_BEGIN, &back)) {
        disk::SetErrorFromSystem();
        return 0;
    }
    if (!measured) {
        disk::SetErrorCode(error);
        return 0;
    }
    if (end > UINT32_MAX) {
        disk::SetErrorCode(ERROR_ARITHMETIC_OVERFLOW);
        return 0;
    }
    *size = static_cast<uint32_t>(end);
    disk::SetErrorRaw(0);
    return 1;
}

} // namespace

void DiskSetLibraryHooks(const LibraryHooks* hooks) {
    library_hooks = hooks != nullptr ? *hooks : LibraryHooks{};
}

uint16_t PackFatDate(const DateTimeRecord& when) {
    return static_cast<uint16_t>((when.year - 1980) * 512 + when.month * 32 + when.day);
}

uint16_t PackFatTime(const DateTimeRecord& when) {
    return static_cast<uint16_t>(when.hour * 2048 + when.minute * 32 + when.second / 2);
}

DateTimeRecord UnpackFatDateTime(uint16_t date, uint16_t time) {
    DateTimeRecord when;
    when.year = static_cast<uint16_t>((date >> 9) + 1980);
    when.month = static_cast<uint16_t>((date >> 5) & 0x0F);
    when.day = static_cast<uint16_t>(date & 0x1F);
    when.hour = static_cast<uint16_t>(time >> 11);
    when.minute = static_cast<uint16_t>((time >> 5) & 0x3F);
    when.second = static_cast<uint16_t>((time & 0x1F) * 2);
    return when;
}

namespace disk {

int FileTimeToRecord(const FILETIME& utc, DateTimeRecord* when) {
    FILETIME local;
    SYSTEMTIME broken;
    if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &broken)) {
        SetErrorFromSystem();
        return 0;
    }
    when->year = broken.wYear;
    when->month = broken.wMonth;
    when->day = broken.wDay;
    when->hour = broken.wHour;
    when->minute = broken.wMinute;
    when->second = broken.wSecond;
    return 1;
}

int FillFindRecord(const WIN32_FIND_DATAA& entry, FindRecord* record) {
    DateTimeRecord when;
    if (!FileTimeToRecord(entry.ftLastWriteTime, &when)) return 0;
    record->when = when;
    record->size = entry.nFileSizeLow;
    CopyName(record->name, entry.cFileName, sizeof entry.cFileName, 260);
    if (entry.cAlternateFileName[0] != '\0')
        CopyName(record->short_name, entry.cAlternateFileName, sizeof entry.cAlternateFileName, 14);
    else
        CopyName(record->short_name, entry.cFileName, sizeof entry.cFileName, 14);
    record->attributes = FatAttributes(entry.dwFileAttributes);
    return 1;
}

} // namespace disk

int DiskFindFirst(const char* pattern, FindRecord* record, uint16_t filter) {
    if (record == nullptr) return 0;
    record->filter = filter;
    record->search = INVALID_HANDLE_VALUE;
    if (pattern == nullptr) {
        disk::SetErrorCode(ERROR_INVALID_PARAMETER);
        return 0;
    }
    WIN32_FIND_DATAA entry;
    HANDLE search = disk::WithErrorsQuiet([&] { return FindFirstFileA(pattern, &entry); });
    record->search = search;
    if (search == INVALID_HANDLE_VALUE) {
        disk::SetErrorFromSystem();
        return 0;
    }
    if (Qualifies(entry, filter)) return disk::FillFindRecord(entry, record);
    return DiskFindNext(record);
}

int DiskFindNext(FindRecord* record) {
    if (record == nullptr) return 0;
    HANDLE search = record->search;
    if (!SearchOpen(search)) return 0;
    WIN32_FIND_DATAA entry;
    do {
        if (!FindNextFileA(search, &entry)) return 0;
    } while (!Qualifies(entry, record->filter));
    return disk::FillFindRecord(entry, record);
}

void DiskFindClose(FindRecord* record) {
    if (record == nullptr || !SearchOpen(record->search)) return;
    FindClose(record->search);
    record->search = INVALID_HANDLE_VALUE;
}

int DiskGetFileTime(int16_t handle, DateTimeRecord* when) {
    FILETIME written;
    HANDLE system = DiskSystemHandle(handle);
    BOOL ok =
        disk::WithErrorsQuiet([&] { return GetFileTime(system, nullptr, nullptr, &written); });
    if (!ok) {
        disk::SetErrorFromSystem();
        return 0;
    }
    return disk::FileTimeToRecord(written, when);
}

int DiskSetFileTime(int16_t handle, const DateTimeRecord& when) {
    FILETIME local;
    FILETIME utc;
    if (!DosDateTimeToFileTime(PackFatDate(when), PackFatTime(when), &local) ||
        !LocalFileTimeToFileTime(&local, &utc)) {
        disk::SetErrorFromSystem();
        return 0;
    }
    HANDLE system = DiskSystemHandle(handle);
    return disk::Outcome(
        disk::WithErrorsQuiet([&] { return SetFileTime(system, nullptr, nullptr, &utc); }));
}

TimeStamp LocalTimeStamp() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    return TimeStamp{static_cast<uint8_t>(now.wHour), static_cast<uint8_t>(now.wMinute),
                     static_cast<uint8_t>(now.wSecond),
                     static_cast<uint8_t>(now.wMilliseconds / 10)};
}

DateStamp LocalDateStamp() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    return DateStamp{static_cast<uint8_t>(now.wDay), static_cast<uint8_t>(now.wMonth), now.wYear,
                     static_cast<uint8_t>(now.wDayOfWeek)};
}

void CurrentDosDateTime(uint16_t* date, uint16_t* time) {
    DateStamp day = LocalDateStamp();
    TimeStamp clock = LocalTimeStamp();
    DateTimeRecord when{day.year, day.month, day.day, clock.hour, clock.minute, clock.second};
    if (date != nullptr) *date = PackFatDate(when);
    if (time != nullptr) *time = PackFatTime(when);
}

int FileGetDateTime(int16_t handle, uint16_t* date, uint16_t* time) {
    uint16_t d = 0;
    uint16_t t = 0;
    int ok = 0;
    int16_t disk_handle;
    DateTimeRecord when;
    if (handle >= kFirstMemberHandle) {
        ok = MemberHooksReady() && MemberAnswer(library_hooks.member_get_date_time(handle, &d, &t));
    } else if (DiskHandleOf(handle, &disk_handle) && DiskGetFileTime(disk_handle, &when)) {
        d = PackFatDate(when);
        t = PackFatTime(when);
        ok = 1;
    }
    if (!ok) d = t = 0;
    if (date != nullptr) *date = d;
    if (time != nullptr) *time = t;
    return ok;
}

int FileGetSize(int16_t handle, uint32_t* size) {
    uint32_t s = 0;
    int ok = 0;
    int16_t disk_handle;
    if (handle >= kFirstMemberHandle) {
        ok = MemberHooksReady() && MemberAnswer(library_hooks.member_get_size(handle, &s));
    } else if (DiskHandleOf(handle, &disk_handle)) {
        ok = SizeKeepingPosition(DiskSystemHandle(disk_handle), &s);
    }
    if (!ok) s = 0;
    if (size != nullptr) *size = s;
    return ok;
}

int FileSetDateTime(int16_t handle, uint16_t date, uint16_t time) {
    if (handle >= kFirstMemberHandle)
        return MemberHooksReady() &&
               MemberAnswer(library_hooks.member_set_date_time(handle, date, time));
    int16_t disk_handle;
    if (!DiskHandleOf(handle, &disk_handle)) return 0;
    return DiskSetFileTime(disk_handle, UnpackFatDateTime(date, time));
}

} // namespace tx

// Directory search, file times and date stamps of the disk file layer.
//
// Every file and member date is stored and compared as the packed 16-bit date
// and time words of the FAT directory format, in local time:
//   date = (year - 1980) * 512 + month * 32 + day
//   time = hour * 2048 + minute * 32 + second / 2
// packed in 16-bit arithmetic, so years outside 1980..2107 wrap modulo 128
// years and odd seconds round down.
//
// The last disk error and the critical-error-box rule are those of diskfile.h.
#pragma once

#include "platform/win32.h"

#include <cstddef>
#include <cstdint>

namespace tx {

// A local date and time, without milliseconds or day of the week.
struct DateTimeRecord {
    uint16_t year; // four digits, such as 1996
    uint16_t month;
    uint16_t day;
    uint16_t hour;
    uint16_t minute;
    uint16_t second;
};
static_assert(sizeof(DateTimeRecord) == 12);

uint16_t PackFatDate(const DateTimeRecord& when);
uint16_t PackFatTime(const DateTimeRecord& when);
// The record for a date word and a time word (seconds come back even).
DateTimeRecord UnpackFatDateTime(uint16_t date, uint16_t time);

// The five FAT attribute bits; every other system attribute bit is dropped.
constexpr uint16_t kAttrReadOnly = 0x01;
constexpr uint16_t kAttrHidden = 0x02;
constexpr uint16_t kAttrSystem = 0x04;
constexpr uint16_t kAttrDirectory = 0x10;
constexpr uint16_t kAttrArchive = 0x20;
constexpr uint16_t kAttrFatMask = 0x37;

inline uint16_t FatAttributes(DWORD system_attributes) {
    return static_cast<uint16_t>(system_attributes & kAttrFatMask);
}

// The state of one directory search, owned by the caller from DiskFindFirst
// to DiskFindClose. The fields describe the current entry. The record lives
// only in memory, so its fields keep their natural alignment: callers may
// take references to them.
struct FindRecord {
    DateTimeRecord when; // last-write time, local
    uint16_t attributes; // FAT attribute bits
    uint32_t size;       // low 32 bits of the size
    char name[261];      // at most 260 characters and a NUL
    char short_name[15]; // the 8.3 name, or the first 14 characters of the name
    uint16_t filter;     // the filter given to DiskFindFirst
    HANDLE search;       // the system's find handle; 0 or INVALID_HANDLE_VALUE: none
};
static_assert(offsetof(FindRecord, when) == 0);
static_assert(offsetof(FindRecord, attributes) == 12);
static_assert(offsetof(FindRecord, size) == 16);
static_assert(offsetof(FindRecord, name) == 20);
static_assert(offsetof(FindRecord, short_name) == 281);
static_assert(offsetof(FindRecord, filter) == 296);
static_assert(offsetof(FindRecord, search) == (sizeof(HANDLE) == 4 ? 300 : 304));

// Starts a search for `pattern` (a path that may hold '*' and '?') and fills
// the record with the first entry that qualifies. An entry qualifies when its
// name does not begin with '.' (so "." and ".." never do) and it is a
// directory exactly when `filter` has bit 0x10. Answers 1, or 0 when nothing
// qualifies (last disk error untouched; the search stays open in the record)
// or the system refuses the pattern (last disk error from the system). Always
// end a search with DiskFindClose before the record is used again.
int DiskFindFirst(const char* pattern, FindRecord* record, uint16_t filter);

// The next entry that qualifies: 1, or 0 at the end (last disk error
// untouched).
int DiskFindNext(FindRecord* record);

// Ends the search. A zero-filled record, or one already closed, is left alone.
void DiskFindClose(FindRecord* record);

// The last-write time of an open disk file, in local time: 1, or 0 with the
// last disk error from the system. Success leaves the last disk error alone.
int DiskGetFileTime(int16_t handle, DateTimeRecord* when);

// Sets the last-write time of an open disk file (creation and access times
// stay), to the even second at or below the one given: 1 and the last disk
// error cleared, or 0 with the system's error.
int DiskSetFileTime(int16_t handle, const DateTimeRecord& when);

// Two small readings of the local clock.
struct TimeStamp {
    uint8_t hour;
    uint8_t minute;
    uint8_t second;
    uint8_t hundredths;
};
struct DateStamp {
    uint8_t day;
    uint8_t month;
    uint16_t year;
    uint8_t day_of_week; // 0 = Sunday
};
static_assert(sizeof(TimeStamp) == 4 && offsetof(DateStamp, year) == 2);

TimeStamp LocalTimeStamp();
DateStamp LocalDateStamp();

// The current local date and time as FAT words. The date is read first, from
// a reading of the clock of its own, so just before midnight the old date may
// come with the new day's time.
void CurrentDosDateTime(uint16_t* date, uint16_t* time);

// Date, time and size by virtual handle: a disk handle (below 255), the
// current library's container file (255..999), or a library member (1000 and
// above). Containers and members are answered by the library layer through
// the hooks of libraryhooks.h. Each answers 1, or 0 with zeros in its outputs
// when the answer could not be had; the reason is in the last disk error
// (ERROR_INVALID_HANDLE, 6, for a container or member value that names no
// open library, or no member open in it, or while the library layer has no
// hooks installed).
int FileGetDateTime(int16_t handle, uint16_t* date, uint16_t* time);
// Stores the size from a seek to the end; the file position is put back
// wherever it stood, 2 GiB and beyond included. A disk file of 4 GiB or more
// has no 32-bit size: 0, with ERROR_ARITHMETIC_OVERFLOW (534).
int FileGetSize(int16_t handle, uint32_t* size);
// For a disk file, sets its last-write time; for a member, its directory entry.
int FileSetDateTime(int16_t handle, uint16_t date, uint16_t time);

} // namespace tx

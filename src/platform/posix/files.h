// What the file calls of the POSIX layer share: the object behind a file
// handle on disk, the name and search rules of both file backends (files.cpp
// and find.cpp on disk, memoryfiles.cpp in memory), FILETIME arithmetic and
// the attribute rules Wine applies to host files.
#pragma once

#include "internal.h"

#include <cstdint>
#include <ctime>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <vector>

namespace txplat::posix {

// An open file on disk. The descriptor is closed, and the handle's byte-range locks
// released, when the object is destroyed (CloseHandle).
struct FileObject : KernelObject {
    int fd = -1;
    bool can_read = false;
    bool can_write = false;
    dev_t dev = 0;
    ino_t ino = 0;
    // A second descriptor, open for writing, on which the locks of a handle
    // without write access are taken (F_WRLCK needs a writable descriptor);
    // -1 until first needed, -2 when it could not be had.
    int lock_fd = -1;
    ~FileObject() override;
};

// The names and searches both file backends share (findnames.cpp).

// True when `handle` is a search handle of FindFirstFileA.
bool IsFindHandle(HANDLE handle);

// A search handle over the entries found, the first of them copied to
// `first`; INVALID_HANDLE_VALUE and error 2 when there are none.
HANDLE FindHandleOpen(std::vector<WIN32_FIND_DATAA> entries, LPWIN32_FIND_DATAA first);

// Splits a FindFirstFileA pattern into its directory part (with its
// separator, or a bare drive "Z:", or empty) and its last component.
void SplitSearchPattern(const std::string& pattern, std::string* directory, std::string* mask);

// True when the text holds '*' or '?'.
bool HasWildcard(const std::string& s);

// Wine's match_filename: the name against a mask of '*' and '?', without
// regard to case.
bool MatchName(const std::string& name, const std::string& mask);

// The order of a listing: "." and ".." first, then without regard to case.
bool EntryBefore(const std::string& a, const std::string& b);

// Wine's attributes of a name: directory or archive, read-only, and hidden
// for a name starting with '.' (but "." and "..").
DWORD NameAttributes(bool directory, bool read_only, const std::string& name);

// Sets cFileName and, for a name that is no legal 8.3 name, the short name
// Wine makes up in cAlternateFileName.
void SetFoundName(const std::string& name, WIN32_FIND_DATAA* out);

// GetFileAttributesA as Wine answers it, for the C runtime calls: the file's
// status (type, mode, size, times) and its attributes, or false with a
// Windows error code. Each file backend answers it from where it keeps files.
bool PathAttributes(const char* path, struct stat* st, DWORD* attr, DWORD* error);

// 100 ns ticks between 1601-01-01 and 1970-01-01.
constexpr int64_t kUnixEpochTicks = 116444736000000000LL;
constexpr int64_t kTicksPerSecond = 10000000LL;

inline uint64_t TicksOf(const FILETIME& ft) {
    return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}
inline FILETIME FileTimeOf(uint64_t ticks) {
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(ticks);
    ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return ft;
}
inline FILETIME FileTimeOfUnix(const struct timespec& ts) {
    int64_t ticks =
        static_cast<int64_t>(ts.tv_sec) * kTicksPerSecond + ts.tv_nsec / 100 + kUnixEpochTicks;
    return FileTimeOf(static_cast<uint64_t>(ticks < 0 ? 0 : ticks));
}
inline struct timespec UnixOfFileTime(const FILETIME& ft) {
    int64_t rel = static_cast<int64_t>(TicksOf(ft)) - kUnixEpochTicks;
    int64_t sec = rel / kTicksPerSecond;
    int64_t rem = rel % kTicksPerSecond;
    if (rem < 0) {
        rem += kTicksPerSecond;
        --sec;
    }
    struct timespec ts;
    ts.tv_sec = static_cast<time_t>(sec);
    ts.tv_nsec = static_cast<long>(rem * 100);
    return ts;
}

// Wine's attributes for a host file: directory or archive, read-only when no
// one may write it, hidden for a name starting with '.' (but "." and "..").
// `name` is the last path component; `is_link` comes from lstat.
DWORD AttributesOf(const struct stat& st, const std::string& name, bool is_link);

// The creation time of a file: its birth time where the file system keeps one
// (statx on dirfd/path with flags), else its last-write time from `st`.
FILETIME CreationTimeOf(int dirfd, const char* path, int flags, const struct stat& st);

// True when the text holds a character that no Windows file name may hold
// ('*', '?', '<', '>', '|', '"').
bool HasInvalidNameChar(const char* s, size_t len);

} // namespace txplat::posix

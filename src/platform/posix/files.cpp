// Files of the POSIX layer on the host's file system: CreateFileA, ReadFile,
// WriteFile, SetFilePointer, SetEndOfFile, GetFileSize, CloseHandle,
// DeleteFileA, LockFile, UnlockFile, GetFileTime, SetFileTime, MoveFileExA,
// CreateDirectoryA and RemoveDirectoryA over open/read/write/lseek/rename/
// mkdir/rmdir, and the file status the C runtime calls read. (memoryfiles.cpp
// is the same set over files kept in memory, for the fuzz build.)
//
// Where Windows and Linux part, the answers are Windows' as Wine gives them:
// - Share modes are accepted and ignored: Linux cannot refuse a second open
//   or a delete because another handle (of any process) did not share.
// - Byte-range locks are Windows' exclusive locks: any overlapping lock of
//   the same file conflicts, also one of the same handle (33); an unlock must
//   name exactly a range that this handle locked (else 158). Within the
//   process the rules are kept in a table of the locks of each file; between
//   processes they are open-file-description locks (F_OFD_SETLK), which do
//   not merge or vanish when another descriptor of the file closes. They are
//   advisory: unlike Windows, a read or write of a range that another handle
//   locked is not refused (Wine does not refuse it either).
// - A handle without write access can neither truncate (SetEndOfFile) nor set
//   the file times: 5, as on Windows (Wine answers 87 and success).
// - A file whose mode has no write bit is read-only: opening it for writing
//   and deleting it fail with 5 even for root, as Wine does.
// - Creation times come from the file system's birth time when it keeps one,
//   else the last-write time; SetFileTime cannot change them.
// - MoveFileExA is one rename(2): the new name names the old file or the
//   moved one, never nothing. Like Windows it does not replace a read-only
//   file (Wine does) or a directory (5), nor an existing file without
//   MOVEFILE_REPLACE_EXISTING (183); unlike Windows it replaces a file that
//   is open or loaded (the holder keeps the old one). It never copies
//   between file systems (17, MOVEFILE_COPY_ALLOWED or not); with
//   MOVEFILE_WRITE_THROUGH the directory of the new name is synced.
// - ReadFile and WriteFile take no OVERLAPPED (87): every handle here is
//   synchronous and the structure is opaque in this subset.
#include "files.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

namespace txplat::posix {

namespace {

// What Wine answers for a null buffer given to WriteFile with a non-zero count.
constexpr DWORD kErrorInvalidUserBuffer = 1784;

struct LockRecord {
    FileObject* owner;
    uint64_t offset;
    uint64_t length;
};

using LockTable = std::map<std::pair<dev_t, ino_t>, std::vector<LockRecord>>;

// Never destroyed, so that handles closed during exit still find it.
LockTable& Locks() {
    static LockTable* table = new LockTable;
    return *table;
}

bool ReadOnlyMode(mode_t mode) {
    return (mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

// Takes or releases the host lock of a range (between processes). Ranges
// beyond what off_t can hold are kept in the table only.
bool HostLock(FileObject* f, uint64_t offset, uint64_t length, bool lock) {
    if (length == 0 || offset >= static_cast<uint64_t>(INT64_MAX)) return true;
    uint64_t room = static_cast<uint64_t>(INT64_MAX) - offset;
    uint64_t len = std::min(length, room);
    int fd = f->fd;
    short type = F_WRLCK;
    if (!f->can_write) {
        if (f->lock_fd == -1) {
            std::string self = "/proc/self/fd/" + std::to_string(f->fd);
            int lfd = open(self.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY);
            f->lock_fd = lfd >= 0 ? lfd : -2;
        }
        if (f->lock_fd >= 0) {
            fd = f->lock_fd;
        } else {
            type = F_RDLCK; // the best a read-only descriptor can take
        }
    }
    struct flock fl;
    std::memset(&fl, 0, sizeof fl);
    fl.l_type = lock ? type : F_UNLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = static_cast<off_t>(offset);
    fl.l_len = static_cast<off_t>(len);
    while (fcntl(fd, F_OFD_SETLK, &fl) != 0) {
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EACCES) {
            SetLastError(ERROR_LOCK_VIOLATION);
        } else {
            SetLastErrorFromErrno();
        }
        return false;
    }
    return true;
}

bool Overlaps(const LockRecord& held, uint64_t offset, uint64_t length) {
    if (held.length == 0) return false; // zero-byte locks block nothing
    uint64_t held_end = held.offset + held.length;
    if (length == 0) return held.offset <= offset && offset < held_end;
    return held.offset < offset + length && offset < held_end;
}

FileObject* FileOf(HANDLE h) {
    return HandleGetAs<FileObject>(h);
}

} // namespace

FileObject::~FileObject() {
    auto& table = Locks();
    auto it = table.find({dev, ino});
    if (it != table.end()) {
        auto& v = it->second;
        v.erase(std::remove_if(v.begin(), v.end(),
                               [this](const LockRecord& r) { return r.owner == this; }),
                v.end());
        if (v.empty()) table.erase(it);
    }
    if (lock_fd >= 0) close(lock_fd);
    if (fd >= 0) close(fd); // releases this description's host locks
}

DWORD AttributesOf(const struct stat& st, const std::string& name, bool is_link) {
    DWORD attr = NameAttributes(S_ISDIR(st.st_mode), ReadOnlyMode(st.st_mode), name);
    if (is_link) attr |= 0x400; // FILE_ATTRIBUTE_REPARSE_POINT, as Wine shows symbolic links
    return attr;
}

FILETIME CreationTimeOf(int dirfd, const char* path, int flags, const struct stat& st) {
    struct statx sx;
    if (statx(dirfd, path, flags, STATX_BTIME, &sx) == 0 && (sx.stx_mask & STATX_BTIME)) {
        struct timespec ts;
        ts.tv_sec = sx.stx_btime.tv_sec;
        ts.tv_nsec = sx.stx_btime.tv_nsec;
        return FileTimeOfUnix(ts);
    }
    return FileTimeOfUnix(st.st_mtim);
}

bool PathAttributes(const char* path, struct stat* st, DWORD* attr, DWORD* error) {
    if (!path || !*path) {
        *error = ERROR_PATH_NOT_FOUND;
        return false;
    }
    size_t len = std::strlen(path);
    if (HasInvalidNameChar(path, len)) {
        *error = ERROR_INVALID_NAME;
        return false;
    }
    HostPathResult host;
    if (!HostPath(path, &host, error)) return false;
    if (stat(host.host.c_str(), st) != 0) {
        *error =
            errno == ENOTDIR ? ERROR_PATH_NOT_FOUND : ErrorFromErrno(errno, host.parent_exists);
        return false;
    }
    if (IsSeparator(path[len - 1]) && !S_ISDIR(st->st_mode)) {
        *error = ERROR_INVALID_NAME; // "file\" names no file
        return false;
    }
    std::string::size_type slash = host.host.rfind('/');
    *attr = AttributesOf(*st, host.host.substr(slash + 1), false);
    return true;
}

} // namespace txplat::posix

using namespace txplat::posix;

extern "C" {

HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                          DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
    (void)lpSecurityAttributes;
    (void)hTemplateFile;
    // The share mode cannot be enforced on Linux (see the top of this file):
    // it is only recorded, for tests to see.
    CreateFileRecordAdd(
        {dwDesiredAccess, dwShareMode, dwCreationDisposition, dwFlagsAndAttributes});
    if (FaultEnter("CreateFileA")) return INVALID_HANDLE_VALUE;
    if (!lpFileName || !*lpFileName) return Fail(ERROR_PATH_NOT_FOUND, INVALID_HANDLE_VALUE);
    size_t len = std::strlen(lpFileName);
    if (HasInvalidNameChar(lpFileName, len)) return Fail(ERROR_INVALID_NAME, INVALID_HANDLE_VALUE);
    if (dwCreationDisposition < CREATE_NEW || dwCreationDisposition > TRUNCATE_EXISTING)
        return Fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
    HostPathResult path;
    DWORD error = 0;
    if (!HostPath(lpFileName, &path, &error)) {
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    const char* host = path.host.c_str();

    struct stat before;
    bool exists = stat(host, &before) == 0;
    if (exists && IsSeparator(lpFileName[len - 1]) && !S_ISDIR(before.st_mode))
        return Fail(ERROR_INVALID_NAME, INVALID_HANDLE_VALUE); // "file\" names no file

    const DWORD read_bits =
        GENERIC_READ | 0x10000000 /* GENERIC_ALL */ | 0x0001 /* FILE_READ_DATA */;
    const DWORD write_bits = GENERIC_WRITE | 0x10000000 | 0x0002 /* FILE_WRITE_DATA */;
    bool want_read = (dwDesiredAccess & read_bits) != 0;
    bool want_write = (dwDesiredAccess & write_bits) != 0;
    int flags = O_CLOEXEC | O_NOCTTY;
    if (want_read && want_write) {
        flags |= O_RDWR;
    } else if (want_write) {
        flags |= O_WRONLY;
    } else {
        flags |= O_RDONLY;
    }
    // Read-only files refuse writers, as the read-only attribute does.
    if (exists && !S_ISDIR(before.st_mode) && ReadOnlyMode(before.st_mode) && want_write &&
        dwCreationDisposition != CREATE_NEW)
        return Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
    mode_t mode = (dwFlagsAndAttributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;

    int fd = -1;
    bool existed = false;
    for (int attempt = 0; attempt < 8 && fd < 0; ++attempt) {
        switch (dwCreationDisposition) {
        case CREATE_NEW:
            fd = open(host, flags | O_CREAT | O_EXCL, mode);
            break;
        case OPEN_EXISTING:
            fd = open(host, flags);
            break;
        case TRUNCATE_EXISTING:
            fd = open(host, flags | O_TRUNC);
            break;
        case CREATE_ALWAYS:
        case OPEN_ALWAYS:
            fd = open(host, flags | O_CREAT | O_EXCL, mode);
            if (fd < 0 && errno == EEXIST) {
                existed = true;
                int more = dwCreationDisposition == CREATE_ALWAYS ? O_TRUNC : 0;
                fd = open(host, flags | more);
                if (fd < 0 && errno == ENOENT) continue; // removed meanwhile: create again
            }
            break;
        }
        if (fd < 0 && errno == EINTR) continue;
        break;
    }
    if (fd < 0 && errno == EACCES && dwDesiredAccess == 0 &&
        dwCreationDisposition == OPEN_EXISTING) {
        fd = open(host, O_PATH | O_CLOEXEC); // attributes only, as Windows allows
    }
    if (fd < 0) {
        if (errno == ENOTDIR) {
            SetLastError(ERROR_PATH_NOT_FOUND);
        } else {
            SetLastErrorFromErrno(path.parent_exists);
        }
        return INVALID_HANDLE_VALUE;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        close(fd);
        SetLastError(ERROR_ACCESS_DENIED); // a directory is not opened as a file
        return INVALID_HANDLE_VALUE;
    }
    auto file = std::make_unique<FileObject>();
    file->fd = fd;
    file->can_read = want_read;
    file->can_write = want_write;
    file->dev = st.st_dev;
    file->ino = st.st_ino;
    HANDLE h = HandleInsert(std::move(file));
    bool reports_existing =
        dwCreationDisposition == CREATE_ALWAYS || dwCreationDisposition == OPEN_ALWAYS;
    SetLastError(reports_existing && existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return h;
}

BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                     LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped) {
    if (lpNumberOfBytesRead) *lpNumberOfBytesRead = 0;
    if (FaultEnter("ReadFile")) return FALSE;
    uint32_t limit = FaultTransferLimit("ReadFile", nNumberOfBytesToRead);
    FileObject* f = FileOf(hFile);
    if (!f) return Fail(ERROR_INVALID_HANDLE);
    if (lpOverlapped) return Fail(ERROR_INVALID_PARAMETER);
    if (!f->can_read) return Fail(ERROR_ACCESS_DENIED);
    if (!lpBuffer && nNumberOfBytesToRead) return Fail(ERROR_NOACCESS);
    char* p = static_cast<char*>(lpBuffer);
    uint32_t total = 0;
    while (total < limit) {
        ssize_t n = read(f->fd, p + total, limit - total);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (lpNumberOfBytesRead) *lpNumberOfBytesRead = total;
            return FailErrno(FALSE);
        }
        if (n == 0) break; // end of file: success with what was read
        total += static_cast<uint32_t>(n);
    }
    if (lpNumberOfBytesRead) *lpNumberOfBytesRead = total;
    return TRUE;
}

BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                      LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped) {
    if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = 0;
    if (FaultEnter("WriteFile")) return FALSE;
    uint32_t limit = FaultTransferLimit("WriteFile", nNumberOfBytesToWrite);
    FileObject* f = FileOf(hFile);
    if (!f) return Fail(ERROR_INVALID_HANDLE);
    if (lpOverlapped) return Fail(ERROR_INVALID_PARAMETER);
    if (!f->can_write) return Fail(ERROR_ACCESS_DENIED);
    if (!lpBuffer && nNumberOfBytesToWrite) return Fail(kErrorInvalidUserBuffer);
    const char* p = static_cast<const char*>(lpBuffer);
    uint32_t total = 0;
    while (total < limit) {
        ssize_t n = write(f->fd, p + total, limit - total);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = total;
            return FailErrno(FALSE);
        }
        total += static_cast<uint32_t>(n);
    }
    if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = total;
    return TRUE;
}

DWORD WINAPI SetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh,
                            DWORD dwMoveMethod) {
    if (FaultEnter("SetFilePointer")) return INVALID_SET_FILE_POINTER;
    FileObject* f = FileOf(hFile);
    if (!f) return Fail(ERROR_INVALID_HANDLE, INVALID_SET_FILE_POINTER);
    const int64_t distance = MoveDistance(lDistanceToMove, lpDistanceToMoveHigh);
    int64_t base = 0;
    switch (dwMoveMethod) {
    case FILE_BEGIN:
        break;
    case FILE_CURRENT: {
        off_t cur = lseek(f->fd, 0, SEEK_CUR);
        if (cur < 0) return FailErrno(INVALID_SET_FILE_POINTER);
        base = cur;
        break;
    }
    case FILE_END: {
        struct stat st;
        if (fstat(f->fd, &st) != 0) return FailErrno(INVALID_SET_FILE_POINTER);
        base = st.st_size;
        break;
    }
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    int64_t target;
    if (__builtin_add_overflow(base, distance, &target) || target < 0) {
        SetLastError(distance < 0 ? ERROR_NEGATIVE_SEEK : ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    if (lseek(f->fd, static_cast<off_t>(target), SEEK_SET) < 0)
        return FailErrno(INVALID_SET_FILE_POINTER);
    if (lpDistanceToMoveHigh) *lpDistanceToMoveHigh = static_cast<LONG>(target >> 32);
    DWORD low = static_cast<DWORD>(target);
    // A true position whose low half is 0xFFFFFFFF is told from failure by 0.
    if (low == INVALID_SET_FILE_POINTER) SetLastError(ERROR_SUCCESS);
    return low;
}

BOOL WINAPI SetEndOfFile(HANDLE hFile) {
    if (FaultEnter("SetEndOfFile")) return FALSE;
    FileObject* f = FileOf(hFile);
    if (!f) return Fail(ERROR_INVALID_HANDLE);
    if (!f->can_write) return Fail(ERROR_ACCESS_DENIED);
    off_t cur = lseek(f->fd, 0, SEEK_CUR);
    if (cur < 0) return FailErrno(FALSE);
    while (ftruncate(f->fd, cur) != 0) {
        if (errno != EINTR) return FailErrno(FALSE);
    }
    return TRUE;
}

DWORD WINAPI GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh) {
    const DWORD invalid_file_size = 0xFFFFFFFF;
    if (FaultEnter("GetFileSize")) return invalid_file_size;
    FileObject* f = FileOf(hFile);
    if (!f) return Fail(ERROR_INVALID_HANDLE, invalid_file_size);
    struct stat st;
    if (fstat(f->fd, &st) != 0) return FailErrno(invalid_file_size);
    uint64_t size = static_cast<uint64_t>(st.st_size);
    if (lpFileSizeHigh) *lpFileSizeHigh = static_cast<DWORD>(size >> 32);
    DWORD low = static_cast<DWORD>(size);
    if (low == invalid_file_size) SetLastError(ERROR_SUCCESS);
    return low;
}

BOOL WINAPI CloseHandle(HANDLE hObject) {
    if (FaultEnter("CloseHandle")) return FALSE;
    // INVALID_HANDLE_VALUE is the current process's pseudo handle, which
    // Windows "closes" with success.
    if (hObject == INVALID_HANDLE_VALUE) return TRUE;
    if (IsFindHandle(hObject)) return Fail(ERROR_INVALID_HANDLE); // FindClose's business
    if (!HandleRemove(hObject)) return Fail(ERROR_INVALID_HANDLE);
    return TRUE;
}

BOOL WINAPI DeleteFileA(LPCSTR lpFileName) {
    if (FaultEnter("DeleteFileA")) return FALSE;
    if (!lpFileName || !*lpFileName) return Fail(ERROR_PATH_NOT_FOUND);
    if (HasInvalidNameChar(lpFileName, std::strlen(lpFileName))) return Fail(ERROR_INVALID_NAME);
    HostPathResult path;
    DWORD error = 0;
    if (!HostPath(lpFileName, &path, &error)) return Fail(error);
    struct stat st;
    if (lstat(path.host.c_str(), &st) != 0) {
        if (errno == ENOTDIR) return Fail(ERROR_PATH_NOT_FOUND);
        return FailErrno(FALSE, path.parent_exists);
    }
    if (S_ISDIR(st.st_mode)) return Fail(ERROR_ACCESS_DENIED);
    if (S_ISREG(st.st_mode) && ReadOnlyMode(st.st_mode)) return Fail(ERROR_ACCESS_DENIED);
    if (unlink(path.host.c_str()) != 0) return FailErrno(FALSE, path.parent_exists);
    return TRUE;
}

BOOL WINAPI MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags) {
    if (FaultEnter("MoveFileExA")) return FALSE;
    if (!lpExistingFileName || !*lpExistingFileName || !lpNewFileName || !*lpNewFileName)
        return Fail(ERROR_PATH_NOT_FOUND);
    if (HasInvalidNameChar(lpExistingFileName, std::strlen(lpExistingFileName)) ||
        HasInvalidNameChar(lpNewFileName, std::strlen(lpNewFileName)))
        return Fail(ERROR_INVALID_NAME);
    HostPathResult from, to;
    DWORD error = 0;
    if (!HostPath(lpExistingFileName, &from, &error) || !HostPath(lpNewFileName, &to, &error))
        return Fail(error);
    struct stat source;
    if (lstat(from.host.c_str(), &source) != 0) return FailErrno(FALSE, from.parent_exists);
    struct stat target;
    const bool replacing = lstat(to.host.c_str(), &target) == 0 &&
                           (target.st_dev != source.st_dev || target.st_ino != source.st_ino);
    if (replacing) {
        if (!(dwFlags & MOVEFILE_REPLACE_EXISTING)) return Fail(ERROR_ALREADY_EXISTS);
        if (S_ISDIR(target.st_mode)) return Fail(ERROR_ACCESS_DENIED);
        if (S_ISREG(target.st_mode) && ReadOnlyMode(target.st_mode))
            return Fail(ERROR_ACCESS_DENIED);
    }
    int moved;
    if (dwFlags & MOVEFILE_REPLACE_EXISTING) {
        moved = rename(from.host.c_str(), to.host.c_str());
    } else {
        // Refused atomically when the new name appeared meanwhile.
        moved = renameat2(AT_FDCWD, from.host.c_str(), AT_FDCWD, to.host.c_str(), RENAME_NOREPLACE);
        if (moved != 0 && (errno == EINVAL || errno == ENOSYS))
            moved = rename(from.host.c_str(), to.host.c_str()); // checked above
    }
    if (moved != 0) {
        if (errno == EXDEV) return Fail(ERROR_NOT_SAME_DEVICE);
        if (errno == EEXIST) return Fail(ERROR_ALREADY_EXISTS);
        return FailErrno(FALSE, to.parent_exists);
    }
    if (dwFlags & MOVEFILE_WRITE_THROUGH) {
        const size_t slash = to.host.find_last_of('/');
        const std::string directory = slash == 0 ? "/" : to.host.substr(0, slash);
        const int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) return FailErrno(FALSE);
        const int synced = fsync(fd);
        close(fd);
        if (synced != 0) return FailErrno(FALSE);
    }
    return TRUE;
}

BOOL WINAPI LockFile(HANDLE hFile, DWORD dwFileOffsetLow, DWORD dwFileOffsetHigh,
                     DWORD nNumberOfBytesToLockLow, DWORD nNumberOfBytesToLockHigh) {
    if (FaultEnter("LockFile")) return FALSE;
    FileObject* f = FileOf(hFile);
    if (!f) return Fail(ERROR_INVALID_HANDLE);
    if (!f->can_read && !f->can_write) return Fail(ERROR_ACCESS_DENIED);
    uint64_t offset = (static_cast<uint64_t>(dwFileOffsetHigh) << 32) | dwFileOffsetLow;
    uint64_t length =
        (static_cast<uint64_t>(nNumberOfBytesToLockHigh) << 32) | nNumberOfBytesToLockLow;
    uint64_t end;
    if (length != 0 && __builtin_add_overflow(offset, length, &end))
        return Fail(ERROR_INVALID_PARAMETER);
    auto& held = Locks()[{f->dev, f->ino}];
    for (const LockRecord& r : held) {
        if (Overlaps(r, offset, length)) return Fail(ERROR_LOCK_VIOLATION);
    }
    if (!HostLock(f, offset, length, true)) {
        if (held.empty()) Locks().erase({f->dev, f->ino});
        return FALSE;
    }
    held.push_back({f, offset, length});
    return TRUE;
}

BOOL WINAPI UnlockFile(HANDLE hFile, DWORD dwFileOffsetLow, DWORD dwFileOffsetHigh,
                       DWORD nNumberOfBytesToUnlockLow, DWORD nNumberOfBytesToUnlockHigh) {
    if (FaultEnter("UnlockFile")) return FALSE;
    FileObject* f = FileOf(hFile);
    if (!f) return Fail(ERROR_INVALID_HANDLE);
    uint64_t offset = (static_cast<uint64_t>(dwFileOffsetHigh) << 32) | dwFileOffsetLow;
    uint64_t length =
        (static_cast<uint64_t>(nNumberOfBytesToUnlockHigh) << 32) | nNumberOfBytesToUnlockLow;
    auto& table = Locks();
    auto it = table.find({f->dev, f->ino});
    if (it == table.end()) return Fail(ERROR_NOT_LOCKED);
    auto& held = it->second;
    auto rec = std::find_if(held.begin(), held.end(), [&](const LockRecord& r) {
        return r.owner == f && r.offset == offset && r.length == length;
    });
    if (rec == held.end()) return Fail(ERROR_NOT_LOCKED);
    if (!HostLock(f, offset, length, false)) return FALSE;
    held.erase(rec);
    if (held.empty()) table.erase(it);
    return TRUE;
}

BOOL WINAPI GetFileTime(HANDLE hFile, LPFILETIME lpCreationTime, LPFILETIME lpLastAccessTime,
                        LPFILETIME lpLastWriteTime) {
    if (FaultEnter("GetFileTime")) return FALSE;
    FileObject* f = FileOf(hFile);
    if (!f) return Fail(ERROR_INVALID_HANDLE);
    struct stat st;
    if (fstat(f->fd, &st) != 0) return FailErrno(FALSE);
    if (lpCreationTime) *lpCreationTime = CreationTimeOf(f->fd, "", AT_EMPTY_PATH, st);
    if (lpLastAccessTime) *lpLastAccessTime = FileTimeOfUnix(st.st_atim);
    if (lpLastWriteTime) *lpLastWriteTime = FileTimeOfUnix(st.st_mtim);
    return TRUE;
}

BOOL WINAPI SetFileTime(HANDLE hFile, const FILETIME* lpCreationTime,
                        const FILETIME* lpLastAccessTime, const FILETIME* lpLastWriteTime) {
    (void)lpCreationTime; // Linux keeps no settable creation time
    if (FaultEnter("SetFileTime")) return FALSE;
    FileObject* f = FileOf(hFile);
    if (!f) return Fail(ERROR_INVALID_HANDLE);
    if (!f->can_write) return Fail(ERROR_ACCESS_DENIED);
    // A null pointer, a zero time or all ones (Windows' "stop updating it")
    // leave that time alone.
    auto pick = [](const FILETIME* ft) {
        struct timespec ts;
        uint64_t t = ft ? TicksOf(*ft) : 0;
        if (t == 0 || t == ~0ULL) {
            ts.tv_sec = 0;
            ts.tv_nsec = UTIME_OMIT;
            return ts;
        }
        return UnixOfFileTime(*ft);
    };
    struct timespec times[2] = {pick(lpLastAccessTime), pick(lpLastWriteTime)};
    if (futimens(f->fd, times) != 0) return FailErrno(FALSE);
    return TRUE;
}

BOOL WINAPI CreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES) {
    if (FaultEnter("CreateDirectoryA")) return FALSE;
    HostPathResult hp;
    DWORD error;
    if (!HostPath(path, &hp, &error)) {
        SetLastError(error);
        return FALSE;
    }
    if (mkdir(hp.host.c_str(), 0777) != 0) {
        if (errno == EEXIST) {
            SetLastError(ERROR_ALREADY_EXISTS);
            return FALSE;
        }
        return FailErrno(FALSE, false);
    }
    return TRUE;
}

BOOL WINAPI RemoveDirectoryA(LPCSTR path) {
    if (FaultEnter("RemoveDirectoryA")) return FALSE;
    HostPathResult hp;
    DWORD error;
    if (!HostPath(path, &hp, &error)) {
        SetLastError(error);
        return FALSE;
    }
    if (rmdir(hp.host.c_str()) != 0) return FailErrno(FALSE, hp.parent_exists);
    return TRUE;
}

} // extern "C"

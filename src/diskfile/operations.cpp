// Reading, writing, positioning, locking, deleting and replacing disk files,
// making and removing directories, and the path tests of the disk file layer.
#include "diskfile/diskfile.h"
#include "diskfile/internal.h"
#include "platform/crt.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace tx {

namespace {

constexpr uint32_t kWriteChunk = 4096;
uint32_t g_write_chunk = kWriteChunk;

// One WriteFile call that must move all `count` bytes.
bool WriteAll(HANDLE system, const char* buffer, uint32_t count) {
    DWORD written = 0;
    if (!WriteFile(system, buffer, count, &written, nullptr)) {
        disk::SetErrorFromSystem();
        return false;
    }
    if (written != count) {
        // Accepted in part: the volume has no room for the rest.
        disk::SetErrorCode(ERROR_DISK_FULL);
        return false;
    }
    return true;
}

bool IsRetryable(DWORD error) {
    return error == ERROR_IO_PENDING || error == ERROR_SIGNAL_PENDING;
}

} // namespace

int DiskRead(int16_t handle, void* buffer, uint32_t count, uint32_t* read) {
    disk::SetErrorRaw(0);
    uint32_t local = 0;
    uint32_t* total = read != nullptr ? read : &local;
    HANDLE system = DiskSystemHandle(handle);

    auto* at = static_cast<char*>(buffer);
    DWORD got = 0;
    *total = 0;
    BOOL ok = ReadFile(system, at, count, &got, nullptr);
    uint32_t sum = got;
    if (count != 0) {
        uint32_t remaining = count;
        while (!ok && IsRetryable(GetLastError())) {
            // A system that reports more than it was asked for is not trusted
            // to move the buffer past its end.
            if (got > remaining) got = remaining;
            at += got;
            remaining -= got;
            got = 0;
            ok = ReadFile(system, at, remaining, &got, nullptr);
            sum += got;
            if (remaining == 0) break;
        }
    }
    *total = sum;
    if (!ok) {
        disk::SetErrorFromSystem();
        return 0;
    }
    if (read != nullptr) return 1;
    return sum == count ? 1 : 0;
}

int DiskWrite(int16_t handle, const void* buffer, uint32_t count) {
    if (buffer != nullptr && count == 0) return 1;
    HANDLE system = DiskSystemHandle(handle);
    const auto* at = static_cast<const char*>(buffer);
    uint32_t remaining = count;
    const uint32_t chunk = g_write_chunk;
    while (remaining >= chunk) {
        if (!WriteAll(system, at, chunk)) return 0;
        at += chunk;
        remaining -= chunk;
    }
    if (!WriteAll(system, at, remaining)) return 0;
    disk::SetErrorRaw(0);
    return 1;
}

uint32_t DiskSetWriteChunk(uint32_t bytes) {
    const uint32_t previous = g_write_chunk;
    g_write_chunk = bytes != 0 ? bytes : kWriteChunk;
    return previous;
}

int DiskSeek(int16_t handle, int32_t distance, int origin, uint32_t* position) {
    DWORD method;
    switch (origin) {
    case 0:
        method = FILE_BEGIN;
        break;
    case 1:
        method = FILE_CURRENT;
        break;
    case 2:
        method = FILE_END;
        break;
    default:
        disk::SetErrorCode(ERROR_INVALID_PARAMETER);
        return 0;
    }
    DWORD moved = SetFilePointer(DiskSystemHandle(handle), distance, nullptr, method);
    if (moved == INVALID_SET_FILE_POINTER) {
        disk::SetErrorFromSystem();
        return 0;
    }
    if (position != nullptr) *position = moved;
    disk::SetErrorRaw(0);
    return 1;
}

int DiskDelete(const char* path) {
    if (path == nullptr) {
        disk::SetErrorCode(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return disk::Outcome(disk::WithErrorsQuiet([&] { return DeleteFileA(path); }));
}

int DiskReplace(const char* from, const char* to) {
    if (from == nullptr || to == nullptr) {
        disk::SetErrorCode(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return disk::Outcome(
        disk::WithErrorsQuiet([&] { return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING); }));
}

int DiskMakeDirectory(const char* path) {
    if (path == nullptr) {
        disk::SetErrorCode(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return disk::Outcome(disk::WithErrorsQuiet([&] { return CreateDirectoryA(path, nullptr); }));
}

int DiskRemoveDirectory(const char* path) {
    if (path == nullptr) {
        disk::SetErrorCode(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return disk::Outcome(disk::WithErrorsQuiet([&] { return RemoveDirectoryA(path); }));
}

int DiskLock(int16_t handle, uint32_t offset, uint32_t length) {
    return disk::Outcome(LockFile(DiskSystemHandle(handle), offset, 0, length, 0));
}

int DiskUnlock(int16_t handle, uint32_t offset, uint32_t length) {
    return disk::Outcome(UnlockFile(DiskSystemHandle(handle), offset, 0, length, 0));
}

int DiskIsRegularFile(const char* path) {
    if (path == nullptr || std::strpbrk(path, "*?") != nullptr) return 0;
    if (_access(path, 0) != 0) return 0;
    struct _stat status;
    int result = disk::WithErrorsQuiet([&] { return _stat(path, &status); });
    if (result != 0) return 0;
    return (status.st_mode & _S_IFREG) != 0 ? 1 : 0;
}

int DiskGetDriveDir(char drive, char* buffer, int16_t size) {
    if (buffer == nullptr || size < 0) {
        disk::SetErrorRaw(EINVAL);
        return 0;
    }
    if (size == 0) {
        disk::SetErrorRaw(ERANGE); // not even the NUL fits
        return 0;
    }
    int c = static_cast<unsigned char>(drive);
    int number = 0;
    if (c != 0) number = std::islower(c) ? c - 0x60 : c - 0x40;
    // Only A..Z name drives; anything else would reach the C runtime as a
    // number it may not check.
    if (number < 0 || number > 26) {
        disk::SetErrorRaw(EACCES);
        return 0;
    }
    errno = 0;
    if (_getdcwd(number, buffer, size) == nullptr) {
        disk::SetErrorRaw(errno);
        return 0;
    }
    disk::SetErrorRaw(0);
    return 1;
}

int DiskProbeLocking(const char* prefix) {
    if (prefix == nullptr) prefix = "";
    // The fresh name is made on the whole path, so that it is fresh in the
    // probed directory: creating the probe file empties any file of that name.
    char path[MAX_PATH + 1];
    int length = std::snprintf(path, sizeof path, "%s%s", prefix, "SHXXXXXX");
    if (length < 0 || length > MAX_PATH) return 3;
    if (_mktemp(path) == nullptr) return 3;

    int16_t handle = -1;
    if (!DiskCreate(path, kDiskRead | kDiskWrite | kDiskShareRead | kDiskShareWrite, &handle))
        return 4;
    bool locked = DiskLock(handle, 0, 0xFFFFFFFF) != 0;
    if (locked) DiskUnlock(handle, 0, 0xFFFFFFFF);
    DiskClose(handle);
    DiskDelete(path);
    return locked ? 1 : 2;
}

} // namespace tx

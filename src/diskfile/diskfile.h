// The disk file layer: the only code that touches files on disk.
//
// Files are known by small 16-bit disk handles, 2 to N+1 for a table built
// for N handles (2..141 in the launcher, which builds it for 140), and -1 for
// none. Handles come from a table of slots chained into a free chain and an
// open chain; a closed number goes to the front of the free chain and opens
// take the front, so numbers are reused last-in, first-out.
//
// The layer keeps one process-wide last disk error: the Windows error code of
// the most recent failing disk operation, with a sharing violation (32)
// stored as 2, so that "held by someone else" and "missing" read the same.
// Successful operations clear it as documented per operation below.
//
// Calls that may touch an absent or removable drive (CreateFileA, DeleteFileA,
// MoveFileExA, CreateDirectoryA, RemoveDirectoryA, the stat of
// DiskIsRegularFile, and in filetime.h FindFirstFileA,
// GetFileTime and SetFileTime) run with critical-error boxes switched off
// (SetErrorMode(SEM_FAILCRITICALERRORS)); the previous mode is restored right
// after the call.
//
// Everything here is single-threaded process-wide state without locking.
#pragma once

#include "platform/win32.h"

#include <cstdint>

namespace tx {

// Open flags of DiskOpen and DiskCreate. Other bits are ignored.
constexpr uint16_t kDiskRead = 0x0001;         // GENERIC_READ
constexpr uint16_t kDiskWrite = 0x0002;        // GENERIC_WRITE
constexpr uint16_t kDiskShareRead = 0x0004;    // FILE_SHARE_READ
constexpr uint16_t kDiskShareWrite = 0x0008;   // FILE_SHARE_WRITE
constexpr uint16_t kDiskForceShare = 0x0020;   // both share bits, whatever the others say
constexpr uint16_t kDiskOpenExisting = 0x8000; // OPEN_EXISTING; clear: CREATE_ALWAYS

// Largest table: handle numbers must stay below 255, where the virtual file
// layer's non-disk handles begin.
constexpr int kDiskMaxCapacity = 253;

// Builds the handle table for `capacity` handles on the first call and counts
// the calls; later calls answer 1 at once. Answers 0, building nothing and
// counting nothing, when the capacity is outside 1..253 or the table's memory
// cannot be had; a later call then tries again.
int DiskInitHandles(int capacity);

// Counts one DiskInitHandles call down. The last one closes every file still
// open and releases the table. Answers 1, or 0 when there was nothing to count
// down or the table's memory could not be released.
int DiskTermHandles();

// Opens an existing file (DiskCreate with kDiskOpenExisting added). Answers 1
// and the handle, or 0 and -1 in *handle. Every file is opened with
// FILE_FLAG_RANDOM_ACCESS. While the shared-open switch is on, or with
// kDiskForceShare, others may read and write the file.
// Last disk error: cleared on success, from the system when the system
// refuses. When no handle is free (table full, or never built) the system is
// not called at all, so nothing is opened, created or emptied, and the last
// disk error is left as it was.
int DiskOpen(const char* path, uint16_t flags, int16_t* handle);

// Opens with the caller's flags as they are: without kDiskOpenExisting the
// file is created, or emptied if it exists. Otherwise as DiskOpen.
int DiskCreate(const char* path, uint16_t flags, int16_t* handle);

// Reads up to `count` bytes. The last disk error is cleared first. A read the
// system reports as pending (997) or interrupted (162) is continued for the
// bytes still missing. With `read` given, any successful read answers 1 and
// stores the byte count, 0 at end of file included; without it, only a read
// of exactly `count` bytes answers 1 (a short read answers 0 with the last
// disk error 0). A failing system read answers 0 with its error.
int DiskRead(int16_t handle, void* buffer, uint32_t count, uint32_t* read = nullptr);

// Writes all `count` bytes, in chunks of 4096 bytes (see DiskSetWriteChunk)
// and a final call for the rest (made also when nothing remains). A non-null buffer with count 0
// makes no call and answers 1, leaving the last disk error alone. Answers 1 and clears the last
// disk error, or 0 at the first failing chunk with the system's error; a chunk the system accepts
// only in part gives ERROR_DISK_FULL (112). Chunks written before a failure stay written.
int DiskWrite(int16_t handle, const void* buffer, uint32_t count);

// The size of the chunks DiskWrite hands the system, process-wide: 4096
// bytes, as the launcher writes. A tool that copies large files through the
// layer may raise it for its run (one system call per chunk is what a copy
// costs). 0 stands for 4096. Answers the previous size.
uint32_t DiskSetWriteChunk(uint32_t bytes);

// Moves the file pointer by `distance` from the start (origin 0), the current
// position (1) or the end (2), storing the new position in *position when
// given. Answers 1 and clears the last disk error, or 0 with the system's
// error. Any other origin answers 0 with ERROR_INVALID_PARAMETER (87), without
// moving.
int DiskSeek(int16_t handle, int32_t distance, int origin, uint32_t* position = nullptr);

// Closes the file and frees its handle. The handle is freed even when the
// system's close fails (0, with the system's error). A number that is not open
// answers 0 and leaves the last disk error alone.
int DiskClose(int16_t handle);

// Deletes the file: 1 and the last disk error cleared, or 0 and the system's
// error (2 for a missing file, and for one that someone else holds).
int DiskDelete(const char* path);

// Gives the file `from` the name `to` in one step, replacing a file of that
// name: `to` names the old file or the new one at every moment, never a
// partly written one or nothing. Both must lie on one volume. Answers 1 and
// clears the last disk error, or 0 with the system's error: 5 for a `to` that
// is read-only or a directory, and under Windows for one that is in use (a
// loaded module); 2 for a missing `from`, and for a `to` someone else holds.
int DiskReplace(const char* from, const char* to);

// Makes or removes an (empty) directory: 1 and the last disk error cleared,
// or 0 and the system's error (183 when the directory to make exists).
int DiskMakeDirectory(const char* path);
int DiskRemoveDirectory(const char* path);

// Locks or unlocks `length` bytes from `offset` (32-bit ranges): 1 and the last
// disk error cleared, or 0 and the system's error (33 for a range locked
// through another handle).
int DiskLock(int16_t handle, uint32_t offset, uint32_t length);
int DiskUnlock(int16_t handle, uint32_t offset, uint32_t length);

// The system file handle behind a disk handle, or INVALID_HANDLE_VALUE for a
// number that is not open (or when there is no table).
HANDLE DiskSystemHandle(int16_t handle);

// The last disk error (a Windows code; an errno value after DiskGetDriveDir).
int32_t DiskLastError();

// Sets the shared-open switch (0 at start) and answers its previous value.
int DiskSetSharedOpen(int value);

// Sets the read-only switch (0 at start) and answers its previous value.
// While it is on, DiskOpen and DiskCreate open files for reading only,
// whatever their flags ask, and a DiskCreate without kDiskOpenExisting is
// refused with ERROR_ACCESS_DENIED (5) before the system is asked, so that no
// file is created or emptied. Writes through a handle opened so fail with the
// system's error (5). Handles opened before keep the access they were given.
int DiskSetReadOnlyOpen(int value);

// 1 when the path exists and names a file rather than a directory; 0 for a
// directory, a missing path, a null path and any path holding '*' or '?'.
// The last disk error is not touched.
int DiskIsRegularFile(const char* path);

// Writes the full current directory of a drive, drive letter included, into
// `buffer` of `size` bytes. `drive` is a letter ('c' and 'C' both mean drive
// 3) or 0 for the current drive. Answers 1 and clears the last disk error, or
// 0 and stores the C runtime's errno value as the last disk error: EACCES (13)
// for a drive that does not exist or a character that names no drive, ERANGE
// (34) when the directory and its NUL do not fit, EINVAL (22) for a null
// buffer or a negative size.
int DiskGetDriveDir(char drive, char* buffer, int16_t size);

// Whether byte-range locking works in a directory. `prefix` is the directory
// ending with a path separator, or "" (or null) for the current directory.
// Creates a file with a fresh name "SH" + six characters there, locks all of
// it, and deletes it again. Answers 1 when the lock worked, 2 when the file
// was made but could not be locked, 3 when no fresh name could be had (also
// when the prefix leaves no room for the name within 260 characters), 4 when
// the file could not be created. The last disk error is that of the last
// disk operation it ran.
int DiskProbeLocking(const char* prefix);

} // namespace tx

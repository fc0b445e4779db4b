// What the pieces of the POSIX layer share: path translation, the table of
// kernel handles, errno mapping and the fault-injection hook.
#pragma once

#include "platform/fault.h"
#include "platform/win32.h"

#include <memory>
#include <string>
#include <vector>

namespace txplat::posix {

// A Windows path made into a host path.
struct HostPathResult {
    std::string host;   // the host path, with case-insensitive matches applied
    bool parent_exists; // the directory that would hold the last component exists
};

// True for both separators of a Windows path, '\' and '/'.
inline bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

// The components of a Windows path ("Z:\dir\file", "\dir\file", "dir\file"
// or with '/') from the root, by text alone: a relative path is joined to the
// current directory, "." and ".." are resolved, and trailing dots and spaces
// of the last component are dropped, as Windows does. Fails with the Windows
// error code in *error: 3 for another drive, a UNC path, an empty or null
// path, 206 for a path of more than 260 characters.
bool PathParts(const char* win, std::vector<std::string>* parts, DWORD* error);

// Translates a Windows path ("Z:\dir\file", "\dir\file", "dir\file" or with
// '/') into an absolute host path, resolving "." and ".." by text and each
// existing component without regard to case. Fails with the Windows error
// code in *error: 3 for another drive, a UNC path, an empty or null path,
// 206 for a path of more than 260 characters. Trailing dots and spaces of the
// last component are dropped, as Windows does.
bool HostPath(const char* win, HostPathResult* out, DWORD* error);

// The Windows form ("Z:\...") of an absolute host path.
std::string WinPathOf(const std::string& host);

// The host directory that stands for the Windows directory: TX_WINDIR, or
// /tmp when it is not set.
std::string WindowsDirectoryHost();

// The Windows error code that stands for an errno value. `parent_exists`
// tells ENOENT on the last component (2) from ENOENT on a directory (3).
DWORD ErrorFromErrno(int e, bool parent_exists = true);

// Sets the last error from the current errno.
void SetLastErrorFromErrno(bool parent_exists = true);

// Sets the last error to `error` and answers `value` (FALSE when not given),
// for one-line returns.
template <typename T> T Fail(DWORD error, T value) {
    SetLastError(error);
    return value;
}
inline BOOL Fail(DWORD error) {
    return Fail(error, FALSE);
}

// The distance SetFilePointer moves by: the low part alone is a 32-bit
// signed distance; with a high part, the two make one 64-bit signed one.
inline int64_t MoveDistance(LONG low, const LONG* high) {
    if (!high) return low;
    const uint64_t bits =
        (static_cast<uint64_t>(static_cast<uint32_t>(*high)) << 32) | static_cast<uint32_t>(low);
    return static_cast<int64_t>(bits);
}

// Sets the last error from errno and answers `value`, for one-line returns.
template <typename T> T FailErrno(T value, bool parent_exists = true) {
    SetLastErrorFromErrno(parent_exists);
    return value;
}

// A kernel object behind a HANDLE.
struct KernelObject {
    virtual ~KernelObject() = default;
};

// Handles are small multiples of 4, as on Windows, never null nor -1.
HANDLE HandleInsert(std::unique_ptr<KernelObject> object);
KernelObject* HandleGet(HANDLE handle);
template <typename T> T* HandleGetAs(HANDLE handle) {
    return dynamic_cast<T*>(HandleGet(handle));
}
// Removes the handle and destroys its object; false when there is none.
bool HandleRemove(HANDLE handle);

// Entered at the top of every Win32 call that can be made to fail. Counts
// the call and records the error mode in force; when a fault is pending for
// it, sets the last error and answers true, and the caller returns its
// failure value.
bool FaultEnter(const char* call);
// For CreateFileA: records the arguments that say how the file is opened.
void CreateFileRecordAdd(const CreateFileCall& call);
// For ReadFile and WriteFile: records the byte count asked for and answers
// how many bytes may be moved (the count itself unless a short transfer is
// pending).
uint32_t FaultTransferLimit(const char* call, uint32_t asked);

// The message box sink (see fault.h).
void MessageBoxRecordAdd(bool has_owner, const char* text, const char* caption, unsigned style);

} // namespace txplat::posix

// What the pieces of the disk file layer share: the last disk error and the
// filling of records from the system's structures.
#pragma once

#include "diskfile/filetime.h"
#include "platform/win32.h"

#include <cstdint>

namespace tx::disk {

// Stores `code` as the last disk error, a sharing violation (32) as 2.
void SetErrorCode(DWORD code);
// Stores GetLastError() the same way.
inline void SetErrorFromSystem() {
    SetErrorCode(GetLastError());
}
// Stores `value` unchanged (errno values, and clearing with 0).
void SetErrorRaw(int32_t value);

// Ends an operation on the result of its system call: 1 with the last disk
// error cleared, or 0 with it set from the system.
inline int Outcome(BOOL succeeded) {
    if (!succeeded) {
        SetErrorFromSystem();
        return 0;
    }
    SetErrorRaw(0);
    return 1;
}

// Runs `call` with critical-error boxes off, restoring the previous mode
// right after it; answers the call's result. The system's error code of the
// call is kept across the restore.
template <typename Call> auto WithErrorsQuiet(Call call) {
    UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS);
    auto result = call();
    DWORD error = GetLastError();
    SetErrorMode(previous);
    SetLastError(error);
    return result;
}

// A system file time (UTC) as a local date-time record: 1, or 0 with the last
// disk error from the system and the record untouched.
int FileTimeToRecord(const FILETIME& utc, DateTimeRecord* when);

// Fills the find record from one system entry (time, size, name, short name,
// attributes): 1, or 0 when the time conversion fails.
int FillFindRecord(const WIN32_FIND_DATAA& entry, FindRecord* record);

} // namespace tx::disk

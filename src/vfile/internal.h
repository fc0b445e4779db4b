// Pieces shared by the files of the virtual file layer.
#pragma once

#include "vfile/virtual.h"

#include <cstdint>

namespace tx {

// Handle dispatch for a member handle: makes its library current and answers
// its record, or null when that library is not open or has no member open.
LibraryRecord* MemberLibrary(int16_t handle);

// Handle dispatch for any other handle: a value above 254 stands for the
// current library's container file (-1 when there is none).
int16_t DiskHandleOf(int16_t handle);

// Installs (or with false removes) the hooks through which the disk layer's
// by-handle date, time and size operations reach members and containers.
void InstallLibraryHooks(bool install);

// Whether the member access state is open on an entry that may be written:
// a member being created.
inline bool MemberWritable(const LibraryRecord* library) {
    return library->writing != 0;
}

} // namespace tx

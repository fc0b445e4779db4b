// How the by-handle date, time and size operations of filetime.h reach the
// library layer, which sits above the disk file layer.
//
// Virtual handles of 1000 and above name a member open in library
// (handle - 1000) / 1000; values from 255 to 999 stand for the container file
// of the current library. Only the library layer knows either, so it installs
// these hooks when its table comes to life and removes them (null) when it
// goes. Without hooks, and when a member hook answers 0 (the member's library
// is not open, or has no member open), such handles fail with
// ERROR_INVALID_HANDLE as the last disk error.
#pragma once

#include <cstdint>

namespace tx {

struct LibraryHooks {
    // Selects the member's library as the current library and reads the date
    // and time words (offsets 34 and 32) of the member's directory entry as
    // held in memory. 1, or 0 with zeros.
    int (*member_get_date_time)(int16_t handle, uint16_t* date, uint16_t* time);
    // Same selection; the size field (offset 19) of the entry. 1, or 0 with 0.
    int (*member_get_size)(int16_t handle, uint32_t* size);
    // Same selection; stores the two words in the entry in memory. 1 or 0.
    int (*member_set_date_time)(int16_t handle, uint16_t date, uint16_t time);
    // The disk handle of the current library's container file, or -1.
    int16_t (*container_handle)();
};

// Installs the hooks (copied), or removes them with null.
void DiskSetLibraryHooks(const LibraryHooks* hooks);

} // namespace tx

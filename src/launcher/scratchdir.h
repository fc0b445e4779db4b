// The private folders in which self-extraction copies a module before it
// takes the module's name: "~TX", the process id in hexadecimal, "-" and a
// count, beside the modules.
//
// Each folder holds a mark file, "~TX", of which the start that made the
// folder keeps byte 0 locked from the folder's making to its removal. A start
// that is killed meanwhile leaves the folder behind, but the system lets its
// lock go: later starts take a folder whose mark they can lock, or that has
// no mark and is empty, for one left behind, and remove it. A folder whose
// mark is locked belongs to a live start and is never touched.
#pragma once

#include "launcher/extractmodule.h"

#include <cstddef>
#include <cstdint>

namespace tx {

struct ScratchDirectory {
    char path[kModulePathMax + 1];
    int16_t mark = -1; // disk handle of the locked mark file
};

// Room that a private folder and its mark take after the directory's path.
constexpr size_t kScratchMax = 4 + 8 + 1 + 2; // "\~TX", the id, "-", the count

// Makes a fresh private folder in `directory` and locks its mark. False when
// none can be had (the directory cannot be written, or every count is taken).
bool MakeScratchDirectory(const char* directory, ScratchDirectory* scratch);

// Lets go of the mark and removes the folder, with whatever is left in it.
void RemoveScratchDirectory(ScratchDirectory* scratch);

// Removes the private folders in `directory` that starts no longer running
// have left behind.
void ClearAbandonedScratch(const char* directory);

} // namespace tx

// The private folders of self-extraction, their marks, and the removal of
// the folders that killed starts have left behind.
#include "launcher/scratchdir.h"

#include "diskfile/diskfile.h"
#include "diskfile/filetime.h"

#include <cstdio>
#include <cstring>

namespace tx {

namespace {

constexpr char kScratchFormat[] = "%s\\~TX%lX-%u";
constexpr unsigned kScratchAttempts = 16;
constexpr char kMarkName[] = "~TX"; // no extension: no module name can be this
constexpr uint16_t kMarkFlags = kDiskRead | kDiskWrite | kDiskShareRead | kDiskShareWrite;

// `folder`\`name` into `out`; false when it does not fit.
bool JoinPath(char* out, const char* folder, const char* name) {
    const int length = std::snprintf(out, kModulePathMax + 1, "%s\\%s", folder, name);
    return length >= 0 && length <= kModulePathMax;
}

// Whether a name has the form of a private folder: "~TX", hexadecimal
// digits, "-" and decimal digits.
bool ScratchName(const char* name) {
    if (std::strncmp(name, "~TX", 3) != 0) return false;
    const char* c = name + 3;
    const char* digits = c;
    while (std::strchr("0123456789ABCDEF", *c) != nullptr && *c != 0)
        ++c;
    if (c == digits || *c++ != '-') return false;
    digits = c;
    while (*c >= '0' && *c <= '9')
        ++c;
    return c != digits && *c == 0;
}

// Creates the mark of a folder just made and locks it. False when the folder
// went meanwhile (a start clearing folders took it for one left behind) or
// someone else holds the mark.
bool TakeMark(ScratchDirectory* scratch) {
    char mark[kModulePathMax + 1];
    if (!JoinPath(mark, scratch->path, kMarkName)) return false;
    if (!DiskCreate(mark, kMarkFlags, &scratch->mark)) return false;
    // A volume without byte-range locks leaves the folder unmarked: no
    // start can then take it for one left behind.
    if (!DiskLock(scratch->mark, 0, 1) && DiskLastError() == ERROR_LOCK_VIOLATION) {
        DiskClose(scratch->mark);
        scratch->mark = -1;
        return false;
    }
    // A start that took the folder for an abandoned one deletes the mark
    // before it lets go of it.
    if (!DiskIsRegularFile(mark)) {
        DiskClose(scratch->mark);
        scratch->mark = -1;
        return false;
    }
    return true;
}

// Deletes the files of a folder, except its mark.
void DeleteContents(const char* folder) {
    char pattern[kModulePathMax + 1];
    if (!JoinPath(pattern, folder, "*")) return;
    FindRecord record{};
    char file[kModulePathMax + 1];
    for (int more = DiskFindFirst(pattern, &record, 0); more; more = DiskFindNext(&record)) {
        if (std::strcmp(record.name, kMarkName) != 0 && JoinPath(file, folder, record.name))
            DiskDelete(file);
    }
    DiskFindClose(&record);
}

// Removes one private folder if no live start holds its mark.
void RemoveIfAbandoned(const char* folder) {
    char mark[kModulePathMax + 1];
    if (!JoinPath(mark, folder, kMarkName)) return;
    int16_t handle = -1;
    if (!DiskOpen(mark, kMarkFlags, &handle)) {
        // No mark: left by a start killed before it made it, so empty; or
        // just made by a live start, which makes another when its mark
        // cannot be created. Only an empty folder is removed.
        if (DiskLastError() == ERROR_FILE_NOT_FOUND) DiskRemoveDirectory(folder);
        return;
    }
    if (!DiskLock(handle, 0, 1)) {
        DiskClose(handle);
        return;
    }
    DeleteContents(folder);
    // Deleted while locked where the system allows it, so that a start that
    // has just made this mark sees it gone once it holds the lock.
    const int deleted = DiskDelete(mark);
    DiskUnlock(handle, 0, 1);
    DiskClose(handle);
    if (!deleted) DiskDelete(mark);
    DiskRemoveDirectory(folder);
}

} // namespace

bool MakeScratchDirectory(const char* directory, ScratchDirectory* scratch) {
    const auto id = static_cast<unsigned long>(GetCurrentProcessId());
    scratch->mark = -1;
    for (unsigned attempt = 0; attempt < kScratchAttempts; ++attempt) {
        const int length = std::snprintf(scratch->path, sizeof scratch->path, kScratchFormat,
                                         directory, id, attempt);
        if (length < 0 || length > kModulePathMax) return false;
        if (!DiskMakeDirectory(scratch->path)) {
            if (DiskLastError() != ERROR_ALREADY_EXISTS) return false;
            continue; // held by a live start of the same id, or not removable
        }
        if (TakeMark(scratch)) return true;
        DiskRemoveDirectory(scratch->path);
    }
    return false;
}

void RemoveScratchDirectory(ScratchDirectory* scratch) {
    DeleteContents(scratch->path);
    char mark[kModulePathMax + 1];
    if (scratch->mark != -1) DiskClose(scratch->mark);
    scratch->mark = -1;
    if (JoinPath(mark, scratch->path, kMarkName)) DiskDelete(mark);
    DiskRemoveDirectory(scratch->path);
}

void ClearAbandonedScratch(const char* directory) {
    char pattern[kModulePathMax + 1];
    if (!JoinPath(pattern, directory, "~TX*")) return;
    FindRecord record{};
    char folder[kModulePathMax + 1];
    for (int more = DiskFindFirst(pattern, &record, kAttrDirectory); more;
         more = DiskFindNext(&record)) {
        if (ScratchName(record.name) && JoinPath(folder, directory, record.name))
            RemoveIfAbandoned(folder);
    }
    DiskFindClose(&record);
}

} // namespace tx

// Opening, creating and closing through virtual handles, the existence and
// size queries by path, and the layer's settings.
#include "diskfile/diskfile.h"
#include "diskfile/filetime.h"
#include "diskfile/libraryhooks.h"
#include "library/searchlist.h"
#include "support/error.h"
#include "support/names.h"
#include "support/trim.h"
#include "vfile/internal.h"

#include <cerrno>
#include <cstring>

namespace tx {

LayerSettings g_layer{1, 1, 1, 1, 0, {0, 0, 0}, kDirectoryGrowthStep};
int16_t g_current_library = -1;
LibraryRecord* g_current_record = nullptr;

void SelectLibrary(int16_t index) {
    LibraryRecord* record = index < 0 ? nullptr : LibraryRecordAt(index);
    g_current_library = record != nullptr ? index : -1;
    g_current_record = record;
}

int16_t SetLibrarySearch(int16_t value) {
    const int16_t previous = g_layer.library_search;
    g_layer.library_search = value;
    return previous;
}

int16_t SetLibrariesFirst(int16_t value) {
    const int16_t previous = g_layer.libraries_first;
    g_layer.libraries_first = value;
    return previous;
}

namespace {

// Whether the record is that of an open library, with its header in memory.
bool LibraryOpenForMembers(const LibraryRecord* library) {
    return library != nullptr && library->path[0] != 0 && library->container != -1 &&
           library->header != nullptr;
}

} // namespace

LibraryRecord* MemberLibrary(int16_t handle) {
    SelectLibrary(static_cast<int16_t>((handle - kFirstMemberHandle) / kFirstMemberHandle));
    LibraryRecord* library = g_current_record;
    if (!LibraryOpenForMembers(library) || library->current_entry == nullptr) return nullptr;
    return library;
}

int16_t DiskHandleOf(int16_t handle) {
    if (handle <= 254) return handle;
    return g_current_record != nullptr ? g_current_record->container : -1;
}

namespace {

int HookGetDateTime(int16_t handle, uint16_t* date, uint16_t* time) {
    const LibraryRecord* library = MemberLibrary(handle);
    if (library == nullptr) return 0;
    *date = library->current_entry->date;
    *time = library->current_entry->time;
    return 1;
}

int HookGetSize(int16_t handle, uint32_t* size) {
    const LibraryRecord* library = MemberLibrary(handle);
    if (library == nullptr) return 0;
    *size = library->current_entry->size;
    return 1;
}

int HookSetDateTime(int16_t handle, uint16_t date, uint16_t time) {
    LibraryRecord* library = MemberLibrary(handle);
    if (library == nullptr) return 0;
    library->current_entry->date = date;
    library->current_entry->time = time;
    return 1;
}

int16_t HookContainerHandle() {
    return g_current_record != nullptr ? g_current_record->container : -1;
}

} // namespace

void InstallLibraryHooks(bool install) {
    static const LibraryHooks hooks{HookGetDateTime, HookGetSize, HookSetDateTime,
                                    HookContainerHandle};
    DiskSetLibraryHooks(install ? &hooks : nullptr);
}

namespace {

// The cause of a failed open, as a C runtime error code: the disk layer keeps
// Windows codes, so the open maps its last disk error onto the codes that
// the open's error numbers are chosen by.
int CauseFromDiskError(int32_t code) {
    switch (code) {
    case 2: // file not found (and sharing violation, stored as 2)
    case 3: // path not found
        return ENOENT;
    case 5: // access denied
        return EACCES;
    case 80:  // file exists
    case 183: // already exists
        return EEXIST;
    case 87:  // invalid parameter
    case 123: // invalid name
        return EINVAL;
    case 4: // too many open files
        return EMFILE;
    default:
        return 0;
    }
}

int16_t OpenErrorNumber(int cause) {
    switch (cause) {
    case ENOENT:
        return 1012;
    case EACCES:
        return 1008;
    case EEXIST:
        return 1009;
    case EINVAL:
        return 1010;
    case EMFILE:
        return 1011;
    default:
        return 1007;
    }
}

// The search form of a path: '|', its name and its extension. 0 when the
// path cannot be split.
int SearchForm(const char* path, char* form) {
    char name[kPathMax + 1];
    if (!PathFileName(path, name)) return 0;
    form[0] = '|';
    CopyBounded(form + 1, name, kPathMax - 1);
    return 1;
}

// Whether the current library holds the member `form` names ('|' and name),
// as a valid entry or as the member being created in it.
bool CurrentLibraryHolds(const char* form) {
    char name[kPathMax + 1];
    CopyBounded(name, form + 1, kPathMax);
    if (DirectoryLookup(name, kLookupTest) >= 0) return true;
    const LibraryRecord* library = g_current_record;
    if (!MemberWritable(library) || library->current_entry == nullptr) return false;
    for (size_t i = 0; i < sizeof library->current_entry->name; ++i) {
        const char held = library->current_entry->name[i];
        if (UpperAscii(held) != UpperAscii(name[i])) return false;
        if (held == 0) return true;
    }
    return name[sizeof library->current_entry->name] == 0;
}

// Opens the search form in the first library of the search list that holds
// it. 1 when it opened; 0 when no library holds it; -1 when the first that
// holds it refused, with the cause in *cause (-1 when the open of the member
// has recorded its own): a library with a member being created cannot open
// another, and a later library's member of that name is not the one asked for.
int OpenFromSearchList(int mode, uint16_t flags, const char* form, int16_t* handle, int* cause) {
    for (int16_t index = SearchListFirst(); index != -1; index = SearchListNext()) {
        SelectLibrary(index);
        if (!CurrentLibraryHolds(form)) continue;
        if (MemberWritable(g_current_record)) {
            *cause = EACCES;
            return -1;
        }
        if (FileOpenOrCreate(mode, flags, form, handle,
                             static_cast<int16_t>(kSelectorBase + index)))
            return 1;
        *cause = -1;
        return -1;
    }
    return 0;
}

// Whether a library of the search list has the search form as a member.
int ExistsInSearchList(const char* form) {
    for (int16_t index = SearchListFirst(); index != -1; index = SearchListNext())
        if (FileExists(form)) return 1;
    return 0;
}

// Whether a member may be created in the library; the cause when not.
int CreateRefusal(const LibraryRecord* library, const char* name) {
    uint8_t key;
    if (!MemberKey(library, &key)) return EINVAL;
    // A nested container owns only its member's bytes, and a sorted directory
    // would lose its order; neither takes new members, nor does a library
    // opened read-only.
    if (!library->owns_handle || library->header->sorted != 0 || library->read_only) return EACCES;
    char stored[kPathMax + 1];
    CopyBounded(stored, name, kPathMax);
    if (LongNameTranslate(stored) == nullptr) return EINVAL;
    if (std::strlen(stored) > static_cast<size_t>(kMemberNameMax)) return EINVAL;
    return 0;
}

// Opens or creates the member `name` (prefix stripped) in the selector's
// library. Answers 1 with the handle, or 0 with the cause of the failure
// (-1 when LibrarySelect has reported it already).
int OpenMember(int mode, char* name, int16_t* handle, int16_t selector, int* cause) {
    if (!LibrarySelect(selector)) {
        *cause = -1;
        return 0;
    }
    LibraryRecord* library = g_current_record;
    // A library has one member access state. While a member is being created
    // in it, opening or creating another would take that state over and the
    // member would never be committed: it is closed first.
    if (MemberWritable(library)) {
        *cause = EACCES;
        return 0;
    }
    int16_t index;
    if (mode == kModeOpen) {
        index = DirectoryLookup(name, kLookupOpen);
        if (index < 0) {
            *cause = DirectoryLookupRefused() ? EINVAL : ENOENT;
            return 0;
        }
    } else {
        *cause = CreateRefusal(library, name);
        if (*cause != 0) return 0;
        // The new entry is had, and the container positioned on its data,
        // before the old one is marked deleted, so that a create that fails
        // leaves the old member in place and nothing to commit.
        index = NewMemberEntry();
        if (index < 0) return 0;
        if (!FileSeekExact(selector, library->base_offset + library->member_offset)) {
            library->writing = 0;
            library->new_member = 0;
            return 0;
        }
        DirectoryLookup(name, kLookupReplace);
        library->writing = 1;
        library->new_member = 1;
        DirEntry* entry = &library->directory[index];
        std::memset(entry, 0, sizeof *entry);
        CopyBounded(entry->name, name, kMemberNameMax);
        entry->reserved1 = -1;
        entry->reserved2 = -1;
    }
    library->current_index = index;
    library->current_entry = &library->directory[index];
    if (mode == kModeOpen &&
        !FileSeekExact(selector, library->base_offset + library->member_offset))
        return 0;
    *handle = static_cast<int16_t>((g_current_library + 1) * kFirstMemberHandle + index);
    return 1;
}

} // namespace

int FileOpenOrCreate(int mode, uint16_t flags, const char* path, int16_t* handle,
                     int16_t selector) {
    *handle = -1;
    const bool searching = g_layer.library_search != 0 && mode == kModeOpen;
    const int16_t first_at_entry = g_layer.libraries_first;
    int cause = 0;

    char work[kPathMax + 1];
    CopyBounded(work, path, kPathMax);
    char form[kPathMax + 1];
    if (!SearchForm(work, form)) {
        cause = EINVAL;
    } else {
        const int member = StripMemberPrefix(work);
        if (searching && first_at_entry) {
            g_layer.libraries_first = 0;
            const int found = OpenFromSearchList(mode, flags, form, handle, &cause);
            g_layer.libraries_first = first_at_entry;
            if (found == 1) return 1;
            if (cause == -1) return 0;
        }
        if (cause != 0) {
            // A library of the search list holds the name and refused it.
        } else if (member) {
            OpenMember(mode, work, handle, selector, &cause);
            if (cause == -1) return 0;
        } else if (mode == kModeOpen) {
            if (DiskOpen(work, flags, handle) && DiskSystemHandle(*handle) == nullptr) {
                // A null system handle is opened again and the first let go.
                const int16_t first = *handle;
                DiskOpen(work, flags, handle);
                DiskClose(first);
            }
            if (*handle == -1) {
                cause = CauseFromDiskError(DiskLastError());
                if (searching && !first_at_entry)
                    OpenFromSearchList(mode, flags, form, handle, &cause);
                if (cause == -1) return 0;
            }
        } else if (!DiskCreate(work, flags, handle)) {
            *handle = -1;
            cause = CauseFromDiskError(DiskLastError());
        }
    }

    if (*handle != -1) {
        if (mode == kModeOpen) FileGetDateTime(*handle, &g_layer.stamp.date, &g_layer.stamp.time);
        g_layer.stamp_now = 1;
        g_layer.pending_stamp = mode == kModeCreate ? 1 : 0;
        return 1;
    }
    if (g_layer.report_errors) SetErrorNumber(OpenErrorNumber(cause));
    return 0;
}

int FileCreate(const char* path, int16_t* handle, int16_t selector) {
    return FileOpenOrCreate(kModeCreate, 15, path, handle, selector);
}

int FileOpen(const char* path, int16_t* handle, int16_t selector) {
    return FileOpenOrCreate(kModeOpen, 15, path, handle, selector);
}

int FileOpenRead(const char* path, int16_t* handle, int16_t selector) {
    return FileOpenOrCreate(kModeOpen, 13, path, handle, selector);
}

int FileClose(int16_t handle) {
    if (g_layer.pending_stamp && g_layer.stamp_now) {
        g_layer.stamp.attribute = kStampAttribute;
        CurrentDosDateTime(&g_layer.stamp.date, &g_layer.stamp.time);
    }
    if (handle >= kFirstMemberHandle) {
        // Only a member being written has something to commit: a member open
        // for reading, or a library with no member open, needs nothing. A
        // handle of a library that is not open names nothing.
        MemberLibrary(handle);
        LibraryRecord* library = g_current_record;
        if (!LibraryOpenForMembers(library)) return 0;
        if (library->writing && !MemberCommit()) return 0;
    } else {
        const int16_t disk = DiskHandleOf(handle);
        if (g_layer.pending_stamp) FileSetDateTime(disk, g_layer.stamp.date, g_layer.stamp.time);
        if (!DiskClose(disk)) {
            if (g_layer.report_errors) SetErrorNumber(1020);
            return 0;
        }
    }
    g_layer.pending_stamp = 0;
    return 1;
}

int FileCloseUnstamped(int16_t handle) {
    const int16_t pending = g_layer.pending_stamp;
    g_layer.pending_stamp = 0;
    const int closed = FileClose(handle);
    g_layer.pending_stamp = pending;
    return closed;
}

int FileExists(const char* path) {
    char work[kPathMax + 1];
    CopyBounded(work, path, kPathMax);
    TrimBoth(work);
    if (work[0] == 0) return 0;
    char form[kPathMax + 1];
    if (!SearchForm(work, form)) return 0;

    if (g_layer.library_search && g_layer.libraries_first) {
        g_layer.libraries_first = 0;
        const int found = ExistsInSearchList(form);
        g_layer.libraries_first = 1;
        if (found) return 1;
    }
    if (StripMemberPrefix(work))
        return g_current_record != nullptr && DirectoryLookup(work, kLookupTest) >= 0 ? 1 : 0;
    if (DiskIsRegularFile(work)) return 1;
    return g_layer.library_search && !g_layer.libraries_first ? ExistsInSearchList(form) : 0;
}

int32_t FileSizeOfPath(const char* path) {
    char work[kPathMax + 1];
    CopyBounded(work, path, kPathMax);
    if (StripMemberPrefix(work)) {
        if (g_current_record == nullptr) return -1;
        const int16_t index = DirectoryLookup(work, kLookupTest);
        if (index < 0) return -1;
        return static_cast<int32_t>(g_current_record->directory[index].size);
    }
    const int32_t report = g_layer.report_errors;
    const int16_t pending = g_layer.pending_stamp;
    g_layer.report_errors = 0;
    g_layer.pending_stamp = 0;
    int16_t handle;
    if (!FileOpenRead(work, &handle, -1)) {
        g_layer.report_errors = report;
        g_layer.pending_stamp = pending;
        return -1;
    }
    const int32_t size = FileSeek(handle, 0, 2);
    const int closed = FileClose(handle);
    g_layer.report_errors = report;
    g_layer.pending_stamp = pending;
    return closed ? size : -1;
}

int FileByteLocked(int16_t handle, uint32_t offset) {
    if (handle >= kFirstMemberHandle) return 0;
    const int16_t disk = DiskHandleOf(handle);
    if (!DiskLock(disk, offset, 1)) return 1;
    DiskUnlock(disk, offset, 1);
    return 0;
}

int FileLockingWorks(const char* prefix) {
    return DiskProbeLocking(prefix) == 1 ? 1 : 0;
}

int FileCurrentDir(char* buffer, int16_t size) {
    return DiskGetDriveDir(0, buffer, size);
}

} // namespace tx

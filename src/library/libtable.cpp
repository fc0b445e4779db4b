// The open-library table: opening containers (own files, at a base offset,
// nested in a member of another library), closing them, selectors and probes.
#include "diskfile/diskfile.h"
#include "diskfile/filetime.h"
#include "library/libtable.h"
#include "library/searchlist.h"
#include "support/error.h"
#include "support/memory.h"
#include "vfile/virtual.h"

#include <cstring>

namespace tx {

namespace {

LibraryRecord* g_table = nullptr;
int g_read_only = 0;

int EnsureTable() {
    if (g_table != nullptr) return 1;
    g_table = static_cast<LibraryRecord*>(BlockAlloc(sizeof(LibraryRecord) * kLibraryCount));
    if (g_table == nullptr) return 0;
    for (int i = 0; i < kLibraryCount; ++i) {
        g_table[i].container = -1;
        g_table[i].current_index = -1;
    }
    SelectLibrary(-1);
    return 1;
}

// What OpenNested answers when the library holds the name but has a member
// being created: reading the nested container would move the file under that
// member's writes, and would take the member access state it needs.
constexpr int kNestedBusy = 2;

// Opens the member `bare` of library `outer_index` (the current library) as
// a nested container. -1 when the library has no valid member of that name
// lying inside it; kNestedBusy (error 1008) when it has a member being
// created; else the result of the open.
int OpenNested(int16_t outer_index, const char* bare, const char* work, int16_t* selector,
               int16_t create, int16_t must_exist, int16_t kind) {
    LibraryRecord* outer = LibraryRecordAt(outer_index);
    char name[kPathMax + 1];
    CopyBounded(name, bare, kPathMax);
    const int16_t index = DirectoryLookup(name, kLookupTest);
    if (index < 0) return -1;
    const DirEntry* entry = &outer->directory[index];
    if (!EntryInsideContainer(entry, outer->end_of_data)) return -1;
    if (outer->writing) {
        *selector = -1;
        if (g_layer.report_errors) SetErrorNumber(1008);
        return kNestedBusy;
    }
    if (LibraryOpen(outer->path, selector, create, must_exist, kind, outer_index,
                    static_cast<int32_t>(entry->size),
                    outer->base_offset + static_cast<int32_t>(entry->offset))) {
        CopyBounded(LibraryRecordAt(static_cast<int16_t>(*selector - kSelectorBase))->path, work,
                    kPathMax);
        return 1;
    }
    *selector = -1;
    return 0;
}

void FreeBlock(void* block) {
    if (block != nullptr) BlockFree(block);
}

} // namespace

int LibrarySetReadOnly(int value) {
    const int previous = g_read_only;
    g_read_only = value;
    return previous;
}

LibraryRecord* LibraryRecordAt(int16_t index) {
    if (g_table == nullptr || index < 0 || index >= kLibraryCount) return nullptr;
    return &g_table[index];
}

void LibraryTableReset() {
    g_table = nullptr;
}

void LibraryTableRelease() {
    if (g_table != nullptr) BlockFree(g_table);
    g_table = nullptr;
    SelectLibrary(-1);
}

int LibraryOpen(const char* path, int16_t* selector, int16_t create, int16_t must_exist,
                int16_t kind, int16_t parent, int32_t size, int32_t base) {
    const bool searching = g_layer.library_search != 0 && must_exist != 0;
    const int16_t first_at_entry = g_layer.libraries_first;
    *selector = -1;
    if (!EnsureTable()) return 0;

    int16_t index = -1;
    for (int16_t i = 0; i < kLibraryCount && index < 0; ++i)
        if (g_table[i].path[0] == 0) index = i;
    if (index < 0) {
        if (g_layer.report_errors) RaiseErrorInt(1061);
        return 0;
    }

    char work[kPathMax + 1];
    CopyBounded(work, path, kPathMax);
    char bare[kPathMax + 1];
    if (!PathFileName(work, bare)) {
        if (g_layer.report_errors) SetErrorNumber(1010);
        return 0;
    }

    if (searching && first_at_entry) {
        g_layer.libraries_first = 0;
        for (int16_t i = SearchListFirst(); i != -1; i = SearchListNext()) {
            const int result = OpenNested(i, bare, work, selector, create, must_exist, kind);
            if (result == 1 || result == kNestedBusy) {
                g_layer.libraries_first = first_at_entry;
                return result == 1 ? 1 : 0;
            }
        }
        g_layer.libraries_first = first_at_entry;
    }

    int existing;
    if (parent >= 0)
        existing = 1;
    else if (create)
        existing = FileExists(work);
    else
        existing = must_exist;
    // A read-only open makes no container.
    if (g_read_only && !existing) {
        if (g_layer.report_errors) SetErrorNumber(1008);
        return 0;
    }

    SelectLibrary(index);
    LibraryRecord* record = &g_table[index];
    std::memset(record, 0, sizeof *record);
    record->container = -1;
    record->current_index = -1;
    record->modified = existing ? 0 : 1;
    record->base_offset = base;
    record->read_only = g_read_only ? 1 : 0;

    // The record's path is absolute; one that would not fit is refused.
    if (std::strchr(work, '\\') != nullptr) {
        std::strcpy(record->path, work);
    } else {
        char current[kLibraryPathSize];
        if (!FileCurrentDir(current, kLibraryPathSize)) current[0] = 0;
        const size_t length = std::strlen(current);
        const bool slash = length > 0 && current[length - 1] != '\\';
        if (length + (slash ? 1 : 0) + std::strlen(work) > static_cast<size_t>(kPathMax)) {
            if (g_layer.report_errors) SetErrorNumber(1010);
            return LibraryAbandon(0);
        }
        std::strcpy(record->path, current);
        if (slash) std::strcat(record->path, "\\");
        std::strcat(record->path, work);
    }

    int32_t end_of_data;
    bool missing = false;
    if (parent >= 0) {
        end_of_data = size;
    } else if (existing) {
        // The size of the disk file itself, which is what the open below
        // opens: a member of the same name found by the library search
        // would be measured in its place.
        const int16_t search = SetLibrarySearch(0);
        end_of_data = FileSizeOfPath(work);
        SetLibrarySearch(search);
        missing = end_of_data == -1;
        // A container at a base offset runs from there to the end of its file.
        if (!missing && base > 0) end_of_data = end_of_data > base ? end_of_data - base : 0;
    } else {
        end_of_data = ContainerNewSize(static_cast<uint16_t>(g_layer.growth_step));
    }

    if (existing && (missing || end_of_data < kHeaderBlockSize)) {
        if (missing && searching && !first_at_entry) {
            record->path[0] = 0;
            for (int16_t i = SearchListFirst(); i != -1; i = SearchListNext()) {
                const int result = OpenNested(i, bare, work, selector, create, must_exist, kind);
                if (result >= 0) return result == 1 ? 1 : 0;
            }
            SelectLibrary(index);
        }
        LibraryAbandon(0);
        if (g_layer.report_errors) SetErrorNumber(1063);
        return 0;
    }

    record->header = static_cast<HeaderBlock*>(BlockAlloc(kHeaderBlockSize));
    if (record->header == nullptr) return LibraryAbandon(0);

    if (parent >= 0) {
        const LibraryRecord* outer = LibraryRecordAt(parent);
        if (outer == nullptr || outer->path[0] == 0 || outer->container == -1)
            return LibraryAbandon(0);
        record->container = outer->container;
        record->owns_handle = 0;
        if (outer->read_only) record->read_only = 1;
    } else {
        const int16_t pending = g_layer.pending_stamp;
        const int16_t search = SetLibrarySearch(0);
        const int mode = existing ? kModeOpen : kModeCreate;
        int16_t handle;
        const int disk_read_only = g_read_only ? DiskSetReadOnlyOpen(1) : -1;
        if (!FileOpenOrCreate(mode, 15, work, &handle, -1))
            FileOpenOrCreate(mode, 1, work, &handle, -1);
        if (disk_read_only != -1) DiskSetReadOnlyOpen(disk_read_only);
        SetLibrarySearch(search);
        g_layer.pending_stamp = pending;
        if (handle == -1) return LibraryAbandon(0);
        SelectLibrary(index);
        record->container = handle;
        record->owns_handle = 1;
    }

    HeaderBlock* header = record->header;
    if (!existing) {
        uint16_t date, time;
        CurrentDosDateTime(&date, &time);
        ContainerInitHeader(header, kind, static_cast<uint16_t>(g_layer.growth_step), date, time);
    } else {
        reinterpret_cast<char*>(header)[0] = 'M';
        if (!FileReadAt(record->container, base + 1, reinterpret_cast<char*>(header) + 1,
                        kHeaderBlockSize - 1)) {
            const int16_t container = record->container;
            LibraryAbandon(1);
            if (g_layer.report_errors) RaiseErrorInt(1015, container);
            return 0;
        }
        if (!ContainerMagicMatches(header)) return LibraryAbandon(1);
        if (!create && kind != -1 && header->kind != static_cast<uint16_t>(kind))
            return LibraryAbandon(1);
        if (end_of_data <= 0) return LibraryAbandon(1);
        // A directory the reader cannot hold, or one that runs past the end
        // of the container, is refused like a wrong magic.
        if (!ContainerHeaderUsable(header, end_of_data)) return LibraryAbandon(1);
    }

    record->end_of_data = end_of_data;
    const uint16_t directory_bytes = static_cast<uint16_t>(header->capacity * kDirEntrySize);
    record->directory = static_cast<DirEntry*>(BlockAlloc(directory_bytes));
    if (record->directory == nullptr) return LibraryAbandon(1);

    if (!existing) {
        // A new container is written at its base offset; one that cannot be
        // written whole is not reported as open, nor left behind, where a
        // later create would take it for an existing container.
        if (!FileSeekExact(record->container, base) ||
            !FileWriteExact(record->container, header, kHeaderBlockSize) ||
            !FileWriteExact(record->container, record->directory, directory_bytes)) {
            LibraryAbandon(1);
            DiskDelete(work);
            return 0;
        }
    } else {
        if (!FileReadExact(record->container, record->directory, directory_bytes)) {
            LibraryAbandon(1);
            if (g_layer.report_errors) RaiseErrorInt(1015);
            return 0;
        }
        if (header->kind == 0 && !SearchListAdd(index)) return LibraryAbandon(1);
    }
    *selector = static_cast<int16_t>(kSelectorBase + index);
    return 1;
}

int LibraryOpenExisting(const char* path, int16_t* selector, int16_t kind) {
    return LibraryOpen(path, selector, 0, 1, kind, -1, -1, 0);
}

int LibraryAbandon(int close_file) {
    LibraryRecord* record = g_current_record;
    if (record == nullptr) return 0;
    if (close_file && record->owns_handle && record->container != -1)
        FileCloseUnstamped(record->container);
    FreeBlock(record->header);
    FreeBlock(record->directory);
    record->header = nullptr;
    record->directory = nullptr;
    record->current_entry = nullptr;
    record->container = -1;
    record->path[0] = 0;
    SelectLibrary(-1);
    return 0;
}

int LibraryCheckSelector(int16_t* selector) {
    const int16_t index = static_cast<int16_t>(*selector - kSelectorBase);
    const LibraryRecord* record = LibraryRecordAt(index);
    if (*selector < kSelectorBase || record == nullptr || record->path[0] == 0 ||
        record->container == -1)
        return 0;
    *selector = index;
    return 1;
}

int LibrarySelect(int16_t selector) {
    int16_t index = selector;
    if (!LibraryCheckSelector(&index)) {
        if (g_layer.report_errors) RaiseErrorInt(1066, static_cast<int>(selector));
        return 0;
    }
    SelectLibrary(index);
    return 1;
}

int LibraryClose(int16_t selector) {
    if (!LibrarySelect(selector)) return 0;
    const int16_t index = g_current_library;
    LibraryRecord* record = &g_table[index];
    // Libraries nested in this one use its file: they are closed first, so
    // that none is left writing through a handle number given out again.
    if (record->owns_handle) {
        for (int16_t i = 0; i < kLibraryCount; ++i) {
            const LibraryRecord* other = &g_table[i];
            if (i != index && other->path[0] != 0 && other->container == record->container &&
                !other->owns_handle && !LibraryClose(static_cast<int16_t>(kSelectorBase + i)))
                return 0;
        }
    }

    SelectLibrary(index);
    if (record->modified && !DirectoryWriteBack()) return 0;

    HeaderBlock* header = record->header;
    DirEntry* directory = record->directory;
    const int16_t container = record->container;
    record->header = nullptr;
    record->directory = nullptr;
    record->current_entry = nullptr;
    record->container = -1;
    const int closed = record->owns_handle ? FileCloseUnstamped(container) : 1;
    FreeBlock(directory);
    FreeBlock(header);
    if (!closed) {
        if (g_layer.report_errors) RaiseErrorInt(1020);
        return 0;
    }
    record->path[0] = 0;
    SelectLibrary(-1);
    if (SearchListContains(index)) SearchListRemove(index);
    return 1;
}

int16_t LibraryKind(int16_t selector) {
    int16_t index = selector;
    if (!LibraryCheckSelector(&index)) return -2;
    return static_cast<int16_t>(g_table[index].header->kind);
}

int LibraryProbe(const char* path, int16_t kind) {
    const int16_t current = g_current_library;
    const int32_t report = g_layer.report_errors;
    g_layer.report_errors = 0;
    int16_t selector;
    const int opened = LibraryOpenExisting(path, &selector, kind);
    if (opened) LibraryClose(selector);
    g_layer.report_errors = report;
    SelectLibrary(current);
    return opened;
}

int LibraryProbeFile(const char* path) {
    char work[kPathMax + 1];
    CopyBounded(work, path, kPathMax);
    if (!FileExists(work)) return 0;
    return LibraryProbe(work, -1);
}

int LibraryOpenApplication(const char* path, int16_t* selector, int32_t base) {
    const int32_t report = g_layer.report_errors;
    const int16_t first = g_layer.libraries_first;
    g_layer.report_errors = 0;
    g_layer.libraries_first = 0;
    auto finish = [&](int result) {
        g_layer.report_errors = report;
        g_layer.libraries_first = first;
        return result;
    };
    *selector = -1;
    if (!FileExists(path)) return finish(1);
    if (base == 0 && !LibraryProbeFile(path)) return finish(2);
    if (!LibraryOpen(path, selector, 0, 1, -1, -1, -1, base)) return finish(3);
    if (LibraryKind(*selector) != 0) {
        LibraryClose(*selector);
        *selector = -1;
        return finish(4);
    }
    finish(0);
    LongNamesLoad();
    return 0;
}

} // namespace tx

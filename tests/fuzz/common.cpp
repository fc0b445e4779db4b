// The shared scratch file, the layers' start and end, and the walk over a
// library's members. Files are made and removed through the Win32 calls,
// which the fuzz build answers from memory.
#include "common.h"

#include "diskfile/diskfile.h"
#include "diskfile/filetime.h"
#include "library/embedded.h"
#include "library/libtable.h"
#include "library/searchlist.h"
#include "platform/fault.h"
#include "platform/win32.h"
#include "support/error.h"
#include "vfile/virtual.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

namespace txfuzz {

namespace {

long g_kernel_objects = 0;
long g_blocks = 0;

// The directory the targets write in: the current one, so that relative
// names (a bare member name not found in the open libraries is looked for on
// disk) resolve there. The fuzz build keeps files in memory, so this is a
// directory of the memory store: nothing reaches the disk, and the process's
// own directory is left as it is.
const std::string& ScratchDir() {
    static const std::string dir = [] {
        char buffer[MAX_PATH + 1];
        const DWORD length = GetCurrentDirectoryA(sizeof buffer, buffer);
        if (length == 0 || length >= sizeof buffer) std::abort();
        std::string d(buffer, length);
        if (d.back() == '\\') d.pop_back();
        return d;
    }();
    return dir;
}

[[noreturn]] void Leaked(const char* what, long before, long after) {
    std::fprintf(stderr, "txfuzz: %s alive before the input: %ld, after it: %ld\n", what, before,
                 after);
    std::abort();
}

// Reads the open member whole and moves about in it.
void Exercise(int16_t handle) {
    static char buffer[65535];
    uint32_t size = 0;
    uint16_t date = 0, time = 0;
    tx::FileGetSize(handle, &size);
    tx::FileGetDateTime(handle, &date, &time);
    // A member is at most the container's length, far below this many reads.
    for (int i = 0; i < 8 && tx::FileRead(handle, buffer, sizeof buffer) != 0; ++i) {
    }
    tx::FileSeek(handle, 0, 0);
    tx::FileReadExact(handle, buffer, 16);
    tx::FileSeek(handle, static_cast<int32_t>(size / 2), 0);
    tx::FileRead(handle, buffer, 100);
    tx::FileSeek(handle, -3, 1);
    tx::FileSeek(handle, 0, 2);
    tx::FileRead(handle, buffer, 10);
    tx::FileSeek(handle, 7, 2);
    tx::FileReadAt(handle, static_cast<int32_t>(size) - 1, buffer, 1);
}

// Opens "|name" in the library and exercises it.
void OpenMember(const char* name, int16_t selector) {
    char path[tx::kPathMax + 2];
    std::snprintf(path, sizeof path, "|%s", name);
    int16_t handle = -1;
    if (!tx::FileOpenRead(path, &handle, selector)) return;
    Exercise(handle);
    tx::FileClose(handle);
}

} // namespace

std::string WriteInput(const uint8_t* data, size_t size) {
    const std::string path = ScratchDir() + "\\input.lib";
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) std::abort();
    DWORD written = 0;
    const BOOL wrote = WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr);
    if (!CloseHandle(file) || !wrote || written != size) std::abort();
    return path;
}

std::string ScratchWinPath(const char* name) {
    const std::string path = ScratchDir() + "\\" + name;
    if (!CreateDirectoryA(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        std::abort();
    return path;
}

void EmptyDirectory(const std::string& path) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((path + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    std::vector<std::pair<std::string, bool>> entries;
    do {
        const std::string name = found.cFileName;
        if (name != "." && name != "..")
            entries.emplace_back(path + "\\" + name,
                                 (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    for (const auto& [entry, folder] : entries) {
        if (folder) {
            EmptyDirectory(entry);
            RemoveDirectoryA(entry.c_str());
        } else {
            DeleteFileA(entry.c_str());
        }
    }
}

void StartLayers() {
    txplat::FaultClear();
    txplat::MessageBoxesClear();
    g_kernel_objects = txplat::LiveKernelObjects();
    g_blocks = txplat::LiveGlobalBlocks();
    tx::ErrorInit(nullptr);
    if (tx::DiskInitHandles(140) != 1) std::abort();
    tx::FileLayerInit();
    tx::VirtualInit();
    tx::SetLibrarySearch(0);
    tx::SetLibrariesFirst(0);
}

void EndLayers() {
    for (int16_t selector = tx::kSelectorBase + tx::kLibraryCount - 1;
         selector >= tx::kSelectorBase; --selector) {
        int16_t index = selector;
        if (tx::LibraryCheckSelector(&index)) tx::LibraryClose(selector);
    }
    tx::VirtualTerm();
    while (tx::DiskTermHandles() == 1) {
    }
    tx::ErrorTerm();
    // The layers' settings back to what the launcher starts with.
    tx::SetLibrarySearch(1);
    tx::SetLibrariesFirst(1);
    txplat::FaultClear();
    txplat::MessageBoxesClear();
    const long objects = txplat::LiveKernelObjects();
    const long blocks = txplat::LiveGlobalBlocks();
    if (objects != g_kernel_objects) Leaked("kernel objects", g_kernel_objects, objects);
    if (blocks != g_blocks) Leaked("memory blocks", g_blocks, blocks);
}

void WalkLibrary(int16_t selector, int nest) {
    int16_t index = selector;
    if (!tx::LibraryCheckSelector(&index)) return;
    const tx::LibraryRecord* record = tx::LibraryRecordAt(index);
    const int capacity = record->header->capacity;
    for (int i = 0; i < capacity; ++i) {
        // The record may be closed by a nested walk that fails; stop then.
        if (record->directory == nullptr) return;
        char name[sizeof record->directory[i].name + 1];
        std::memcpy(name, record->directory[i].name, sizeof record->directory[i].name);
        name[sizeof name - 1] = 0;
        if (name[0] == 0) continue;
        OpenMember(name, selector);
        if (nest > 0) {
            // A member that is itself a container, found as the launcher finds
            // libraries: by bare name in the open libraries first.
            const int16_t search = tx::SetLibrarySearch(1);
            const int16_t first = tx::SetLibrariesFirst(1);
            int16_t inner = -1;
            const int opened = tx::LibraryOpenExisting(name, &inner, -1);
            tx::SetLibrarySearch(search);
            tx::SetLibrariesFirst(first);
            if (opened) {
                WalkLibrary(inner, nest - 1);
                tx::LibraryClose(inner);
            }
        }
    }
    // The names of the long-name table, which the lookups translate.
    const tx::SearchEntry* entries = tx::SearchListEntries();
    for (int i = 0; i < tx::kSearchListSize && entries[i].library != -1; ++i) {
        if (entries[i].library != index || entries[i].long_names == nullptr) continue;
        const std::string text = entries[i].long_names;
        size_t at = 0;
        for (int n = 0; n < 16 && (at = text.find('\n', at)) != std::string::npos; ++n) {
            const size_t tab = text.find('\t', ++at);
            if (tab == std::string::npos) break;
            const std::string name = text.substr(at, tab - at);
            if (name.size() < tx::kPathMax) OpenMember(name.c_str(), selector);
        }
        break;
    }
}

} // namespace txfuzz

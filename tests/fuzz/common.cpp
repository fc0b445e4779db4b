// The shared scratch file, the layers' start and end, and the walk over a
// library's members.
#include "common.h"

#include "diskfile/diskfile.h"
#include "diskfile/filetime.h"
#include "library/embedded.h"
#include "library/libtable.h"
#include "library/searchlist.h"
#include "platform/fault.h"
#include "support/error.h"
#include "vfile/virtual.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <signal.h>
#include <unistd.h>
#include <vector>

namespace txfuzz {

namespace {

namespace fs = std::filesystem;

long g_kernel_objects = 0;
long g_blocks = 0;

// A directory of this process on a memory file system when there is one.
const fs::path& ScratchDir() {
    static const fs::path dir = [] {
        const fs::path base =
            fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
        // libFuzzer ends without running exit handlers: the directories of
        // runs that are over are removed here instead.
        std::error_code ignored;
        for (const auto& entry : fs::directory_iterator(base, ignored)) {
            const std::string name = entry.path().filename().string();
            if (name.rfind("txfuzz-", 0) != 0) continue;
            const long pid = std::strtol(name.c_str() + 7, nullptr, 10);
            if (pid > 0 && kill(static_cast<pid_t>(pid), 0) == -1 && errno == ESRCH)
                fs::remove_all(entry.path(), ignored);
        }
        fs::path d = base / ("txfuzz-" + std::to_string(getpid()));
        fs::create_directories(d);
        // Relative paths (a bare member name not found in the open libraries
        // is looked for on disk) resolve here, whatever directory the fuzzer
        // was started in.
        fs::current_path(d);
        std::atexit([] {
            std::error_code ignored;
            fs::remove_all(ScratchDir(), ignored);
        });
        return d;
    }();
    return dir;
}

std::string WinPathOf(const fs::path& host) {
    std::string win = "Z:" + host.string();
    for (char& c : win)
        if (c == '/') c = '\\';
    return win;
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

// The targets change the current directory to their scratch directory at the
// first input. libFuzzer reads and writes its corpus and artifacts by the
// paths it was given, later: they are made absolute here, before it reads
// its arguments.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static std::vector<std::string> args;
    static std::vector<char*> pointers;
    for (int i = 0; i < *argc; ++i) {
        std::string arg = (*argv)[i];
        static const char* const kPathFlags[] = {
            "-artifact_prefix=", "-exact_artifact_path=", "-merge_control_file=", "-dict="};
        size_t at = std::string::npos;
        if (i > 0 && !arg.empty() && arg[0] != '-') at = 0;
        for (const char* flag : kPathFlags)
            if (arg.rfind(flag, 0) == 0) at = std::strlen(flag);
        if (at != std::string::npos && at < arg.size() && arg[at] != '/') {
            // A prefix ending in "/" stays one: it names a directory.
            const bool slash = arg.back() == '/';
            std::string path = fs::absolute(arg.substr(at)).lexically_normal().string();
            if (slash && (path.empty() || path.back() != '/')) path += '/';
            arg = arg.substr(0, at) + path;
        }
        args.push_back(arg);
    }
    for (auto& arg : args)
        pointers.push_back(arg.data());
    pointers.push_back(nullptr);
    *argv = pointers.data();
    return 0;
}

std::string WriteInput(const uint8_t* data, size_t size) {
    const fs::path file = ScratchDir() / "input.lib";
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    out.close();
    if (!out) std::abort();
    return WinPathOf(file);
}

std::string ScratchWinPath(const char* name) {
    const fs::path p = ScratchDir() / name;
    fs::create_directories(p);
    return WinPathOf(p);
}

void StartLayers() {
    ScratchDir();
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

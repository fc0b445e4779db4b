// The bytes of a library container, opened from a file as the launcher opens
// an application library: the probe, the open, the long-name table, then
// every member read and positioned through the virtual file layer, and the
// members that are containers opened as nested libraries. Then, as the
// library tool does, a member is added and one replaced (which may grow the
// directory), and the directory written back when the library is closed.
#include "common.h"

#include "library/libtable.h"
#include "vfile/virtual.h"

#include <cstdio>
#include <cstring>

namespace {

void WriteMember(const char* path, int16_t selector, uint16_t size) {
    static char data[4096];
    int16_t handle = -1;
    if (!tx::FileCreate(path, &handle, selector)) return;
    tx::FileWrite(handle, data, size);
    tx::FileClose(handle);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = txfuzz::WriteInput(data, size);
    txfuzz::StartLayers();
    int16_t selector = -1;
    if (tx::LibraryOpenApplication(path.c_str(), &selector, 0) != 0) {
        // Not an application library (another kind, say): any container.
        tx::LibraryOpenExisting(path.c_str(), &selector, -1);
    }
    if (selector != -1) {
        txfuzz::WalkLibrary(selector, 2);
        int16_t index = selector;
        if (tx::LibraryCheckSelector(&index)) {
            const tx::LibraryRecord* record = tx::LibraryRecordAt(index);
            char first[tx::kPathMax + 2] = "|NEW.OBJ";
            if (record->header->used > 0 && record->directory[0].name[0] != 0)
                std::snprintf(first, sizeof first, "|%.13s", record->directory[0].name);
            WriteMember("|ADDED.OBJ", selector, 300);
            WriteMember(first, selector, 4000);
            txfuzz::WalkLibrary(selector, 0);
        }
    }
    txfuzz::EndLayers();
    return 0;
}

// The bytes of a library container, opened from a file as the launcher opens
// an application library: the probe, the open, the long-name table, then
// every member read and positioned through the virtual file layer, and the
// members that are containers opened as nested libraries.
#include "common.h"

#include "library/libtable.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = txfuzz::WriteInput(data, size);
    txfuzz::StartLayers();
    int16_t selector = -1;
    if (tx::LibraryOpenApplication(path.c_str(), &selector, 0) != 0) {
        // Not an application library (another kind, say): any container.
        tx::LibraryOpenExisting(path.c_str(), &selector, -1);
    }
    if (selector != -1) txfuzz::WalkLibrary(selector, 2);
    txfuzz::EndLayers();
    return 0;
}

// The bytes of a launcher's own file: the scan for the section header that
// records the embedded library's offset, then the library at that offset
// opened as self-extraction opens it, and its members copied out to disk.
#include "common.h"

#include "launcher/extractmodule.h"
#include "library/embedded.h"
#include "library/libtable.h"

#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const size_t scanned = size < tx::kHeaderScanBytes ? size : tx::kHeaderScanBytes;
    const int32_t at = tx::FindSectionHeader(data, scanned);
    if (at >= 0 && (static_cast<size_t>(at) + 5 > scanned || data[at] != '.')) std::abort();

    const std::string path = txfuzz::WriteInput(data, size);
    const std::string out = txfuzz::ScratchWinPath("out");
    txfuzz::StartLayers();
    const int32_t offset = tx::EmbeddedLibraryOffset(path.c_str());
    int16_t selector = -1;
    if (offset > 0 && tx::LibraryOpenApplication(path.c_str(), &selector, offset) == 0) {
        txfuzz::WalkLibrary(selector, 1);
        int16_t index = selector;
        if (tx::LibraryCheckSelector(&index)) {
            const tx::LibraryRecord* record = tx::LibraryRecordAt(index);
            for (int i = 0; i < record->header->capacity && i < 8; ++i) {
                char name[sizeof record->directory[i].name + 1];
                std::memcpy(name, record->directory[i].name, sizeof name - 1);
                name[sizeof name - 1] = 0;
                tx::ExtractModule(name, selector, out.c_str());
            }
        }
    }
    txfuzz::EndLayers();
    txfuzz::EmptyDirectory(out);
    return 0;
}

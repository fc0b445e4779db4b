// A stand-in for the launcher that reports what it reads from its own file:
// its configuration slots, read as the launcher reads them, and its embedded
// library, found and opened by the launcher's own code. The library tool's
// end-to-end tests patch copies of it and compare its report with what they
// wrote.
//
// Output, one item a line:
//   slot N=VALUE        pairs 1, 3, 5, 7 (trimmed) and slots 9, 10, 11
//   offset=N            the recorded offset of the embedded library
//   library=R           the application library open's result (0: open)
//   member NAME SIZE    each member, in directory order
#include "diskfile/diskfile.h"
#include "launcher/slots.h"
#include "library/embedded.h"
#include "library/libtable.h"
#include "platform/win32.h"
#include "support/trim.h"
#include "vfile/vfile.h"

#include <cstdio>
#include <initializer_list>

int main() {
    HINSTANCE self = GetModuleHandleA(nullptr);
    char buffer[tx::kPairBufferSize];
    for (unsigned id : {1u, 3u, 5u, 7u}) {
        tx::ReadSlotPair(self, id, buffer);
        tx::TrimRight(buffer);
        std::printf("slot %u=%s\n", id, buffer);
    }
    tx::ReadSlot(self, 9, buffer, tx::kSlotReadLimit);
    std::printf("slot 9=%s\n", buffer);
    tx::ReadSlot(self, 10, buffer, tx::kSlotReadLimit);
    std::printf("slot 10=%s\n", buffer);
    tx::ReadSlot(self, 11, buffer, tx::kFlagsReadLimit);
    std::printf("slot 11=%s\n", buffer);

    char path[MAX_PATH + 1] = "";
    GetModuleFileNameA(self, path, MAX_PATH);
    tx::DiskInitHandles(140);
    tx::FileLayerInit();
    tx::VirtualInit();
    const long offset = tx::EmbeddedLibraryOffset(path);
    std::printf("offset=%ld\n", offset);
    if (offset > 0) {
        int16_t selector;
        const int result = tx::LibraryOpenApplication(path, &selector, offset);
        std::printf("library=%d\n", result);
        if (result == 0) {
            const tx::LibraryRecord* library =
                tx::LibraryRecordAt(static_cast<int16_t>(selector - tx::kSelectorBase));
            for (int i = 0; i < library->header->used; ++i)
                if (library->directory[i].state == 1)
                    std::printf("member %s %lu\n", library->directory[i].name,
                                static_cast<unsigned long>(library->directory[i].size));
            tx::LibraryClose(selector);
        }
    }
    tx::VirtualTerm();
    tx::DiskTermHandles();
    return 0;
}

// The bytes of a launcher executable as the library tool reads it: the PE or
// ELF structure, the configuration strings it finds (read back and written
// again in place), and the recorded offset of the embedded library.
#include "exeimage.h"
#include "failure.h"

#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> bytes(data, data + size);
    try {
        const txlib::ExeImage image = txlib::ParseExecutable(bytes, "input");
        for (const auto& [id, entries] : image.strings) {
            for (const txlib::StringEntry& entry : entries) {
                bool lossy = false;
                const std::string text = txlib::ReadEntry(bytes, entry, &lossy);
                if (text.size() != entry.length) std::abort();
                txlib::WriteEntry(bytes, entry, text);
            }
        }
        if (image.library_field) {
            const uint32_t offset = txlib::EmbeddedOffset(bytes, image, "input");
            if (offset != 0 && (offset > size || offset < image.image_end)) std::abort();
            txlib::WriteU32(bytes, *image.library_field, offset);
        }
    } catch (const txlib::Failure& failure) {
        if (failure.message.empty()) std::abort();
    }
    return 0;
}

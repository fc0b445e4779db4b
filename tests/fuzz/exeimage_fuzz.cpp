// The bytes of a launcher executable as the library tool reads it: the PE or
// ELF structure, the configuration strings it finds (read back and written
// again in place), and the recorded offset of the embedded library.
#include "formats/exeimage.h"
#include "host/failure.h"

#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> bytes(data, data + size);
    const txlib::MemoryBytes input(data, size, "input");
    try {
        const txlib::ExeImage image = txlib::ParseExecutable(input);
        for (const auto& [id, entries] : image.strings) {
            for (const txlib::StringEntry& entry : entries) {
                bool lossy = false;
                const std::string text = txlib::ReadEntry(input, entry, &lossy);
                if (text.size() != entry.length) std::abort();
                // Characters of the code page are stored back as they were.
                std::vector<uint8_t> copy = bytes;
                txlib::ApplyPatch(txlib::EntryPatch(entry, text), 0, copy.data(), copy.size());
                if (!lossy && copy != bytes) std::abort();
            }
        }
        if (image.library_field) {
            const uint32_t offset = txlib::EmbeddedOffset(input, image);
            if (offset != 0 &&
                (offset > size || offset < image.image_end || offset < *image.library_field + 4))
                std::abort();
            txlib::ApplyPatch(txlib::U32Patch(*image.library_field, offset), 0, bytes.data(),
                              bytes.size());
        }
    } catch (const txlib::Failure& failure) {
        if (failure.message.empty()) std::abort();
    }
    return 0;
}

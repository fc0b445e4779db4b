#include "host/bytesource.h"

#include "host/failure.h"

#include <cstring>

namespace txlib {

void MemoryBytes::Read(uint64_t offset, void* out, size_t count) const {
    if (offset > size_ || count > size_ - offset)
        Fail(name_, "cannot read: the range lies beyond the end of the bytes");
    if (count > 0) std::memcpy(out, data_ + offset, count);
}

Patch U32Patch(uint64_t offset, uint32_t value) {
    Patch patch{offset, std::vector<uint8_t>(4)};
    for (int i = 0; i < 4; ++i)
        patch.bytes[i] = static_cast<uint8_t>(value >> (8 * i));
    return patch;
}

void ApplyPatch(const Patch& patch, uint64_t offset, uint8_t* data, size_t size) {
    const uint64_t end = offset + size;
    const uint64_t patch_end = patch.offset + patch.bytes.size();
    const uint64_t from = patch.offset > offset ? patch.offset : offset;
    const uint64_t to = patch_end < end ? patch_end : end;
    if (from >= to) return;
    std::memcpy(data + (from - offset), patch.bytes.data() + (from - patch.offset),
                static_cast<size_t>(to - from));
}

} // namespace txlib

#include "library/container.h"

#include <cstring>

namespace tx {

// "MTKORELAN 0.00", 0xE0, CR LF, "Meta-fichier Torvix", 61 spaces, 0x1A.
const char kContainerMagic[99] = "MTKORELAN 0.00\xE0\r\nMeta-fichier Torvix"
                                 "                                        "
                                 "                     \x1A";

namespace {
constexpr char kMagicCompared[] = "TKORELAN "; // bytes 1..9 of the magic text
} // namespace

void ContainerInitHeader(HeaderBlock* header, int16_t kind, uint16_t capacity, uint16_t date,
                         uint16_t time) {
    std::memset(header, 0, sizeof *header);
    std::memcpy(header->magic, kContainerMagic, sizeof header->magic);
    header->header_size = kHeaderBlockSize;
    header->create_time = time;
    header->create_date = date;
    header->kind = static_cast<uint16_t>(kind);
    header->seed = kSeedPlain;
    header->version = kFormatVersion;
    header->capacity = capacity;
    header->word100 = 100;
    header->word2048 = 2048;
    header->used = 0;
    header->method = 0;
    header->sorted = 0;
}

int32_t ContainerNewSize(uint16_t capacity) {
    return kHeaderBlockSize + static_cast<int32_t>(capacity) * kDirEntrySize;
}

int ContainerMagicMatches(const HeaderBlock* header) {
    return std::memcmp(header->magic + 1, kMagicCompared, 9) == 0 ? 1 : 0;
}

HeaderFault ContainerHeaderFault(const HeaderBlock* header, int32_t end_of_data) {
    if (header->capacity > kMaxDirEntries) return kHeaderTooManyEntries;
    if (header->used > header->capacity) return kHeaderUsedBeyondCapacity;
    if (end_of_data < ContainerNewSize(header->capacity)) return kHeaderDirectoryPastEnd;
    return kHeaderUsable;
}

int ContainerHeaderUsable(const HeaderBlock* header, int32_t end_of_data) {
    return ContainerHeaderFault(header, end_of_data) == kHeaderUsable ? 1 : 0;
}

int EntryInsideContainer(const DirEntry* entry, int32_t end_of_data) {
    if (end_of_data < 0) return 0;
    const uint32_t end = static_cast<uint32_t>(end_of_data);
    if (entry->offset > end) return 0;
    return entry->size <= end - entry->offset ? 1 : 0;
}

} // namespace tx

// Directory entries for new members, and the growth of a full directory,
// which moves all member data further into the container file.
#include "support/error.h"
#include "support/memory.h"
#include "vfile/internal.h"

namespace tx {

namespace {

constexpr int32_t kMoveChunk = 65000;

// Moves the `length` bytes of member data that end at container offset
// `end` up by `distance` bytes, from the end backwards so that the
// overlapping ranges stay intact.
int MoveDataUp(const LibraryRecord* library, int32_t end, int32_t length, int32_t distance) {
    if (length <= 0) return 1;
    int32_t chunk = length < kMoveChunk ? length : kMoveChunk;
    if (chunk > BlockMaxSize()) chunk = BlockMaxSize();
    void* buffer = BlockAlloc(static_cast<uint16_t>(chunk));
    if (buffer == nullptr) return 0;
    int32_t position = library->base_offset + end;
    int ok = 1;
    while (length > 0) {
        position -= chunk;
        if (!FileReadAt(library->container, position, buffer, static_cast<uint16_t>(chunk)) ||
            !FileSeekExact(library->container, position + distance) ||
            !FileWriteExact(library->container, buffer, static_cast<uint16_t>(chunk))) {
            ok = 0;
            break;
        }
        length -= chunk;
        if (length < chunk) chunk = length;
    }
    BlockFree(buffer);
    return ok;
}

int GrowDirectory(LibraryRecord* library) {
    HeaderBlock* header = library->header;
    const int32_t used = header->used;
    int32_t growth = g_layer.growth_step;
    if (growth > kMaxDirEntries - used) growth = kMaxDirEntries - used;
    if (growth <= 0) return 0;
    // File offsets are signed 32-bit: the data is not moved past them.
    const int32_t distance = growth * kDirEntrySize;
    if (static_cast<int64_t>(library->base_offset) + library->end_of_data + distance > INT32_MAX)
        return 0;

    auto* directory = static_cast<DirEntry*>(
        BlockRealloc(library->directory, static_cast<uint16_t>((used + growth) * kDirEntrySize)));
    if (directory == nullptr) {
        if (g_layer.report_errors) RaiseErrorInt(1067);
        return 0;
    }
    library->directory = directory;
    library->current_entry = library->current_index >= 0 && library->current_index < used
                                 ? &directory[library->current_index]
                                 : nullptr;

    const int32_t data_start = kHeaderBlockSize + used * kDirEntrySize;
    if (!MoveDataUp(library, library->end_of_data, library->end_of_data - data_start, distance))
        return 0;

    for (int32_t i = 0; i < header->capacity; ++i)
        directory[i].offset += static_cast<uint32_t>(distance);
    // Libraries nested in this one's members share its file: their data has
    // moved with the rest.
    for (int16_t i = 0; i < kLibraryCount; ++i) {
        LibraryRecord* nested = LibraryRecordAt(i);
        if (nested != library && nested->path[0] != 0 && !nested->owns_handle &&
            nested->container == library->container &&
            nested->base_offset >= library->base_offset + data_start)
            nested->base_offset += distance;
    }
    header->capacity = static_cast<uint16_t>(header->capacity + growth);
    library->end_of_data += distance;
    return DirectoryWriteBack();
}

} // namespace

int16_t NewMemberEntry() {
    LibraryRecord* library = g_current_record;
    if (library == nullptr || library->header == nullptr) return -1;
    // A container nested in another library's member owns no bytes beyond
    // that member: new data would land on the outer library's data.
    if (!library->owns_handle) return -1;
    HeaderBlock* header = library->header;
    if (header->used >= kMaxDirEntries) return -1;
    if (header->used == header->capacity && !GrowDirectory(library)) return -1;

    library->writing = 1;
    library->at_end = 1;
    library->position = 0;
    library->size_at_open = 0;
    library->written_size = 0;
    library->new_member = 1;
    library->member_offset = library->end_of_data;
    return static_cast<int16_t>(header->used);
}

} // namespace tx

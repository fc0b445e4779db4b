// Reading, writing and positioning through virtual handles. A member's bytes
// are read and written through its library's container handle. That handle is
// shared with the libraries nested in the container, and every read of their
// members moves it, so each member read or write first positions the file at
// base offset + member offset + position itself.
#include "diskfile/diskfile.h"
#include "support/error.h"
#include "support/memory.h"
#include "vfile/internal.h"

#include <cstring>

namespace tx {

namespace {

// The constants of the member scrambling key. Every writer of scrambled
// containers must build its key with these same values.
namespace scramble {
constexpr uint8_t kMethod0Addend = 0x5A; // method 0: high byte + low byte + this
constexpr int kShiftOdd = 3;             // method 1: shift of an odd seed
constexpr int kShiftEven = 5;            // method 1: shift of an even seed
constexpr uint16_t kMethod1Subtrahend = 0x1234;
constexpr uint16_t kMethod1Addend = 0x003C;
} // namespace scramble

// Records the failure of a read or write (when reporting) and answers 0.
uint16_t Failed(int16_t number) {
    if (g_layer.report_errors) SetErrorNumberShort(number);
    return 0;
}

int32_t SeekFailed() {
    if (g_layer.report_errors) SetErrorNumberShort(1019);
    return -1;
}

// Puts the container file at the current member's position.
bool PositionContainer(const LibraryRecord* library) {
    const int64_t at =
        static_cast<int64_t>(library->base_offset) + library->member_offset + library->position;
    return at <= INT32_MAX && DiskSeek(library->container, static_cast<int32_t>(at), 0) != 0;
}

} // namespace

uint8_t ScrambleKey(uint16_t seed, uint8_t method, int* valid) {
    if (valid != nullptr) *valid = 1;
    if (method == 0)
        return static_cast<uint8_t>((seed >> 8) + (seed & 0xFF) + scramble::kMethod0Addend);
    if (method == 1) {
        const uint32_t widened = static_cast<uint32_t>(seed)
                                 << ((seed & 1) ? scramble::kShiftOdd : scramble::kShiftEven);
        const uint16_t low = static_cast<uint16_t>(widened & 0xFFFF);
        const uint16_t high = static_cast<uint16_t>(widened >> 16);
        const int16_t difference =
            static_cast<int16_t>(static_cast<uint16_t>(low - scramble::kMethod1Subtrahend));
        const int16_t quarter = static_cast<int16_t>(difference >> 2); // arithmetic shift
        const uint16_t mixed = static_cast<uint16_t>(quarter + 2 * high + scramble::kMethod1Addend);
        return static_cast<uint8_t>((mixed >> 8) - (mixed & 0xFF));
    }
    if (valid != nullptr) *valid = 0;
    return 0;
}

void XorBytes(void* buffer, uint16_t count, uint8_t key) {
    auto* bytes = static_cast<uint8_t*>(buffer);
    for (uint16_t i = 0; i < count; ++i)
        bytes[i] ^= key;
}

int MemberKey(const LibraryRecord* library, uint8_t* key) {
    *key = 0;
    if (library->header->seed == kSeedPlain) return 1;
    int valid;
    *key = ScrambleKey(library->header->seed, library->header->method, &valid);
    return valid;
}

uint16_t FileRead(int16_t handle, void* buffer, uint16_t count) {
    if (handle >= kFirstMemberHandle) {
        LibraryRecord* library = MemberLibrary(handle);
        if (library == nullptr) return Failed(1019);
        uint8_t key;
        if (!MemberKey(library, &key)) return Failed(1015);
        const int32_t limit = library->size_at_open > library->written_size ? library->size_at_open
                                                                            : library->written_size;
        if (library->position >= limit) return Failed(1019);
        if (static_cast<int64_t>(library->position) + count > limit)
            count = static_cast<uint16_t>(limit - library->position);
        uint32_t got = 0;
        if (!PositionContainer(library) || !DiskRead(library->container, buffer, count, &got))
            return Failed(1015);
        library->position += static_cast<int32_t>(got);
        // The known end of a member being created is what has been written.
        if (!library->at_end && library->position >= limit) library->at_end = 1;
        if (library->header->seed != kSeedPlain) XorBytes(buffer, static_cast<uint16_t>(got), key);
        return static_cast<uint16_t>(got);
    }
    uint32_t got = 0;
    if (!DiskRead(DiskHandleOf(handle), buffer, count, &got)) return Failed(1015);
    return static_cast<uint16_t>(got);
}

uint16_t FileWrite(int16_t handle, void* buffer, uint16_t count) {
    if (handle < kFirstMemberHandle) {
        if (!DiskWrite(DiskHandleOf(handle), buffer, count)) return Failed(1016);
        return count;
    }
    LibraryRecord* library = MemberLibrary(handle);
    // Only a member being created is written: a member opened for reading has
    // its neighbour's data right behind its allocated size.
    if (library == nullptr || !MemberWritable(library)) return Failed(1016);
    // File offsets are signed 32-bit: nothing is written past them.
    const int64_t end_in_file = static_cast<int64_t>(library->base_offset) +
                                library->member_offset + library->position + count;
    if (end_in_file > INT32_MAX) return Failed(1016);
    uint8_t key;
    if (!MemberKey(library, &key)) return Failed(1016);
    const bool scrambled = library->header->seed != kSeedPlain;
    if (scrambled) XorBytes(buffer, count, key);
    const int ok = PositionContainer(library) && DiskWrite(library->container, buffer, count);
    if (scrambled) XorBytes(buffer, count, key);
    if (!ok) return Failed(1016);
    const int32_t end = library->position + count;
    library->position = end;
    if (end >= library->written_size) {
        library->written_size = end;
        library->at_end = 1;
    }
    return count;
}

int32_t FileSeek(int16_t handle, int32_t offset, int16_t origin) {
    if (handle < kFirstMemberHandle) {
        uint32_t position = 0;
        if (!DiskSeek(DiskHandleOf(handle), offset, origin, &position)) return SeekFailed();
        return static_cast<int32_t>(position);
    }
    LibraryRecord* library = MemberLibrary(handle);
    if (library == nullptr) return SeekFailed();
    const int64_t start = static_cast<int64_t>(library->base_offset) + library->member_offset;
    const int64_t size = library->writing ? library->written_size : library->current_entry->size;
    int64_t target = offset;
    if (origin == 1)
        target = static_cast<int64_t>(library->position) + offset;
    else if (origin == 2)
        target = size + offset;
    if (target < 0 || target > size) return SeekFailed();
    uint32_t position = 0;
    if (!DiskSeek(library->container, static_cast<int32_t>(start + target), 0, &position))
        return SeekFailed();
    library->position = static_cast<int32_t>(target);
    library->at_end = target == size ? 1 : 0;
    return static_cast<int32_t>(static_cast<int64_t>(position) - start);
}

int FileReadExact(int16_t handle, void* buffer, uint16_t count) {
    return FileRead(handle, buffer, count) == count ? 1 : 0;
}

int FileWriteExact(int16_t handle, void* buffer, uint16_t count) {
    return FileWrite(handle, buffer, count) == count ? 1 : 0;
}

int FileSeekExact(int16_t handle, int32_t position) {
    return FileSeek(handle, position, 0) == position ? 1 : 0;
}

int FileReadAt(int16_t handle, int32_t position, void* buffer, uint16_t count) {
    if (count == 0) return 1;
    return FileSeekExact(handle, position) && FileReadExact(handle, buffer, count) ? 1 : 0;
}

int MemberCommit() {
    LibraryRecord* library = g_current_record;
    if (library == nullptr || library->current_entry == nullptr) return 0;
    DirEntry* entry = library->current_entry;
    entry->state = 1;
    entry->offset = static_cast<uint32_t>(library->member_offset);
    const int32_t previous = static_cast<int32_t>(entry->size);
    entry->allocated =
        static_cast<uint32_t>(library->written_size > previous ? library->written_size : previous);
    entry->size = static_cast<uint32_t>(library->written_size);
    entry->attribute = g_layer.stamp.attribute;
    entry->time = g_layer.stamp.time;
    entry->date = g_layer.stamp.date;
    if (library->new_member) {
        library->header->used = static_cast<uint16_t>(library->header->used + 1);
        library->end_of_data += static_cast<int32_t>(entry->allocated);
        library->new_member = 0;
    }
    library->modified = 1;
    library->writing = 0;
    return DirectoryWriteBack();
}

int DirectoryWriteBack() {
    LibraryRecord* library = g_current_record;
    if (library == nullptr || library->header == nullptr || library->directory == nullptr) return 0;
    if (library->read_only) return 0;
    const int16_t container = library->container;
    if (!FileSeekExact(container, library->base_offset)) return 0;
    if (!FileWriteExact(container, library->header, kHeaderBlockSize)) return 0;
    const HeaderBlock* header = library->header;
    if (header->used < header->capacity)
        std::memset(library->directory + header->used, 0,
                    static_cast<size_t>(header->capacity - header->used) * kDirEntrySize);
    const uint16_t bytes = static_cast<uint16_t>(header->capacity * kDirEntrySize);
    return FileWriteExact(container, library->directory, bytes);
}

} // namespace tx

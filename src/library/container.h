// The bytes of a library container: the 128-byte header block, the 48-byte
// directory entry, the reader's checks and what a new container holds.
//
// A container is a header block, then `capacity` directory entries, then the
// member data, all offsets counted from the container's first byte (its base
// offset in the file that holds it). Integers are little-endian; the records
// below are packed structs laid over the bytes as they stand on disk, so the
// host must be little-endian (both targets are).
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

namespace tx {

static_assert(std::endian::native == std::endian::little,
              "container records are laid over little-endian bytes");

constexpr int kHeaderBlockSize = 128;
constexpr int kDirEntrySize = 48;
constexpr int kMaxDirEntries = 1000;    // largest directory a container may have
constexpr uint16_t kSeedPlain = 0xFFFF; // scramble seed of a container stored plain
constexpr uint16_t kFormatVersion = 2;
constexpr uint8_t kEntryDeleted = 0xE5; // first name byte of a deleted entry
constexpr int kMemberNameMax = 12;      // characters of a name in an entry

// The 98 bytes of the magic text a writer puts at the start of a container
// (and a NUL after them, which is not part of it).
extern const char kContainerMagic[99];

#pragma pack(push, 1)
struct HeaderBlock {
    char magic[98];       // kContainerMagic; the reader compares bytes 1..9 only
    uint16_t header_size; // 128
    uint16_t create_time; // FAT time word of the creation
    uint16_t create_date; // FAT date word of the creation
    uint16_t kind;        // 0: takes part in the search list
    uint16_t seed;        // kSeedPlain, or the seed of the member scrambling key
    uint16_t version;     // 2
    uint16_t capacity;    // directory entries, at most 1000
    uint16_t word100;     // 100 in every container written
    uint16_t word2048;    // 2048 in every container written
    uint16_t used;        // entries ever taken, from index 0
    uint8_t method;       // how the key is built from the seed: 0 or 1
    uint8_t sorted;       // non-zero: names in ascending byte order, empty ones first
    uint8_t reserved[8];
};

struct DirEntry {
    char name[13];      // upper case, NUL-terminated; 0xE5 first when deleted
    int16_t reserved1;  // -1 in every entry written
    int16_t reserved2;  // -1 in every entry written
    uint16_t state;     // 1: valid member; 0: deleted or never used
    uint32_t size;      // bytes of member data
    uint32_t offset;    // container offset of the first data byte
    uint32_t allocated; // bytes reserved at the offset, never below size
    uint8_t attribute;  // 0x20 for a member written with a time stamp
    uint16_t time;      // FAT time word of the last write
    uint16_t date;      // FAT date word of the last write
    uint8_t reserved[12];
};
#pragma pack(pop)

static_assert(sizeof(HeaderBlock) == kHeaderBlockSize);
static_assert(offsetof(HeaderBlock, header_size) == 98);
static_assert(offsetof(HeaderBlock, create_time) == 100);
static_assert(offsetof(HeaderBlock, create_date) == 102);
static_assert(offsetof(HeaderBlock, kind) == 104);
static_assert(offsetof(HeaderBlock, seed) == 106);
static_assert(offsetof(HeaderBlock, version) == 108);
static_assert(offsetof(HeaderBlock, capacity) == 110);
static_assert(offsetof(HeaderBlock, word100) == 112);
static_assert(offsetof(HeaderBlock, word2048) == 114);
static_assert(offsetof(HeaderBlock, used) == 116);
static_assert(offsetof(HeaderBlock, method) == 118);
static_assert(offsetof(HeaderBlock, sorted) == 119);
static_assert(offsetof(HeaderBlock, reserved) == 120);

static_assert(sizeof(DirEntry) == kDirEntrySize);
static_assert(offsetof(DirEntry, reserved1) == 13);
static_assert(offsetof(DirEntry, reserved2) == 15);
static_assert(offsetof(DirEntry, state) == 17);
static_assert(offsetof(DirEntry, size) == 19);
static_assert(offsetof(DirEntry, offset) == 23);
static_assert(offsetof(DirEntry, allocated) == 27);
static_assert(offsetof(DirEntry, attribute) == 31);
static_assert(offsetof(DirEntry, time) == 32);
static_assert(offsetof(DirEntry, date) == 34);
static_assert(offsetof(DirEntry, reserved) == 36);

// Fills a header block as a writer leaves it in a new container: the magic
// text, header size 128, the creation date and time, the kind (-1 gives
// 0xFFFF), plain data (seed 0xFFFF, method 0), version 2, the capacity, the
// words 100 and 2048, nothing used, not sorted, reserved bytes zero.
void ContainerInitHeader(HeaderBlock* header, int16_t kind, uint16_t capacity, uint16_t date,
                         uint16_t time);

// Bytes in a new container of `capacity` entries: the header and an empty
// directory (1568 for 30 entries).
int32_t ContainerNewSize(uint16_t capacity);

// The reader's magic check: bytes 1..9 are "TKORELAN ". Byte 0 and the rest
// of the magic text (version digits, text, padding) are not compared.
int ContainerMagicMatches(const HeaderBlock* header);

// What keeps a header read from a container of `end_of_data` bytes from
// describing a directory the reader can hold, checked in this order.
enum HeaderFault {
    kHeaderUsable = 0,
    kHeaderTooManyEntries,     // a capacity above 1000
    kHeaderUsedBeyondCapacity, // a used count above the capacity
    kHeaderDirectoryPastEnd,   // the directory does not end within the container
};
HeaderFault ContainerHeaderFault(const HeaderBlock* header, int32_t end_of_data);

// Whether the header has no such fault. A container failing this is refused,
// since its directory would run into its data or beyond its end.
int ContainerHeaderUsable(const HeaderBlock* header, int32_t end_of_data);

// Whether the entry's data (size bytes at its offset) lies inside a container
// of `end_of_data` bytes. Entries that point elsewhere are never read or
// written.
int EntryInsideContainer(const DirEntry* entry, int32_t end_of_data);

// Whether a name field is empty (an entry never used).
inline bool EntryNameEmpty(const DirEntry* entry) {
    return entry->name[0] == 0;
}

} // namespace tx

// What the launcher and a runtime module share: the command block, the reply
// record that the runtime leaves in it, and the module table record handed to
// "TX4InitInstance". Runtime modules built from this tree (the trace runtime)
// include this header, so both sides read the same layout.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tx {

// The names the launcher binds in the main runtime module, in binding order.
inline constexpr const char kEntryInit[] = "TX4InitInstance";
inline constexpr const char kEntryFin[] = "FinInstance";
inline constexpr const char kEntryCall[] = "TXCALLC";

// The command block: 256 bytes, the command text from the first byte before a
// call to "TXCALLC", the reply record after it.
inline constexpr size_t kCommandBlockSize = 256;
// Longest command text (the terminator takes the last byte of the block).
inline constexpr size_t kCommandMax = 255;

// Reply record, by byte position in the block.
inline constexpr size_t kReplyFlags = 0;
inline constexpr size_t kReplyCode = 2;
inline constexpr size_t kReplyCodeLength = 3;
inline constexpr size_t kReplyValueLength = 47;
inline constexpr size_t kReplyValue = 48;

// Bits of the flags byte; the low four bits are the value type.
inline constexpr uint8_t kReplyHasCode = 0x80;
inline constexpr uint8_t kReplyHasFields = 0x40;
inline constexpr uint8_t kReplyHasTexts = 0x20;
inline constexpr uint8_t kReplyHasValue = 0x10;
inline constexpr uint8_t kReplyTypeMask = 0x0F;
// Value type whose value is a number text followed by the text proper.
inline constexpr uint8_t kReplyTypeNumberAndText = 8;

// The module table: nine entries of 22 characters (a name of at most 21 and
// its terminator), contiguous in one block.
inline constexpr int kModuleCount = 9;
inline constexpr size_t kModuleEntrySize = 22;
inline constexpr size_t kModuleNameMax = kModuleEntrySize - 1;
inline constexpr size_t kModuleTableSize = kModuleCount * kModuleEntrySize;

// The record "TX4InitInstance" receives: the address of the first entry and
// the number of entries. On the 32-bit system it spans 14 bytes (address at 0,
// count at 4, 8 reserved bytes); on a 64-bit host the address field is pointer
// wide, which moves the count to 8 and makes the record 18 bytes.
#pragma pack(push, 1)
struct ModuleTableRecord {
    char* names;
    int16_t count;
    uint8_t reserved[8];
};
#pragma pack(pop)

static_assert(offsetof(ModuleTableRecord, count) == sizeof(char*));
static_assert(sizeof(ModuleTableRecord) == sizeof(char*) + 10);
static_assert(sizeof(char*) != 4 || sizeof(ModuleTableRecord) == 14);

} // namespace tx

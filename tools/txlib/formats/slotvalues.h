// The launcher's configuration slots as the library tool writes and reads
// them: which entries pair up, how long a value each can hold, and how a
// value is laid into the stored entries so that the launcher reads it back.
#pragma once

#include <string>
#include <vector>

namespace txlib {

struct SlotInfo {
    unsigned id;
    const char* name;  // short name accepted by --set
    const char* role;  // what the launcher does with it
    unsigned second;   // id of the continuation entry, 0 for a single slot
    unsigned read_max; // characters the launcher reads from one entry
    bool continuation; // the second entry of a pair: set through the first
};

// Slots 1 to 11, in order.
const std::vector<SlotInfo>& Slots();

// The slot named by a number ("5") or a short name ("project"); null when
// there is none.
const SlotInfo* FindSlot(const std::string& key);

// What the launcher reads from one stored entry: the characters up to the
// first NUL or the entry's end, at most `read_max` of them.
std::string ReadBack(const std::string& stored, unsigned read_max);

// The value of a slot as the launcher ends up with it: a single entry read
// back; a pair read back part after part with trailing spaces removed.
std::string SlotValue(const SlotInfo& slot, const std::string& first, const std::string& second);

// Lays `value` into stored entries of the given lengths. A single slot: the
// value, a NUL and "." padding (no NUL when it fills the entry). A pair: the
// first entry takes as much as fits (filling it whole, without a NUL, when
// the value is longer), the second the rest; an unused second entry holds a
// single space. Returns false with the reason when the value cannot be
// stored so that the launcher reads back exactly it.
bool EncodeSlot(const SlotInfo& slot, const std::string& value, size_t first_length,
                size_t second_length, std::string* first, std::string* second, std::string* error);

} // namespace txlib

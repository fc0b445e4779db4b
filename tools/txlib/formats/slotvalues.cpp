#include "formats/slotvalues.h"

#include "launcher/slots.h"

#include <cstdlib>

namespace txlib {

namespace {

// The launcher's read limits count the terminator; a pair's value must fit
// the longest path it composes.
constexpr unsigned kReadMax = tx::kSlotReadLimit - 1;
constexpr unsigned kFlagsReadMax = tx::kFlagsReadLimit - 1;
constexpr size_t kPairMax = tx::kPathMax;

// An entry of `length` holding `text` (at most `length` characters).
std::string Lay(const std::string& text, size_t length) {
    if (text.size() >= length) return text.substr(0, length);
    std::string out = text;
    out.push_back('\0');
    out.append(length - out.size(), '.');
    return out;
}

} // namespace

const std::vector<SlotInfo>& Slots() {
    static const std::vector<SlotInfo> slots = {
        {1, "window", "start window", 2, kReadMax, false},
        {2, "", "start window (continued)", 0, kReadMax, true},
        {3, "library", "library specification", 4, kReadMax, false},
        {4, "", "library specification (continued)", 0, kReadMax, true},
        {5, "project", "project file", 6, kReadMax, false},
        {6, "", "project file (continued)", 0, kReadMax, true},
        {7, "host", "host module name", 8, kReadMax, false},
        {8, "", "host module name (continued)", 0, kReadMax, true},
        {9, "version", "expected runtime version", 0, kReadMax, false},
        {10, "modules", "runtime module list", 0, kReadMax, false},
        {11, "flags", "extraction flags", 0, kFlagsReadMax, false},
    };
    return slots;
}

const SlotInfo* FindSlot(const std::string& key) {
    for (const SlotInfo& slot : Slots()) {
        if (key == slot.name && !slot.continuation) return &slot;
        if (!key.empty() && key.find_first_not_of("0123456789") == std::string::npos &&
            key.size() <= 3 && std::strtoul(key.c_str(), nullptr, 10) == slot.id)
            return &slot;
    }
    return nullptr;
}

std::string ReadBack(const std::string& stored, unsigned read_max) {
    const size_t end = stored.find('\0');
    std::string value = stored.substr(0, end);
    if (value.size() > read_max) value.resize(read_max);
    return value;
}

std::string SlotValue(const SlotInfo& slot, const std::string& first, const std::string& second) {
    std::string value = ReadBack(first, slot.read_max);
    if (slot.second == 0) return value;
    value += ReadBack(second, slot.read_max);
    while (!value.empty() && value.back() == ' ')
        value.pop_back();
    return value;
}

bool EncodeSlot(const SlotInfo& slot, const std::string& value, size_t first_length,
                size_t second_length, std::string* first, std::string* second, std::string* error) {
    if (value.find('\0') != std::string::npos) {
        *error = "a value cannot hold a NUL character";
        return false;
    }
    if (slot.second == 0) {
        const size_t room = first_length < slot.read_max ? first_length : slot.read_max;
        if (value.size() > room) {
            *error = "is " + std::to_string(value.size()) + " characters long; slot " +
                     std::to_string(slot.id) + " holds at most " + std::to_string(room);
            return false;
        }
        *first = Lay(value, first_length);
        second->clear();
        return true;
    }
    // The launcher removes trailing spaces from a pair's value.
    if (!value.empty() && value.back() == ' ') {
        *error = "ends in a space, which the launcher removes";
        return false;
    }
    size_t room = first_length + second_length;
    if (room > kPairMax) room = kPairMax;
    if (value.size() > room) {
        *error = "is " + std::to_string(value.size()) + " characters long; slots " +
                 std::to_string(slot.id) + "+" + std::to_string(slot.second) + " hold at most " +
                 std::to_string(room);
        return false;
    }
    if (value.size() <= first_length) {
        *first = Lay(value, first_length);
        // An unused continuation: one space, which the launcher trims.
        *second = Lay(" ", second_length);
        if (second_length == 0) second->clear();
    } else {
        *first = value.substr(0, first_length);
        *second = Lay(value.substr(first_length), second_length);
    }
    return true;
}

} // namespace txlib

// Reading the configuration slots, the version rule with the command that
// reports a runtime too old, and the resolution of the library specification.
#include "launcher/slots.h"

#include <cstdio>
#include <cstring>

namespace tx {

namespace {

constexpr const char kTooOld[] =
    "ERRE,La dll %.*s est trop ancienne pour cet ex\xE9"
    "cutable.\nVersion attendue : %.*s\nVersion trouv\xE9"
    "e : %.*s\n\n%.*s is too old.\nYou need version : %.*s\nWe found version : %.*s\n";
// The characters of the command that are not arguments: the format less its
// six conversions.
constexpr size_t kTooOldFixed = sizeof kTooOld - 1 - 6 * 4;
static_assert(kTooOldFixed < kCommandMax);

} // namespace

size_t ReadSlot(HINSTANCE instance, unsigned id, char* buffer, int limit) {
    buffer[0] = 0;
    if (LoadStringA(instance, id, buffer, limit) <= 0) buffer[0] = 0;
    // LoadStringA terminates what it copies; the value ends at the first zero.
    return std::strlen(buffer);
}

size_t ReadSlotPair(HINSTANCE instance, unsigned first_id, char* buffer) {
    size_t first = ReadSlot(instance, first_id, buffer, kSlotReadLimit);
    return first + ReadSlot(instance, first_id + 1, buffer + first, kSlotReadLimit);
}

bool RuntimeTooOld(const char* expected, const char* found) {
    return std::strcmp(expected, found) > 0;
}

size_t FormatTooOldCommand(char* out, const char* module, const char* expected, const char* found) {
    // Each argument appears twice; they are given up in this order.
    enum { kFound, kExpected, kModule };
    const char* texts[] = {found, expected, module};
    size_t lengths[3];
    size_t total = kTooOldFixed;
    for (int i = kFound; i <= kModule; ++i) {
        lengths[i] = std::strlen(texts[i]);
        total += 2 * lengths[i];
    }
    for (int i = kFound; i <= kModule && total > kCommandMax; ++i) {
        const size_t over = (total - kCommandMax + 1) / 2;
        const size_t cut = over < lengths[i] ? over : lengths[i];
        lengths[i] -= cut;
        total -= 2 * cut;
    }
    const int m = static_cast<int>(lengths[kModule]);
    const int e = static_cast<int>(lengths[kExpected]);
    const int f = static_cast<int>(lengths[kFound]);
    std::snprintf(out, kCommandMax + 1, kTooOld, m, module, e, expected, f, found, m, module, e,
                  expected, f, found);
    return total;
}

int ResolveLibrarySpec(char* spec, size_t capacity, const char* found_path,
                       size_t* resolved_length) {
    *resolved_length = std::strlen(spec);
    const char* found_slash = found_path ? std::strrchr(found_path, '\\') : nullptr;
    if (!found_slash) return 1;
    size_t directory = static_cast<size_t>(found_slash - found_path);
    // The part that follows the directory, backslash included.
    const char* spec_slash = std::strrchr(spec, '\\');
    size_t tail = spec_slash ? std::strlen(spec_slash) : 1 + std::strlen(spec);
    *resolved_length = directory + tail;
    if (*resolved_length > kPathMax || *resolved_length >= capacity) return 0;

    char resolved[kPathMax + 1];
    std::memcpy(resolved, found_path, directory);
    if (spec_slash) {
        std::memcpy(resolved + directory, spec_slash, tail + 1);
    } else {
        resolved[directory] = '\\';
        std::memcpy(resolved + directory + 1, spec, tail);
    }
    std::memcpy(spec, resolved, *resolved_length + 1);
    return 1;
}

} // namespace tx

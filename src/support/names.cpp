// Name rules. Device names: one rule for every place that turns a stored name into a
// file name (runtime modules extracted by the launcher, members extracted by
// the library tool).
#include "support/names.h"

#include <cstring>

namespace tx {

namespace {

bool SameLetters(const char* text, size_t length, const char* upper) {
    if (std::strlen(upper) != length) return false;
    for (size_t i = 0; i < length; ++i)
        if (UpperAscii(text[i]) != upper[i]) return false;
    return true;
}

constexpr const char* kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};

bool PortDigit(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return (c >= '0' && c <= '9') || byte == 0xB9 || byte == 0xB2 || byte == 0xB3;
}

} // namespace

bool ReservedDeviceName(const char* name) {
    if (name == nullptr) return false;
    // The stem: up to the first dot, without the spaces before it.
    size_t length = std::strcspn(name, ".");
    while (length > 0 && name[length - 1] == ' ')
        --length;
    for (const char* device : kDevices)
        if (SameLetters(name, length, device)) return true;
    return length == 4 && (SameLetters(name, 3, "COM") || SameLetters(name, 3, "LPT")) &&
           PortDigit(name[3]);
}

} // namespace tx

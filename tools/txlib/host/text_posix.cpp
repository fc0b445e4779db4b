// Text on Linux: the terminal, the command line and paths speak UTF-8.
#include "host/text.h"
#include "host/text_system.h"

#include <algorithm>

namespace txlib {

bool ArgumentText(const std::string& argument, std::string* out, std::string* error) {
    return Utf8ToCp1252(argument, out, error);
}

std::string DisplayText(const std::string& text) {
    return Cp1252ToUtf8(text);
}

size_t DisplayColumns(const std::string& shown) {
    return static_cast<size_t>(
        std::count_if(shown.begin(), shown.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

size_t C1ControlAt(const std::string& shown, size_t at) {
    return static_cast<uint8_t>(shown[at]) == 0xC2 && at + 1 < shown.size() &&
                   (static_cast<uint8_t>(shown[at + 1]) & 0xE0) == 0x80
               ? 2
               : 0;
}

std::string PathUtf8(const std::string& path) {
    std::string out;
    size_t i = 0;
    while (i < path.size()) {
        uint32_t cp;
        size_t length;
        if (DecodeUtf8(path, i, &cp, &length)) {
            out.append(path, i, length);
            i += length;
        } else {
            AppendUtf8(&out, Cp1252ToUnit(static_cast<uint8_t>(path[i])));
            ++i;
        }
    }
    return out;
}

} // namespace txlib

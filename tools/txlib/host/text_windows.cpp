// Text on Windows: the command line, the terminal and paths speak the ANSI
// code page, Windows-1252 in the locales this system serves.
#include "host/text.h"
#include "host/text_system.h"

namespace txlib {

bool ArgumentText(const std::string& argument, std::string* out, std::string* error) {
    (void)error;
    *out = argument;
    return true;
}

std::string DisplayText(const std::string& text) {
    return text;
}

size_t DisplayColumns(const std::string& shown) {
    return shown.size();
}

size_t C1ControlAt(const std::string& shown, size_t at) {
    const auto byte = static_cast<uint8_t>(shown[at]);
    return byte == 0x81 || byte == 0x8D || byte == 0x8F || byte == 0x90 || byte == 0x9D ? 1 : 0;
}

std::string PathUtf8(const std::string& path) {
    return Cp1252ToUtf8(path);
}

} // namespace txlib

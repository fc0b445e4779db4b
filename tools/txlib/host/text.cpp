#include "host/text.h"
#include "host/text_system.h"

namespace txlib {

namespace {

// 0x80..0x9F; the other bytes are their own code points.
constexpr uint16_t kHigh[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

} // namespace

void AppendUtf8(std::string* out, uint32_t cp) {
    if (cp < 0x80) {
        out->push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

uint16_t Cp1252ToUnit(uint8_t byte) {
    return byte >= 0x80 && byte < 0xA0 ? kHigh[byte - 0x80] : byte;
}

bool UnitToCp1252(uint32_t code_point, uint8_t* byte) {
    if (code_point < 0x80 || (code_point >= 0xA0 && code_point < 0x100)) {
        *byte = static_cast<uint8_t>(code_point);
        return true;
    }
    for (int i = 0; i < 32; ++i) {
        if (kHigh[i] == code_point) {
            *byte = static_cast<uint8_t>(0x80 + i);
            return true;
        }
    }
    return false;
}

// The character of the UTF-8 sequence at `at`: its code point and length;
// false when the bytes there are not one.
bool DecodeUtf8(const std::string& utf8, size_t at, uint32_t* code_point, size_t* length) {
    const auto lead = static_cast<uint8_t>(utf8[at]);
    uint32_t cp;
    size_t extra;
    if (lead < 0x80) {
        cp = lead;
        extra = 0;
    } else if ((lead & 0xE0) == 0xC0 && lead >= 0xC2) {
        cp = lead & 0x1F;
        extra = 1;
    } else if ((lead & 0xF0) == 0xE0) {
        cp = lead & 0x0F;
        extra = 2;
    } else if ((lead & 0xF8) == 0xF0 && lead <= 0xF4) {
        cp = lead & 0x07;
        extra = 3;
    } else {
        return false;
    }
    if (utf8.size() - at - 1 < extra) return false;
    for (size_t k = 1; k <= extra; ++k) {
        const auto next = static_cast<uint8_t>(utf8[at + k]);
        if ((next & 0xC0) != 0x80) return false;
        cp = (cp << 6) | (next & 0x3F);
    }
    const bool overlong = (extra == 2 && cp < 0x800) || (extra == 3 && cp < 0x10000);
    if (overlong || (cp >= 0xD800 && cp < 0xE000) || cp > 0x10FFFF) return false;
    *code_point = cp;
    *length = 1 + extra;
    return true;
}

bool Utf8ToCp1252(const std::string& utf8, std::string* out, std::string* error) {
    out->clear();
    size_t i = 0;
    while (i < utf8.size()) {
        uint32_t cp;
        size_t length;
        if (!DecodeUtf8(utf8, i, &cp, &length)) {
            *error = "is not UTF-8 text";
            return false;
        }
        uint8_t byte;
        if (!UnitToCp1252(cp, &byte)) {
            *error = "holds a character that Windows-1252 cannot store";
            return false;
        }
        out->push_back(static_cast<char>(byte));
        i += length;
    }
    return true;
}

std::string Cp1252ToUtf8(const std::string& text) {
    std::string out;
    for (char c : text)
        AppendUtf8(&out, Cp1252ToUnit(static_cast<uint8_t>(c)));
    return out;
}

namespace {

void AppendEscape(std::string* out, uint8_t byte) {
    switch (byte) {
    case '\a':
        *out += "\\a";
        return;
    case '\b':
        *out += "\\b";
        return;
    case '\t':
        *out += "\\t";
        return;
    case '\n':
        *out += "\\n";
        return;
    case '\v':
        *out += "\\v";
        return;
    case '\f':
        *out += "\\f";
        return;
    case '\r':
        *out += "\\r";
        return;
    default:
        break;
    }
    const char octal[] = {'\\', static_cast<char>('0' + (byte >> 6)),
                          static_cast<char>('0' + ((byte >> 3) & 7)),
                          static_cast<char>('0' + (byte & 7))};
    out->append(octal, sizeof octal);
}

} // namespace

std::string EscapeControls(const std::string& shown) {
    std::string out;
    out.reserve(shown.size());
    for (size_t i = 0; i < shown.size(); ++i) {
        const auto byte = static_cast<uint8_t>(shown[i]);
        if (byte < 0x20 || byte == 0x7F) {
            AppendEscape(&out, byte);
            continue;
        }
        if (const size_t length = C1ControlAt(shown, i)) {
            for (size_t k = 0; k < length; ++k)
                AppendEscape(&out, static_cast<uint8_t>(shown[i + k]));
            i += length - 1;
            continue;
        }
        out.push_back(shown[i]);
    }
    return out;
}

std::string ShownText(const std::string& text) {
    return EscapeControls(DisplayText(text));
}

std::string FoldFileCase(std::string text) {
    for (char& c : text) {
        const auto byte = static_cast<uint8_t>(c);
        if ((byte >= 'a' && byte <= 'z') || (byte >= 0xE0 && byte <= 0xFE && byte != 0xF7))
            c = static_cast<char>(byte - 0x20);
        else if (byte == 0x9A || byte == 0x9C || byte == 0x9E)
            c = static_cast<char>(byte - 0x10); // š œ ž
        else if (byte == 0xFF)
            c = static_cast<char>(0x9F); // ÿ
    }
    return text;
}

} // namespace txlib

#include "formats/longnames.h"

#include "library/container.h"

#include <cstring>

namespace txlib {

std::vector<TableLine> ParseTable(const std::string& text) {
    const std::string seen = text.substr(0, std::strlen(text.c_str()));
    std::vector<TableLine> lines;
    size_t at = seen.find('\n');
    while (at != std::string::npos) {
        const size_t next = seen.find('\n', at + 1);
        const std::string line =
            seen.substr(at + 1, next == std::string::npos ? std::string::npos : next - at - 1);
        const size_t tab = line.find('\t');
        if (tab != std::string::npos) lines.push_back({line.substr(0, tab), line.substr(tab + 1)});
        at = next;
    }
    return lines;
}

std::string TableText(const std::vector<TableLine>& lines) {
    std::string text;
    for (const TableLine& line : lines)
        text += "\n" + line.long_name + "\t" + line.stored;
    return text;
}

std::string FoldCase(std::string name) {
    for (char& c : name)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return name;
}

bool FitsEntry(const std::string& name) {
    std::string reason;
    return !name.empty() && name.find('\\') == std::string::npos && name.front() != ' ' &&
           name.back() != ' ' && ValidMemberName(name, &reason);
}

bool ValidLongName(const std::string& name, std::string* reason) {
    if (name.empty()) {
        *reason = "is empty";
        return false;
    }
    if (name.size() > kLongNameMax) {
        *reason = "is longer than the " + std::to_string(kLongNameMax) +
                  " characters the launcher's member paths hold";
        return false;
    }
    if (name.front() == ' ' || name.back() == ' ') {
        *reason = "begins or ends with a space, which the launcher's lookup drops";
        return false;
    }
    size_t start = 0;
    for (;;) {
        const size_t end = name.find('\\', start);
        const std::string part = name.substr(start, end == std::string::npos ? end : end - start);
        if (part.empty() || part == "." || part == "..") {
            *reason = "has an empty, \".\" or \"..\" part";
            return false;
        }
        if (end == std::string::npos) break;
        start = end + 1;
    }
    for (char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F || std::strchr("/:*?\"<>|", c) != nullptr) {
            *reason = "holds a character that a member name cannot hold";
            return false;
        }
    }
    return true;
}

namespace {

std::string ShortPart(const std::string& text, size_t most) {
    std::string out;
    for (char c : FoldCase(text)) {
        if (out.size() == most) break;
        if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-') out += c;
    }
    return out;
}

} // namespace

std::string ShortName(const std::string& long_name,
                      const std::function<bool(const std::string&)>& taken) {
    const size_t slash = long_name.rfind('\\');
    const std::string last = slash == std::string::npos ? long_name : long_name.substr(slash + 1);
    const size_t dot = last.rfind('.');
    std::string stem = ShortPart(last.substr(0, dot), 8);
    const std::string extension =
        dot == std::string::npos ? std::string() : ShortPart(last.substr(dot + 1), 3);
    if (stem.empty()) stem = "TX";
    for (unsigned n = 1;; ++n) {
        // Built by appending: concatenating short strings trips a false
        // -Wrestrict of the MinGW compiler at -O3.
        const std::string number = std::to_string(n);
        std::string candidate = stem.substr(0, number.size() < 7 ? 7 - number.size() : 0);
        candidate += '~';
        candidate += number;
        if (!extension.empty()) {
            candidate += '.';
            candidate += extension;
        }
        if (!taken(candidate)) return candidate;
    }
}

bool ValidMemberName(const std::string& name, std::string* reason) {
    if (name.empty()) {
        *reason = "is empty";
        return false;
    }
    if (name.size() > static_cast<size_t>(tx::kMemberNameMax)) {
        *reason = "is longer than the " + std::to_string(tx::kMemberNameMax) +
                  " characters a directory entry holds";
        return false;
    }
    if (static_cast<uint8_t>(name[0]) == tx::kEntryDeleted) {
        *reason = "begins with the character that marks a deleted entry";
        return false;
    }
    for (char c : name) {
        const auto byte = static_cast<uint8_t>(c);
        if (byte < 0x20 || byte == 0x7F || std::strchr("\\/:*?\"<>|", c) != nullptr) {
            *reason = "holds a character that a member name cannot hold";
            return false;
        }
    }
    if (name == "." || name == "..") {
        *reason = "is not a file name";
        return false;
    }
    return true;
}

} // namespace txlib

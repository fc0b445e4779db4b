// rc2table SCRIPT.rc OUT.cpp
//
// Reads the STRINGTABLE blocks of a resource script and writes a C++ source
// that defines the program's exported TxStringTable (layout in
// platform/stringtable.h). Each entry keeps the exact bytes that windres
// would store: escapes \0, \n, \t, \r, \a, \\, \", "" and octal or \x
// hexadecimal codes are decoded, embedded NULs and padding kept.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Entry {
    unsigned id;
    std::string text;
};

[[noreturn]] void Fail(const std::string& file, int line, const std::string& what) {
    std::cerr << file << ":" << line << ": " << what << "\n";
    std::exit(1);
}

bool IsOctal(char c) { return c >= '0' && c <= '7'; }

// Decodes the quoted string that starts at s[pos] (the opening quote).
std::string Unquote(const std::string& s, size_t pos, const std::string& file, int line) {
    std::string out;
    size_t i = pos + 1;
    for (;;) {
        if (i >= s.size()) Fail(file, line, "unterminated string");
        char c = s[i];
        if (c == '"') {
            if (i + 1 < s.size() && s[i + 1] == '"') {
                out += '"';
                i += 2;
                continue;
            }
            return out;
        }
        if (c != '\\') {
            out += c;
            ++i;
            continue;
        }
        if (++i >= s.size()) Fail(file, line, "escape at end of line");
        c = s[i];
        switch (c) {
        case 'n': out += '\n'; ++i; break;
        case 't': out += '\t'; ++i; break;
        case 'r': out += '\r'; ++i; break;
        case 'a': out += '\a'; ++i; break;
        case '\\': out += '\\'; ++i; break;
        case '"': out += '"'; ++i; break;
        case 'x': {
            ++i;
            unsigned v = 0;
            int n = 0;
            while (n < 2 && i < s.size() && std::isxdigit(static_cast<unsigned char>(s[i]))) {
                v = v * 16 + std::stoi(std::string(1, s[i]), nullptr, 16);
                ++i;
                ++n;
            }
            if (n == 0) Fail(file, line, "bad \\x escape");
            out += static_cast<char>(v);
            break;
        }
        default:
            if (IsOctal(c)) {
                unsigned v = 0;
                int n = 0;
                while (n < 3 && i < s.size() && IsOctal(s[i])) {
                    v = v * 8 + static_cast<unsigned>(s[i] - '0');
                    ++i;
                    ++n;
                }
                out += static_cast<char>(v & 0xFF);
            } else {
                Fail(file, line, std::string("unknown escape \\") + c);
            }
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: rc2table SCRIPT.rc OUT.cpp\n";
        return 1;
    }
    std::string file = argv[1];
    std::ifstream in(file, std::ios::binary);
    if (!in) Fail(file, 0, "cannot read");
    std::vector<Entry> entries;
    std::string line;
    int lineno = 0;
    bool in_table = false, in_block = false;
    while (std::getline(in, line)) {
        ++lineno;
        size_t first = line.find_first_not_of(" \t\r");
        if (first == std::string::npos || line.compare(first, 2, "//") == 0) continue;
        std::string word = line.substr(first, line.find_first_of(" \t\r,", first) - first);
        if (word == "STRINGTABLE") {
            in_table = true;
            continue;
        }
        if (in_table && !in_block && (word == "BEGIN" || word == "{")) {
            in_block = true;
            continue;
        }
        if (in_block && (word == "END" || word == "}")) {
            in_table = in_block = false;
            continue;
        }
        if (!in_block) continue;
        size_t comma = line.find(',', first);
        size_t quote = line.find('"', first);
        if (comma == std::string::npos || quote == std::string::npos || quote < comma)
            Fail(file, lineno, "expected: ID, \"text\"");
        unsigned long id = std::strtoul(line.substr(first, comma - first).c_str(), nullptr, 0);
        if (id > 0xFFFF) Fail(file, lineno, "id out of range");
        std::string text = Unquote(line, quote, file, lineno);
        if (text.size() > 0xFFFF) Fail(file, lineno, "string too long");
        entries.push_back({static_cast<unsigned>(id), text});
    }

    std::vector<unsigned char> bytes = {'T', 'X', 'S', 'T', 'R', 'T', 'A', 'B'};
    auto put16 = [&](unsigned v) {
        bytes.push_back(static_cast<unsigned char>(v & 0xFF));
        bytes.push_back(static_cast<unsigned char>((v >> 8) & 0xFF));
    };
    put16(static_cast<unsigned>(entries.size()));
    for (const Entry& e : entries) {
        put16(e.id);
        put16(static_cast<unsigned>(e.text.size()));
        bytes.insert(bytes.end(), e.text.begin(), e.text.end());
    }

    std::ostringstream src;
    src << "// Made by rc2table from " << file << "; do not edit.\n"
        << "extern \"C\" __attribute__((visibility(\"default\"), used))\n"
        << "const unsigned char TxStringTable[" << bytes.size() << "] = {";
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i % 16 == 0) src << "\n   ";
        src << " " << static_cast<unsigned>(bytes[i]) << ",";
    }
    src << "\n};\n";
    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    out << src.str();
    if (!out) Fail(argv[2], 0, "cannot write");
    return 0;
}

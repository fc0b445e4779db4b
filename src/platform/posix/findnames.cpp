// What both file backends of the POSIX layer share about names and searches:
// the characters no Windows name may hold, Wine's wildcard matcher, the 8.3
// names Wine makes up, the order of a listing, and the search handle that
// FindNextFileA and FindClose walk. FindFirstFileA, which reads the
// directories, belongs to each backend.
#include "files.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <strings.h>
#include <utility>

namespace txplat::posix {

namespace {

struct FindObject : KernelObject {
    std::vector<WIN32_FIND_DATAA> entries;
    size_t next = 0;
};

int Upper(char c) {
    return std::toupper(static_cast<unsigned char>(c));
}
int Lower(char c) {
    return std::tolower(static_cast<unsigned char>(c));
}

// Characters that make a name no legal 8.3 name, and that Wine replaces
// with '_' in the short names it makes up.
bool IsInvalidDosChar(char c) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u > 0x7f) return true;
    return std::strchr("*?<>|\"+=,;[] ~.", c) != nullptr && c != '\0';
}

// Wine's is_legal_8dot3_name.
bool IsLegal83(const std::string& name) {
    size_t len = name.size();
    if (len == 0 || len > 12) return false;
    if (name[0] == '.') return len == 1 || (len == 2 && name[1] == '.');
    int dot = -1;
    for (size_t i = 0; i < len; ++i) {
        char c = name[i];
        if (c == '.') {
            if (dot != -1) return false;
            dot = static_cast<int>(i);
            continue;
        }
        if (IsInvalidDosChar(c)) return false;
    }
    if (dot == -1) return len <= 8;
    if (dot > 8) return false;
    size_t ext = len - static_cast<size_t>(dot) - 1;
    return ext >= 1 && ext <= 3;
}

// Wine's hash_short_file_name: four characters of the name, '~' padding,
// three hash characters, then a dot and three characters of the extension.
std::string HashedShortName(const std::string& name) {
    static const char hash_chars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345";
    const char* p = name.data();
    const char* end = p + name.size();
    unsigned short hash = 0xbeef;
    for (; p < end - 1; p++)
        hash = static_cast<unsigned short>((hash << 3) ^ (hash >> 5) ^ Lower(p[0]) ^
                                           (Lower(p[1]) << 8));
    hash = static_cast<unsigned short>((hash << 3) ^ (hash >> 5) ^ Lower(*p));

    const char* ext = nullptr;
    for (p = name.data() + 1; p < end - 1; p++)
        if (*p == '.') ext = p;

    std::string out;
    int i = 4;
    for (p = name.data(); i > 0; i--, p++) {
        if (p == end || p == ext) break;
        out += IsInvalidDosChar(*p) ? '_' : static_cast<char>(Upper(*p));
    }
    while (i-- >= 0)
        out += '~';
    out += hash_chars[(hash >> 10) & 0x1f];
    out += hash_chars[(hash >> 5) & 0x1f];
    out += hash_chars[hash & 0x1f];
    if (ext) {
        out += '.';
        for (i = 3, ext++; i > 0 && ext < end; i--, ext++)
            out += IsInvalidDosChar(*ext) ? '_' : static_cast<char>(Upper(*ext));
    }
    return out;
}

} // namespace

bool HasInvalidNameChar(const char* s, size_t len) {
    for (size_t i = 0; i < len; ++i) {
        switch (s[i]) {
        case '*':
        case '?':
        case '<':
        case '>':
        case '|':
        case '"':
            return true;
        default:
            break;
        }
    }
    return false;
}

bool HasWildcard(const std::string& s) {
    return s.find_first_of("*?") != std::string::npos;
}

// Wine's match_filename (ntdll), case-insensitive.
bool MatchName(const std::string& name_str, const std::string& mask_str) {
    const char* name = name_str.data();
    const char* name_end = name + name_str.size();
    const char* mask = mask_str.data();
    const char* mask_end = mask + mask_str.size();
    const char* lastjoker = nullptr;
    const char* next_to_retry = nullptr;
    while (name < name_end && mask < mask_end) {
        switch (*mask) {
        case '*':
            mask++;
            while (mask < mask_end && *mask == '*')
                mask++;
            if (mask == mask_end) return true;
            lastjoker = mask;
            while (name < name_end && Upper(*name) != Upper(*mask))
                name++;
            next_to_retry = name;
            break;
        case '?':
            mask++;
            name++;
            break;
        default:
            if (Upper(*mask) == Upper(*name)) {
                mask++;
                name++;
                if (mask == mask_end) {
                    if (name == name_end) return true;
                    if (lastjoker) mask = lastjoker;
                }
            } else if (lastjoker) {
                mask = lastjoker;
                next_to_retry++;
                name = next_to_retry;
            } else {
                return false;
            }
            break;
        }
    }
    while (mask < mask_end && (*mask == '.' || *mask == '*'))
        mask++;
    return name == name_end && mask == mask_end;
}

bool EntryBefore(const std::string& a, const std::string& b) {
    auto rank = [](const std::string& s) { return s == "." ? 0 : s == ".." ? 1 : 2; };
    if (rank(a) != rank(b)) return rank(a) < rank(b);
    int c = strcasecmp(a.c_str(), b.c_str());
    if (c != 0) return c < 0;
    return a < b;
}

void SplitSearchPattern(const std::string& pattern, std::string* directory, std::string* mask) {
    size_t sep = std::string::npos;
    for (size_t i = 0; i < pattern.size(); ++i)
        if (IsSeparator(pattern[i])) sep = i;
    directory->clear();
    if (sep != std::string::npos) {
        *directory = pattern.substr(0, sep + 1);
        *mask = pattern.substr(sep + 1);
    } else if (pattern.size() >= 2 && pattern[1] == ':') {
        *directory = pattern.substr(0, 2);
        *mask = pattern.substr(2);
    } else {
        *mask = pattern;
    }
}

DWORD NameAttributes(bool directory, bool read_only, const std::string& name) {
    DWORD attr = directory ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
    if (read_only) attr |= FILE_ATTRIBUTE_READONLY;
    if (!name.empty() && name[0] == '.' && name != "." && name != "..")
        attr |= FILE_ATTRIBUTE_HIDDEN;
    return attr;
}

void SetFoundName(const std::string& name, WIN32_FIND_DATAA* out) {
    size_t n = std::min(name.size(), static_cast<size_t>(MAX_PATH - 1));
    std::memcpy(out->cFileName, name.data(), n);
    out->cFileName[n] = 0;
    out->cAlternateFileName[0] = 0;
    if (name != "." && name != ".." && !IsLegal83(name)) {
        std::string alt = HashedShortName(name);
        size_t m = std::min(alt.size(), sizeof out->cAlternateFileName - 1);
        std::memcpy(out->cAlternateFileName, alt.data(), m);
        out->cAlternateFileName[m] = 0;
    }
}

HANDLE FindHandleOpen(std::vector<WIN32_FIND_DATAA> entries, LPWIN32_FIND_DATAA first) {
    if (entries.empty()) return Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
    auto search = std::make_unique<FindObject>();
    search->entries = std::move(entries);
    *first = search->entries[0];
    search->next = 1;
    return HandleInsert(std::move(search));
}

bool IsFindHandle(HANDLE handle) {
    return HandleGetAs<FindObject>(handle) != nullptr;
}

} // namespace txplat::posix

using namespace txplat::posix;

extern "C" {

BOOL WINAPI FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData) {
    if (FaultEnter("FindNextFileA")) return FALSE;
    auto* search = HandleGetAs<FindObject>(hFindFile);
    if (!search) return Fail(ERROR_INVALID_HANDLE);
    if (!lpFindFileData) return Fail(ERROR_INVALID_PARAMETER);
    if (search->next >= search->entries.size()) return Fail(ERROR_NO_MORE_FILES);
    *lpFindFileData = search->entries[search->next++];
    return TRUE;
}

BOOL WINAPI FindClose(HANDLE hFindFile) {
    if (FaultEnter("FindClose")) return FALSE;
    if (!IsFindHandle(hFindFile)) return Fail(ERROR_INVALID_HANDLE);
    HandleRemove(hFindFile);
    return TRUE;
}

} // extern "C"

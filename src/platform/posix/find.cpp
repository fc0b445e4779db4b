// Directory search of the POSIX layer: FindFirstFileA, FindNextFileA and
// FindClose, answering as Wine does over a Linux directory:
// - the pattern's last component is matched without regard to case by
//   Wine's own matcher: '*' any run, '?' exactly one character, and trailing
//   '.' and '*' of the pattern ignored once the name is used up (so "*.*" and
//   "*." match every name, "a?" does not match "a");
// - "." and ".." are entries of every directory but the root and come first;
//   the others follow sorted without regard to case (Wine sorts too);
// - attributes: directory, else archive; read-only when the mode has no write
//   bit; hidden for names that start with '.'; symbolic links show 0x400;
// - cAlternateFileName is empty for a name that is a legal 8.3 name and
//   otherwise Wine's hashed short name ("CONT~KRA.JSO");
// - the whole listing is read at FindFirstFileA (Windows reads as it goes).
#include "files.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace txplat::posix {

namespace {

struct FindObject : KernelObject {
    std::vector<WIN32_FIND_DATAA> entries;
    size_t next = 0;
};

bool HasWildcard(const std::string& s) {
    return s.find_first_of("*?") != std::string::npos;
}

int Upper(char c) {
    return std::toupper(static_cast<unsigned char>(c));
}
int Lower(char c) {
    return std::tolower(static_cast<unsigned char>(c));
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

bool EntryBefore(const std::string& a, const std::string& b) {
    auto rank = [](const std::string& s) { return s == "." ? 0 : s == ".." ? 1 : 2; };
    if (rank(a) != rank(b)) return rank(a) < rank(b);
    int c = strcasecmp(a.c_str(), b.c_str());
    if (c != 0) return c < 0;
    return a < b;
}

void Fill(const std::string& dir, const std::string& name, WIN32_FIND_DATAA* out) {
    std::memset(out, 0, sizeof *out);
    std::string full = (dir == "/" ? "/" : dir + "/") + name;
    struct stat lst;
    struct stat st;
    bool have_l = lstat(full.c_str(), &lst) == 0;
    bool is_link = have_l && S_ISLNK(lst.st_mode);
    bool followed = stat(full.c_str(), &st) == 0;
    if (!followed) {
        if (have_l) {
            st = lst;
        } else {
            std::memset(&st, 0, sizeof st);
            st.st_mode = S_IFREG | 0644;
        }
    }
    out->dwFileAttributes = AttributesOf(st, name, is_link);
    out->ftCreationTime =
        CreationTimeOf(AT_FDCWD, full.c_str(), followed ? 0 : AT_SYMLINK_NOFOLLOW, st);
    out->ftLastAccessTime = FileTimeOfUnix(st.st_atim);
    out->ftLastWriteTime = FileTimeOfUnix(st.st_mtim);
    if (!S_ISDIR(st.st_mode)) {
        uint64_t size = static_cast<uint64_t>(st.st_size);
        out->nFileSizeHigh = static_cast<DWORD>(size >> 32);
        out->nFileSizeLow = static_cast<DWORD>(size);
    }
    size_t n = std::min(name.size(), static_cast<size_t>(MAX_PATH - 1));
    std::memcpy(out->cFileName, name.data(), n);
    if (name != "." && name != ".." && !IsLegal83(name)) {
        std::string alt = HashedShortName(name);
        size_t m = std::min(alt.size(), sizeof out->cAlternateFileName - 1);
        std::memcpy(out->cAlternateFileName, alt.data(), m);
    }
}

} // namespace

bool IsFindHandle(HANDLE handle) {
    return HandleGetAs<FindObject>(handle) != nullptr;
}

} // namespace txplat::posix

using namespace txplat::posix;

extern "C" {

HANDLE WINAPI FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData) {
    if (FaultEnter("FindFirstFileA")) return INVALID_HANDLE_VALUE;
    if (!lpFileName || !*lpFileName) return Fail(ERROR_PATH_NOT_FOUND, INVALID_HANDLE_VALUE);
    if (!lpFindFileData) return Fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
    std::string pattern(lpFileName);

    // Split into the directory part (with its separator) and the mask.
    size_t sep = std::string::npos;
    for (size_t i = 0; i < pattern.size(); ++i)
        if (IsSeparator(pattern[i])) sep = i;
    std::string dir_part;
    std::string mask;
    if (sep != std::string::npos) {
        dir_part = pattern.substr(0, sep + 1);
        mask = pattern.substr(sep + 1);
    } else if (pattern.size() >= 2 && pattern[1] == ':') {
        dir_part = pattern.substr(0, 2);
        mask = pattern.substr(2);
    } else {
        mask = pattern;
    }
    if (mask.empty())
        return Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE); // "dir\" lists nothing
    if (HasInvalidNameChar(dir_part.data(), dir_part.size()))
        return Fail(ERROR_INVALID_NAME, INVALID_HANDLE_VALUE);

    HostPathResult resolved;
    DWORD error = 0;
    std::string host_dir;
    bool exact = !HasWildcard(mask);
    if (exact) {
        // "dir\." and "dir\.." name a directory, as after Windows' path
        // normalisation; the whole path resolves, case-insensitively too.
        if (!HostPath(lpFileName, &resolved, &error)) return Fail(error, INVALID_HANDLE_VALUE);
        if (!resolved.parent_exists) return Fail(ERROR_PATH_NOT_FOUND, INVALID_HANDLE_VALUE);
        size_t slash = resolved.host.rfind('/');
        host_dir = slash == 0 ? "/" : resolved.host.substr(0, slash);
        mask = resolved.host.substr(slash + 1);
        if (mask.empty())
            return Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE); // the root itself
    } else {
        if (!HostPath(dir_part.empty() ? "." : dir_part.c_str(), &resolved, &error))
            return Fail(error, INVALID_HANDLE_VALUE);
        if (!resolved.parent_exists) return Fail(ERROR_PATH_NOT_FOUND, INVALID_HANDLE_VALUE);
        host_dir = resolved.host;
    }
    struct stat dst;
    if (stat(host_dir.c_str(), &dst) != 0) return Fail(ERROR_PATH_NOT_FOUND, INVALID_HANDLE_VALUE);
    if (!S_ISDIR(dst.st_mode)) return Fail(ERROR_INVALID_NAME, INVALID_HANDLE_VALUE);

    DIR* d = opendir(host_dir.c_str());
    if (!d)
        return Fail(errno == EACCES ? ERROR_ACCESS_DENIED : ERROR_PATH_NOT_FOUND,
                    INVALID_HANDLE_VALUE);
    std::vector<std::string> names;
    bool is_root = host_dir == "/";
    while (struct dirent* e = readdir(d)) {
        std::string name = e->d_name;
        bool dots = name == "." || name == "..";
        if (dots && is_root) continue; // a drive's root has no "." and ".."
        if (exact ? strcasecmp(name.c_str(), mask.c_str()) == 0 : MatchName(name, mask))
            names.push_back(std::move(name));
    }
    closedir(d);
    if (exact && names.size() > 1) {
        // Names that differ only by case: the one the path resolved to.
        auto it = std::find(names.begin(), names.end(), mask);
        std::string keep = it != names.end() ? *it : names.front();
        names.assign(1, keep);
    }
    if (names.empty()) return Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
    std::sort(names.begin(), names.end(), EntryBefore);

    auto search = std::make_unique<FindObject>();
    search->entries.resize(names.size());
    for (size_t i = 0; i < names.size(); ++i)
        Fill(host_dir, names[i], &search->entries[i]);
    *lpFindFileData = search->entries[0];
    search->next = 1;
    return HandleInsert(std::move(search));
}

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

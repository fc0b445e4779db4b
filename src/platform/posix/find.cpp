// Directory search of the POSIX layer over Linux directories: FindFirstFileA,
// answering as Wine does (FindNextFileA and FindClose are in findnames.cpp):
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
    SetFoundName(name, out);
}

} // namespace

} // namespace txplat::posix

using namespace txplat::posix;

extern "C" {

HANDLE WINAPI FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData) {
    if (FaultEnter("FindFirstFileA")) return INVALID_HANDLE_VALUE;
    if (!lpFileName || !*lpFileName) return Fail(ERROR_PATH_NOT_FOUND, INVALID_HANDLE_VALUE);
    if (!lpFindFileData) return Fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
    std::string pattern(lpFileName);

    std::string dir_part;
    std::string mask;
    SplitSearchPattern(pattern, &dir_part, &mask);
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

    std::vector<WIN32_FIND_DATAA> entries(names.size());
    for (size_t i = 0; i < names.size(); ++i)
        Fill(host_dir, names[i], &entries[i]);
    return FindHandleOpen(std::move(entries), lpFindFileData);
}

} // extern "C"

#include "host/tree.h"

#include "host/errortext.h"
#include "host/failure.h"
#include "host/text.h"

#include <algorithm>
#include <cstdlib>

#ifdef _WIN32
#include "platform/win32.h"
#else
#include <cerrno>
#include <climits>
#include <dirent.h>
#include <sys/stat.h>
#endif

namespace txlib {

namespace {

#ifdef _WIN32
constexpr char kSeparator = '\\';
bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}
#else
constexpr char kSeparator = '/';
bool IsSeparator(char c) {
    return c == '/';
}
#endif

std::string Join(const std::string& a, const std::string& b) {
    if (a.empty()) return b;
    if (IsSeparator(a.back())) return a + b;
    return a + kSeparator + b;
}

// One file or folder name read from the disk, in Windows-1252.
bool PartName(const std::string& part, std::string* out, std::string* reason) {
    std::string error;
    if (!ArgumentText(part, out, &error)) {
        *reason = "the name " + error;
        return false;
    }
#ifndef _WIN32
    if (out->find('\\') != std::string::npos) {
        *reason = "the name holds a backslash, which separates the parts of a member name";
        return false;
    }
#endif
    return true;
}

struct Walker {
    InputSet* set;
    std::string root;                 // the canonical directory that links must stay inside
    std::vector<std::string> walking; // canonical folders being walked

    void Add(const std::string& disk, const std::string& name);
    void Folder(const std::string& disk, const std::string& name);
    std::vector<std::string> Entries(const std::string& disk);
};

#ifdef _WIN32

std::string Canonical(const std::string& path) {
    char full[MAX_PATH + 1];
    const DWORD length = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
    return length == 0 || length > MAX_PATH ? path : std::string(full, length);
}

std::vector<std::string> Walker::Entries(const std::string& disk) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(Join(disk, "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND) return names;
        Fail(disk, WithCause("cannot read the folder", error));
    }
    do {
        const std::string entry = found.cFileName;
        if (entry != "." && entry != "..") names.push_back(entry);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

void Walker::Add(const std::string& disk, const std::string& name) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(disk.c_str(), GetFileExInfoStandard, &data)) {
        const DWORD error = GetLastError();
        Fail(disk, error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                       ? std::string("cannot open: no such file or folder")
                       : WithCause("cannot open", error));
    }
    // Links and junctions could lead anywhere; they are not followed.
    if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        Fail(disk, "is a link, which txlib does not follow on Windows");
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        Folder(disk, name);
        return;
    }
    const int64_t size =
        static_cast<int64_t>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
    set->files.push_back({disk, name, size});
}

#else

std::string Canonical(const std::string& path) {
    char resolved[PATH_MAX];
    return realpath(path.empty() ? "." : path.c_str(), resolved) ? std::string(resolved) : "";
}

bool Inside(const std::string& path, const std::string& root) {
    if (root == "/") return true;
    return path == root || (path.size() > root.size() && path.compare(0, root.size(), root) == 0 &&
                            path[root.size()] == '/');
}

std::vector<std::string> Walker::Entries(const std::string& disk) {
    std::vector<std::string> names;
    DIR* folder = opendir(disk.empty() ? "." : disk.c_str());
    if (folder == nullptr) Fail(disk, "cannot read the folder: " + ErrnoText());
    while (const dirent* entry = readdir(folder)) {
        const std::string part = entry->d_name;
        if (part != "." && part != "..") names.push_back(part);
    }
    closedir(folder);
    return names;
}

void Walker::Add(const std::string& disk, const std::string& name) {
    const char* const path = disk.empty() ? "." : disk.c_str();
    struct stat st;
    if (lstat(path, &st) != 0)
        Fail(disk, errno == ENOENT ? std::string("cannot open: no such file or folder")
                                   : "cannot open: " + ErrnoText());
    // Whatever links the path goes through, where it ends must lie inside
    // the folder the names are relative to.
    const std::string target = Canonical(disk);
    if (target.empty() || stat(path, &st) != 0) Fail(disk, "is a link to nothing");
    if (!Inside(target, root)) Fail(disk, "leads outside " + root + " through a link");
    if (S_ISDIR(st.st_mode)) {
        Folder(disk, name);
        return;
    }
    if (!S_ISREG(st.st_mode)) Fail(disk, "is neither a file nor a folder");
    set->files.push_back({disk, name, static_cast<int64_t>(st.st_size)});
}

#endif

void Walker::Folder(const std::string& disk, const std::string& name) {
    const std::string canonical = Canonical(disk);
    if (std::find(walking.begin(), walking.end(), canonical) != walking.end())
        Fail(disk, "leads back into a folder that is being walked");
    walking.push_back(canonical);
    std::vector<std::string> entries = Entries(disk);
    std::sort(entries.begin(), entries.end());
    if (entries.empty()) set->empty_folders.push_back(disk.empty() ? "." : disk);
    for (const std::string& entry : entries) {
        std::string part, reason;
        if (!PartName(entry, &part, &reason)) Fail(Join(disk, entry), reason);
        Add(Join(disk, entry), name.empty() ? part : name + "\\" + part);
    }
    walking.pop_back();
}

bool IsAbsolute(const std::string& path) {
#ifdef _WIN32
    if (path.size() >= 2 && path[1] == ':') return true;
#endif
    return !path.empty() && IsSeparator(path[0]);
}

// Whether a path may name something outside the folder it is relative to:
// an absolute path, or one with a ".." part.
bool LeavesFolder(const std::string& path) {
    if (IsAbsolute(path)) return true;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = start;
        while (end < path.size() && !IsSeparator(path[end]))
            ++end;
        if (path.compare(start, end - start, "..") == 0 && end - start == 2) return true;
        start = end + 1;
    }
    return false;
}

} // namespace

bool MemberNameOfPath(const std::string& path, std::string* name, std::string* reason) {
    name->clear();
    if (!path.empty() && IsSeparator(path[0])) {
        *reason = "is an absolute path: give paths relative to the current folder (or to -C)";
        return false;
    }
#ifdef _WIN32
    if (path.size() >= 2 && path[1] == ':') {
        *reason = "names a drive: give paths relative to the current folder (or to -C)";
        return false;
    }
#endif
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = start;
        while (end < path.size() && !IsSeparator(path[end]))
            ++end;
        const std::string part = path.substr(start, end - start);
        start = end + 1;
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            *reason = "holds a \"..\" part, which would name something outside the tree";
            return false;
        }
        std::string converted;
        if (!PartName(part, &converted, reason)) return false;
        if (!name->empty()) *name += '\\';
        *name += converted;
    }
    return true;
}

InputSet CollectInputs(const std::vector<std::string>& paths, const std::string& directory) {
    InputSet set;
    Walker walker{&set, Canonical(directory.empty() ? "." : directory), {}};
    if (walker.root.empty()) Fail(directory, "cannot open: no such folder");
    bool standard_input = false;
    for (const std::string& path : paths) {
        if (path == "-") {
            if (standard_input) Fail("-", "standard input can be read once only");
            standard_input = true;
            set.files.push_back({"-", "", -1});
            continue;
        }
        std::string name, reason;
        if (LeavesFolder(path)) {
            // Named from anywhere: stored under its last part, a folder's
            // contents under it; links inside it may not lead out of it.
            const std::string disk = IsAbsolute(path) ? path : Join(directory, path);
            const std::string canonical = Canonical(disk);
            if (canonical.empty()) Fail(path, "cannot open: no such file or folder");
            // A ".." that comes back inside the folder leaves the path's
            // name as it would be without it.
            const std::string& root = walker.root;
            if (!IsAbsolute(path) && canonical.size() > root.size() + 1 &&
                canonical.compare(0, root.size(), root) == 0 &&
                IsSeparator(canonical[root.size()]) &&
                MemberNameOfPath(canonical.substr(root.size() + 1), &name, &reason)) {
                walker.Add(disk, name);
                continue;
            }
            size_t end = canonical.size();
            while (end > 0 && IsSeparator(canonical[end - 1]))
                --end;
            size_t start = end;
            while (start > 0 && !IsSeparator(canonical[start - 1]))
                --start;
            const std::string last = canonical.substr(start, end - start);
            if (last.empty() || last.back() == ':')
                Fail(path, "has no name to be stored under; give one with --as");
            if (!PartName(last, &name, &reason)) Fail(path, reason);
            const std::string saved = walker.root;
            walker.root = canonical;
            walker.Add(disk, name);
            walker.root = saved;
            set.stored_as.emplace_back(path, name);
            continue;
        }
        if (!MemberNameOfPath(path, &name, &reason)) Fail(path, reason);
        walker.Add(Join(directory, path), name);
    }
    return set;
}

} // namespace txlib

// The walk of files and folders on Windows: links and junctions are refused.
#include "host/tree_system.h"

#include "host/errortext.h"
#include "host/failure.h"
#include "platform/win32.h"

namespace txlib::tree_system {

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

bool NamesDrive(const std::string& path) {
    return path.size() >= 2 && path[1] == ':';
}

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

} // namespace txlib::tree_system

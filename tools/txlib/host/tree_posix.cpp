// The walk of files and folders on POSIX systems: links are followed as long
// as they lead to a place inside the folder the names are relative to.
#include "host/tree_system.h"

#include "host/errortext.h"
#include "host/failure.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <sys/stat.h>

namespace txlib::tree_system {

namespace {

bool Inside(const std::string& path, const std::string& root) {
    if (root == "/") return true;
    return path == root || (path.size() > root.size() && path.compare(0, root.size(), root) == 0 &&
                            path[root.size()] == '/');
}

} // namespace

bool IsSeparator(char c) {
    return c == '/';
}

bool NamesDrive(const std::string& path) {
    (void)path;
    return false;
}

std::string Canonical(const std::string& path) {
    char resolved[PATH_MAX];
    return realpath(path.empty() ? "." : path.c_str(), resolved) ? std::string(resolved) : "";
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

} // namespace txlib::tree_system

#include "host/tree.h"
#include "host/tree_system.h"

#include "host/systemfiles.h"

#include "host/errortext.h"
#include "host/failure.h"
#include "host/text.h"

#include <algorithm>
#include <cstdlib>

namespace txlib {

namespace tree_system {

std::string Join(const std::string& a, const std::string& b) {
    if (a.empty()) return b;
    if (IsSeparator(a.back())) return a + b;
    return a + PathSeparator() + b;
}

} // namespace tree_system

using namespace tree_system;

namespace {

// One file or folder name read from the disk, in Windows-1252.
bool PartName(const std::string& part, std::string* out, std::string* reason) {
    std::string error;
    if (!ArgumentText(part, out, &error)) {
        *reason = "the name " + error;
        return false;
    }
    if (!BackslashSeparatesFolders() && out->find('\\') != std::string::npos) {
        *reason = "the name holds a backslash, which separates the parts of a member name";
        return false;
    }
    return true;
}

bool IsAbsolute(const std::string& path) {
    if (NamesDrive(path)) return true;
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

void tree_system::Walker::Folder(const std::string& disk, const std::string& name) {
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

bool MemberNameOfPath(const std::string& path, std::string* name, std::string* reason) {
    name->clear();
    if (!path.empty() && IsSeparator(path[0])) {
        *reason = "is an absolute path: give paths relative to the current folder (or to -C)";
        return false;
    }
    if (NamesDrive(path)) {
        *reason = "names a drive: give paths relative to the current folder (or to -C)";
        return false;
    }
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

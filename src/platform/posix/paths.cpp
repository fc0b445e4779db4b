// Windows paths over the Linux file system, as Wine lays them out: drive Z
// is the root, '\' and '/' both separate, and a name that does not exist as
// written is looked up again without regard to case.
#include "internal.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace txplat::posix {

namespace {

// The entry of `dir` whose name equals `name` without regard to case.
bool FindNoCase(const std::string& dir, const std::string& name, std::string* found) {
    DIR* d = opendir(dir.c_str());
    if (!d) return false;
    bool ok = false;
    while (struct dirent* e = readdir(d)) {
        if (strcasecmp(e->d_name, name.c_str()) == 0) {
            *found = e->d_name;
            ok = true;
            break;
        }
    }
    closedir(d);
    return ok;
}

bool IsDir(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

bool PathParts(const char* win, std::vector<std::string>* out, DWORD* error) {
    if (!win) {
        *error = ERROR_PATH_NOT_FOUND;
        return false;
    }
    size_t len = std::strlen(win);
    if (len == 0) {
        *error = ERROR_PATH_NOT_FOUND;
        return false;
    }
    if (len > MAX_PATH) {
        *error = ERROR_FILENAME_EXCED_RANGE;
        return false;
    }
    std::string s(win);
    for (char& c : s)
        if (c == '/') c = '\\';
    if (s.size() >= 2 && s[0] == '\\' && s[1] == '\\') {
        *error = ERROR_PATH_NOT_FOUND; // UNC and device paths do not exist here
        return false;
    }
    std::string rest = s;
    if (s.size() >= 2 && s[1] == ':') {
        if (std::toupper(static_cast<unsigned char>(s[0])) != 'Z') {
            *error = ERROR_PATH_NOT_FOUND;
            return false;
        }
        rest = s.substr(2);
    }
    std::string joined;
    if (!rest.empty() && rest[0] == '\\') {
        joined = rest;
    } else {
        char cwd[4096];
        if (!getcwd(cwd, sizeof cwd)) {
            *error = ERROR_PATH_NOT_FOUND;
            return false;
        }
        joined = std::string(cwd) + "\\" + rest;
        for (char& c : joined)
            if (c == '/') c = '\\';
    }

    // Resolve "." and ".." by text, as Windows does before the file system.
    std::vector<std::string> parts;
    size_t pos = 0;
    while (pos <= joined.size()) {
        size_t next = joined.find('\\', pos);
        if (next == std::string::npos) next = joined.size();
        std::string part = joined.substr(pos, next - pos);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        pos = next + 1;
    }

    // "name." and "name " name the file "name".
    if (!parts.empty()) {
        std::string& last = parts.back();
        while (!last.empty() && (last.back() == '.' || last.back() == ' '))
            last.pop_back();
        if (last.empty()) parts.pop_back();
    }
    *out = std::move(parts);
    return true;
}

bool HostPath(const char* win, HostPathResult* out, DWORD* error) {
    std::vector<std::string> parts;
    if (!PathParts(win, &parts, error)) return false;

    std::string cur = "/";
    bool parent_exists = true;
    for (size_t i = 0; i < parts.size(); ++i) {
        std::string candidate = (cur == "/" ? "/" : cur + "/") + parts[i];
        struct stat st;
        if (parent_exists && lstat(candidate.c_str(), &st) != 0 && errno == ENOENT) {
            std::string found;
            if (FindNoCase(cur, parts[i], &found))
                candidate = (cur == "/" ? "/" : cur + "/") + found;
        }
        if (i + 1 < parts.size() && parent_exists && !IsDir(candidate)) parent_exists = false;
        cur = candidate;
    }
    out->host = cur;
    out->parent_exists = parent_exists;
    return true;
}

std::string WinPathOf(const std::string& host) {
    std::string w = "Z:" + host;
    for (char& c : w)
        if (c == '/') c = '\\';
    return w;
}

} // namespace txplat::posix

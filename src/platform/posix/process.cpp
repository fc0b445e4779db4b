// Environment block, WIN.INI, the Windows directory, directories and the
// process id.
//
// The Windows directory is the host directory named by TX_WINDIR (default
// /tmp); win.ini is read from it.
#include "internal.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <strings.h>
#include <sys/stat.h>
#include <ctime>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace txplat::posix {

std::string WindowsDirectoryHost() {
    const char* dir = std::getenv("TX_WINDIR");
    std::string d = dir && *dir ? dir : "/tmp";
    while (d.size() > 1 && d.back() == '/')
        d.pop_back();
    return d;
}

} // namespace txplat::posix

namespace {

using namespace txplat::posix;

std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return "";
    size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

// Copies a list of strings as a double-NUL-terminated list, cut to fit.
DWORD CopyList(const std::vector<std::string>& items, LPSTR out, DWORD size) {
    if (size < 2) {
        if (size == 1) out[0] = 0;
        return 0;
    }
    DWORD pos = 0;
    for (const std::string& item : items) {
        for (char c : item) {
            if (pos >= size - 2) {
                out[pos] = 0;
                out[pos + 1] = 0;
                return size - 2;
            }
            out[pos++] = c;
        }
        if (pos >= size - 2) {
            out[pos] = 0;
            out[pos + 1] = 0;
            return size - 2;
        }
        out[pos++] = 0;
    }
    out[pos] = 0;
    return pos;
}

} // namespace

extern "C" {

LPCH WINAPI GetEnvironmentStrings(void) {
    if (FaultEnter("GetEnvironmentStrings")) return nullptr;
    size_t total = 1;
    for (char** e = environ; *e; ++e)
        total += std::strlen(*e) + 1;
    char* block = static_cast<char*>(std::malloc(total + 1));
    if (!block) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    char* p = block;
    for (char** e = environ; *e; ++e) {
        size_t n = std::strlen(*e) + 1;
        std::memcpy(p, *e, n);
        p += n;
    }
    *p++ = 0;
    *p = 0;
    return block;
}

BOOL WINAPI FreeEnvironmentStringsA(LPCH block) {
    if (FaultEnter("FreeEnvironmentStringsA")) return FALSE;
    std::free(block);
    return TRUE;
}

UINT WINAPI GetWindowsDirectoryA(LPSTR buffer, UINT size) {
    if (FaultEnter("GetWindowsDirectoryA")) return 0;
    std::string win = WinPathOf(WindowsDirectoryHost());
    if (!buffer || win.size() + 1 > size) return static_cast<UINT>(win.size() + 1);
    std::memcpy(buffer, win.c_str(), win.size() + 1);
    return static_cast<UINT>(win.size());
}

DWORD WINAPI GetProfileStringA(LPCSTR app, LPCSTR key, LPCSTR def, LPSTR out, DWORD size) {
    if (FaultEnter("GetProfileStringA")) return 0;
    if (!out || size == 0) return 0;
    std::vector<std::string> sections, keys;
    std::string value;
    bool found = false;
    std::ifstream in(WindowsDirectoryHost() + "/win.ini", std::ios::binary);
    std::string line;
    bool in_section = false;
    while (std::getline(in, line)) {
        std::string t = Trim(line);
        if (t.empty() || t[0] == ';') continue;
        if (t[0] == '[') {
            size_t close = t.find(']');
            std::string name =
                Trim(t.substr(1, close == std::string::npos ? std::string::npos : close - 1));
            sections.push_back(name);
            in_section = app && strcasecmp(name.c_str(), app) == 0;
            continue;
        }
        if (!in_section) continue;
        size_t eq = t.find('=');
        std::string k = Trim(t.substr(0, eq));
        if (!key) {
            keys.push_back(k);
            continue;
        }
        if (!found && eq != std::string::npos && strcasecmp(k.c_str(), key) == 0) {
            value = Trim(t.substr(eq + 1));
            // A value in matching quotes loses them.
            if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') &&
                value.back() == value[0])
                value = value.substr(1, value.size() - 2);
            found = true;
        }
    }
    if (!app) return CopyList(sections, out, size);
    if (!key) return CopyList(keys, out, size);
    if (!found) {
        value = def ? def : "";
        while (!value.empty() && value.back() == ' ')
            value.pop_back();
    }
    size_t n = value.size() < size - 1 ? value.size() : size - 1;
    std::memcpy(out, value.data(), n);
    out[n] = 0;
    return static_cast<DWORD>(n);
}

DWORD WINAPI GetCurrentDirectoryA(DWORD size, LPSTR buffer) {
    if (FaultEnter("GetCurrentDirectoryA")) return 0;
    char cwd[4096];
    if (!getcwd(cwd, sizeof cwd)) return FailErrno<DWORD>(0);
    std::string win = WinPathOf(cwd);
    if (win.size() == 2) win += "\\"; // the root keeps its backslash
    if (!buffer || win.size() + 1 > size) return static_cast<DWORD>(win.size() + 1);
    std::memcpy(buffer, win.c_str(), win.size() + 1);
    return static_cast<DWORD>(win.size());
}

BOOL WINAPI SetCurrentDirectoryA(LPCSTR path) {
    if (FaultEnter("SetCurrentDirectoryA")) return FALSE;
    HostPathResult hp;
    DWORD error;
    if (!HostPath(path, &hp, &error)) {
        SetLastError(error);
        return FALSE;
    }
    if (chdir(hp.host.c_str()) != 0) return FailErrno(FALSE, hp.parent_exists);
    return TRUE;
}

DWORD WINAPI GetCurrentProcessId(void) {
    return static_cast<DWORD>(getpid());
}

void WINAPI Sleep(DWORD milliseconds) {
    timespec wait{static_cast<time_t>(milliseconds / 1000),
                  static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
    }
}

} // extern "C"

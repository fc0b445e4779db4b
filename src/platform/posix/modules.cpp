// Modules over the dynamic loader, and the string table of a module.
//
// A module handle is the loader's handle; the program itself is the handle of
// dlopen(NULL). LoadLibraryA looks for a bare name beside the program, then
// in the Windows directory, then in the current directory, adding ".DLL" to a
// name without extension, as Windows does (there is no system directory here).
#include "internal.h"
#include "platform/stringtable.h"

#include <cerrno>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <map>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace txplat {

const unsigned char* StringTableFind(const unsigned char* table, unsigned id, uint16_t* length) {
    if (!table || std::memcmp(table, kStringTableMagic, sizeof kStringTableMagic) != 0)
        return nullptr;
    unsigned count = table[8] | (table[9] << 8);
    const unsigned char* p = table + kStringTableHeader;
    for (unsigned i = 0; i < count; ++i) {
        unsigned entry_id = p[0] | (p[1] << 8);
        uint16_t len = static_cast<uint16_t>(p[2] | (p[3] << 8));
        if (entry_id == id) {
            *length = len;
            return p + kStringEntryHeader;
        }
        p += kStringEntryHeader + len;
    }
    return nullptr;
}

} // namespace txplat

namespace {

using namespace txplat::posix;

void* MainHandle() {
    static void* main = dlopen(nullptr, RTLD_LAZY);
    return main;
}

// Handles given out by LoadLibraryA, with their reference counts.
std::map<void*, int>& Loaded() {
    static std::map<void*, int> loaded;
    return loaded;
}

bool KnownModule(HMODULE h) {
    return h == MainHandle() || Loaded().count(h) != 0;
}

std::string SelfPath() {
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return "";
    buf[n] = 0;
    return buf;
}

std::string HostPathOfModule(void* h) {
    if (h == MainHandle()) return SelfPath();
    struct link_map* map = nullptr;
    if (dlinfo(h, RTLD_DI_LINKMAP, &map) != 0 || !map || !map->l_name) return "";
    if (map->l_name[0] == 0) return SelfPath();
    char resolved[PATH_MAX];
    return realpath(map->l_name, resolved) ? resolved : map->l_name;
}

std::string BaseName(const std::string& path) {
    size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string DirName(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

// A name with no extension gets ".DLL"; a trailing dot means "no extension".
std::string WithExtension(std::string name) {
    std::string base = BaseName(name);
    if (!base.empty() && base.back() == '.') {
        name.pop_back();
    } else if (base.find('.') == std::string::npos) {
        name += ".DLL";
    }
    return name;
}

bool IsFile(const std::string& host) {
    struct stat st;
    return stat(host.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

int CollectObject(struct dl_phdr_info* info, size_t, void* data) {
    auto* list = static_cast<std::vector<std::string>*>(data);
    list->push_back(info->dlpi_name ? info->dlpi_name : "");
    return 0;
}

} // namespace

extern "C" {

HMODULE WINAPI LoadLibraryA(LPCSTR name) {
    if (FaultEnter("LoadLibraryA")) return nullptr;
    if (!name || !*name) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    std::string wanted = WithExtension(name);
    std::vector<std::string> candidates;
    if (wanted.find_first_of("\\/:") != std::string::npos) {
        candidates.push_back(wanted);
    } else {
        candidates.push_back(WinPathOf(DirName(SelfPath())) + "\\" + wanted);
        candidates.push_back(WinPathOf(WindowsDirectoryHost()) + "\\" + wanted);
        candidates.push_back(wanted); // the current directory
    }
    for (const std::string& c : candidates) {
        HostPathResult hp;
        DWORD error;
        if (!HostPath(c.c_str(), &hp, &error) || !IsFile(hp.host)) continue;
        void* h = dlopen(hp.host.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!h) {
            SetLastError(193); // ERROR_BAD_EXE_FORMAT: there, but not a module
            return nullptr;
        }
        ++Loaded()[h];
        return static_cast<HMODULE>(h);
    }
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name) {
    if (FaultEnter("GetProcAddress")) return nullptr;
    void* h = module ? static_cast<void*>(module) : MainHandle();
    if (!KnownModule(static_cast<HMODULE>(h))) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    // Ordinals (names below 0x10000) have no meaning for a shared object.
    if (!name || reinterpret_cast<uintptr_t>(name) < 0x10000) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    void* sym = dlsym(h, name);
    if (!sym) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(sym);
}

BOOL WINAPI FreeLibrary(HMODULE module) {
    if (FaultEnter("FreeLibrary")) return FALSE;
    auto it = Loaded().find(module);
    if (it == Loaded().end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (--it->second == 0) Loaded().erase(it);
    dlclose(module);
    return TRUE;
}

HMODULE WINAPI GetModuleHandleA(LPCSTR name) {
    if (FaultEnter("GetModuleHandleA")) return nullptr;
    if (!name) return static_cast<HMODULE>(MainHandle());
    std::string wanted = WithExtension(name);
    bool by_path = wanted.find_first_of("\\/:") != std::string::npos;
    std::string wanted_host;
    if (by_path) {
        HostPathResult hp;
        DWORD error;
        if (!HostPath(wanted.c_str(), &hp, &error)) {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return nullptr;
        }
        wanted_host = hp.host;
    }
    std::vector<std::string> objects;
    dl_iterate_phdr(CollectObject, &objects);
    for (const std::string& object : objects) {
        bool is_main = object.empty();
        std::string path = is_main ? SelfPath() : object;
        bool match = by_path ? strcasecmp(path.c_str(), wanted_host.c_str()) == 0
                             : strcasecmp(BaseName(path).c_str(), BaseName(wanted).c_str()) == 0;
        // The program matches its own name also without the ".DLL" added.
        if (!match && is_main && !by_path) match = strcasecmp(BaseName(path).c_str(), name) == 0;
        if (!match) continue;
        if (is_main) return static_cast<HMODULE>(MainHandle());
        void* h = dlopen(object.c_str(), RTLD_NOLOAD | RTLD_LAZY);
        if (!h) continue;
        dlclose(h); // GetModuleHandleA takes no reference
        if (!KnownModule(static_cast<HMODULE>(h))) continue;
        return static_cast<HMODULE>(h);
    }
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size) {
    if (FaultEnter("GetModuleFileNameA")) return 0;
    void* h = module ? static_cast<void*>(module) : MainHandle();
    if (!KnownModule(static_cast<HMODULE>(h))) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    std::string win = WinPathOf(HostPathOfModule(h));
    if (!buffer || size == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (win.size() < size) {
        std::memcpy(buffer, win.c_str(), win.size() + 1);
        return static_cast<DWORD>(win.size());
    }
    // Cut to the buffer's size with no terminator, as Wine and older Windows
    // do: callers cannot count on one.
    std::memcpy(buffer, win.data(), size);
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
}

BOOL WINAPI IsBadReadPtr(const void* p, UINT_PTR count) {
    if (count == 0) return FALSE;
    if (!p) return TRUE;
    // Let the kernel read the range: writing it into a pipe fails with
    // EFAULT where any byte of it cannot be read.
    int fds[2];
    if (pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0) return TRUE;
    bool bad = false;
    const char* q = static_cast<const char*>(p);
    char sink[4096];
    while (count > 0 && !bad) {
        size_t n = count < sizeof sink ? count : sizeof sink;
        ssize_t w = write(fds[1], q, n);
        if (w < 0) {
            bad = true;
            break;
        }
        ssize_t r = read(fds[0], sink, static_cast<size_t>(w));
        (void)r;
        q += w;
        count -= static_cast<UINT_PTR>(w);
    }
    close(fds[0]);
    close(fds[1]);
    return bad;
}

int WINAPI LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int max) {
    if (FaultEnter("LoadStringA")) return 0;
    if (!buffer || max <= 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    buffer[0] = 0;
    void* h = instance ? static_cast<void*>(instance) : MainHandle();
    if (!KnownModule(static_cast<HMODULE>(h))) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return 0;
    }
    auto* table = static_cast<const unsigned char*>(dlsym(h, "TxStringTable"));
    uint16_t length = 0;
    const unsigned char* text = txplat::StringTableFind(table, id & 0xFFFF, &length);
    if (!text) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return 0;
    }
    int n = length < max - 1 ? length : max - 1;
    std::memcpy(buffer, text, static_cast<size_t>(n));
    buffer[n] = 0;
    return n;
}

} // extern "C"

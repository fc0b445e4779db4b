// Files of the POSIX layer kept in memory: the same calls as files.cpp and
// find.cpp (CreateFileA, ReadFile, WriteFile, SetFilePointer, SetEndOfFile,
// GetFileSize, CloseHandle, DeleteFileA, MoveFileExA, LockFile, UnlockFile,
// GetFileTime, SetFileTime, FindFirstFileA, CreateDirectoryA,
// RemoveDirectoryA and the file status of the C runtime calls), over a tree
// of files and folders in this process's memory instead of the host's file
// system. The fuzz build links it in place of those two files, so that an
// input costs no system call; nothing an input does reaches the disk.
//
// The answers are those of files.cpp where the disk would give them:
// - Names are compared without regard to case; a file keeps the case it was
//   created or last renamed with. "." and ".." are resolved by text, and
//   trailing dots and spaces dropped, as PathParts does for the disk.
// - The store begins with the root and the folders of the process's current
//   directory, so that relative names resolve as on disk (to nothing).
// - A file that is deleted or replaced while open lives on for its handles,
//   as on Linux; share modes are accepted and ignored.
// - Byte-range locks follow Windows' rules as files.cpp keeps them within
//   the process (33 for any overlap, 158 for an unlock of a range not
//   locked by that handle); there is no other process to see them.
// - Read-only files (FILE_ATTRIBUTE_READONLY at creation) refuse writers and
//   deletion with 5. Creation times are the times files were made.
// - The store is a small disk of 64 MiB: a write or extension
//   beyond it fails with 112 (disk full) and moves nothing, where a sparse
//   file on disk would grow without bound.
#include "files.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

namespace txplat::posix {

namespace {

constexpr uint64_t kStoreCapacity = 64u << 20;

// What Wine answers for a null buffer given to WriteFile with a non-zero count.
constexpr DWORD kErrorInvalidUserBuffer = 1784;

uint64_t g_stored = 0; // bytes held by all contents, deleted ones still open included

FILETIME Now() {
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return FileTimeOfUnix(ts);
}

// The bytes and times of a file, shared by its name and its open handles.
struct Content {
    std::vector<char> bytes;
    FILETIME created{}, accessed{}, written{};
    bool read_only = false;
    ~Content() { g_stored -= bytes.size(); }

    // Grows or cuts the bytes; false, changing nothing, when the store would
    // run out of room.
    bool Resize(uint64_t size) {
        const uint64_t now = bytes.size();
        if (size > now && size - now > kStoreCapacity - g_stored) return false;
        bytes.resize(static_cast<size_t>(size));
        g_stored = g_stored - now + size;
        return true;
    }
};

struct Node {
    std::string name; // the last component as created
    bool directory = false;
    FILETIME created{}, written{};    // of a directory
    std::shared_ptr<Content> content; // of a file
};

// The tree, keyed by each path's components upper-cased, each after a '\'
// (the root is ""): a folder's entries are the keys that begin with its key
// and a '\' and hold no further '\'.
using Tree = std::map<std::string, Node>;

std::string Fold(const std::string& s) {
    std::string out = s;
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

Tree& Store() {
    // Never destroyed, so that handles closed during exit still find it.
    static Tree* tree = [] {
        auto* t = new Tree;
        const FILETIME now = Now();
        Node root;
        root.directory = true;
        root.created = root.written = now;
        (*t)[""] = root;
        char cwd[4096];
        if (getcwd(cwd, sizeof cwd)) {
            std::string key;
            const std::string path = cwd;
            size_t at = 1;
            while (at < path.size()) {
                size_t end = path.find('/', at);
                if (end == std::string::npos) end = path.size();
                Node dir = root;
                dir.name = path.substr(at, end - at);
                key += "\\" + Fold(dir.name);
                (*t)[key] = dir;
                at = end + 1;
            }
        }
        return t;
    }();
    return *tree;
}

// A Windows path resolved against the store.
struct Place {
    std::string key;    // the whole path's key
    std::string parent; // the key of the folder that holds it
    std::string name;   // the last component as written ("" for the root)
    bool parent_exists = false;
};

bool Resolve(const char* win, Place* out, DWORD* error) {
    std::vector<std::string> parts;
    if (!PathParts(win, &parts, error)) return false;
    out->key.clear();
    out->parent.clear();
    out->name.clear();
    for (const std::string& part : parts) {
        out->parent = out->key;
        out->key += '\\';
        for (char c : part)
            out->key += c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
        out->name = part;
    }
    // A folder is made in a folder that exists, and one that holds anything
    // is neither removed nor replaced: the parent stands for all the folders
    // above it.
    const Tree& tree = Store();
    const auto it = tree.find(out->parent);
    out->parent_exists = it != tree.end() && it->second.directory;
    return true;
}

Node* Find(const std::string& key) {
    auto& tree = Store();
    auto it = tree.find(key);
    return it == tree.end() ? nullptr : &it->second;
}

// The error of a name that is not there: 2 in an existing folder, else 3.
DWORD Missing(const Place& place) {
    return place.parent_exists ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

bool EndsInSeparator(const char* path) {
    const size_t len = std::strlen(path);
    return len > 0 && IsSeparator(path[len - 1]);
}

// The checks every call that takes a path makes first.
bool PathUsable(const char* path, DWORD* error) {
    if (!path || !*path) {
        *error = ERROR_PATH_NOT_FOUND;
        return false;
    }
    if (HasInvalidNameChar(path, std::strlen(path))) {
        *error = ERROR_INVALID_NAME;
        return false;
    }
    return true;
}

struct MemoryFile;

struct LockRecord {
    MemoryFile* owner;
    uint64_t offset;
    uint64_t length;
};

// Never destroyed, like the store.
std::map<const Content*, std::vector<LockRecord>>& Locks() {
    static auto* table = new std::map<const Content*, std::vector<LockRecord>>;
    return *table;
}

// An open file. Its locks are released when it is closed.
struct MemoryFile : KernelObject {
    std::shared_ptr<Content> content;
    uint64_t position = 0;
    bool can_read = false;
    bool can_write = false;
    ~MemoryFile() override {
        auto& table = Locks();
        auto it = table.find(content.get());
        if (it == table.end()) return;
        auto& v = it->second;
        v.erase(std::remove_if(v.begin(), v.end(),
                               [this](const LockRecord& r) { return r.owner == this; }),
                v.end());
        if (v.empty()) table.erase(it);
    }
};

MemoryFile* FileOf(HANDLE h) {
    return HandleGetAs<MemoryFile>(h);
}

bool Overlaps(const LockRecord& held, uint64_t offset, uint64_t length) {
    if (held.length == 0) return false; // zero-byte locks block nothing
    uint64_t held_end = held.offset + held.length;
    if (length == 0) return held.offset <= offset && offset < held_end;
    return held.offset < offset + length && offset < held_end;
}

void FillFound(const Node& node, const std::string& name, WIN32_FIND_DATAA* out) {
    std::memset(out, 0, sizeof *out);
    const bool read_only = !node.directory && node.content->read_only;
    out->dwFileAttributes = NameAttributes(node.directory, read_only, name);
    if (node.directory) {
        out->ftCreationTime = node.created;
        out->ftLastAccessTime = out->ftLastWriteTime = node.written;
    } else {
        const Content& c = *node.content;
        out->ftCreationTime = c.created;
        out->ftLastAccessTime = c.accessed;
        out->ftLastWriteTime = c.written;
        const uint64_t size = c.bytes.size();
        out->nFileSizeHigh = static_cast<DWORD>(size >> 32);
        out->nFileSizeLow = static_cast<DWORD>(size);
    }
    SetFoundName(name, out);
}

// The key of the folder that holds `key` ("" for the root's entries).
std::string ParentKey(const std::string& key) {
    return key.substr(0, key.rfind('\\'));
}

} // namespace

bool PathAttributes(const char* path, struct stat* st, DWORD* attr, DWORD* error) {
    if (!PathUsable(path, error)) return false;
    Place place;
    if (!Resolve(path, &place, error)) return false;
    const Node* node = Find(place.key);
    if (!node) {
        *error = Missing(place);
        return false;
    }
    if (EndsInSeparator(path) && !node->directory) {
        *error = ERROR_INVALID_NAME; // "file\" names no file
        return false;
    }
    std::memset(st, 0, sizeof *st);
    if (node->directory) {
        st->st_mode = S_IFDIR | 0777;
        st->st_atim = st->st_mtim = UnixOfFileTime(node->written);
        st->st_ctim = UnixOfFileTime(node->created);
    } else {
        const Content& c = *node->content;
        st->st_mode = S_IFREG | (c.read_only ? 0444 : 0666);
        st->st_size = static_cast<off_t>(c.bytes.size());
        st->st_atim = UnixOfFileTime(c.accessed);
        st->st_mtim = UnixOfFileTime(c.written);
        st->st_ctim = UnixOfFileTime(c.created);
    }
    st->st_nlink = 1;
    *attr = NameAttributes(node->directory, (st->st_mode & 0222) == 0, node->name);
    return true;
}

} // namespace txplat::posix

using namespace txplat::posix;

extern "C" {

HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                          DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
    (void)lpSecurityAttributes;
    (void)hTemplateFile;
    CreateFileRecordAdd(
        {dwDesiredAccess, dwShareMode, dwCreationDisposition, dwFlagsAndAttributes});
    if (FaultEnter("CreateFileA")) return INVALID_HANDLE_VALUE;
    DWORD error = 0;
    if (!PathUsable(lpFileName, &error)) return Fail(error, INVALID_HANDLE_VALUE);
    if (dwCreationDisposition < CREATE_NEW || dwCreationDisposition > TRUNCATE_EXISTING)
        return Fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
    Place place;
    if (!Resolve(lpFileName, &place, &error)) return Fail(error, INVALID_HANDLE_VALUE);
    Node* node = Find(place.key);
    if (node && EndsInSeparator(lpFileName) && !node->directory)
        return Fail(ERROR_INVALID_NAME, INVALID_HANDLE_VALUE); // "file\" names no file

    const DWORD read_bits =
        GENERIC_READ | 0x10000000 /* GENERIC_ALL */ | 0x0001 /* FILE_READ_DATA */;
    const DWORD write_bits = GENERIC_WRITE | 0x10000000 | 0x0002 /* FILE_WRITE_DATA */;
    const bool want_read = (dwDesiredAccess & read_bits) != 0;
    const bool want_write = (dwDesiredAccess & write_bits) != 0;
    if (node && node->directory) {
        // A directory is not opened as a file.
        return Fail(dwCreationDisposition == CREATE_NEW ? ERROR_FILE_EXISTS : ERROR_ACCESS_DENIED,
                    INVALID_HANDLE_VALUE);
    }
    if (node && node->content->read_only && want_write && dwCreationDisposition != CREATE_NEW)
        return Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
    if (!place.parent_exists) return Fail(ERROR_PATH_NOT_FOUND, INVALID_HANDLE_VALUE);

    const bool existed = node != nullptr;
    bool truncate = false;
    switch (dwCreationDisposition) {
    case CREATE_NEW:
        if (existed) return Fail(ERROR_FILE_EXISTS, INVALID_HANDLE_VALUE);
        break;
    case OPEN_EXISTING:
        if (!existed) return Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
        break;
    case TRUNCATE_EXISTING:
        if (!existed) return Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
        truncate = true;
        break;
    case CREATE_ALWAYS:
        truncate = existed;
        break;
    default: // OPEN_ALWAYS
        break;
    }
    if (!existed) {
        // The name is made in its folder, which must exist: the root and
        // every folder were made as such.
        Node made;
        made.name = place.name;
        made.content = std::make_shared<Content>();
        made.content->created = made.content->accessed = made.content->written = Now();
        made.content->read_only = (dwFlagsAndAttributes & FILE_ATTRIBUTE_READONLY) != 0;
        node = &Store().emplace(place.key, std::move(made)).first->second;
    } else if (truncate) {
        node->content->Resize(0);
        node->content->written = Now();
    }
    auto file = std::make_unique<MemoryFile>();
    file->content = node->content;
    file->can_read = want_read;
    file->can_write = want_write;
    HANDLE h = HandleInsert(std::move(file));
    const bool reports_existing =
        dwCreationDisposition == CREATE_ALWAYS || dwCreationDisposition == OPEN_ALWAYS;
    SetLastError(reports_existing && existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return h;
}

BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                     LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped) {
    if (lpNumberOfBytesRead) *lpNumberOfBytesRead = 0;
    if (FaultEnter("ReadFile")) return FALSE;
    const uint32_t limit = FaultTransferLimit("ReadFile", nNumberOfBytesToRead);
    MemoryFile* f = FileOf(hFile);
    if (!f) return Fail(ERROR_INVALID_HANDLE);
    if (lpOverlapped) return Fail(ERROR_INVALID_PARAMETER);
    if (!f->can_read) return Fail(ERROR_ACCESS_DENIED);
    if (!lpBuffer && nNumberOfBytesToRead) return Fail(ERROR_NOACCESS);
    const std::vector<char>& bytes = f->content->bytes;
    uint32_t count = 0;
    if (f->position < bytes.size())
        count = static_cast<uint32_t>(std::min<uint64_t>(limit, bytes.size() - f->position));
    if (count > 0) std::memcpy(lpBuffer, bytes.data() + f->position, count);
    f->position += count;
    if (lpNumberOfBytesRead) *lpNumberOfBytesRead = count;
    return TRUE;
}

BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                      LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped) {
    if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = 0;
    if (FaultEnter("WriteFile")) return FALSE;
    const uint32_t limit = FaultTransferLimit("WriteFile", nNumberOfBytesToWrite);
    MemoryFile* f = FileOf(hFile);
    if (!f) return Fail(ERROR_INVALID_HANDLE);
    if (lpOverlapped) return Fail(ERROR_INVALID_PARAMETER);
    if (!f->can_write) return Fail(ERROR_ACCESS_DENIED);
    if (!lpBuffer && nNumberOfBytesToWrite) return Fail(kErrorInvalidUserBuffer);
    if (limit == 0) return TRUE;
    Content& c = *f->content;
    const uint64_t end = f->position + limit;
    if (end > c.bytes.size() && !c.Resize(end)) return Fail(ERROR_DISK_FULL);
    std::memcpy(c.bytes.data() + f->position, lpBuffer, limit);
    f->position = end;
    c.written = Now();
    if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = limit;
    return TRUE;
}

DWORD WINAPI SetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh,
                            DWORD dwMoveMethod) {
    if (FaultEnter("SetFilePointer")) return INVALID_SET_FILE_POINTER;
    MemoryFile* f = FileOf(hFile);
    if (!f) return Fail(ERROR_INVALID_HANDLE, INVALID_SET_FILE_POINTER);
    const int64_t distance = MoveDistance(lDistanceToMove, lpDistanceToMoveHigh);
    int64_t base = 0;
    switch (dwMoveMethod) {
    case FILE_BEGIN:
        break;
    case FILE_CURRENT:
        base = static_cast<int64_t>(f->position);
        break;
    case FILE_END:
        base = static_cast<int64_t>(f->content->bytes.size());
        break;
    default:
        return Fail(ERROR_INVALID_PARAMETER, INVALID_SET_FILE_POINTER);
    }
    int64_t target;
    if (__builtin_add_overflow(base, distance, &target) || target < 0)
        return Fail(distance < 0 ? ERROR_NEGATIVE_SEEK : ERROR_INVALID_PARAMETER,
                    INVALID_SET_FILE_POINTER);
    f->position = static_cast<uint64_t>(target);
    if (lpDistanceToMoveHigh) *lpDistanceToMoveHigh = static_cast<LONG>(target >> 32);
    const DWORD low = static_cast<DWORD>(target);
    // A true position whose low half is 0xFFFFFFFF is told from failure by 0.
    if (low == INVALID_SET_FILE_POINTER) SetLastError(ERROR_SUCCESS);
    return low;
}

BOOL WINAPI SetEndOfFile(HANDLE hFile) {
    if (FaultEnter("SetEndOfFile")) return FALSE;
    MemoryFile* f = FileOf(hFile);
    if (!f) return Fail(ERROR_INVALID_HANDLE);
    if (!f->can_write) return Fail(ERROR_ACCESS_DENIED);
    if (!f->content->Resize(f->position)) return Fail(ERROR_DISK_FULL);
    f->content->written = Now();
    return TRUE;
}

DWORD WINAPI GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh) {
    const DWORD invalid_file_size = 0xFFFFFFFF;
    if (FaultEnter("GetFileSize")) return invalid_file_size;
    MemoryFile* f = FileOf(hFile);
    if (!f) return Fail(ERROR_INVALID_HANDLE, invalid_file_size);
    const uint64_t size = f->content->bytes.size();
    if (lpFileSizeHigh) *lpFileSizeHigh = static_cast<DWORD>(size >> 32);
    const DWORD low = static_cast<DWORD>(size);
    if (low == invalid_file_size) SetLastError(ERROR_SUCCESS);
    return low;
}

BOOL WINAPI CloseHandle(HANDLE hObject) {
    if (FaultEnter("CloseHandle")) return FALSE;
    // INVALID_HANDLE_VALUE is the current process's pseudo handle, which
    // Windows "closes" with success.
    if (hObject == INVALID_HANDLE_VALUE) return TRUE;
    if (IsFindHandle(hObject)) return Fail(ERROR_INVALID_HANDLE); // FindClose's business
    if (!HandleRemove(hObject)) return Fail(ERROR_INVALID_HANDLE);
    return TRUE;
}

BOOL WINAPI DeleteFileA(LPCSTR lpFileName) {
    if (FaultEnter("DeleteFileA")) return FALSE;
    DWORD error = 0;
    Place place;
    if (!PathUsable(lpFileName, &error) || !Resolve(lpFileName, &place, &error)) return Fail(error);
    const Node* node = Find(place.key);
    if (!node) return Fail(Missing(place));
    if (node->directory || node->content->read_only) return Fail(ERROR_ACCESS_DENIED);
    Store().erase(place.key); // handles still open keep the content
    return TRUE;
}

BOOL WINAPI MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags) {
    if (FaultEnter("MoveFileExA")) return FALSE;
    DWORD error = 0;
    if (!lpExistingFileName || !*lpExistingFileName || !lpNewFileName || !*lpNewFileName)
        return Fail(ERROR_PATH_NOT_FOUND);
    if (!PathUsable(lpExistingFileName, &error) || !PathUsable(lpNewFileName, &error))
        return Fail(error);
    Place from, to;
    if (!Resolve(lpExistingFileName, &from, &error) || !Resolve(lpNewFileName, &to, &error))
        return Fail(error);
    Tree& tree = Store();
    Node* source = Find(from.key);
    if (!source || from.key.empty()) return Fail(Missing(from));
    if (!to.parent_exists) return Fail(ERROR_PATH_NOT_FOUND);
    if (to.key == from.key) { // the same file, perhaps another case
        source->name = to.name;
        return TRUE;
    }
    // A folder cannot move into itself.
    if (source->directory && to.key.compare(0, from.key.size() + 1, from.key + "\\") == 0)
        return Fail(ERROR_INVALID_PARAMETER);
    if (const Node* target = Find(to.key)) {
        if (!(dwFlags & MOVEFILE_REPLACE_EXISTING)) return Fail(ERROR_ALREADY_EXISTS);
        if (target->directory || target->content->read_only) return Fail(ERROR_ACCESS_DENIED);
        if (source->directory) return Fail(ERROR_PATH_NOT_FOUND); // rename(2)'s ENOTDIR
        tree.erase(to.key); // handles still open keep the content
    }
    // The entry and, for a folder, everything below it take the new key.
    std::vector<std::pair<std::string, Node>> moved;
    moved.emplace_back(to.key, std::move(*source));
    moved.front().second.name = to.name;
    tree.erase(from.key);
    const std::string below = from.key + "\\";
    for (auto it = tree.lower_bound(below);
         it != tree.end() && it->first.compare(0, below.size(), below) == 0;) {
        moved.emplace_back(to.key + it->first.substr(from.key.size()), std::move(it->second));
        it = tree.erase(it);
    }
    for (auto& entry : moved)
        tree.emplace(std::move(entry.first), std::move(entry.second));
    return TRUE;
}

BOOL WINAPI LockFile(HANDLE hFile, DWORD dwFileOffsetLow, DWORD dwFileOffsetHigh,
                     DWORD nNumberOfBytesToLockLow, DWORD nNumberOfBytesToLockHigh) {
    if (FaultEnter("LockFile")) return FALSE;
    MemoryFile* f = FileOf(hFile);
    if (!f) return Fail(ERROR_INVALID_HANDLE);
    if (!f->can_read && !f->can_write) return Fail(ERROR_ACCESS_DENIED);
    const uint64_t offset = (static_cast<uint64_t>(dwFileOffsetHigh) << 32) | dwFileOffsetLow;
    const uint64_t length =
        (static_cast<uint64_t>(nNumberOfBytesToLockHigh) << 32) | nNumberOfBytesToLockLow;
    uint64_t end;
    if (length != 0 && __builtin_add_overflow(offset, length, &end))
        return Fail(ERROR_INVALID_PARAMETER);
    auto& held = Locks()[f->content.get()];
    for (const LockRecord& r : held)
        if (Overlaps(r, offset, length)) return Fail(ERROR_LOCK_VIOLATION);
    held.push_back({f, offset, length});
    return TRUE;
}

BOOL WINAPI UnlockFile(HANDLE hFile, DWORD dwFileOffsetLow, DWORD dwFileOffsetHigh,
                       DWORD nNumberOfBytesToUnlockLow, DWORD nNumberOfBytesToUnlockHigh) {
    if (FaultEnter("UnlockFile")) return FALSE;
    MemoryFile* f = FileOf(hFile);
    if (!f) return Fail(ERROR_INVALID_HANDLE);
    const uint64_t offset = (static_cast<uint64_t>(dwFileOffsetHigh) << 32) | dwFileOffsetLow;
    const uint64_t length =
        (static_cast<uint64_t>(nNumberOfBytesToUnlockHigh) << 32) | nNumberOfBytesToUnlockLow;
    auto& table = Locks();
    auto it = table.find(f->content.get());
    if (it == table.end()) return Fail(ERROR_NOT_LOCKED);
    auto& held = it->second;
    auto rec = std::find_if(held.begin(), held.end(), [&](const LockRecord& r) {
        return r.owner == f && r.offset == offset && r.length == length;
    });
    if (rec == held.end()) return Fail(ERROR_NOT_LOCKED);
    held.erase(rec);
    if (held.empty()) table.erase(it);
    return TRUE;
}

BOOL WINAPI GetFileTime(HANDLE hFile, LPFILETIME lpCreationTime, LPFILETIME lpLastAccessTime,
                        LPFILETIME lpLastWriteTime) {
    if (FaultEnter("GetFileTime")) return FALSE;
    MemoryFile* f = FileOf(hFile);
    if (!f) return Fail(ERROR_INVALID_HANDLE);
    if (lpCreationTime) *lpCreationTime = f->content->created;
    if (lpLastAccessTime) *lpLastAccessTime = f->content->accessed;
    if (lpLastWriteTime) *lpLastWriteTime = f->content->written;
    return TRUE;
}

BOOL WINAPI SetFileTime(HANDLE hFile, const FILETIME* lpCreationTime,
                        const FILETIME* lpLastAccessTime, const FILETIME* lpLastWriteTime) {
    (void)lpCreationTime; // kept as on the disk, where it cannot be set
    if (FaultEnter("SetFileTime")) return FALSE;
    MemoryFile* f = FileOf(hFile);
    if (!f) return Fail(ERROR_INVALID_HANDLE);
    if (!f->can_write) return Fail(ERROR_ACCESS_DENIED);
    // A null pointer, a zero time or all ones (Windows' "stop updating it")
    // leave that time alone. Times before 1970 are kept as the disk keeps
    // them: as they were given.
    auto set = [](const FILETIME* ft, FILETIME* time) {
        const uint64_t t = ft ? TicksOf(*ft) : 0;
        if (t != 0 && t != ~0ULL) *time = *ft;
    };
    set(lpLastAccessTime, &f->content->accessed);
    set(lpLastWriteTime, &f->content->written);
    return TRUE;
}

HANDLE WINAPI FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData) {
    if (FaultEnter("FindFirstFileA")) return INVALID_HANDLE_VALUE;
    if (!lpFileName || !*lpFileName) return Fail(ERROR_PATH_NOT_FOUND, INVALID_HANDLE_VALUE);
    if (!lpFindFileData) return Fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
    std::string dir_part, mask;
    SplitSearchPattern(lpFileName, &dir_part, &mask);
    if (mask.empty())
        return Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE); // "dir\" lists nothing
    if (HasInvalidNameChar(dir_part.data(), dir_part.size()))
        return Fail(ERROR_INVALID_NAME, INVALID_HANDLE_VALUE);
    DWORD error = 0;
    Place place;
    std::vector<WIN32_FIND_DATAA> entries;
    if (!HasWildcard(mask)) {
        // "dir\." and "dir\.." name a directory, as after Windows' path
        // normalisation.
        if (!Resolve(lpFileName, &place, &error)) return Fail(error, INVALID_HANDLE_VALUE);
        if (!place.parent_exists) return Fail(ERROR_PATH_NOT_FOUND, INVALID_HANDLE_VALUE);
        const Node* node = place.key.empty() ? nullptr : Find(place.key);
        if (!node) return Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
        entries.resize(1);
        FillFound(*node, node->name, &entries[0]);
        return FindHandleOpen(std::move(entries), lpFindFileData);
    }
    if (!Resolve(dir_part.empty() ? "." : dir_part.c_str(), &place, &error))
        return Fail(error, INVALID_HANDLE_VALUE);
    const Node* dir = place.parent_exists ? Find(place.key) : nullptr;
    if (!dir) return Fail(ERROR_PATH_NOT_FOUND, INVALID_HANDLE_VALUE);
    if (!dir->directory) return Fail(ERROR_INVALID_NAME, INVALID_HANDLE_VALUE);
    std::vector<std::pair<std::string, const Node*>> found;
    if (!place.key.empty()) { // a drive's root has no "." and ".."
        if (MatchName(".", mask)) found.emplace_back(".", dir);
        if (MatchName("..", mask)) found.emplace_back("..", Find(ParentKey(place.key)));
    }
    const Tree& tree = Store();
    const std::string below = place.key + "\\";
    for (auto it = tree.lower_bound(below); it != tree.end(); ++it) {
        if (it->first.compare(0, below.size(), below) != 0) break;
        if (it->first.find('\\', below.size()) != std::string::npos) continue;
        if (MatchName(it->second.name, mask)) found.emplace_back(it->second.name, &it->second);
    }
    if (found.empty()) return Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
    std::sort(found.begin(), found.end(),
              [](const auto& a, const auto& b) { return EntryBefore(a.first, b.first); });
    entries.resize(found.size());
    for (size_t i = 0; i < found.size(); ++i)
        FillFound(*found[i].second, found[i].first, &entries[i]);
    return FindHandleOpen(std::move(entries), lpFindFileData);
}

BOOL WINAPI CreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES) {
    if (FaultEnter("CreateDirectoryA")) return FALSE;
    DWORD error = 0;
    Place place;
    if (!Resolve(path, &place, &error)) return Fail(error);
    if (Find(place.key)) return Fail(ERROR_ALREADY_EXISTS);
    const Node* parent = place.parent_exists ? Find(place.parent) : nullptr;
    if (!parent || !parent->directory) return Fail(ERROR_PATH_NOT_FOUND);
    Node made;
    made.name = place.name;
    made.directory = true;
    made.created = made.written = Now();
    Store().emplace(place.key, std::move(made));
    return TRUE;
}

BOOL WINAPI RemoveDirectoryA(LPCSTR path) {
    if (FaultEnter("RemoveDirectoryA")) return FALSE;
    DWORD error = 0;
    Place place;
    if (!Resolve(path, &place, &error)) return Fail(error);
    if (place.key.empty()) return Fail(ERROR_ACCESS_DENIED); // the root
    Tree& tree = Store();
    auto it = tree.find(place.key);
    if (it == tree.end()) return Fail(Missing(place));
    if (!it->second.directory) return Fail(ERROR_PATH_NOT_FOUND);
    const std::string below = place.key + "\\";
    auto child = tree.lower_bound(below);
    if (child != tree.end() && child->first.compare(0, below.size(), below) == 0)
        return Fail(ERROR_DIR_NOT_EMPTY);
    tree.erase(it);
    return TRUE;
}

} // extern "C"

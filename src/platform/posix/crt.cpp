// The C runtime calls of crt.h over the POSIX layer's paths, answering as
// msvcrt does (as Wine's msvcrt implements it over GetFileAttributesA):
// - _access: existence, and with mode bit 2 write permission, which only the
//   read-only attribute (no write bit in the mode) refuses; a path that names
//   nothing gives ENOENT, a path with '*' or '?' EINVAL (ERROR_INVALID_NAME,
//   which msvcrt maps to EINVAL).
// - _stat: _S_IFDIR or _S_IFREG, read bits always, write bits unless
//   read-only, execute bits for directories and for .exe/.bat/.cmd/.com;
//   st_dev = st_rdev = drive number (25 for Z:), st_nlink 1, st_ctime =
//   st_mtime; a bare "Z:", a trailing separator and every failure give
//   ENOENT.
// - _getdcwd: only drive Z exists (number 26, or 0 for the current drive).
// - _mktemp: msvcrt's scheme, a letter then the last five digits of the
//   process id, the letter tried from 'a' to 'z' until no file has the name.
// Fault injection: a fault injected into "_access", "_stat", "_getdcwd" or
// "_mktemp" makes the call fail with errno set to the injected code.
#include "platform/crt.h"
#include "files.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace txplat::posix {

namespace {

// msvcrt's mapping of Windows error codes to errno values.
int ErrnoFromWin(DWORD error) {
    switch (error) {
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return EACCES;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_NO_MORE_FILES:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE:
        return ENOENT;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return ENOMEM;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return EEXIST;
    case ERROR_INVALID_HANDLE:
        return EBADF;
    case ERROR_TOO_MANY_OPEN_FILES:
        return EMFILE;
    case ERROR_DISK_FULL:
        return ENOSPC;
    case ERROR_DIR_NOT_EMPTY:
        return ENOTEMPTY;
    default:
        return EINVAL;
    }
}

bool Exists(const char* path) {
    struct stat st;
    DWORD attr = 0;
    DWORD error = 0;
    return PathAttributes(path, &st, &attr, &error);
}

int CurrentDrive() {
    return 26;
} // only Z: exists

} // namespace

} // namespace txplat::posix

using namespace txplat::posix;

extern "C" {

int _access(const char* path, int mode) {
    if (FaultEnter("_access")) {
        errno = static_cast<int>(GetLastError());
        return -1;
    }
    struct stat st;
    DWORD attr = 0;
    DWORD error = 0;
    if (!PathAttributes(path, &st, &attr, &error)) {
        errno = ErrnoFromWin(error);
        return -1;
    }
    if ((attr & FILE_ATTRIBUTE_READONLY) && (mode & 2)) {
        errno = EACCES;
        return -1;
    }
    return 0;
}

int _stat(const char* path, struct _stat* buffer) {
    if (FaultEnter("_stat")) {
        errno = static_cast<int>(GetLastError());
        return -1;
    }
    if (!path || !buffer) {
        errno = EINVAL;
        return -1;
    }
    size_t plen = std::strlen(path);
    while (plen && path[plen - 1] == ' ')
        plen--;
    // A bare drive and a path ending in a separator (but "X:\") are refused.
    if ((plen == 2 && path[1] == ':') ||
        (plen >= 2 && path[plen - 2] != ':' && IsSeparator(path[plen - 1]))) {
        errno = ENOENT;
        return -1;
    }
    struct stat st;
    DWORD attr = 0;
    DWORD error = 0;
    if (!PathAttributes(path, &st, &attr, &error)) {
        errno = ENOENT; // msvcrt's _stat answers ENOENT for every failure
        return -1;
    }
    const unsigned all_read = 0x0100 | 0x0020 | 0x0004;  // _S_IREAD for all
    const unsigned all_write = 0x0080 | 0x0010 | 0x0002; // _S_IWRITE for all
    const unsigned all_exec = 0x0040 | 0x0008 | 0x0001;  // _S_IEXEC for all
    unsigned mode = all_read;
    if (attr & FILE_ATTRIBUTE_DIRECTORY) {
        mode |= _S_IFDIR | all_exec;
    } else {
        mode |= _S_IFREG;
        if (plen > 6 && path[plen - 4] == '.') {
            char ext[4];
            for (int i = 0; i < 3; ++i)
                ext[i] =
                    static_cast<char>(std::tolower(static_cast<unsigned char>(path[plen - 3 + i])));
            ext[3] = '\0';
            if (!std::strcmp(ext, "exe") || !std::strcmp(ext, "bat") || !std::strcmp(ext, "cmd") ||
                !std::strcmp(ext, "com"))
                mode |= all_exec;
        }
    }
    if (!(attr & FILE_ATTRIBUTE_READONLY)) mode |= all_write;
    std::memset(buffer, 0, sizeof *buffer);
    unsigned drive = CurrentDrive() - 1;
    if (plen >= 2 && path[1] == ':')
        drive = static_cast<unsigned>(std::toupper(static_cast<unsigned char>(path[0])) - 'A');
    buffer->st_dev = buffer->st_rdev = drive;
    buffer->st_mode = static_cast<unsigned short>(mode);
    buffer->st_nlink = 1;
    buffer->st_size = (attr & FILE_ATTRIBUTE_DIRECTORY) ? 0 : static_cast<long>(st.st_size);
    buffer->st_atime = st.st_atim.tv_sec;
    buffer->st_mtime = st.st_mtim.tv_sec;
    buffer->st_ctime = st.st_mtim.tv_sec;
    return 0;
}

char* _getdcwd(int drive, char* buffer, int maxlen) {
    if (FaultEnter("_getdcwd")) {
        errno = static_cast<int>(GetLastError());
        return nullptr;
    }
    if (drive != 0 && drive != CurrentDrive()) {
        errno = EACCES; // no such drive
        return nullptr;
    }
    char cwd[PATH_MAX];
    if (!getcwd(cwd, sizeof cwd)) {
        errno = ERANGE;
        return nullptr;
    }
    std::string dir = WinPathOf(cwd);
    // msvcrt asks GetCurrentDirectoryA for at most MAX_PATH characters.
    if (dir.size() >= MAX_PATH) {
        errno = ERANGE;
        return nullptr;
    }
    int len = static_cast<int>(dir.size());
    if (!buffer) {
        size_t size = maxlen <= len ? dir.size() + 1 : static_cast<size_t>(maxlen);
        buffer = static_cast<char*>(std::malloc(size));
        if (!buffer) {
            errno = ENOMEM;
            return nullptr;
        }
    } else if (len >= maxlen) {
        errno = ERANGE;
        return nullptr;
    }
    std::memcpy(buffer, dir.c_str(), dir.size() + 1);
    return buffer;
}

char* _mktemp(char* name_template) {
    if (FaultEnter("_mktemp")) {
        errno = static_cast<int>(GetLastError());
        return nullptr;
    }
    if (!name_template) {
        errno = EINVAL;
        return nullptr;
    }
    size_t len = std::strlen(name_template);
    size_t xs = 0;
    while (xs < len && name_template[len - 1 - xs] == 'X')
        ++xs;
    if (xs < 6) {
        errno = EINVAL;
        return nullptr;
    }
    char* p = name_template + len - 6;
    unsigned id = static_cast<unsigned>(getpid());
    for (int i = 5; i >= 1; --i) {
        p[i] = static_cast<char>('0' + id % 10);
        id /= 10;
    }
    for (char letter = 'a'; letter <= 'z'; ++letter) {
        p[0] = letter;
        if (!Exists(name_template)) return name_template;
    }
    return nullptr;
}

} // extern "C"

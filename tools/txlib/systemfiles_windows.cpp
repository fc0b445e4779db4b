#include "systemfiles.h"

#include "platform/win32.h"

#include <cstdio>
#include <io.h>

namespace txlib {

namespace {

bool IdentityOfHandle(HANDLE file, FileIdentity* identity) {
    BY_HANDLE_FILE_INFORMATION info;
    if (file == INVALID_HANDLE_VALUE || file == nullptr || !GetFileInformationByHandle(file, &info))
        return false;
    identity->volume = info.dwVolumeSerialNumber;
    identity->index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return true;
}

// A stream whose standard handle is missing is opened on NUL, and so is its
// standard handle.
void Reopen(DWORD which, std::FILE* stream, const char* mode) {
    const HANDLE handle = GetStdHandle(which);
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE && _fileno(stream) >= 0) return;
    if (std::freopen("NUL", mode, stream) == nullptr) return;
    SetStdHandle(which, reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))));
}

} // namespace

void OpenStandardStreams() {
    Reopen(STD_INPUT_HANDLE, stdin, "rb");
    Reopen(STD_OUTPUT_HANDLE, stdout, "wb");
    Reopen(STD_ERROR_HANDLE, stderr, "wb");
}

bool StandardOutputIs(const std::string& path) {
    FileIdentity out, file;
    const int fd = _fileno(stdout);
    return fd >= 0 && IdentityOfHandle(reinterpret_cast<HANDLE>(_get_osfhandle(fd)), &out) &&
           IdentityOf(path, &file) && out.volume == file.volume && out.index == file.index;
}

bool NameTaken(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsLink(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool IdentityOf(const std::string& path, FileIdentity* identity) {
    HANDLE file = CreateFileA(
        path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    const bool known = IdentityOfHandle(file, identity);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    return known;
}

} // namespace txlib

#include "host/systemfiles.h"

#include "platform/win32.h"

#include <cstdio>
#include <cstring>
#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <vector>

namespace txlib {

void BinaryStream(std::FILE* stream) {
    _setmode(_fileno(stream), _O_BINARY);
}

bool IsTerminal(std::FILE* stream) {
    return _isatty(_fileno(stream)) != 0;
}

bool QuotaReached(int error) {
    (void)error;
    return false;
}

int MakeFolder(const std::string& path) {
    return _mkdir(path.c_str());
}

char PathSeparator() {
    return '\\';
}

bool BackslashSeparatesFolders() {
    return true;
}

namespace {

// The identity of an open file: its 128-bit id where the system gives one
// (Windows 8 on, and Wine, whose standard handles made from Unix descriptors
// answer no other query, with volume 0), else the 64-bit file index.
bool IdentityOfHandle(HANDLE file, FileIdentity* identity) {
    if (file == INVALID_HANDLE_VALUE || file == nullptr) return false;
    FILE_ID_INFO id;
    if (GetFileInformationByHandleEx(file, FileIdInfo, &id, sizeof id)) {
        identity->volume = id.VolumeSerialNumber;
        std::memcpy(&identity->index, id.FileId.Identifier, sizeof identity->index);
        std::memcpy(&identity->index_high, id.FileId.Identifier + 8, sizeof identity->index_high);
        return true;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info)) return false;
    identity->volume = info.dwVolumeSerialNumber;
    identity->index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return true;
}

// Whether a standard handle leads nowhere: none was given, or the one given
// refuses even an empty transfer as no handle (under Wine, a Unix
// descriptor that was closed). A full device refuses with its own error and
// counts as there. Standard input is tried only when it is a disk file: an
// empty read of a pipe may wait for data.
bool Missing(DWORD which, HANDLE handle) {
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return true;
    DWORD done = 0;
    if (which != STD_INPUT_HANDLE)
        return !WriteFile(handle, "", 0, &done, nullptr) && GetLastError() == ERROR_INVALID_HANDLE;
    if (GetFileType(handle) != FILE_TYPE_DISK) return false;
    char byte;
    if (ReadFile(handle, &byte, 0, &done, nullptr)) return false;
    const DWORD error = GetLastError();
    return error == ERROR_INVALID_HANDLE || error == ERROR_INVALID_FUNCTION;
}

// A stream whose standard handle is missing is opened on NUL, and so is its
// standard handle.
void Reopen(DWORD which, std::FILE* stream, const char* mode) {
    if (_fileno(stream) >= 0 && !Missing(which, GetStdHandle(which))) return;
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
    if (fd < 0 || !IdentityOfHandle(reinterpret_cast<HANDLE>(_get_osfhandle(fd)), &out) ||
        !IdentityOf(path, &file))
        return false;
    // A volume of 0 is one the system did not tell: the file id decides.
    return out.index == file.index && out.index_high == file.index_high &&
           (out.volume == file.volume || out.volume == 0 || file.volume == 0);
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

size_t LimitedPathLength(const std::string& path) {
    // The wide call, which makes a path absolute whatever its length.
    std::vector<wchar_t> wide(path.size() + 1);
    const int converted = MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide.data(),
                                              static_cast<int>(wide.size()));
    std::vector<wchar_t> full(32768);
    const DWORD length =
        converted == 0
            ? 0
            : GetFullPathNameW(wide.data(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    return length == 0 || length >= full.size() ? path.size() : length;
}

} // namespace txlib

// The same Win32 file calls made in the current directory, one line printed
// for each: what was asked, the answer, the last error and what was read or
// found. Built twice, over the disk (files.cpp) and over the memory store
// (memoryfiles.cpp): the two must print the same lines, so that what the
// fuzz build finds is what the launcher would meet on disk.
#include "platform/crt.h"
#include "platform/win32.h"

#include <cstdio>
#include <string>

namespace {

// A handle is shown as -1 when invalid, else 1: the two layers need not
// number them alike.
template <typename T> long AnswerOf(T value) {
    return static_cast<long>(value);
}
long AnswerOf(HANDLE handle) {
    return handle == INVALID_HANDLE_VALUE ? -1 : 1;
}

// Runs one call with the last error cleared and prints what it gave.
template <typename Call> void Step(const char* what, Call call, const std::string& seen = "") {
    SetLastError(0);
    const long answer = AnswerOf(call());
    const unsigned long error = GetLastError();
    std::printf("%-34s %6ld %4lu %s\n", what, answer, error, seen.c_str());
}

HANDLE Open(const char* path, DWORD access, DWORD disposition, DWORD attributes = 0) {
    return CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, disposition,
                       attributes, nullptr);
}

const DWORD kReadWrite = GENERIC_READ | GENERIC_WRITE;

std::string Read(HANDLE h, DWORD count) {
    std::string bytes(count, '\0');
    DWORD got = 0;
    if (!ReadFile(h, bytes.data(), count, &got, nullptr)) return "(failed)";
    bytes.resize(got);
    for (char& c : bytes)
        if (c == 0) c = '0';
    return "[" + bytes + "]";
}

BOOL Write(HANDLE h, const char* text) {
    DWORD done = 0;
    return WriteFile(h, text, static_cast<DWORD>(std::string(text).size()), &done, nullptr);
}

// The names a search finds, with "d" after folders and the size after files.
std::string Found(const char* pattern) {
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA(pattern, &data);
    if (search == INVALID_HANDLE_VALUE) return "(none, " + std::to_string(GetLastError()) + ")";
    std::string names;
    do {
        names += std::string(data.cFileName) + "/" + data.cAlternateFileName;
        names += (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                     ? " d "
                     : " " + std::to_string(data.nFileSizeLow) + " ";
        if (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY) names += "r ";
    } while (FindNextFileA(search, &data));
    FindClose(search);
    return names;
}

std::string Stat(const char* path) {
    struct _stat st;
    if (_stat(path, &st) != 0) return "(no status)";
    return std::to_string(st.st_mode) + " " + std::to_string(st.st_size);
}

} // namespace

int main() {
    // Dispositions, on names that exist and names that do not.
    HANDLE a = INVALID_HANDLE_VALUE, b = INVALID_HANDLE_VALUE;
    Step("create new A.TXT", [&] { return a = Open("A.TXT", kReadWrite, CREATE_NEW); });
    Step("create new a.txt again", [] { return Open("a.txt", kReadWrite, CREATE_NEW); });
    Step("open missing", [] { return Open("NONE.TXT", GENERIC_READ, OPEN_EXISTING); });
    Step("open in missing folder", [] { return Open("NO\\X.TXT", GENERIC_READ, OPEN_EXISTING); });
    Step("create in missing folder", [] { return Open("NO\\X.TXT", kReadWrite, CREATE_ALWAYS); });
    Step("truncate missing", [] { return Open("NONE.TXT", kReadWrite, TRUNCATE_EXISTING); });

    // Bytes: writing past the end leaves zeros, reading at the end nothing.
    Step("write A", [&] { return Write(a, "hello"); });
    Step("seek past end", [&] { return SetFilePointer(a, 3, nullptr, FILE_END); });
    Step("write after gap", [&] { return Write(a, "XY"); });
    Step("size", [&] { return GetFileSize(a, nullptr); });
    Step("seek before start", [&] { return SetFilePointer(a, -1, nullptr, FILE_BEGIN); });
    Step("seek back", [&] { return SetFilePointer(a, -6, nullptr, FILE_CURRENT); });
    Step(
        "read to end", [&] { return 1; }, Read(a, 100));
    Step(
        "read at end", [&] { return 1; }, Read(a, 10));
    Step("seek to 2", [&] { return SetFilePointer(a, 2, nullptr, FILE_BEGIN); });
    Step("cut at 2", [&] { return SetEndOfFile(a); });
    Step("size after cut", [&] { return GetFileSize(a, nullptr); });

    // Names without regard to case, trailing dots and spaces dropped.
    Step("open other case, always", [&] { return b = Open("a.TxT. ", kReadWrite, OPEN_ALWAYS); });
    Step(
        "read through it", [&] { return 1; }, Read(b, 10));
    Step("close second", [&] { return CloseHandle(b); });
    Step("create always A.TXT", [&] { return b = Open("A.TXT", GENERIC_WRITE, CREATE_ALWAYS); });
    Step("size seen by first", [&] { return GetFileSize(a, nullptr); });
    Step(
        "read on write-only", [&] { return 1; }, Read(b, 1));
    Step("write on", [&] { return Write(b, "abcdef"); });
    Step("file\\ names no file", [] { return Open("A.TXT\\", GENERIC_READ, OPEN_EXISTING); });

    // Byte-range locks, Windows' way.
    Step("lock 0+4", [&] { return LockFile(a, 0, 0, 4, 0); });
    Step("lock 2+4 same handle", [&] { return LockFile(a, 2, 0, 4, 0); });
    Step("lock 2+4 other handle", [&] { return LockFile(b, 2, 0, 4, 0); });
    Step("lock 4+4 other handle", [&] { return LockFile(b, 4, 0, 4, 0); });
    Step("unlock unlocked range", [&] { return UnlockFile(a, 0, 0, 3, 0); });
    Step("unlock other's range", [&] { return UnlockFile(a, 4, 0, 4, 0); });
    Step("close second", [&] { return CloseHandle(b); });
    Step("lock 4+4 again", [&] { return LockFile(a, 4, 0, 4, 0); });
    Step("unlock 0+4", [&] { return UnlockFile(a, 0, 0, 4, 0); });

    // Times set are times read.
    FILETIME set{0x12345000, 0x01d00000}, written{}, accessed{};
    Step("set write time", [&] { return SetFileTime(a, nullptr, nullptr, &set); });
    Step("get it", [&] { return GetFileTime(a, nullptr, &accessed, &written); });
    Step(
        "time read", [] { return 1; },
        std::to_string(written.dwHighDateTime) + " " + std::to_string(written.dwLowDateTime));

    // Deleted while open: the handle still reads it, the name is free.
    Step("delete open A.TXT", [] { return DeleteFileA("A.TXT"); });
    Step("back to start", [&] { return SetFilePointer(a, 0, nullptr, FILE_BEGIN); });
    Step(
        "read deleted", [] { return 1; }, Read(a, 10));
    Step("open deleted", [] { return Open("A.TXT", GENERIC_READ, OPEN_EXISTING); });
    Step("delete again", [] { return DeleteFileA("A.TXT"); });
    Step("close deleted", [&] { return CloseHandle(a); });
    Step("close again", [&] { return CloseHandle(a); });

    // Read-only files.
    Step("create read-only", [&] {
        HANDLE h = Open("RO.TXT", kReadWrite, CREATE_NEW, FILE_ATTRIBUTE_READONLY);
        return h != INVALID_HANDLE_VALUE && Write(h, "ro") && CloseHandle(h);
    });
    Step("open read-only for write", [] { return Open("RO.TXT", GENERIC_WRITE, OPEN_EXISTING); });
    Step("delete read-only", [] { return DeleteFileA("RO.TXT"); });
    Step("access read-only for write", [] { return _access("RO.TXT", 2); });
    Step(
        "status read-only", [] { return 1; }, Stat("RO.TXT"));

    // Folders.
    Step("make DIR", [] { return CreateDirectoryA("DIR", nullptr); });
    Step("make dir again", [] { return CreateDirectoryA("dir", nullptr); });
    Step("make in missing", [] { return CreateDirectoryA("NO\\SUB", nullptr); });
    Step("make over file", [] { return CreateDirectoryA("RO.TXT", nullptr); });
    Step("open folder as file", [] { return Open("DIR", GENERIC_READ, OPEN_EXISTING); });
    Step("create new over folder", [] { return Open("DIR", kReadWrite, CREATE_NEW); });
    Step("file in DIR", [] {
        HANDLE h = Open("DIR\\Long File Name.Text", GENERIC_WRITE, CREATE_NEW);
        return h != INVALID_HANDLE_VALUE && Write(h, "1234") && CloseHandle(h);
    });
    Step("second in DIR", [] { return CloseHandle(Open("dir\\b.c", GENERIC_WRITE, CREATE_NEW)); });
    Step("remove full DIR", [] { return RemoveDirectoryA("DIR"); });
    Step("remove missing", [] { return RemoveDirectoryA("GONE"); });
    Step("remove a file", [] { return RemoveDirectoryA("RO.TXT"); });
    Step("delete a folder", [] { return DeleteFileA("DIR"); });
    Step(
        "status DIR", [] { return 1; }, Stat("DIR"));
    Step(
        "status dir\\", [] { return 1; }, Stat("dir\\"));
    Step(
        "status missing", [] { return 1; }, Stat("GONE"));
    Step("access missing", [] { return _access("NO\\GONE", 0); });

    // Searches.
    Step(
        "find dir\\*", [] { return 1; }, Found("dir\\*"));
    Step(
        "find *.TXT", [] { return 1; }, Found("*.TXT"));
    Step(
        "find DIR\\LONG*", [] { return 1; }, Found("DIR\\LONG*"));
    Step(
        "find exact other case", [] { return 1; }, Found("dir\\LONG FILE NAME.TEXT"));
    Step(
        "find dir\\.", [] { return 1; }, Found("dir\\."));
    Step(
        "find dir\\", [] { return 1; }, Found("dir\\"));
    Step(
        "find in missing", [] { return 1; }, Found("NO\\*"));
    Step(
        "find in a file", [] { return 1; }, Found("RO.TXT\\*"));
    Step(
        "find nothing", [] { return 1; }, Found("*.none"));

    // Renames.
    Step("move onto existing", [] { return MoveFileExA("DIR\\B.C", "RO.TXT", 0); });
    Step("move onto read-only",
         [] { return MoveFileExA("DIR\\B.C", "RO.TXT", MOVEFILE_REPLACE_EXISTING); });
    Step("move to missing folder", [] { return MoveFileExA("DIR\\B.C", "NO\\B.C", 0); });
    Step("move missing", [] { return MoveFileExA("DIR\\NONE", "X", 0); });
    Step("move out of DIR", [] { return MoveFileExA("DIR\\B.C", "Top.C", 0); });
    Step("move folder", [] { return MoveFileExA("dir", "Moved", 0); });
    Step(
        "find Moved\\*", [] { return 1; }, Found("Moved\\*"));
    Step("move folder onto file",
         [] { return MoveFileExA("MOVED", "TOP.C", MOVEFILE_REPLACE_EXISTING); });
    Step("replace file",
         [] { return MoveFileExA("Top.C", "Moved\\b.c", MOVEFILE_REPLACE_EXISTING); });
    Step(
        "find *", [] { return 1; }, Found("*"));
    Step(
        "find Moved\\*", [] { return 1; }, Found("Moved\\*"));
    return 0;
}

// The tool's file handling on Windows: handles, a lock file beside the file
// written, and renames through MoveFileEx.
#include "host/files.h"
#include "host/files_system.h"

#include "host/text.h"
#include "host/errortext.h"
#include "host/failure.h"

#include "platform/win32.h"

#include <cstdio>
#include <process.h>
#include <sys/stat.h>
#include <thread>

namespace txlib {

namespace files_system {

const char kSeparators[] = "\\/:";

std::string Reason() {
    return ErrnoText();
}

std::string SystemReason() {
    const DWORD error = GetLastError();
    return error == 0 ? std::string("the system gives no reason") : WindowsErrorText(error);
}

unsigned long OwnProcess() {
    return static_cast<unsigned long>(_getpid());
}

int Seek(std::FILE* f, int64_t offset, int whence) {
    return _fseeki64(f, offset, whence);
}

StreamKind KindOf(std::FILE* f) {
    struct _stat64 st;
    StreamKind kind;
    kind.known = _fstat64(_fileno(f), &st) == 0;
    kind.directory = kind.known && (st.st_mode & _S_IFMT) == _S_IFDIR;
    kind.regular = kind.known && (st.st_mode & _S_IFMT) == _S_IFREG;
    kind.size = kind.known ? static_cast<int64_t>(st.st_size) : 0;
    return kind;
}

bool ProcessGone(unsigned long pid) {
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
    if (process == nullptr) return GetLastError() == ERROR_INVALID_PARAMETER;
    const bool ended = WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
    CloseHandle(process);
    return ended;
}

std::vector<std::string> NamesHolding(const std::string& directory, const char* mark) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((directory + "*" + mark + "*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        names.emplace_back(entry.cFileName);
    } while (FindNextFileA(search, &entry));
    FindClose(search);
    return names;
}

bool RemoveLeftover(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return DeleteFileA(path.c_str()) != 0;
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((path + "\\*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                DeleteFileA((path + "\\" + entry.cFileName).c_str());
        } while (FindNextFileA(search, &entry));
        FindClose(search);
    }
    return RemoveDirectoryA(path.c_str()) != 0;
}

int CreateTemporary(const std::string& path, intptr_t* file) {
    (void)file;
    HANDLE made =
        CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (made != INVALID_HANDLE_VALUE) {
        CloseHandle(made); // the core opens it again, without sharing
        return 1;
    }
    return GetLastError() == ERROR_FILE_EXISTS || GetLastError() == ERROR_ALREADY_EXISTS ? 0 : -1;
}

void DropTemporary(const std::string& temp, const std::string& private_directory, intptr_t file) {
    (void)file;
    if (!temp.empty()) std::remove(temp.c_str());
    if (!private_directory.empty()) RemoveDirectoryA(private_directory.c_str());
}

bool MakePrivateDirectory(const std::string& directory, intptr_t* file) {
    (void)file;
    return CreateDirectoryA(directory.c_str(), nullptr) != 0;
}

std::FILE* OpenTemporary(const std::string& temp, intptr_t file) {
    (void)file;
    return std::fopen(temp.c_str(), "r+b");
}

} // namespace files_system

using namespace files_system;

bool SameFile(const std::string& a, const std::string& b) {
    auto identity = [](const std::string& path, BY_HANDLE_FILE_INFORMATION* info) {
        HANDLE file =
            CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (file == INVALID_HANDLE_VALUE) return false;
        const bool known = GetFileInformationByHandle(file, info) != 0;
        CloseHandle(file);
        return known;
    };
    BY_HANDLE_FILE_INFORMATION x, y;
    return identity(a, &x) && identity(b, &y) && x.dwVolumeSerialNumber == y.dwVolumeSerialNumber &&
           x.nFileIndexHigh == y.nFileIndexHigh && x.nFileIndexLow == y.nFileIndexLow;
}

int64_t FileSizeOnDisk(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return -1;
    const int64_t size = Seek(f, 0, SEEK_END) == 0 ? _ftelli64(f) : -1;
    std::fclose(f);
    return size;
}

int64_t FreeSpaceAt(const std::string& path) {
    std::string directory, name;
    SplitPath(path, &directory, &name);
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExA(directory.empty() ? nullptr : directory.c_str(), &available, nullptr,
                             nullptr))
        return -1;
    return available.QuadPart > static_cast<uint64_t>(INT64_MAX)
               ? INT64_MAX
               : static_cast<int64_t>(available.QuadPart);
}

void WriteLock::Release() {
    if (lock_ == -1) return;
    CloseHandle(reinterpret_cast<HANDLE>(lock_));
    lock_ = -1;
}

// Windows replaces no file that is open, so the lock is a file of its own
// beside the one written, NAME.txlib-lock, that only one process can have
// open; the system deletes it when it is closed, also when its holder dies.
void WriteLock::Take(const std::string& path, int wait_seconds) {
    const std::string lock_path = path + ".txlib-lock";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(wait_seconds);
    for (;;) {
        HANDLE lock =
            CreateFileA(lock_path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                        FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (lock != INVALID_HANDLE_VALUE) {
            lock_ = reinterpret_cast<intptr_t>(lock);
            break;
        }
        const DWORD error = GetLastError();
        // Held, or being deleted by the holder that just let it go.
        const bool busy = error == ERROR_SHARING_VIOLATION ||
                          (error == ERROR_ACCESS_DENIED &&
                           GetFileAttributesA(lock_path.c_str()) != INVALID_FILE_ATTRIBUTES);
        if (!busy)
            Fail(path, WithCause("cannot be locked for writing", error) + "; nothing written");
        if (std::chrono::steady_clock::now() >= deadline)
            Fail(path, "another txlib is writing it; gave up after " +
                           std::to_string(wait_seconds) + " seconds; nothing written");
        std::this_thread::sleep_for(kLockPoll);
    }

    const DWORD attributes = GetFileAttributesA(path.c_str());
    existed_ = attributes != INVALID_FILE_ATTRIBUTES;
    if (!existed_) return;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) Fail(path, "is a directory; nothing written");
    if (attributes & FILE_ATTRIBUTE_READONLY) Fail(path, "is read-only; nothing written");
    HANDLE file =
        CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) Fail(path, "cannot open: " + SystemReason());
    BY_HANDLE_FILE_INFORMATION info;
    const bool known = GetFileInformationByHandle(file, &info) != 0;
    CloseHandle(file);
    if (known && info.nNumberOfLinks > 1)
        Fail(path, "has " + std::to_string(info.nNumberOfLinks) +
                       " names (hard links); a new copy would leave the others with the old "
                       "contents; nothing written");
}

// Windows has no write-out that is started and not waited for: the sync
// before the rename does all of it.
WriteBehind::WriteBehind(const std::string& path) {
    (void)path;
}

WriteBehind::~WriteBehind() = default;

void WriteBehind::Wrote(uint64_t bytes) {
    (void)bytes;
}

void OutputFile::Commit() {
    Close();
    // Replaced only where the file was there, and locked, at the start.
    const bool replace = lock_ == nullptr || lock_->Existed();
    // A library or a program written under a lock is put on disk before it
    // takes its name, and its directory after, so that a power cut leaves
    // the old file or the new one. An extracted member is not: it can be
    // extracted again, and syncing each of many files would multiply the
    // time extraction takes.
    const bool durable = lock_ != nullptr;
    if (durable) {
        HANDLE file = CreateFileA(temp_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        const bool synced = file != INVALID_HANDLE_VALUE && FlushFileBuffers(file);
        const std::string reason = synced ? std::string() : SystemReason();
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
        if (!synced) Fail(final_, "cannot put it on disk: " + reason + "; nothing written");
    }
    const DWORD flags =
        (durable ? MOVEFILE_WRITE_THROUGH : 0) | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
    if (!MoveFileExA(temp_.c_str(), target_.c_str(), flags)) {
        const DWORD error = GetLastError();
        if (!replace && (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS))
            Fail(final_, "was made by someone else meanwhile; nothing written");
        Fail(final_, WithCause("cannot replace", error));
    }
    committed_ = true;
}

void RemoveEmptyFolder(const std::string& path) {
    RemoveDirectoryA(path.c_str());
}

} // namespace txlib

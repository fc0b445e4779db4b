#include "host/files.h"

#include "host/errortext.h"
#include "host/failure.h"
#include "formats/text.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <sys/stat.h>
#include <thread>

#ifdef _WIN32
#include "platform/win32.h"
#include <process.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/statvfs.h>
#include <unistd.h>
#endif

namespace txlib {

namespace {

std::string Reason() {
    return ErrnoText();
}

// Positions a stream at a 64-bit offset from `whence`: 0 when it could.
int Seek(std::FILE* f, int64_t offset, int whence) {
#ifdef _WIN32
    return _fseeki64(f, offset, whence);
#else
    return fseeko(f, static_cast<off_t>(offset), whence);
#endif
}

#ifdef _WIN32
constexpr char kSeparators[] = "\\/:";
std::string SystemReason() {
    const DWORD error = GetLastError();
    return error == 0 ? std::string("the system gives no reason") : WindowsErrorText(error);
}
unsigned long OwnProcess() {
    return static_cast<unsigned long>(_getpid());
}
#else
constexpr char kSeparators[] = "/";
std::string SystemReason() {
    return Reason();
}
unsigned long OwnProcess() {
    return static_cast<unsigned long>(getpid());
}
#endif

constexpr char kTemporaryMark[] = ".txlib-";
constexpr auto kLockPoll = std::chrono::milliseconds(25);

// The directory part of a path ("" for the current directory) and its name.
void SplitPath(const std::string& path, std::string* directory, std::string* name) {
    const size_t at = path.find_last_of(kSeparators);
    *directory = at == std::string::npos ? "" : path.substr(0, at + 1);
    *name = at == std::string::npos ? path : path.substr(at + 1);
}

// The locks this process holds, by the path given to them, so that the
// output written under one knows where it goes and what it replaces.
std::map<std::string, const WriteLock*>& HeldLocks() {
    static std::map<std::string, const WriteLock*> locks;
    return locks;
}

// A number that another process cannot guess, for temporary names.
uint32_t Unpredictable() {
    static uint32_t counter = 0;
    uint32_t value =
        static_cast<uint32_t>(std::chrono::high_resolution_clock::now().time_since_epoch().count());
    try {
        std::random_device device;
        value ^= device();
    } catch (...) { // no source of randomness: the time and the count only
    }
    return value ^ (++counter * 0x9E3779B9u);
}

std::string Hex32(uint32_t value) {
    char text[9];
    std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(value));
    return text;
}

// Whether the process `pid` has ended, so that what it left is nobody's.
// A process that cannot be asked counts as alive.
bool ProcessEnded(unsigned long pid) {
    if (pid == OwnProcess() || pid == 0) return false;
#ifdef _WIN32
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
    if (process == nullptr) return GetLastError() == ERROR_INVALID_PARAMETER;
    const bool ended = WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
    CloseHandle(process);
    return ended;
#else
    return kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
#endif
}

// Removes a temporary file, or a temporary directory and the files in it,
// that a process which has ended left. A file some process still has open
// (Windows) or holds locked (POSIX: a txlib elsewhere) stays, and so does
// anything but files and directories.
bool RemoveLeftover(const std::string& path) {
#ifdef _WIN32
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
#else
    const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st;
    bool removed = false;
    if (fstat(fd, &st) == 0 && flock(fd, LOCK_EX | LOCK_NB) == 0) {
        if (S_ISREG(st.st_mode)) {
            removed = unlink(path.c_str()) == 0;
        } else if (S_ISDIR(st.st_mode)) {
            const int inner = dup(fd);
            DIR* listing = inner < 0 ? nullptr : fdopendir(inner);
            if (listing == nullptr && inner >= 0) close(inner);
            if (listing != nullptr) {
                while (const dirent* entry = readdir(listing))
                    if (std::strcmp(entry->d_name, ".") != 0 &&
                        std::strcmp(entry->d_name, "..") != 0)
                        unlinkat(dirfd(listing), entry->d_name, 0);
                closedir(listing);
            }
            removed = rmdir(path.c_str()) == 0;
        }
    }
    close(fd);
    return removed;
#endif
}

// Removes the temporary files in `directory` that txlib processes which have
// ended left behind, saying so; each directory is looked through once.
void RemoveLeftovers(const std::string& directory) {
    static std::set<std::string> done;
    if (!done.insert(directory).second) return;
    std::vector<std::pair<std::string, unsigned long>> found;
#ifdef _WIN32
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((directory + "*" + kTemporaryMark + "*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        unsigned long pid = 0;
        if (TemporaryNameOf(entry.cFileName, &pid)) found.emplace_back(entry.cFileName, pid);
    } while (FindNextFileA(search, &entry));
    FindClose(search);
#else
    DIR* listing = opendir(directory.empty() ? "." : directory.c_str());
    if (listing == nullptr) return;
    while (const dirent* entry = readdir(listing)) {
        unsigned long pid = 0;
        if (TemporaryNameOf(entry->d_name, &pid)) found.emplace_back(entry->d_name, pid);
    }
    closedir(listing);
#endif
    for (const auto& [leftover, pid] : found) {
        if (!ProcessEnded(pid)) continue;
        const std::string path = directory + leftover;
        if (RemoveLeftover(path))
            std::fprintf(stderr, "txlib: removed %s, left by txlib process %lu, which has ended\n",
                         EscapeControls(path).c_str(), pid);
    }
}

#ifndef _WIN32

// The mode a new file gets: 0666 less the umask.
unsigned NewFileMode() {
    static const unsigned mode = [] {
        const mode_t mask = umask(0);
        umask(mask);
        return 0666u & ~static_cast<unsigned>(mask);
    }();
    return mode;
}

// Puts a directory's entries on disk. File systems that cannot are let be.
void SyncDirectory(const std::string& directory, const std::string& shown) {
    const int fd =
        open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    const int synced = fsync(fd);
    const int error = errno;
    close(fd);
    if (synced != 0 && error != EINVAL && error != ENOTSUP)
        Fail(shown, std::string("was written, but its directory cannot be put on disk: ") +
                        std::strerror(error));
}

// Renames without replacing: false with EEXIST when `to` exists.
bool RenameNew(const std::string& from, const std::string& to) {
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // A file system without that rename: a second name, then the first goes.
    if (link(from.c_str(), to.c_str()) == 0) {
        unlink(from.c_str());
        return true;
    }
    return false;
}

#endif

} // namespace

InputFile::InputFile(std::string path) : path_(std::move(path)) {
    file_ = std::fopen(path_.c_str(), "rb");
    if (!file_) Fail(path_, "cannot open: " + Reason());
    // The windows below are the only buffering: a large read goes straight
    // into the caller's buffer.
    std::setvbuf(file_, nullptr, _IONBF, 0);
#ifdef _WIN32
    struct _stat64 st;
    const bool known = _fstat64(_fileno(file_), &st) == 0;
    const bool directory = known && (st.st_mode & _S_IFMT) == _S_IFDIR;
    const bool regular = known && (st.st_mode & _S_IFMT) == _S_IFREG;
#else
    struct stat st;
    const bool known = ::fstat(fileno(file_), &st) == 0;
    const bool directory = known && S_ISDIR(st.st_mode);
    const bool regular = known && S_ISREG(st.st_mode);
#endif
    if (!regular || st.st_size < 0) {
        const std::string why = !known      ? "cannot read: " + Reason()
                                : directory ? std::string("is a directory")
                                            : std::string("is not a regular file");
        std::fclose(file_);
        file_ = nullptr;
        Fail(path_, why);
    }
    size_ = static_cast<uint64_t>(st.st_size);
}

InputFile::~InputFile() {
    if (file_) std::fclose(file_);
}

void InputFile::ReadDirect(uint64_t offset, void* out, size_t count) const {
    if (count == 0) return;
    if (Seek(file_, static_cast<int64_t>(offset), SEEK_SET) != 0)
        Fail(path_, "cannot read: " + Reason());
    const size_t got = std::fread(out, 1, count, file_);
    if (got == count) return;
    if (std::ferror(file_)) Fail(path_, "cannot read: " + Reason());
    Fail(path_, "cannot read: the file is shorter than it was");
}

const InputFile::Window& InputFile::WindowAt(uint64_t start) const {
    Window* oldest = &windows_[0];
    for (Window& w : windows_) {
        if (w.used != 0 && w.start == start) {
            w.used = ++clock_;
            return w;
        }
        if (w.used < oldest->used) oldest = &w;
    }
    const uint64_t left = size_ - start;
    oldest->used = 0; // empty until it holds the new bytes
    oldest->bytes.resize(kWindow);
    oldest->start = start;
    oldest->size = left < kWindow ? static_cast<size_t>(left) : kWindow;
    ReadDirect(start, oldest->bytes.data(), oldest->size);
    oldest->used = ++clock_;
    return *oldest;
}

void InputFile::Read(uint64_t offset, void* out, size_t count) const {
    if (offset > size_ || count > size_ - offset)
        Fail(path_, "cannot read: the bytes asked for lie beyond its end");
    if (count >= kWindow) {
        ReadDirect(offset, out, count);
        return;
    }
    auto* to = static_cast<uint8_t*>(out);
    while (count > 0) {
        const Window& w = WindowAt(offset / kWindow * kWindow);
        const size_t at = static_cast<size_t>(offset - w.start);
        const size_t n = w.size - at < count ? w.size - at : count;
        std::memcpy(to, w.bytes.data() + at, n);
        to += n;
        offset += n;
        count -= n;
    }
}

std::vector<uint8_t> InputFile::ReadRange(uint64_t offset, size_t count) const {
    const uint64_t left = offset < size_ ? size_ - offset : 0;
    std::vector<uint8_t> bytes(left < count ? static_cast<size_t>(left) : count);
    Read(offset < size_ ? offset : size_, bytes.data(), bytes.size());
    return bytes;
}

bool FileExistsOnDisk(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

bool SameFile(const std::string& a, const std::string& b) {
#ifdef _WIN32
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
#else
    struct stat x, y;
    return ::stat(a.c_str(), &x) == 0 && ::stat(b.c_str(), &y) == 0 && x.st_dev == y.st_dev &&
           x.st_ino == y.st_ino;
#endif
}

int64_t FileSizeOnDisk(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return -1;
#ifdef _WIN32
    const int64_t size = Seek(f, 0, SEEK_END) == 0 ? _ftelli64(f) : -1;
#else
    const int64_t size = Seek(f, 0, SEEK_END) == 0 ? static_cast<int64_t>(ftello(f)) : -1;
#endif
    std::fclose(f);
    return size;
}

int64_t FreeSpaceAt(const std::string& path) {
    std::string directory, name;
    SplitPath(path, &directory, &name);
#ifdef _WIN32
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExA(directory.empty() ? nullptr : directory.c_str(), &available, nullptr,
                             nullptr))
        return -1;
    return available.QuadPart > static_cast<uint64_t>(INT64_MAX)
               ? INT64_MAX
               : static_cast<int64_t>(available.QuadPart);
#else
    struct statvfs st;
    if (statvfs(directory.empty() ? "." : directory.c_str(), &st) != 0) return -1;
    const uint64_t available = static_cast<uint64_t>(st.f_bavail) * st.f_frsize;
    return available > static_cast<uint64_t>(INT64_MAX) ? INT64_MAX
                                                        : static_cast<int64_t>(available);
#endif
}

bool TemporaryNameOf(const std::string& name, unsigned long* pid) {
    const size_t mark = name.rfind(kTemporaryMark);
    if (mark == 0 || mark == std::string::npos) return false;
    const std::string rest = name.substr(mark + sizeof kTemporaryMark - 1);
    const size_t dash = rest.find('-');
    if (dash == 0 || dash == std::string::npos || dash > 10 || dash + 1 == rest.size())
        return false;
    if (rest.find_first_not_of("0123456789") != dash) return false;
    if (rest.find_first_not_of("0123456789abcdef", dash + 1) != std::string::npos) return false;
    uint64_t value = 0;
    for (size_t i = 0; i < dash; ++i)
        value = value * 10 + static_cast<uint64_t>(rest[i] - '0');
    if (value > 0xFFFFFFFFu) return false;
    *pid = static_cast<unsigned long>(value);
    return true;
}

WriteLock::WriteLock(const std::string& path, bool wanted, int wait_seconds)
    : path_(path), target_(path) {
    if (!wanted) return;
    if (HeldLocks().count(path) != 0) Fail(path, "is already being written by this command");
    try {
        Take(path, wait_seconds);
    } catch (...) {
        Release();
        throw;
    }
    HeldLocks()[path] = this;
    held_ = true;
}

WriteLock::~WriteLock() {
    if (held_) HeldLocks().erase(path_);
    Release();
}

void WriteLock::Release() {
    if (lock_ == -1) return;
#ifdef _WIN32
    CloseHandle(reinterpret_cast<HANDLE>(lock_));
#else
    close(static_cast<int>(lock_));
#endif
    lock_ = -1;
}

#ifdef _WIN32

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

#else

// The file itself is locked (flock). A command that waited for it checks,
// once it has the lock, that the name still leads to the file it locked: the
// one before it may have put a new file in its place.
void WriteLock::Take(const std::string& path, int wait_seconds) {
    struct stat st;
    if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        char* resolved = realpath(path.c_str(), nullptr);
        if (resolved == nullptr)
            Fail(path, "is a symbolic link that leads nowhere (" + Reason() + "); nothing written");
        target_ = resolved;
        std::free(resolved);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(wait_seconds);
    int fd = -1;
    for (;;) {
        fd = open(target_.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            if (errno == ENOENT) return; // a new file: made in the end only where none is
            Fail(path, "cannot open: " + Reason());
        }
        if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            close(fd);
            Fail(path, "is not a regular file; nothing written");
        }
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
            struct stat now;
            if (::stat(target_.c_str(), &now) == 0 && now.st_dev == st.st_dev &&
                now.st_ino == st.st_ino)
                break;
        } else if (errno == ENOLCK || errno == EOPNOTSUPP || errno == ENOSYS || errno == EINVAL) {
            // A file system that keeps no locks: written as before, unguarded.
            std::fprintf(stderr,
                         "txlib: %s: its file system cannot lock it; a second txlib writing it "
                         "at the same time could undo this one's work\n",
                         path.c_str());
            break;
        } else if (errno != EWOULDBLOCK) {
            const std::string reason = Reason();
            close(fd);
            Fail(path, "cannot be locked for writing: " + reason + "; nothing written");
        }
        close(fd);
        if (std::chrono::steady_clock::now() >= deadline)
            Fail(path, "another txlib is writing it; gave up after " +
                           std::to_string(wait_seconds) + " seconds; nothing written");
        std::this_thread::sleep_for(kLockPoll);
    }
    lock_ = fd;
    existed_ = true;
    mode_ = static_cast<unsigned>(st.st_mode & 07777);
    owner_ = static_cast<long>(st.st_uid);
    group_ = static_cast<long>(st.st_gid);
    if ((st.st_mode & 0222) == 0 || access(target_.c_str(), W_OK) != 0)
        Fail(path, "is read-only; nothing written");
    if (st.st_nlink > 1)
        Fail(path, "has " + std::to_string(st.st_nlink) +
                       " names (hard links); a new copy would leave the others with the old "
                       "contents; nothing written");
    if (st.st_uid != geteuid() && geteuid() != 0)
        Fail(path, "belongs to another user; a new copy would not keep its owner; nothing written");
}

#endif

namespace {
// Written bytes between two write-outs started by WriteBehind.
constexpr uint64_t kWriteBehindStep = 2u << 20;
} // namespace

WriteBehind::WriteBehind(const std::string& path) {
#if defined(__linux__)
    file_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
#else
    (void)path;
#endif
}

WriteBehind::~WriteBehind() {
#if defined(__linux__)
    if (file_ >= 0) ::close(static_cast<int>(file_));
#endif
}

void WriteBehind::Wrote(uint64_t bytes) {
    pending_ += bytes;
    if (pending_ < kWriteBehindStep) return;
    pending_ = 0;
#if defined(__linux__)
    // Write-out of the dirty pages of the whole file is started, not waited
    // for; a failure here only leaves more for the sync.
    if (file_ >= 0) (void)sync_file_range(static_cast<int>(file_), 0, 0, SYNC_FILE_RANGE_WRITE);
#endif
}

OutputFile::OutputFile(std::string final_path) : final_(std::move(final_path)), target_(final_) {
    const auto held = HeldLocks().find(final_);
    if (held != HeldLocks().end()) {
        lock_ = held->second;
        target_ = lock_->Target();
    }
    std::string directory, name;
    SplitPath(target_, &directory, &name);
    RemoveLeftovers(directory);

    // Made anew: an existing name, a link among them, is never opened.
    const std::string stem = target_ + kTemporaryMark + std::to_string(OwnProcess()) + "-";
    for (int attempt = 0;; ++attempt) {
        temp_ = stem + Hex32(Unpredictable());
#ifdef _WIN32
        HANDLE file = CreateFileA(temp_.c_str(), GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            CloseHandle(file); // the core opens it again, without sharing
            return;
        }
        const bool taken =
            GetLastError() == ERROR_FILE_EXISTS || GetLastError() == ERROR_ALREADY_EXISTS;
#else
        const int fd =
            open(temp_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) {
            // Held locked while this process lives: a later command takes
            // only what no one holds.
            flock(fd, LOCK_EX | LOCK_NB);
            file_ = fd;
            return;
        }
        const bool taken = errno == EEXIST;
#endif
        if (!taken || attempt == 16) {
            const std::string reason = SystemReason();
            temp_.clear();
            Fail(final_, "cannot write beside it: " + reason);
        }
    }
}

OutputFile::~OutputFile() {
    if (stream_) std::fclose(stream_);
    if (!committed_ && !temp_.empty()) std::remove(temp_.c_str());
#ifdef _WIN32
    if (!private_.empty()) RemoveDirectoryA(private_.c_str());
#else
    if (!private_.empty()) rmdir(private_.c_str());
    if (file_ != -1) close(static_cast<int>(file_));
#endif
}

const std::string& OutputFile::PathToMake() {
    if (!private_.empty()) return temp_;
    // The reserved name becomes a directory that only this process writes.
    std::remove(temp_.c_str());
    const std::string directory = temp_;
    temp_.clear();
#ifdef _WIN32
    const bool made = CreateDirectoryA(directory.c_str(), nullptr) != 0;
#else
    close(static_cast<int>(file_));
    file_ = -1;
    const bool made = mkdir(directory.c_str(), 0700) == 0;
#endif
    if (!made) Fail(final_, "cannot write beside it: " + SystemReason());
    private_ = directory;
#ifndef _WIN32
    file_ = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (file_ != -1) flock(static_cast<int>(file_), LOCK_EX | LOCK_NB);
#endif
    std::string parent, name;
    SplitPath(target_, &parent, &name);
    temp_ = private_ + (kSeparators[0] == '/' ? "/" : "\\") + name;
    return temp_;
}

void OutputFile::Open() {
#ifdef _WIN32
    stream_ = std::fopen(temp_.c_str(), "r+b");
#else
    const int fd = dup(static_cast<int>(file_));
    stream_ = fd < 0 ? nullptr : fdopen(fd, "r+b");
    if (!stream_ && fd >= 0) close(fd);
#endif
    if (!stream_) Fail(final_, "cannot write: " + Reason());
    // The tool writes in large pieces: each goes to the system as it is, in
    // one call, rather than through a small buffer that splits it in two.
    std::setvbuf(stream_, nullptr, _IONBF, 0);
}

void OutputFile::Write(const void* data, size_t size) {
    if (size > 0 && std::fwrite(data, 1, size, stream_) != size)
        Fail(final_, "cannot write: " + Reason());
}

void OutputFile::WriteAt(uint64_t offset, const void* data, size_t size) {
    if (Seek(stream_, static_cast<int64_t>(offset), SEEK_SET) != 0 ||
        std::fwrite(data, 1, size, stream_) != size || Seek(stream_, 0, SEEK_END) != 0)
        Fail(final_, "cannot write: " + Reason());
}

void OutputFile::CopyFrom(const std::string& from, uint64_t count) {
    std::FILE* f = std::fopen(from.c_str(), "rb");
    if (!f) Fail(from, "cannot open: " + Reason());
    std::vector<uint8_t> chunk(1 << 16);
    while (count > 0) {
        const size_t want = count < chunk.size() ? static_cast<size_t>(count) : chunk.size();
        const size_t got = std::fread(chunk.data(), 1, want, f);
        if (got != want) {
            std::fclose(f);
            Fail(from, "cannot read: the file is shorter than it was");
        }
        Write(chunk.data(), got);
        count -= got;
    }
    std::fclose(f);
}

void OutputFile::Close() {
    if (!stream_) return;
    const bool failed = std::fclose(stream_) != 0;
    stream_ = nullptr;
    if (failed) Fail(final_, "cannot write: " + Reason());
}

void OutputFile::KeepModeOf(const std::string& path) {
    mode_of_ = path;
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
#ifdef _WIN32
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
#else
    // The file another writer made in the private directory is opened here.
    const int made = private_.empty() ? -1 : open(temp_.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    if (!private_.empty() && made < 0) Fail(final_, "cannot write: " + Reason());
    struct Closer {
        int fd;
        ~Closer() {
            if (fd >= 0) close(fd);
        }
    } closer{made};
    const int fd = made >= 0 ? made : static_cast<int>(file_);
    unsigned mode = NewFileMode();
    struct stat st;
    if (lock_ != nullptr && lock_->Existed()) {
        mode = lock_->Mode();
        const bool same = fstat(fd, &st) == 0 && static_cast<long>(st.st_uid) == lock_->Owner() &&
                          static_cast<long>(st.st_gid) == lock_->Group();
        if (!same &&
            fchown(fd, static_cast<uid_t>(lock_->Owner()), static_cast<gid_t>(lock_->Group())) != 0)
            Fail(final_, "cannot keep its owner and group on the new copy: " + Reason() +
                             "; nothing written");
    } else if (!mode_of_.empty() && ::stat(mode_of_.c_str(), &st) == 0) {
        mode = static_cast<unsigned>(st.st_mode & 07777);
    }
    if (fchmod(fd, static_cast<mode_t>(mode)) != 0)
        Fail(final_, "cannot set its permissions: " + Reason());
    if (durable && fsync(fd) != 0)
        Fail(final_, "cannot put it on disk: " + Reason() + "; nothing written");
    if (replace ? std::rename(temp_.c_str(), target_.c_str()) != 0 : !RenameNew(temp_, target_)) {
        if (!replace && errno == EEXIST)
            Fail(final_, "was made by someone else meanwhile; nothing written");
        Fail(final_, "cannot replace: " + Reason());
    }
    committed_ = true;
    if (durable) {
        std::string directory, name;
        SplitPath(target_, &directory, &name);
        SyncDirectory(directory, final_);
    }
#endif
}

void RemoveEmptyFolder(const std::string& path) {
#ifdef _WIN32
    RemoveDirectoryA(path.c_str());
#else
    ::rmdir(path.c_str());
#endif
}

} // namespace txlib

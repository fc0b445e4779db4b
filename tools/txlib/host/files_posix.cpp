// The tool's file handling on POSIX systems: descriptors, flock locks,
// renames that replace nothing, and the directory synced after a rename.
#include "host/files.h"
#include "host/files_system.h"

#include "host/text.h"
#include "host/errortext.h"
#include "host/failure.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <thread>
#include <unistd.h>

namespace txlib {

namespace files_system {

const char kSeparators[] = "/";

std::string Reason() {
    return ErrnoText();
}

std::string SystemReason() {
    return Reason();
}

unsigned long OwnProcess() {
    return static_cast<unsigned long>(getpid());
}

int Seek(std::FILE* f, int64_t offset, int whence) {
    return fseeko(f, static_cast<off_t>(offset), whence);
}

StreamKind KindOf(std::FILE* f) {
    struct stat st;
    StreamKind kind;
    kind.known = ::fstat(fileno(f), &st) == 0;
    kind.directory = kind.known && S_ISDIR(st.st_mode);
    kind.regular = kind.known && S_ISREG(st.st_mode);
    kind.size = kind.known ? static_cast<int64_t>(st.st_size) : 0;
    return kind;
}

bool ProcessGone(unsigned long pid) {
    return kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

std::vector<std::string> NamesHolding(const std::string& directory, const char* mark) {
    (void)mark;
    std::vector<std::string> names;
    DIR* listing = opendir(directory.empty() ? "." : directory.c_str());
    if (listing == nullptr) return names;
    while (const dirent* entry = readdir(listing))
        names.emplace_back(entry->d_name);
    closedir(listing);
    return names;
}

bool RemoveLeftover(const std::string& path) {
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
}

int CreateTemporary(const std::string& path, intptr_t* file) {
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0) {
        // Held locked while this process lives: a later command takes
        // only what no one holds.
        flock(fd, LOCK_EX | LOCK_NB);
        *file = fd;
        return 1;
    }
    return errno == EEXIST ? 0 : -1;
}

void DropTemporary(const std::string& temp, const std::string& private_directory, intptr_t file) {
    if (!temp.empty()) std::remove(temp.c_str());
    if (!private_directory.empty()) rmdir(private_directory.c_str());
    if (file != -1) close(static_cast<int>(file));
}

bool MakePrivateDirectory(const std::string& directory, intptr_t* file) {
    close(static_cast<int>(*file));
    *file = -1;
    if (mkdir(directory.c_str(), 0700) != 0) return false;
    *file = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (*file != -1) flock(static_cast<int>(*file), LOCK_EX | LOCK_NB);
    return true;
}

std::FILE* OpenTemporary(const std::string& temp, intptr_t file) {
    (void)temp;
    const int fd = dup(static_cast<int>(file));
    std::FILE* stream = fd < 0 ? nullptr : fdopen(fd, "r+b");
    if (!stream && fd >= 0) close(fd);
    return stream;
}

} // namespace files_system

using namespace files_system;

namespace {

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

} // namespace

bool SameFile(const std::string& a, const std::string& b) {
    struct stat x, y;
    return ::stat(a.c_str(), &x) == 0 && ::stat(b.c_str(), &y) == 0 && x.st_dev == y.st_dev &&
           x.st_ino == y.st_ino;
}

int64_t FileSizeOnDisk(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return -1;
    const int64_t size = Seek(f, 0, SEEK_END) == 0 ? static_cast<int64_t>(ftello(f)) : -1;
    std::fclose(f);
    return size;
}

int64_t FreeSpaceAt(const std::string& path) {
    std::string directory, name;
    SplitPath(path, &directory, &name);
    struct statvfs st;
    if (statvfs(directory.empty() ? "." : directory.c_str(), &st) != 0) return -1;
    const uint64_t available = static_cast<uint64_t>(st.f_bavail) * st.f_frsize;
    return available > static_cast<uint64_t>(INT64_MAX) ? INT64_MAX
                                                        : static_cast<int64_t>(available);
}

void WriteLock::Release() {
    if (lock_ == -1) return;
    close(static_cast<int>(lock_));
    lock_ = -1;
}

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

namespace {
// Written bytes between two write-outs started by WriteBehind.
constexpr uint64_t kWriteBehindStep = 2u << 20;
} // namespace

// Only Linux can start a write-out without waiting for it; elsewhere this
// counts and does nothing more.
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
}

void RemoveEmptyFolder(const std::string& path) {
    ::rmdir(path.c_str());
}

} // namespace txlib

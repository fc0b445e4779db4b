// Input read by range and all-or-nothing output of the library tool.
//
// Inputs are read where they are needed, never whole, so that the memory a
// command takes does not grow with the files it reads.
//
// Every output is written under a temporary name in the directory of its
// final name and renamed into place only once it is complete (and, for a
// library or a program, on disk), so that a failure, or a power cut, leaves
// the old file or the new one under the name asked for, never a part.
// Temporary names are NAME.txlib-PID-RANDOM, made anew (never through a link,
// never over another file) and removed on every failure; those that an
// interrupted txlib left (files, or directories holding one file) are removed
// by the next command that writes beside them, which says so.
//
// A command that rewrites a file holds a WriteLock on it from before it reads
// the file until the replacement is in place, so that two commands writing one
// library or program run one after the other and neither loses the other's
// work.
#pragma once

#include "host/bytesource.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace txlib {

// A regular file open for reading for the length of a command. Small reads
// go through a few cached 64 KiB windows (the parse of a program reads its
// headers a few bytes at a time); large ones go straight to the file.
class InputFile : public ByteSource {
  public:
    // Failure (status 2) when the path cannot be opened or is no regular file.
    explicit InputFile(std::string path);
    ~InputFile() override;
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // The size when the file was opened.
    uint64_t Size() const override { return size_; }
    void Read(uint64_t offset, void* out, size_t count) const override;
    const std::string& Name() const override { return path_; }
    // `count` bytes from `offset`, fewer where the file ends.
    std::vector<uint8_t> ReadRange(uint64_t offset, size_t count) const;

  private:
    static constexpr size_t kWindow = 64 * 1024;
    static constexpr size_t kWindows = 8;
    struct Window {
        uint64_t start = 0;
        size_t size = 0;
        uint64_t used = 0; // when last read from; 0: empty
        std::vector<uint8_t> bytes;
    };
    void ReadDirect(uint64_t offset, void* out, size_t count) const;
    const Window& WindowAt(uint64_t start) const;

    std::string path_;
    std::FILE* file_ = nullptr;
    uint64_t size_ = 0;
    mutable Window windows_[kWindows];
    mutable uint64_t clock_ = 0;
};

bool FileExistsOnDisk(const std::string& path);

// Whether two paths lead to one file, whatever their names: the same device
// and inode, or on Windows the same volume and file index. False when either
// cannot be opened.
bool SameFile(const std::string& a, const std::string& b);

// How long a command waits for another txlib that is writing the same file.
constexpr int kWriteLockWaitSeconds = 60;

// The right to rewrite one file, held from its construction to its end.
//
// A second WriteLock on the same file, in this or another txlib, waits until
// the first is gone, at most `wait_seconds`, then fails (Failure, status 2).
// A symbolic link is followed: its target is the file rewritten. Refused
// (Failure, status 2, nothing written): a file that is not a regular file, a
// file the caller may not write or that has no write permission at all (a
// rename would bypass that), a file with several hard links (a new copy would
// leave the other names with the old contents), and under POSIX a file that
// belongs to another user when the caller is not root (the copy could not
// keep its owner). A file that does not exist yet may be made by the command;
// if someone else makes it meanwhile, the command fails rather than replace
// it. With `wanted` false nothing is taken: the command turned out only to
// read.
class WriteLock {
  public:
    explicit WriteLock(const std::string& path, bool wanted = true,
                       int wait_seconds = kWriteLockWaitSeconds);
    ~WriteLock();
    WriteLock(const WriteLock&) = delete;
    WriteLock& operator=(const WriteLock&) = delete;

    // The file written: the path, or the target of the link it names.
    const std::string& Target() const { return target_; }
    // Whether the file existed when the lock was taken.
    bool Existed() const { return existed_; }
    // Its permission bits, owner and group then (POSIX).
    unsigned Mode() const { return mode_; }
    long Owner() const { return owner_; }
    long Group() const { return group_; }

  private:
    void Take(const std::string& path, int wait_seconds);
    void Release();

    std::string path_;
    std::string target_;
    bool held_ = false;
    bool existed_ = false;
    unsigned mode_ = 0;
    long owner_ = -1;
    long group_ = -1;
    intptr_t lock_ =
        -1; // POSIX: the descriptor of the locked file; Windows: the lock file's handle
};

// Starts putting on disk, in the background, what a command has written so
// far to the file at `path` (a temporary file of an OutputFile that is
// written through the core), so that the sync before its rename has little
// left to wait for. Linux only; elsewhere, and when the file cannot be
// opened, it does nothing.
class WriteBehind {
  public:
    explicit WriteBehind(const std::string& path);
    ~WriteBehind();
    WriteBehind(const WriteBehind&) = delete;
    WriteBehind& operator=(const WriteBehind&) = delete;

    // Counts `bytes` written; every few MiB the write-out of what has been
    // written is started.
    void Wrote(uint64_t bytes);

  private:
    intptr_t file_ = -1;
    uint64_t pending_ = 0;
};

class OutputFile {
  public:
    // Creates a fresh temporary file beside `final_path` (beside the target,
    // when a WriteLock is held on that path), after removing the temporary
    // files that interrupted commands left in that directory.
    explicit OutputFile(std::string final_path);
    ~OutputFile(); // removes the temporary file unless committed
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    const std::string& TempPath() const { return temp_; }
    const std::string& FinalPath() const { return final_; }

    // For a writer that makes the file itself, and only where none is (the
    // core creates a library so): a path where nothing is, inside a new
    // directory of this output's own that no one else can write, in place of
    // the temporary file. It becomes the temporary path.
    const std::string& PathToMake();

    // Opens a stream for writing the temporary file through this object.
    void Open();
    void Write(const void* data, size_t size);
    // Writes over bytes already written at `offset`, then carries on at the
    // end (a checksum known only once everything is written).
    void WriteAt(uint64_t offset, const void* data, size_t size);
    // Copies the first `count` bytes of `from` to the end.
    void CopyFrom(const std::string& from, uint64_t count);
    // Closes the stream (when open) without renaming.
    void Close();

    // Gives a new file the permission bits of `path` (an executable stays
    // executable); nothing on Windows. A file that is replaced keeps its own.
    void KeepModeOf(const std::string& path);

    // Gives the finished temporary file the mode, owner and group of the
    // file it replaces and renames it to the final name. Without a WriteLock
    // on the final name a file there is replaced. Under one the file is put
    // on disk before the rename and the directory after it, and a file that
    // did not exist when the lock was taken is not replaced (Failure: someone
    // else made it meanwhile).
    void Commit();

  private:
    std::string final_;  // as given, for messages
    std::string target_; // where the file goes
    std::string temp_;
    std::string private_; // the directory of PathToMake, when asked for
    std::FILE* stream_ = nullptr;
    intptr_t file_ = -1; // POSIX: the temporary file's (or directory's) descriptor, locked
                         // while it lives
    const WriteLock* lock_ = nullptr;
    bool committed_ = false;
    std::string mode_of_;
};

// Whether `name` (a file name without directory) is a temporary file name
// that txlib gives a file it writes (NAME.txlib-PID-RANDOM), and if so the id
// of the process that made it.
bool TemporaryNameOf(const std::string& name, unsigned long* pid);

// Size of a file, or -1.
int64_t FileSizeOnDisk(const std::string& path);

// The bytes that may still be written on the volume that holds the file
// `path` (or would hold it), or -1 when the system cannot tell.
int64_t FreeSpaceAt(const std::string& path);

// The most characters that the temporary name of an output adds to its
// final name: ".txlib-", a process id of up to 10 digits, "-" and 8 hex
// digits.
constexpr size_t kTemporarySuffixMax = 26;

// The longest name of a file in a folder.
constexpr size_t kFileNameMax = 255;

// Removes a folder if it is empty; nothing otherwise.
void RemoveEmptyFolder(const std::string& path);

} // namespace txlib

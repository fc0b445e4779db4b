// Input read by range and all-or-nothing output of the library tool.
//
// Inputs are read where they are needed, never whole, so that the memory a
// command takes does not grow with the files it reads. Every output is written under a temporary
// name in the directory of its final name and renamed into place only once it is complete, so that
// a failure never leaves a partly written file under the name asked for.
#pragma once

#include "bytesource.h"

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

// `count` bytes from `offset` (fewer for a shorter file); Failure (status 2)
// when they cannot be read.
std::vector<uint8_t> ReadFileRange(const std::string& path, uint64_t offset, size_t count);

bool FileExistsOnDisk(const std::string& path);

class OutputFile {
  public:
    // Reserves a fresh temporary name beside `final_path`.
    explicit OutputFile(std::string final_path);
    ~OutputFile(); // removes the temporary file unless committed
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    const std::string& TempPath() const { return temp_; }
    const std::string& FinalPath() const { return final_; }

    // Creates the temporary file for writing through this object.
    void Open();
    void Write(const void* data, size_t size);
    // Writes over bytes already written at `offset`, then carries on at the
    // end (a checksum known only once everything is written).
    void WriteAt(uint64_t offset, const void* data, size_t size);
    // Copies the first `count` bytes of `from` to the end.
    void CopyFrom(const std::string& from, uint64_t count);
    // Closes the stream (when open) without renaming.
    void Close();

    // Gives the result the permission bits of `path` (an executable stays
    // executable); nothing on Windows.
    void KeepModeOf(const std::string& path);

    // Renames the finished temporary file to the final name.
    void Commit();

  private:
    std::string final_;
    std::string temp_;
    std::FILE* stream_ = nullptr;
    bool committed_ = false;
    std::string mode_of_;
};

// Size of a file, or -1.
int64_t FileSizeOnDisk(const std::string& path);

} // namespace txlib

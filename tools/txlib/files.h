// Whole-file input and all-or-nothing output of the library tool.
//
// Every output is written under a temporary name in the directory of its
// final name and renamed into place only once it is complete, so that a
// failure never leaves a partly written file under the name asked for.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace txlib {

// The whole file; Failure (status 2) when it cannot be read.
std::vector<uint8_t> ReadWholeFile(const std::string& path);

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

// The path in a form that the system opens whatever its length: on Windows,
// a path near the 260-character limit as "\\?\" and its absolute form (the
// temporary name beside it is longer than the path); the path itself
// elsewhere.
std::string LongPathForm(const std::string& path);

// Removes a folder if it is empty; nothing otherwise.
void RemoveEmptyFolder(const std::string& path);

} // namespace txlib

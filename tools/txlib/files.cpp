#include "files.h"

#include "failure.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

#ifdef _WIN32
#include "platform/win32.h"
#include <process.h>
#define TXLIB_GETPID _getpid
#else
#include <unistd.h>
#define TXLIB_GETPID getpid
#endif

namespace txlib {

namespace {

std::string Reason() {
    return std::strerror(errno);
}

// Positions a stream at a 64-bit offset from `whence`: 0 when it could.
int Seek(std::FILE* f, int64_t offset, int whence) {
#ifdef _WIN32
    return _fseeki64(f, offset, whence);
#else
    return fseeko(f, static_cast<off_t>(offset), whence);
#endif
}

} // namespace

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) Fail(path, "cannot open: " + Reason());
    std::vector<uint8_t> bytes;
    uint8_t chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
        bytes.insert(bytes.end(), chunk, chunk + n);
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed) Fail(path, "cannot read: " + Reason());
    return bytes;
}

std::vector<uint8_t> ReadFileRange(const std::string& path, uint64_t offset, size_t count) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) Fail(path, "cannot open: " + Reason());
    std::vector<uint8_t> bytes(count);
    size_t n = 0;
    bool failed = Seek(f, static_cast<int64_t>(offset), SEEK_SET) != 0;
    if (!failed) {
        n = std::fread(bytes.data(), 1, count, f);
        failed = std::ferror(f) != 0;
    }
    std::fclose(f);
    if (failed) Fail(path, "cannot read: " + Reason());
    bytes.resize(n);
    return bytes;
}

bool FileExistsOnDisk(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
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

OutputFile::OutputFile(std::string final_path) : final_(std::move(final_path)) {
    static unsigned counter = 0;
    for (;;) {
        temp_ =
            final_ + ".txlib-" + std::to_string(TXLIB_GETPID()) + "-" + std::to_string(counter++);
        if (!FileExistsOnDisk(temp_)) break;
    }
}

OutputFile::~OutputFile() {
    if (stream_) std::fclose(stream_);
    if (!committed_) std::remove(temp_.c_str());
}

void OutputFile::Open() {
    stream_ = std::fopen(temp_.c_str(), "wb");
    if (!stream_) Fail(final_, "cannot write: " + Reason());
}

void OutputFile::Write(const void* data, size_t size) {
    if (size > 0 && std::fwrite(data, 1, size, stream_) != size)
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
#ifndef _WIN32
    struct stat st;
    if (!mode_of_.empty() && ::stat(mode_of_.c_str(), &st) == 0 &&
        ::chmod(temp_.c_str(), st.st_mode & 07777) != 0)
        Fail(final_, "cannot set its permissions: " + Reason());
#endif
#ifdef _WIN32
    if (!MoveFileExA(temp_.c_str(), final_.c_str(), MOVEFILE_REPLACE_EXISTING))
        Fail(final_, "cannot replace (Windows error " + std::to_string(GetLastError()) + ")");
#else
    if (std::rename(temp_.c_str(), final_.c_str()) != 0)
        Fail(final_, "cannot replace: " + Reason());
#endif
    committed_ = true;
}

std::string LongPathForm(const std::string& path) {
#ifdef _WIN32
    // Room for the temporary name's suffix.
    if (path.size() + 32 < MAX_PATH) return path;
    std::vector<char> full(32768);
    const DWORD length =
        GetFullPathNameA(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length == 0 || length >= full.size()) return path;
    const std::string absolute(full.data(), length);
    if (absolute.compare(0, 2, "\\\\") == 0) return "\\\\?\\UNC\\" + absolute.substr(2);
    return "\\\\?\\" + absolute;
#else
    return path;
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

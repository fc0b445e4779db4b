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

} // namespace txlib

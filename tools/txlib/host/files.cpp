#include "host/files.h"
#include "host/files_system.h"

#include "host/text.h"
#include "host/errortext.h"
#include "host/failure.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <sys/stat.h>

namespace txlib {

using namespace files_system;

namespace {

constexpr char kTemporaryMark[] = ".txlib-";

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
    return ProcessGone(pid);
}

// Removes the temporary files in `directory` that txlib processes which have
// ended left behind, saying so; each directory is looked through once.
void RemoveLeftovers(const std::string& directory) {
    static std::set<std::string> done;
    if (!done.insert(directory).second) return;
    std::vector<std::pair<std::string, unsigned long>> found;
    for (const std::string& name : NamesHolding(directory, kTemporaryMark)) {
        unsigned long pid = 0;
        if (TemporaryNameOf(name, &pid)) found.emplace_back(name, pid);
    }
    for (const auto& [leftover, pid] : found) {
        if (!ProcessEnded(pid)) continue;
        const std::string path = directory + leftover;
        if (RemoveLeftover(path))
            std::fprintf(stderr, "txlib: removed %s, left by txlib process %lu, which has ended\n",
                         EscapeControls(path).c_str(), pid);
    }
}

} // namespace

void files_system::SplitPath(const std::string& path, std::string* directory, std::string* name) {
    const size_t at = path.find_last_of(kSeparators);
    *directory = at == std::string::npos ? "" : path.substr(0, at + 1);
    *name = at == std::string::npos ? path : path.substr(at + 1);
}

InputFile::InputFile(std::string path) : path_(std::move(path)) {
    file_ = std::fopen(path_.c_str(), "rb");
    if (!file_) Fail(path_, "cannot open: " + Reason());
    // The windows below are the only buffering: a large read goes straight
    // into the caller's buffer.
    std::setvbuf(file_, nullptr, _IONBF, 0);
    const StreamKind kind = KindOf(file_);
    const bool known = kind.known;
    const bool directory = kind.directory;
    const bool regular = kind.regular;
    if (!regular || kind.size < 0) {
        const std::string why = !known      ? "cannot read: " + Reason()
                                : directory ? std::string("is a directory")
                                            : std::string("is not a regular file");
        std::fclose(file_);
        file_ = nullptr;
        Fail(path_, why);
    }
    size_ = static_cast<uint64_t>(kind.size);
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
        const int made = CreateTemporary(temp_, &file_);
        if (made == 1) return;
        const bool taken = made == 0;
        if (!taken || attempt == 16) {
            const std::string reason = SystemReason();
            temp_.clear();
            Fail(final_, "cannot write beside it: " + reason);
        }
    }
}

OutputFile::~OutputFile() {
    if (stream_) std::fclose(stream_);
    DropTemporary(committed_ ? std::string() : temp_, private_, file_);
}

const std::string& OutputFile::PathToMake() {
    if (!private_.empty()) return temp_;
    // The reserved name becomes a directory that only this process writes.
    std::remove(temp_.c_str());
    const std::string directory = temp_;
    temp_.clear();
    if (!MakePrivateDirectory(directory, &file_))
        Fail(final_, "cannot write beside it: " + SystemReason());
    private_ = directory;
    std::string parent, name;
    SplitPath(target_, &parent, &name);
    temp_ = private_ + (kSeparators[0] == '/' ? "/" : "\\") + name;
    return temp_;
}

void OutputFile::Open() {
    stream_ = OpenTemporary(temp_, file_);
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

} // namespace txlib

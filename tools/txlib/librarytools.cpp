// The commands over library containers: create, list, info, add, extract.
//
// Containers are opened, read and written through the core's library layer,
// so the tool accepts and writes exactly what the launcher does. A library
// is changed on a copy under a temporary name, renamed over the original
// only when every member went in.
#include "librarytools.h"

#include "exeimage.h"
#include "failure.h"
#include "files.h"
#include "text.h"

#include "diskfile/diskfile.h"
#include "diskfile/filetime.h"
#include "library/container.h"
#include "library/libtable.h"
#include "vfile/devicename.h"
#include "vfile/virtual.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <system_error>
#include <sys/stat.h>

#ifdef _WIN32
#include <io.h>
#define TXLIB_ISATTY(f) _isatty(_fileno(f))
#else
#include <unistd.h>
#define TXLIB_ISATTY(f) isatty(fileno(f))
#endif

namespace txlib {

namespace {

constexpr int kHandles = 140;
constexpr uint16_t kChunk = 60000;                  // bytes per member read or write
constexpr uint32_t kProgressFrom = 4 * 1024 * 1024; // members shown with progress from here
constexpr int64_t kContainerMax = 0x7FFFFFFF;       // offsets are signed 32-bit
constexpr uint16_t kDiskReadShared = tx::kDiskRead | tx::kDiskShareRead | tx::kDiskShareWrite;

std::string Number(uint64_t value) {
    return std::to_string(value);
}

std::string Hex16(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", value & 0xFFFF);
    return text;
}

std::string FatDate(uint16_t date) {
    if (date == 0) return "-";
    const tx::DateTimeRecord when = tx::UnpackFatDateTime(date, 0);
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u", when.year, when.month, when.day);
    return text;
}

std::string FatTime(uint16_t date, uint16_t time) {
    if (date == 0 && time == 0) return "-";
    const tx::DateTimeRecord when = tx::UnpackFatDateTime(date, time);
    char text[32];
    std::snprintf(text, sizeof text, "%02u:%02u:%02u", when.hour, when.minute, when.second);
    return text;
}

std::string EntryName(const tx::DirEntry& entry) {
    return std::string(entry.name, strnlen(entry.name, sizeof entry.name));
}

// A deleted entry's name, its lost first character shown as '?'.
std::string ShownName(const tx::DirEntry& entry) {
    std::string name = EntryName(entry);
    if (entry.state != 1 && !name.empty() && static_cast<uint8_t>(name[0]) == tx::kEntryDeleted)
        name[0] = '?';
    return name;
}

std::string UpperAscii(std::string text) {
    for (char& c : text)
        c = tx::UpperAscii(c);
    return text;
}

// A JSON string of UTF-8 text.
std::string JsonString(const std::string& utf8) {
    std::string out = "\"";
    for (char c : utf8) {
        const auto byte = static_cast<uint8_t>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04X", byte);
            out += escape;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

// A path from the command line in UTF-8: as it is on Linux, from the
// Windows code page on Windows.
std::string PathUtf8(const std::string& path) {
#ifdef _WIN32
    return Cp1252ToUtf8(path);
#else
    return path;
#endif
}

std::string BaseName(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The core keeps paths in buffers of 260 characters.
void CheckCorePath(const std::string& path) {
    if (path.size() > static_cast<size_t>(tx::kPathMax))
        Fail(path, "the path is longer than " + Number(tx::kPathMax) + " characters");
}

// The core's services for the length of one command, with its error
// reports off: the tool says what failed in its own words.
class CoreSession {
  public:
    CoreSession() {
        tx::DiskInitHandles(kHandles);
        tx::FileLayerInit();
        tx::VirtualInit();
        tx::g_layer.report_errors = 0;
        tx::SetLibrarySearch(0);
        tx::SetLibrariesFirst(0);
    }
    ~CoreSession() {
        if (selector_ != -1) tx::LibraryClose(selector_);
        tx::VirtualTerm();
        tx::DiskTermHandles();
    }
    CoreSession(const CoreSession&) = delete;
    CoreSession& operator=(const CoreSession&) = delete;

    // Opens the container at `base` in `path` (checked first, so that damage
    // is told precisely) and answers its record.
    tx::LibraryRecord* Open(const std::string& path, uint32_t base, const std::string& shown) {
        CheckCorePath(path);
        const int64_t file_size = FileSizeOnDisk(path);
        if (file_size < 0) Fail(shown, "cannot open: no such file");
        if (file_size > kContainerMax)
            Fail(shown, "is larger than 2 GiB, beyond a container's reach");
        const uint64_t size = static_cast<uint64_t>(file_size) - base;
        const size_t want = tx::kHeaderBlockSize + tx::kMaxDirEntries * tx::kDirEntrySize;
        const std::vector<uint8_t> start = ReadFileRange(path, base, want);
        CheckContainer(shown, start.data(), start.size(), size, false);
        if (!tx::LibraryOpen(path.c_str(), &selector_, 0, 1, -1, -1, -1,
                             static_cast<int32_t>(base)))
            Fail(shown, "cannot be opened as a library container (disk error " +
                            Number(static_cast<uint32_t>(tx::DiskLastError())) + ")");
        return tx::LibraryRecordAt(static_cast<int16_t>(selector_ - tx::kSelectorBase));
    }

    // Makes a new container at `path`.
    void Create(const std::string& path, int16_t kind, const std::string& shown) {
        CheckCorePath(path);
        if (!tx::LibraryOpen(path.c_str(), &selector_, 1, 0, kind, -1, -1, 0))
            Fail(shown, "cannot be created (disk error " +
                            Number(static_cast<uint32_t>(tx::DiskLastError())) + ")");
    }

    // Closes the library, writing its directory back; a failure is told.
    void Close(const std::string& shown) {
        const int16_t selector = selector_;
        selector_ = -1;
        if (selector != -1 && !tx::LibraryClose(selector))
            Fail(shown, "cannot write its directory back (disk error " +
                            Number(static_cast<uint32_t>(tx::DiskLastError())) + ")");
    }

    int16_t Selector() const { return selector_; }

  private:
    int16_t selector_ = -1;
};

// The library inside `path`: the file itself, or the one embedded in a
// program. Answers its base offset.
uint32_t LibraryBase(const std::string& path) {
    // Only the program's headers are read, never the library itself.
    const InputFile file(path);
    const std::vector<uint8_t> start = file.ReadRange(0, 4);
    if (!LooksLikeExecutable(start.data(), start.size())) return 0;
    const ExeImage image = ParseExecutable(file);
    if (!image.library_field)
        Fail(path, "is a program without an embedded library: " + image.library_problem);
    const uint32_t offset = EmbeddedOffset(file, image);
    if (offset == 0) Fail(path, "is a program without an embedded library");
    return offset;
}

// Members in directory order: the valid ones, and with `all` the deleted
// ones too.
std::vector<int> ListedEntries(const tx::LibraryRecord& library, bool all) {
    std::vector<int> out;
    const int used = library.header->used < library.header->capacity ? library.header->used
                                                                     : library.header->capacity;
    for (int i = 0; i < used; ++i) {
        const tx::DirEntry& entry = library.directory[i];
        if (entry.state == 1 || (all && !tx::EntryNameEmpty(&entry))) out.push_back(i);
    }
    return out;
}

class Progress {
  public:
    Progress(const Options& options, const std::string& name, uint32_t size)
        : shown_(options.verbosity > 0 && size >= kProgressFrom && TXLIB_ISATTY(stderr)),
          name_(DisplayText(name)), size_(size) {}
    ~Progress() { Done(); }
    // Clears the display.
    void Done() {
        if (shown_) std::fprintf(stderr, "\r%-12s      \r", "");
        shown_ = false;
    }
    void Update(uint32_t done) {
        if (!shown_) return;
        const unsigned percent = static_cast<unsigned>(static_cast<uint64_t>(done) * 100 / size_);
        if (percent == last_) return;
        last_ = percent;
        std::fprintf(stderr, "\r%-12s %3u%%", name_.c_str(), percent);
        std::fflush(stderr);
    }

  private:
    bool shown_;
    std::string name_;
    uint32_t size_;
    unsigned last_ = 101;
};

bool IsDirectory(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && (st.st_mode & S_IFMT) == S_IFDIR;
}

} // namespace

void CheckContainer(const std::string& name, const uint8_t* data, size_t available, uint64_t size,
                    bool entries) {
    if (size < static_cast<uint64_t>(tx::kHeaderBlockSize) || available < sizeof(tx::HeaderBlock))
        Fail(name, "not a library container: shorter than a container header (" + Number(size) +
                       " bytes)");
    tx::HeaderBlock header;
    std::memcpy(&header, data, sizeof header);
    if (!tx::ContainerMagicMatches(&header)) Fail(name, "not a library container");
    // The reader's own checks, told one by one.
    const int32_t reach =
        size > static_cast<uint64_t>(kContainerMax) ? INT32_MAX : static_cast<int32_t>(size);
    switch (tx::ContainerHeaderFault(&header, reach)) {
    case tx::kHeaderTooManyEntries:
        Fail(name, "damaged: a directory of " + Number(header.capacity) +
                       " entries, more than a container may have");
    case tx::kHeaderUsedBeyondCapacity:
        Fail(name, "damaged: " + Number(header.used) + " entries used of a directory of " +
                       Number(header.capacity));
    case tx::kHeaderDirectoryPastEnd:
        Fail(name, "damaged: its directory runs past the end of the container (" + Number(size) +
                       " bytes)");
    case tx::kHeaderUsable:
        break;
    }
    const uint64_t directory_end = static_cast<uint64_t>(tx::ContainerNewSize(header.capacity));
    if (size > static_cast<uint64_t>(kContainerMax))
        Fail(name, "is larger than 2 GiB, beyond a container's reach");
    if (!entries) return;
    if (available < directory_end) Fail(name, "damaged: its directory is cut short");
    for (unsigned i = 0; i < header.used; ++i) {
        tx::DirEntry entry;
        std::memcpy(&entry, data + tx::kHeaderBlockSize + i * tx::kDirEntrySize, sizeof entry);
        if (entry.state == 1 && !tx::EntryInsideContainer(&entry, static_cast<int32_t>(size)))
            Fail(name, "damaged: member " + DisplayText(EntryName(entry)) +
                           " points outside the container");
    }
}

bool ValidMemberName(const std::string& name, std::string* reason) {
    if (name.empty()) {
        *reason = "is empty";
        return false;
    }
    if (name.size() > static_cast<size_t>(tx::kMemberNameMax)) {
        *reason = "is longer than the " + Number(tx::kMemberNameMax) +
                  " characters a directory entry holds";
        return false;
    }
    if (static_cast<uint8_t>(name[0]) == tx::kEntryDeleted) {
        *reason = "begins with the character that marks a deleted entry";
        return false;
    }
    for (char c : name) {
        const auto byte = static_cast<uint8_t>(c);
        if (byte < 0x20 || byte == 0x7F || std::strchr("\\/:*?\"<>|", c) != nullptr) {
            *reason = "holds a character that a member name cannot hold";
            return false;
        }
    }
    if (name == "." || name == "..") {
        *reason = "is not a file name";
        return false;
    }
    return true;
}

bool SafeFileName(const std::string& name, std::string* reason) {
    if (!ValidMemberName(name, reason)) return false;
    if (name.find("..") != std::string::npos) {
        *reason = "holds \"..\"";
        return false;
    }
    if (name.back() == '.' || name.back() == ' ') {
        *reason = "ends in a dot or a space, which Windows drops";
        return false;
    }
    if (tx::ReservedDeviceName(name.c_str())) {
        *reason = "is a device name on Windows";
        return false;
    }
    return true;
}

int LibraryInfo(const Options& options, const std::string& path, uint32_t base) {
    (void)options;
    CoreSession core;
    const tx::LibraryRecord* library = core.Open(path, base, path);
    const tx::HeaderBlock& h = *library->header;
    if (base == 0) std::printf("file:              %s\n", path.c_str());
    std::printf("container:         %ld bytes from offset %lu\n",
                static_cast<long>(library->end_of_data), static_cast<unsigned long>(base));
    std::printf("magic:             \"%s\"\n",
                DisplayText(std::string(h.magic, strnlen(h.magic, 14))).c_str());
    std::printf("header size:       %u\n", h.header_size);
    std::printf("created:           %s %s\n", FatDate(h.create_date).c_str(),
                FatTime(h.create_date, h.create_time).c_str());
    std::printf("kind:              %u%s\n", h.kind,
                h.kind == 0 ? " (an application library, searched by name)" : "");
    if (h.seed == tx::kSeedPlain)
        std::printf("scrambling:        none\n");
    else
        std::printf("scrambling:        seed %s, method %u\n", Hex16(h.seed).c_str(), h.method);
    std::printf("format version:    %u\n", h.version);
    int members = 0, deleted = 0;
    for (int i : ListedEntries(*library, true))
        (library->directory[i].state == 1 ? members : deleted)++;
    std::printf("directory:         %u entries, %u used: %d members, %d deleted\n", h.capacity,
                h.used, members, deleted);
    std::printf("sorted:            %s\n", h.sorted ? "yes" : "no");
    std::printf("header words:      %u %u\n", h.word100, h.word2048);
    return 0;
}

int CommandCreate(const Options& options, const std::string& library, int kind) {
    if (FileExistsOnDisk(library)) Fail(library, "already exists");
    WriteLock lock(library);
    if (lock.Existed()) Fail(library, "already exists");
    OutputFile out(library);
    {
        CoreSession core;
        core.Create(out.PathToMake(), static_cast<int16_t>(kind), library);
        core.Close(library);
    }
    out.Commit();
    if (options.verbosity > 0)
        std::printf("%s: new library of kind %d, %d entries\n", library.c_str(), kind & 0xFFFF,
                    tx::g_layer.growth_step);
    return 0;
}

int CommandList(const Options& options, const std::string& library, bool all, bool json) {
    const uint32_t base = LibraryBase(library);
    CoreSession core;
    const tx::LibraryRecord* record = core.Open(library, base, library);
    int damaged = 0;
    const std::vector<int> entries = ListedEntries(*record, all);
    if (json) {
        std::printf("{\"library\": %s, \"offset\": %lu, \"kind\": %u, \"members\": [",
                    JsonString(PathUtf8(library)).c_str(), static_cast<unsigned long>(base),
                    record->header->kind);
    } else if (options.verbosity > 0) {
        std::printf("%-12s %10s  %-10s %s%s%s\n", "NAME", "SIZE", "DATE",
                    options.verbosity > 1 || all ? "TIME    " : "TIME",
                    options.verbosity > 1 ? "  ENTRY     OFFSET  ALLOCATED" : "",
                    all ? "  STATE" : "");
    }
    bool first = true;
    for (int i : entries) {
        const tx::DirEntry& e = record->directory[i];
        const bool inside = tx::EntryInsideContainer(&e, record->end_of_data) != 0;
        if (e.state == 1 && !inside) ++damaged;
        const std::string name = ShownName(e);
        if (json) {
            std::printf("%s\n  {\"index\": %d, \"name\": %s, \"state\": \"%s\", \"size\": %lu, "
                        "\"offset\": %lu, \"allocated\": %lu, \"date\": \"%s\", \"time\": \"%s\", "
                        "\"attribute\": %u, \"inside\": %s}",
                        first ? "" : ",", i, JsonString(Cp1252ToUtf8(name)).c_str(),
                        e.state == 1 ? "member" : "deleted", static_cast<unsigned long>(e.size),
                        static_cast<unsigned long>(e.offset),
                        static_cast<unsigned long>(e.allocated), FatDate(e.date).c_str(),
                        FatTime(e.date, e.time).c_str(), e.attribute, inside ? "true" : "false");
        } else {
            std::string line = DisplayText(name);
            line.resize(line.size() < 12 ? 12 : line.size(), ' ');
            std::printf("%s %10lu  %-10s %-8s", line.c_str(), static_cast<unsigned long>(e.size),
                        FatDate(e.date).c_str(), FatTime(e.date, e.time).c_str());
            if (options.verbosity > 1)
                std::printf("  %5d %10lu %10lu", i, static_cast<unsigned long>(e.offset),
                            static_cast<unsigned long>(e.allocated));
            if (all) std::printf("  %s", e.state == 1 ? "member" : "deleted");
            if (!inside) std::printf("  (data outside the container)");
            std::printf("\n");
        }
        first = false;
    }
    if (json) std::printf("%s]}\n", first ? "" : "\n");
    if (damaged > 0)
        Fail(library, "damaged: " + Number(damaged) + " member(s) point outside the container");
    return 0;
}

int CommandAdd(const Options& options, const std::string& library,
               const std::vector<std::string>& files, const std::string& as_name) {
    if (!as_name.empty() && files.size() != 1) Fail("", "--as names one file only", kExitUsage);
    WriteLock lock(library);
    const std::vector<uint8_t> start = ReadFileRange(library, 0, 4);
    if (LooksLikeExecutable(start.data(), start.size()))
        Fail(library, "is a program: members are added to a library file (unembed it, add, and "
                      "embed it again)");

    // Every name and file is checked before anything is written.
    struct Input {
        std::string path;
        std::string name;
        int64_t size;
    };
    std::vector<Input> inputs;
    int64_t total = 0;
    for (const std::string& path : files) {
        std::string name, error;
        const std::string given = as_name.empty() ? BaseName(path) : as_name;
        if (!ArgumentText(given, &name, &error)) Fail(path, "the member name " + error);
        name = UpperAscii(name);
        if (!ValidMemberName(name, &error))
            Fail(path,
                 "the member name \"" + DisplayText(name) + "\" " + error + "; nothing added");
        if (IsDirectory(path)) Fail(path, "is a directory");
        CheckCorePath(path);
        const int64_t size = FileSizeOnDisk(path);
        if (size < 0) Fail(path, "cannot open: no such file");
        total += size;
        inputs.push_back({path, name, size});
    }
    const int64_t library_size = FileSizeOnDisk(library);
    if (library_size < 0) Fail(library, "no such library (txlib create makes one)");
    if (library_size + total > kContainerMax)
        Fail(library, "would grow beyond 2 GiB, which a container cannot address");

    OutputFile out(library);
    out.Open();
    out.CopyFrom(library, static_cast<uint64_t>(library_size));
    out.Close();
    out.KeepModeOf(library);
    std::vector<std::string> report;
    {
        CoreSession core;
        tx::LibraryRecord* record = core.Open(out.TempPath(), 0, library);
        std::vector<uint8_t> buffer(kChunk);
        for (const Input& input : inputs) {
            int16_t file;
            if (!tx::DiskOpen(input.path.c_str(), kDiskReadShared, &file))
                Fail(input.path, "cannot open (disk error " + Number(tx::DiskLastError()) + ")");
            tx::DateTimeRecord when{};
            const bool dated = tx::DiskGetFileTime(file, &when) != 0;
            std::string member = "|" + input.name;
            bool replacing = false;
            for (int i : ListedEntries(*record, false))
                replacing = replacing || EntryName(record->directory[i]) == input.name;
            int16_t handle;
            if (!tx::FileCreate(member.c_str(), &handle, core.Selector())) {
                tx::DiskClose(file);
                Fail(library, record->header->used >= tx::kMaxDirEntries
                                  ? "is full: a container holds at most 1000 entries"
                                  : "cannot take member " + DisplayText(input.name));
            }
            Progress progress(options, input.name, static_cast<uint32_t>(input.size));
            int64_t done = 0;
            for (;;) {
                uint32_t got = 0;
                if (!tx::DiskRead(file, buffer.data(), kChunk, &got)) {
                    tx::DiskClose(file);
                    Fail(input.path,
                         "cannot read (disk error " + Number(tx::DiskLastError()) + ")");
                }
                if (got == 0) break;
                if (tx::FileWrite(handle, buffer.data(), static_cast<uint16_t>(got)) != got) {
                    tx::DiskClose(file);
                    Fail(library, "cannot write member " + DisplayText(input.name));
                }
                done += got;
                progress.Update(static_cast<uint32_t>(done));
            }
            tx::DiskClose(file);
            if (done != input.size) Fail(input.path, "changed size while being read");
            // The member takes the file's date and time, not the moment of
            // the copy.
            tx::g_layer.stamp_now = 0;
            tx::g_layer.stamp.attribute = tx::kStampAttribute;
            tx::g_layer.stamp.date = dated ? tx::PackFatDate(when) : 0;
            tx::g_layer.stamp.time = dated ? tx::PackFatTime(when) : 0;
            if (!tx::FileClose(handle))
                Fail(library, "cannot commit member " + DisplayText(input.name));
            report.push_back((replacing ? "replaced " : "added ") + DisplayText(input.name) + " (" +
                             Number(static_cast<uint64_t>(done)) + " bytes)");
        }
        core.Close(library);
    }
    out.Commit();
    if (options.verbosity > 0)
        for (const std::string& line : report)
            std::printf("%s\n", line.c_str());
    return 0;
}

int CommandExtract(const Options& options, const std::string& library,
                   const std::vector<std::string>& members, const std::string& directory) {
    const uint32_t base = LibraryBase(library);
    CoreSession core;
    const tx::LibraryRecord* record = core.Open(library, base, library);

    // The entries to write, chosen and checked before anything is written:
    // by name the first valid entry of that name, as the launcher finds it.
    std::map<std::string, int> first_of;
    for (int i : ListedEntries(*record, false))
        first_of.emplace(EntryName(record->directory[i]), i);
    std::vector<int> chosen;
    if (members.empty()) {
        for (int i : ListedEntries(*record, false))
            if (first_of[EntryName(record->directory[i])] == i) chosen.push_back(i);
    } else {
        for (const std::string& argument : members) {
            std::string name, error;
            if (!ArgumentText(argument, &name, &error)) Fail(argument, "the member name " + error);
            const auto it = first_of.find(UpperAscii(name));
            if (it == first_of.end())
                Fail(library, "has no member " + argument + "; nothing extracted");
            chosen.push_back(it->second);
        }
    }
    for (int i : chosen) {
        const tx::DirEntry& e = record->directory[i];
        std::string reason;
        if (!SafeFileName(EntryName(e), &reason))
            Fail(library, "member \"" + DisplayText(EntryName(e)) + "\" " + reason +
                              ": it would not be written inside the output directory; nothing "
                              "extracted");
        if (!tx::EntryInsideContainer(&e, record->end_of_data))
            Fail(library, "damaged: member " + DisplayText(EntryName(e)) +
                              " points outside the container; nothing extracted");
    }
    // The output directory is made when it does not exist yet, as archive
    // extractors do; something else of that name is not replaced.
    if (!IsDirectory(directory)) {
        std::error_code ec;
        if (std::filesystem::exists(directory, ec))
            Fail(directory, "exists and is not a directory");
        std::filesystem::create_directories(directory, ec);
        if (ec || !IsDirectory(directory))
            Fail(directory, "cannot make the output directory: " + ec.message());
    }

#ifdef _WIN32
    const char separator = '\\';
#else
    const char separator = '/';
#endif
    std::string prefix = directory;
    if (!prefix.empty() && prefix.back() != '/' && prefix.back() != '\\') prefix += separator;
    std::vector<uint8_t> buffer(kChunk);
    for (int i : chosen) {
        const tx::DirEntry entry = record->directory[i];
        const std::string name = EntryName(entry);
        OutputFile out(prefix + DisplayText(name));
        CheckCorePath(out.TempPath());
        const std::string member = "|" + name;
        int16_t handle;
        if (!tx::FileOpenRead(member.c_str(), &handle, core.Selector()))
            Fail(library, "cannot read member " + DisplayText(name));
        int16_t file;
        if (!tx::DiskCreate(out.TempPath().c_str(), tx::kDiskRead | tx::kDiskWrite, &file)) {
            tx::FileClose(handle);
            Fail(out.FinalPath(), "cannot write (disk error " + Number(tx::DiskLastError()) + ")");
        }
        Progress progress(options, name, entry.size);
        uint32_t done = 0;
        bool ok = true;
        while (ok && done < entry.size) {
            const uint32_t left = entry.size - done;
            const uint16_t want = left < kChunk ? static_cast<uint16_t>(left) : kChunk;
            const uint16_t got = tx::FileRead(handle, buffer.data(), want);
            ok = got == want && tx::DiskWrite(file, buffer.data(), got);
            done += got;
            progress.Update(done);
        }
        tx::FileClose(handle);
        if (ok && entry.date != 0)
            ok = tx::DiskSetFileTime(file, tx::UnpackFatDateTime(entry.date, entry.time)) != 0;
        const bool closed = tx::DiskClose(file) != 0;
        progress.Done();
        if (!ok || !closed) Fail(out.FinalPath(), "cannot extract member " + DisplayText(name));
        out.Commit();
        if (options.verbosity > 0)
            std::printf("%s (%lu bytes)\n", out.FinalPath().c_str(),
                        static_cast<unsigned long>(entry.size));
    }
    return 0;
}

} // namespace txlib

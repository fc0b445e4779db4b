#include "commands/libraryview.h"

#include "formats/certificate.h"
#include "host/errortext.h"
#include "host/failure.h"
#include "host/files.h"
#include "commands/librarytools.h"

#include "diskfile/diskfile.h"
#include "library/container.h"
#include "library/searchlist.h"
#include "vfile/virtual.h"

#include <cerrno>
#include <cstring>
#include <set>

namespace txlib {

namespace {

constexpr int kHandles = 140;
// Larger than any one write the tool makes (a member chunk, a directory).
constexpr uint32_t kWriteChunk = 1 << 16;
constexpr int64_t kContainerMax = 0x7FFFFFFF; // offsets are signed 32-bit

// A deleted entry's name, its lost first character shown as '?'.
std::string ShownName(const tx::DirEntry& entry) {
    std::string name = EntryName(entry);
    if (!name.empty() && static_cast<uint8_t>(name[0]) == tx::kEntryDeleted) name[0] = '?';
    return name;
}

// The name as the launcher's table lookup takes it: spaces trimmed at both
// ends and case-folded.
std::string LookupKey(const std::string& name) {
    const size_t first = name.find_first_not_of(' ');
    if (first == std::string::npos) return "";
    return FoldCase(name.substr(first, name.find_last_not_of(' ') - first + 1));
}

} // namespace

std::string CoreFailure(const std::string& what, const std::string& path, uint64_t need) {
    const auto code = static_cast<uint32_t>(tx::DiskLastError());
    // The layer keeps a sharing violation as 2, the code of a missing file.
    if (code == 2) return what + ": no such file, or another program has it open";
    if (code != 0) return WithCause(what, code);
    // The layer clears the code when it cleans up after a failure (a new
    // library that could not be written is closed and deleted); a volume
    // without the room the step needed tells the cause all the same.
    const int64_t free = path.empty() || need == 0 ? -1 : FreeSpaceAt(path);
    return free >= 0 && static_cast<uint64_t>(free) < need ? WithCause(what, 112) : what;
}

void CheckCorePath(const std::string& path) {
    if (path.size() > static_cast<size_t>(tx::kPathMax))
        Fail(path, "the path is longer than " + std::to_string(tx::kPathMax) + " characters");
}

std::string EntryName(const tx::DirEntry& entry) {
    return std::string(entry.name, strnlen(entry.name, sizeof entry.name));
}

CoreSession::CoreSession() {
    tx::DiskInitHandles(kHandles);
    // The tool copies whole files through the layer: one system write per
    // chunk it hands over, not one per 4096 bytes as the launcher writes.
    previous_write_chunk_ = tx::DiskSetWriteChunk(kWriteChunk);
    tx::FileLayerInit();
    tx::VirtualInit();
    tx::g_layer.report_errors = 0;
    tx::SetLibrarySearch(0);
    tx::SetLibrariesFirst(0);
}

CoreSession::~CoreSession() {
    if (selector_ != -1) tx::LibraryClose(selector_);
    tx::VirtualTerm();
    tx::DiskTermHandles();
    tx::DiskSetWriteChunk(previous_write_chunk_);
}

tx::LibraryRecord* CoreSession::Record() const {
    return selector_ == -1
               ? nullptr
               : tx::LibraryRecordAt(static_cast<int16_t>(selector_ - tx::kSelectorBase));
}

tx::LibraryRecord* CoreSession::Open(const std::string& path, uint32_t base,
                                     const std::string& shown, bool read_only) {
    CheckCorePath(path);
    path_ = path;
    const int64_t file_size = FileSizeOnDisk(path);
    if (file_size < 0)
        Fail(shown, errno == ENOENT ? std::string("cannot open: no such file")
                                    : "cannot open: " + ErrnoText());
    if (file_size > kContainerMax) Fail(shown, "is larger than 2 GiB, beyond a container's reach");
    // A library embedded in a signed program ends where the signature begins.
    const uint64_t end =
        base > 0 ? EndOfUnsignedData(InputFile(path)) : static_cast<uint64_t>(file_size);
    const uint64_t size = end - base;
    const size_t want = tx::kHeaderBlockSize + tx::kMaxDirEntries * tx::kDirEntrySize;
    const std::vector<uint8_t> start = InputFile(path).ReadRange(base, want);
    CheckContainer(shown, start.data(), start.size(), size, false);
    const int previous = tx::LibrarySetReadOnly(read_only ? 1 : 0);
    const int opened =
        tx::LibraryOpen(path.c_str(), &selector_, 0, 1, -1, -1, -1, static_cast<int32_t>(base));
    tx::LibrarySetReadOnly(previous);
    if (!opened) Fail(shown, CoreFailure("cannot be opened as a library container"));
    if (Record()->end_of_data > static_cast<int64_t>(size))
        Record()->end_of_data = static_cast<int32_t>(size);
    return Record();
}

tx::LibraryRecord* CoreSession::Create(const std::string& path, int16_t kind, int capacity,
                                       const std::string& shown) {
    CheckCorePath(path);
    path_ = path;
    // A new container's directory has as many entries as the growth step.
    const int16_t step = tx::g_layer.growth_step;
    tx::g_layer.growth_step = static_cast<int16_t>(capacity);
    const int created = tx::LibraryOpen(path.c_str(), &selector_, 1, 0, kind, -1, -1, 0);
    tx::g_layer.growth_step = step;
    if (!created)
        Fail(shown, CoreFailure("cannot be created", path,
                                static_cast<uint64_t>(
                                    tx::ContainerNewSize(static_cast<uint16_t>(capacity)))));
    return Record();
}

void CoreSession::Close(const std::string& shown) {
    if (selector_ == -1) return;
    const uint64_t directory =
        static_cast<uint64_t>(Record()->header->capacity) * tx::kDirEntrySize;
    const int16_t selector = selector_;
    selector_ = -1;
    if (!tx::LibraryClose(selector))
        Fail(shown, CoreFailure("cannot write its directory back", path_, directory));
}

LibraryView::LibraryView(CoreSession& core) : core_(core) {
    const tx::LibraryRecord* record = core.Record();
    const tx::HeaderBlock& header = *record->header;
    // The sorted lookup searches the whole directory; the unsorted one the
    // entries ever used.
    reach_ = header.sorted ? header.capacity
                           : (header.used < header.capacity ? header.used : header.capacity);
    // Only a library on the search list (kind 0) has its long names read.
    searched_ = tx::SearchListContains(static_cast<int16_t>(core.Selector() - tx::kSelectorBase));

    const int table = Find(kTableMember);
    has_table_ = table >= 0;
    if (searched_ && has_table_) {
        const uint32_t size = record->directory[table].size;
        char** slot = nullptr;
        if (size > kTableMax) {
            table_problem_ = "its long-name table is " + std::to_string(size) +
                             " bytes, more than the " + std::to_string(kTableMax) +
                             " the launcher reads, so its long names are not used";
        } else if (!tx::LongNamesLoad() || !tx::SearchListLast(&slot) || *slot == nullptr) {
            table_problem_ = "its long-name table cannot be read, so its long names are not used";
        } else {
            table_text_ = *slot;
            // The table of the library visited last is the one in force.
            tx::SearchListFirst();
        }
    }

    std::vector<std::string> long_of(static_cast<size_t>(reach_));
    std::set<std::string> seen;
    for (const TableLine& line : ParseTable(table_text_)) {
        // The lookup finds the first line of a key, and only a line written
        // in the key's own form (upper case, no spaces at either end).
        if (!seen.insert(line.long_name).second || line.long_name != LookupKey(line.long_name))
            continue;
        const int index = Find(line.long_name);
        if (index < 0 || index >= reach_) continue;
        lines_.push_back({line.long_name, EntryName(record->directory[index])});
        if (long_of[static_cast<size_t>(index)].empty())
            long_of[static_cast<size_t>(index)] = line.long_name;
    }

    for (int i = 0; i < reach_; ++i) {
        const tx::DirEntry& entry = record->directory[i];
        if (tx::EntryNameEmpty(&entry)) continue;
        MemberView member;
        member.index = i;
        member.stored = EntryName(entry);
        if (entry.state != 1) {
            member.state = MemberView::kDeleted;
            member.name = ShownName(entry);
        } else {
            const std::string& long_name = long_of[static_cast<size_t>(i)];
            member.long_name = !long_name.empty();
            member.name = member.long_name ? long_name : member.stored;
            member.state = member.long_name || Find(member.stored) == i ? MemberView::kMember
                                                                        : MemberView::kHidden;
        }
        entries_.push_back(member);
    }
}

int LibraryView::Find(const std::string& name) const {
    // The launcher's member path, "|" and the name, fits 260 characters.
    if (name.empty() || name.size() > kLongNameMax) return -1;
    char buffer[tx::kPathMax + 1];
    tx::CopyBounded(buffer, name.c_str(), tx::kPathMax);
    tx::LibrarySelect(core_.Selector());
    return tx::DirectoryLookup(buffer, tx::kLookupTest, sizeof buffer);
}

const MemberView* LibraryView::Entry(int index) const {
    for (const MemberView& member : entries_)
        if (member.index == index) return &member;
    return nullptr;
}

} // namespace txlib

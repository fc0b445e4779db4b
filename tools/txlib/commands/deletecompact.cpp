// delete and compact: a library rewritten without some of its members, or
// without its deleted entries and the bytes that replaced members left
// behind.
//
// The copy is written straight, header, directory and then each member's
// data back to back, as a fresh create lays them out: the launcher's writer
// never reclaims space, so nothing of the core's is needed to write it. The
// members' bytes are copied as they are stored (scrambled ones stay
// scrambled under the same key), and every kept entry keeps its name, size,
// date, time and attribute; only its offset moves.
#include "commands/deletecompact.h"

#include "formats/exeimage.h"
#include "host/failure.h"
#include "host/files.h"
#include "commands/librarytools.h"
#include "commands/libraryview.h"
#include "formats/longnames.h"
#include "host/progress.h"
#include "host/text.h"

#include "diskfile/filetime.h"
#include "library/container.h"
#include "vfile/virtual.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>

namespace txlib {

namespace {

constexpr int kLeastCapacity = 30;            // the directory of a new library, and the core's step
constexpr int64_t kContainerMax = 0x7FFFFFFF; // offsets are signed 32-bit
constexpr size_t kCopyChunk = 1 << 20;

std::string Number(uint64_t value) {
    return std::to_string(value);
}

// A program's library is changed on its own: unembedded, changed, and
// embedded again.
void RefuseProgram(const std::string& library, const std::string& what, const std::string& how) {
    const std::vector<uint8_t> start = InputFile(library).ReadRange(0, 4);
    if (LooksLikeExecutable(start.data(), start.size()))
        Fail(library, "is a program: " + what + " works on a library file (unembed the library, " +
                          how + ", and embed it again)");
}

} // namespace

LibrarySnapshot TakeSnapshot(const std::string& library) {
    LibrarySnapshot snapshot;
    CoreSession core;
    const tx::LibraryRecord* record = core.Open(library, 0, library);
    const LibraryView view(core);
    snapshot.header = *record->header;
    snapshot.entries.assign(record->directory, record->directory + record->header->capacity);
    snapshot.end_of_data = record->end_of_data;
    snapshot.reach = view.Reach();
    snapshot.keyed = tx::MemberKey(record, &snapshot.key) != 0;
    const int table = view.Find(kTableMember);
    if (view.Searched() && table >= 0 && view.TableProblem().empty()) snapshot.table = table;
    return snapshot;
}

std::vector<int> LiveEntries(const LibrarySnapshot& snapshot, const std::string& library) {
    std::vector<int> live;
    for (int i = 0; i < snapshot.reach; ++i) {
        const tx::DirEntry& entry = snapshot.entries[static_cast<size_t>(i)];
        if (entry.state != 1 || tx::EntryNameEmpty(&entry)) continue;
        if (!tx::EntryInsideContainer(&entry, snapshot.end_of_data))
            Fail(library, "damaged: member " + ShownText(EntryName(entry)) +
                              " points outside the container; it is not rewritten");
        live.push_back(i);
    }
    return live;
}

uint64_t CompactSize(const LibrarySnapshot& snapshot, const std::vector<int>& kept,
                     const std::optional<std::string>& table) {
    const uint16_t capacity = static_cast<uint16_t>(
        snapshot.header.sorted ? kept.size() : std::max<size_t>(kLeastCapacity, kept.size()));
    uint64_t size = static_cast<uint64_t>(tx::ContainerNewSize(capacity));
    for (int index : kept)
        size += index == snapshot.table && table
                    ? table->size()
                    : snapshot.entries[static_cast<size_t>(index)].size;
    return size;
}

void WriteCompacted(const std::string& library, const LibrarySnapshot& snapshot,
                    const std::vector<int>& kept, const std::optional<std::string>& table,
                    OutputFile& out, Progress& progress) {
    // A sorted directory is searched up to its capacity: no empty entry may
    // follow the names.
    const size_t count = kept.size();
    const uint16_t capacity = static_cast<uint16_t>(
        snapshot.header.sorted ? count : std::max<size_t>(kLeastCapacity, count));
    if (CompactSize(snapshot, kept, table) > static_cast<uint64_t>(kContainerMax))
        Fail(library, "would grow beyond 2 GiB, which a container cannot address");
    tx::HeaderBlock header = snapshot.header;
    header.capacity = capacity;
    header.used = static_cast<uint16_t>(count);
    std::vector<tx::DirEntry> directory(capacity);
    std::memset(directory.data(), 0, directory.size() * sizeof(tx::DirEntry));
    uint32_t offset = static_cast<uint32_t>(tx::ContainerNewSize(capacity));
    uint16_t date = 0, time = 0;
    tx::CurrentDosDateTime(&date, &time);
    for (size_t i = 0; i < count; ++i) {
        tx::DirEntry entry = snapshot.entries[static_cast<size_t>(kept[i])];
        if (kept[i] == snapshot.table && table) {
            entry.size = static_cast<uint32_t>(table->size());
            entry.date = date;
            entry.time = time;
        }
        entry.offset = offset;
        entry.allocated = entry.size;
        offset += entry.size;
        directory[i] = entry;
    }
    out.Write(&header, sizeof header);
    out.Write(directory.data(), directory.size() * sizeof(tx::DirEntry));

    WriteBehind behind(out.TempPath());
    const InputFile in(library);
    std::vector<uint8_t> buffer(kCopyChunk);
    for (size_t i = 0; i < count; ++i) {
        const tx::DirEntry& entry = snapshot.entries[static_cast<size_t>(kept[i])];
        if (kept[i] == snapshot.table && table) {
            std::string text = *table;
            if (snapshot.header.seed != tx::kSeedPlain) {
                if (!snapshot.keyed)
                    Fail(library, "its members are scrambled by method " +
                                      Number(snapshot.header.method) +
                                      ", which the launcher cannot undo: its long-name table "
                                      "cannot be rewritten");
                for (char& c : text)
                    c = static_cast<char>(static_cast<uint8_t>(c) ^ snapshot.key);
            }
            out.Write(text.data(), text.size());
            continue;
        }
        uint64_t at = entry.offset, left = entry.size;
        while (left > 0) {
            const size_t n = left < buffer.size() ? static_cast<size_t>(left) : buffer.size();
            in.Read(at, buffer.data(), n);
            out.Write(buffer.data(), n);
            behind.Wrote(n);
            progress.Add(n);
            at += n;
            left -= n;
        }
    }
}

namespace {

// Rewrites `library` as `kept` and `table` say, under its lock.
void Rewrite(const std::string& library, const LibrarySnapshot& snapshot,
             const std::vector<int>& kept, const std::optional<std::string>& table,
             const Options& options) {
    uint64_t total = 0;
    for (int index : kept)
        total += snapshot.entries[static_cast<size_t>(index)].size;
    OutputFile out(library);
    out.Open();
    {
        Progress progress(options.verbosity, total);
        WriteCompacted(library, snapshot, kept, table, out, progress);
    }
    out.Close();
    out.KeepModeOf(library);
    out.Commit();
}

} // namespace

int CommandCompact(const Options& options, const std::string& library) {
    RequireLibrary(library, false);
    WriteLock lock(library);
    RefuseProgram(library, "compact", "compact it");
    const LibrarySnapshot snapshot = TakeSnapshot(library);
    const std::vector<int> kept = LiveEntries(snapshot, library);
    const uint64_t before = static_cast<uint64_t>(snapshot.end_of_data);
    const uint64_t after = CompactSize(snapshot, kept, std::nullopt);
    const int dropped = snapshot.header.used - static_cast<int>(kept.size());
    if (after >= before && dropped <= 0) {
        if (options.verbosity > 0)
            std::printf("%s: already compact (%zu members, %llu bytes)\n", library.c_str(),
                        kept.size(), static_cast<unsigned long long>(before));
        return 0;
    }
    Rewrite(library, snapshot, kept, std::nullopt, options);
    if (options.verbosity > 0)
        std::printf("%s: %zu members kept, %d deleted entries dropped, %llu bytes down to %llu\n",
                    library.c_str(), kept.size(), std::max(dropped, 0),
                    static_cast<unsigned long long>(before),
                    static_cast<unsigned long long>(after));
    return 0;
}

int CommandDelete(const Options& options, const std::string& library,
                  const std::vector<std::string>& names) {
    RequireLibrary(library, false);
    WriteLock lock(library);
    RefuseProgram(library, "delete", "delete from it");
    const std::string nothing = "; nothing deleted";
    std::set<int> drop;
    std::vector<std::string> report;
    std::optional<std::string> table;
    std::set<std::string> gone; // stored names deleted, case-folded
    LibrarySnapshot snapshot = TakeSnapshot(library);
    {
        CoreSession core;
        core.Open(library, 0, library);
        const LibraryView view(core);
        for (const MemberView* member : SelectMembers(view, names, false, library, nothing)) {
            // The table follows the members; it is never deleted by name.
            if (member->index == snapshot.table) continue;
            drop.insert(member->index);
            gone.insert(FoldCase(member->stored));
            report.push_back("deleted " + ShownText(member->name));
        }
        if (drop.empty())
            Fail(library, std::string(kTableMember) +
                              " is the long-name table, which follows the members" + nothing);
        if (snapshot.table >= 0) {
            std::vector<TableLine> lines;
            for (const TableLine& line : view.Lines())
                if (gone.count(FoldCase(line.stored)) == 0) lines.push_back(line);
            if (lines.size() != view.Lines().size()) {
                if (lines.empty())
                    drop.insert(snapshot.table);
                else
                    table = TableText(lines);
            }
        }
    }
    std::vector<int> kept;
    for (int index : LiveEntries(snapshot, library))
        if (drop.count(index) == 0) kept.push_back(index);
    Rewrite(library, snapshot, kept, table, options);
    if (options.verbosity > 0)
        for (const std::string& line : report)
            std::printf("%s\n", line.c_str());
    return 0;
}

} // namespace txlib

// create and add: files and folders into a new library or an existing one,
// every name checked before a byte is written.
#include "commands/librarytools.h"
#include "commands/libraryshared.h"

#include "commands/deletecompact.h"
#include "host/errortext.h"
#include "formats/exeimage.h"
#include "host/failure.h"
#include "host/files.h"
#include "commands/libraryview.h"
#include "formats/longnames.h"
#include "host/progress.h"
#include "host/systemfiles.h"
#include "host/text.h"
#include "host/tree.h"

#include "diskfile/diskfile.h"
#include "diskfile/filetime.h"
#include "library/container.h"
#include "library/libtable.h"
#include "support/names.h"
#include "vfile/virtual.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <sys/stat.h>

namespace txlib {

namespace {

// Sets the directory growth step for the length of one command.
class GrowthStep {
  public:
    explicit GrowthStep(int step) : saved_(tx::g_layer.growth_step) {
        tx::g_layer.growth_step = static_cast<int16_t>(step);
    }
    ~GrowthStep() { tx::g_layer.growth_step = saved_; }
    GrowthStep(const GrowthStep&) = delete;
    GrowthStep& operator=(const GrowthStep&) = delete;

  private:
    int16_t saved_;
};

// One file of create or add, with the member it goes to.
struct Planned {
    const SourceFile* input;
    std::string name;       // the name given, case-folded: long or short
    std::string stored;     // the directory entry's name
    std::string shown;      // the name the summary gives: the replaced member's own, if any
    bool replacing = false; // a valid member of that name is replaced
    bool long_name = false; // reached through the long-name table
};

struct AddPlan {
    std::vector<Planned> members;
    std::vector<TableLine> lines; // the long-name table after the command
    bool write_table = false;
    int entries = 0;            // directory entries used after the command
    bool compact_first = false; // the directory overflows unless compacted first
    int live = 0;               // valid entries, when compacted first
    uint64_t data = 0;          // bytes of the files (standard input not counted)
    uint64_t early = 0;         // bytes written before the directory grows, if it does
};

std::string InputShown(const SourceFile& input) {
    return input.disk_path == "-" ? std::string("standard input") : input.disk_path;
}

// Names every input, checks the names against each other and against the
// library (open in `view`, or none for a new library of `kind`), and gives
// each long name a short one. Everything refused is refused here, before a
// byte is written.
AddPlan PlanAdd(const LibraryView* view, const tx::LibraryRecord* record, int kind,
                const InputSet& inputs, const std::string& as_name, const std::string& library) {
    const bool searched = view != nullptr ? view->Searched() : kind == 0;
    if (view != nullptr && searched && !view->TableProblem().empty())
        Fail(library, view->TableProblem() + "; txlib does not rewrite it, nothing added");
    AddPlan plan;
    std::map<std::string, std::string> given; // name -> the input that gives it
    for (const SourceFile& input : inputs.files) {
        const std::string name = FoldCase(as_name.empty() ? input.name : NameArgument(as_name));
        const std::string shown = InputShown(input);
        std::string reason;
        if (name.empty()) Fail(shown, "has no name to be stored under; give one with --as");
        if (name == kTableMember)
            Fail(shown, std::string("the member name ") + kTableMember +
                            " is the long-name table's; nothing added");
        const bool fits = FitsEntry(name);
        if (!fits && !ValidLongName(name, &reason))
            Fail(shown,
                 "the member name \"" + ShownText(name) + "\" " + reason + "; nothing added");
        if (!fits && !searched)
            Fail(shown, "the member name \"" + ShownText(name) +
                            "\" does not fit a directory entry (12 characters, no folder), and a "
                            "library of kind " +
                            Number(static_cast<uint16_t>(kind)) +
                            " has no long names; nothing added");
        const auto [at, fresh] = given.emplace(name, shown);
        if (!fresh)
            Fail("", at->second + " and " + shown + " would both be stored as " + ShownText(name) +
                         "; nothing added");
        plan.members.push_back({&input, name, "", name, false, false});
        if (input.size > 0) plan.data += static_cast<uint64_t>(input.size);
    }

    // Names in use: every entry of the directory, and both sides of the table
    // lines kept, so that a new short name neither replaces an entry nor is
    // taken over by the table.
    std::set<std::string> taken{kTableMember};
    std::set<std::string> valid;
    if (record != nullptr) {
        for (int i = 0; i < record->header->capacity; ++i) {
            const std::string entry = FoldCase(EntryName(record->directory[i]));
            if (entry.empty()) continue;
            taken.insert(entry);
            if (record->directory[i].state == 1) valid.insert(entry);
        }
    }
    if (view != nullptr) {
        for (const TableLine& line : view->Lines()) {
            if (FoldCase(line.stored) == kTableMember) continue;
            plan.lines.push_back({line.long_name, FoldCase(line.stored)});
            taken.insert(line.long_name);
        }
    }
    for (const Planned& member : plan.members)
        taken.insert(member.name);

    // Names the launcher already finds, and names that fit an entry, are
    // stored as they are; the others get a new short name.
    std::map<std::string, std::string> stored_by; // stored name -> the input
    auto claim = [&](Planned& member) {
        const auto [at, fresh] = stored_by.emplace(member.stored, InputShown(*member.input));
        if (!fresh)
            Fail("", at->second + " and " + InputShown(*member.input) +
                         " would both be stored as " + ShownText(member.stored) +
                         "; nothing added");
        taken.insert(member.stored);
    };
    for (Planned& member : plan.members) {
        const MemberView* found = view != nullptr ? view->Entry(view->Find(member.name)) : nullptr;
        if (found != nullptr) {
            member.stored = FoldCase(found->stored);
            member.shown = found->name;
            if (member.stored == kTableMember)
                Fail(InputShown(*member.input),
                     "the member name \"" + ShownText(member.name) +
                         "\" leads to the long-name table; nothing added");
        } else if (FitsEntry(member.name)) {
            member.stored = member.name;
        } else {
            continue;
        }
        member.replacing = valid.count(member.stored) != 0;
        member.long_name = member.stored != member.name;
        claim(member);
    }
    for (Planned& member : plan.members) {
        if (!member.stored.empty()) continue;
        member.stored = ShortName(
            member.name, [&](const std::string& candidate) { return taken.count(candidate) != 0; });
        member.long_name = true;
        plan.lines.push_back({member.name, member.stored});
        claim(member);
    }

    const std::string text = TableText(plan.lines);
    const bool had_table = view != nullptr && view->HasTable();
    plan.write_table = searched && (had_table ? text != view->TableText() : !plan.lines.empty());
    if (text.size() > kTableMax)
        Fail(library, "its long-name table would be " + Number(text.size()) +
                          " bytes, more than the " + Number(kTableMax) +
                          " the launcher reads; nothing added");
    // A member replaced takes its old entry (ReplaceInPlace); only new names
    // take entries. A directory that would overflow is compacted first.
    const int used = record != nullptr ? record->header->used : 0;
    int fresh = plan.write_table && !had_table ? 1 : 0;
    for (const Planned& member : plan.members)
        if (!member.replacing) ++fresh;
    plan.entries = used + fresh;
    if (plan.entries > tx::kMaxDirEntries && view != nullptr) {
        int live = 0;
        for (int i = 0; i < view->Reach(); ++i)
            if (record->directory[i].state == 1 && !tx::EntryNameEmpty(&record->directory[i]))
                ++live;
        plan.compact_first = true;
        plan.live = live;
        plan.entries = live + fresh;
    }
    if (plan.entries > tx::kMaxDirEntries)
        Fail(library, "would need " + Number(static_cast<uint64_t>(plan.entries)) +
                          " directory entries, more than the " + Number(tx::kMaxDirEntries) +
                          " a container holds; nothing added");
    // The members written before the directory grows move with it.
    if (record != nullptr && plan.entries > record->header->capacity) {
        plan.early = static_cast<uint64_t>(record->end_of_data) -
                     static_cast<uint64_t>(tx::ContainerNewSize(record->header->capacity));
        int room = record->header->capacity - used;
        for (const Planned& member : plan.members)
            if (room-- > 0 && member.input->size > 0)
                plan.early += static_cast<uint64_t>(member.input->size);
    }
    return plan;
}

// Writes `size` bytes from `read` into a new member, stamped with `date` and
// `time` (or, with both 0, the current date and time).
template <typename Reader>
uint64_t WriteMember(CoreSession& core, const std::string& stored, const std::string& library,
                     const std::string& shown, uint16_t date, uint16_t time, Progress& progress,
                     WriteBehind& behind, Reader read) {
    tx::LibraryRecord* record = core.Record();
    const uint16_t capacity = record->header->capacity;
    const int64_t moved = record->end_of_data - tx::ContainerNewSize(capacity);
    int16_t handle;
    const std::string member = "|" + stored;
    if (!tx::FileCreate(member.c_str(), &handle, core.Selector()))
        Fail(library, CoreFailure("cannot make member " + ShownText(stored), core.Path(),
                                  tx::kDirEntrySize));
    if (record->header->capacity != capacity) progress.Add(static_cast<uint64_t>(moved));
    std::vector<uint8_t> buffer(kChunk);
    uint64_t done = 0;
    for (;;) {
        const uint16_t got = read(buffer.data(), kChunk);
        if (got == 0) break;
        if (record->end_of_data + static_cast<int64_t>(done) + got > kContainerMax)
            Fail(shown, "would grow the library beyond 2 GiB, which a container cannot address");
        if (tx::FileWrite(handle, buffer.data(), got) != got)
            Fail(library,
                 CoreFailure("cannot write member " + ShownText(stored), core.Path(), got));
        done += got;
        progress.Add(got);
        behind.Wrote(got);
    }
    // The member takes the file's date and time, not the moment of the copy.
    tx::g_layer.stamp_now = date == 0 && time == 0 ? 1 : 0;
    tx::g_layer.stamp.attribute = tx::kStampAttribute;
    tx::g_layer.stamp.date = date;
    tx::g_layer.stamp.time = time;
    if (!tx::FileClose(handle))
        Fail(library, CoreFailure("cannot commit member " + ShownText(stored), core.Path(),
                                  static_cast<uint64_t>(capacity) * tx::kDirEntrySize));
    return done;
}

// The launcher's writer replaces a member by deleting its entry and taking a
// new one after the used ones, so a library whose members are replaced again
// and again fills its directory with deleted entries. The tool gives the new
// member the old one's entry instead: the old entry is swapped with the last
// used one and the count lowered, so that the core writes the new member
// into it, then the two are swapped back. A name that two valid entries
// hold is left to the core's own replacement.
class ReplaceInPlace {
  public:
    ReplaceInPlace(CoreSession& core, const std::string& stored) : record_(core.Record()) {
        tx::HeaderBlock& header = *record_->header;
        used_ = std::min(header.used, header.capacity);
        const std::string folded = FoldCase(stored);
        for (int i = 0; i < used_; ++i) {
            const tx::DirEntry& entry = record_->directory[i];
            if (entry.state != 1 || FoldCase(EntryName(entry)) != folded) continue;
            if (index_ >= 0) {
                index_ = -1;
                return;
            }
            index_ = i;
        }
        if (index_ < 0) return;
        std::swap(record_->directory[index_], record_->directory[used_ - 1]);
        header.used = static_cast<uint16_t>(used_ - 1);
    }
    ReplaceInPlace(const ReplaceInPlace&) = delete;
    ReplaceInPlace& operator=(const ReplaceInPlace&) = delete;

    // After the new member is committed, in the entry at the old count - 1.
    void Done(CoreSession& core, const std::string& library) {
        if (index_ < 0) return;
        std::swap(record_->directory[index_], record_->directory[used_ - 1]);
        if (!tx::LibrarySelect(core.Selector()) || !tx::DirectoryWriteBack())
            Fail(library,
                 CoreFailure("cannot write its directory back", core.Path(),
                             static_cast<uint64_t>(record_->header->capacity) * tx::kDirEntrySize));
    }

  private:
    tx::LibraryRecord* record_;
    int used_ = 0;
    int index_ = -1;
};

// Writes the planned members and the table into the open library, the file
// at `written`; the summary lines go to `report`.
void WriteMembers(const Options& options, CoreSession& core, const AddPlan& plan,
                  const std::string& library, const std::string& written, Progress& progress,
                  std::vector<std::string>* report) {
    WriteBehind behind(written);
    BinaryStream(stdin);
    for (const Planned& member : plan.members) {
        const SourceFile& input = *member.input;
        const std::string shown = InputShown(input);
        std::optional<ReplaceInPlace> in_place;
        if (member.replacing) in_place.emplace(core, member.stored);
        uint64_t done;
        if (input.disk_path == "-") {
            done = WriteMember(core, member.stored, library, shown, 0, 0, progress, behind,
                               [&](uint8_t* buffer, uint16_t count) -> uint16_t {
                                   const size_t got = std::fread(buffer, 1, count, stdin);
                                   if (got < count && std::ferror(stdin))
                                       Fail(shown, "cannot be read: " + ErrnoText());
                                   return static_cast<uint16_t>(got);
                               });
        } else {
            CheckCorePath(input.disk_path);
            int16_t file;
            if (!tx::DiskOpen(input.disk_path.c_str(), kDiskReadShared, &file))
                Fail(shown, CoreFailure("cannot open"));
            struct Closer {
                int16_t file;
                ~Closer() { tx::DiskClose(file); }
            } closer{file};
            tx::DateTimeRecord when{};
            const bool dated = tx::DiskGetFileTime(file, &when) != 0;
            done = WriteMember(core, member.stored, library, shown,
                               dated ? tx::PackFatDate(when) : 0, dated ? tx::PackFatTime(when) : 0,
                               progress, behind, [&](uint8_t* buffer, uint16_t count) -> uint16_t {
                                   uint32_t got = 0;
                                   if (!tx::DiskRead(file, buffer, count, &got))
                                       Fail(shown, CoreFailure("cannot read"));
                                   return static_cast<uint16_t>(got);
                               });
            if (static_cast<int64_t>(done) != input.size)
                Fail(shown, "changed size while being read");
        }
        if (in_place) in_place->Done(core, library);
        std::string line = (member.replacing ? "replaced " : "added ") + ShownText(member.shown);
        if (member.long_name && options.verbosity > 1) line += " as " + ShownText(member.stored);
        report->push_back(line + " (" + Number(done) + " bytes)");
    }
    if (plan.write_table) {
        const std::string text = TableText(plan.lines);
        size_t at = 0;
        ReplaceInPlace in_place(core, kTableMember);
        WriteMember(core, kTableMember, library, library, 0, 0, progress, behind,
                    [&](uint8_t* buffer, uint16_t count) -> uint16_t {
                        const size_t n = std::min<size_t>(count, text.size() - at);
                        std::memcpy(buffer, text.data() + at, n);
                        at += n;
                        return static_cast<uint16_t>(n);
                    });
        in_place.Done(core, library);
    }
}

void PrintReport(const Options& options, const InputSet& inputs,
                 const std::vector<std::string>& report) {
    if (options.verbosity == 0) return;
    for (const std::string& line : report)
        std::printf("%s\n", line.c_str());
    for (const std::string& folder : inputs.empty_folders)
        std::printf("skipped empty folder %s\n", EscapeControls(folder).c_str());
}

// The inputs of create and add, with --as checked against them.
InputSet Inputs(const AddRequest& request) {
    if (!request.as_name.empty()) {
        if (request.paths.size() != 1) Fail("", "--as names one file only", kExitUsage);
        const std::string& path = request.paths.front();
        if (path != "-" &&
            IsDirectory(request.directory.empty() || path.front() == '/' || path.front() == '\\'
                            ? path
                            : request.directory + "/" + path))
            Fail(path, "is a folder: --as names one file");
    } else {
        for (const std::string& path : request.paths)
            if (path == "-") Fail("", "standard input (-) needs --as NAME", kExitUsage);
    }
    InputSet inputs = CollectInputs(request.paths, request.directory);
    if (request.as_name.empty())
        for (const auto& [path, name] : inputs.stored_as)
            std::fprintf(stderr, "txlib: %s: stored as %s, its last part\n",
                         EscapeControls(path).c_str(), ShownText(name).c_str());
    return inputs;
}

} // namespace

int CommandCreate(const Options& options, const std::string& library, int kind,
                  const AddRequest& request) {
    if (FileExistsOnDisk(library)) Fail(library, "already exists");
    WriteLock lock(library);
    if (lock.Existed()) Fail(library, "already exists");
    const InputSet inputs = Inputs(request);
    const AddPlan plan = PlanAdd(nullptr, nullptr, kind, inputs, request.as_name, library);
    // The directory is made as large as the command needs, so that it never
    // grows and no data moves.
    const int capacity = std::max(kLeastCapacity, plan.entries);
    if (static_cast<uint64_t>(tx::ContainerNewSize(static_cast<uint16_t>(capacity))) + plan.data +
            kTableMax >
        static_cast<uint64_t>(kContainerMax))
        Fail(library, "would grow beyond 2 GiB, which a container cannot address");
    OutputFile out(library);
    std::vector<std::string> report;
    {
        CoreSession core;
        core.Create(out.PathToMake(), static_cast<int16_t>(kind), capacity, library);
        Progress progress(options.verbosity, plan.data);
        WriteMembers(options, core, plan, library, out.TempPath(), progress, &report);
        core.Close(library);
    }
    out.Commit();
    if (options.verbosity > 0)
        std::printf("%s: new library of kind %d, %d entries\n", EscapeControls(library).c_str(),
                    kind & 0xFFFF, capacity);
    PrintReport(options, inputs, report);
    return 0;
}

int CommandAdd(const Options& options, const std::string& library, const AddRequest& request) {
    RequireLibrary(library, true);
    WriteLock lock(library);
    const std::vector<uint8_t> start = InputFile(library).ReadRange(0, 4);
    if (LooksLikeExecutable(start.data(), start.size()))
        Fail(library, "is a program: members are added to a library file (unembed it, add, and "
                      "embed it again)");
    const InputSet inputs = Inputs(request);

    // Every name and file is checked against the library before anything is
    // written.
    AddPlan plan;
    int step = kLeastCapacity;
    {
        CoreSession core;
        const tx::LibraryRecord* record = core.Open(library, 0, library);
        if (record->header->sorted)
            Fail(library, "is sorted: members added to it would break its order; nothing added");
        const LibraryView view(core);
        plan = PlanAdd(&view, record, record->header->kind, inputs, request.as_name, library);
        // One growth makes room for the whole command.
        const int capacity =
            plan.compact_first ? std::max(kLeastCapacity, plan.live) : record->header->capacity;
        step = std::max(kLeastCapacity, plan.entries - capacity);
    }
    if (plan.members.empty() && !plan.write_table) {
        PrintReport(options, inputs, {});
        return 0;
    }
    const int64_t library_size = FileSizeOnDisk(library);
    if (library_size < 0) Fail(library, "no such library (txlib create makes one)");
    if (static_cast<uint64_t>(library_size) + plan.data + static_cast<uint64_t>(step) * 48 +
            kTableMax >
        static_cast<uint64_t>(kContainerMax))
        Fail(library, "would grow beyond 2 GiB, which a container cannot address");

    OutputFile out(library);
    out.Open();
    if (plan.compact_first) {
        const LibrarySnapshot snapshot = TakeSnapshot(library);
        Progress quiet(options.verbosity, 0);
        WriteCompacted(library, snapshot, LiveEntries(snapshot, library), std::nullopt, out, quiet);
        if (options.verbosity > 0)
            std::printf("%s: compacted first, to make room in its directory\n", library.c_str());
    } else {
        out.CopyFrom(library, static_cast<uint64_t>(library_size));
    }
    out.Close();
    out.KeepModeOf(library);
    std::vector<std::string> report;
    {
        CoreSession core;
        core.Open(out.TempPath(), 0, library);
        const GrowthStep growth(step);
        Progress progress(options.verbosity, plan.data + plan.early);
        WriteMembers(options, core, plan, library, out.TempPath(), progress, &report);
        core.Close(library);
    }
    out.Commit();
    PrintReport(options, inputs, report);
    return 0;
}

} // namespace txlib

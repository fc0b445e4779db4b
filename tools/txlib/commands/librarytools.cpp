// The commands over library containers: create, list, info, add, extract.
//
// Containers are opened, read and written through the core's library layer,
// so the tool accepts and writes exactly what the launcher does, and finds
// members by the names the launcher finds them by. A library is changed on a
// copy under a temporary name, renamed over the original only when every
// member went in.
#include "commands/librarytools.h"

#include "commands/deletecompact.h"
#include "host/errortext.h"
#include "formats/exeimage.h"
#include "host/failure.h"
#include "host/files.h"
#include "commands/libraryview.h"
#include "formats/longnames.h"
#include "host/progress.h"
#include "host/systemfiles.h"
#include "formats/text.h"
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

#ifdef _WIN32
#include <direct.h>
#include <fcntl.h>
#include <io.h>
#endif

namespace txlib {

namespace {

constexpr uint16_t kChunk = 60000;            // bytes per member read or write
constexpr uint32_t kExtractChunk = 1 << 20;   // bytes per read of a member extracted
constexpr int64_t kContainerMax = 0x7FFFFFFF; // offsets are signed 32-bit
constexpr int kLeastCapacity = 30;            // the directory of a new library, and the core's step
constexpr uint16_t kDiskReadShared = tx::kDiskRead | tx::kDiskShareRead | tx::kDiskShareWrite;

using Json = nlohmann::ordered_json;

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

bool IsDirectory(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && (st.st_mode & S_IFMT) == S_IFDIR;
}

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

// A library file, or the library embedded in a program, open for reading,
// with the launcher's view of its members.
struct ReadLibrary {
    explicit ReadLibrary(const std::string& library)
        : base((RequireLibrary(library, false), LibraryBase(library))),
          record(core.Open(library, base, library, true)), view(core) {}

    CoreSession core;
    uint32_t base;
    const tx::LibraryRecord* record;
    const LibraryView view;
};

// A name or pattern from the command line as a member name: Windows-1252,
// with '/' taken for the '\' between the parts of a long name.
std::string NameArgument(const std::string& argument) {
    std::string name, error;
    if (!ArgumentText(argument, &name, &error)) Fail(argument, "the member name " + error);
    std::replace(name.begin(), name.end(), '/', '\\');
    return name;
}

bool IsPattern(const std::string& name) {
    return name.find_first_of("*?") != std::string::npos;
}

// The table member of a library whose long names are in use.
bool IsTable(const LibraryView& view, const MemberView& member) {
    return view.Searched() && view.HasTable() && FoldCase(member.stored) == kTableMember &&
           !member.long_name;
}

// The entries that names and patterns select, each once, in the order
// named; with no names, every member but the long-name table (and with
// `all` every entry). A name or pattern that selects nothing fails.
std::vector<const MemberView*> Select(const LibraryView& view,
                                      const std::vector<std::string>& arguments, bool all,
                                      const std::string& library, const std::string& nothing) {
    std::vector<const MemberView*> chosen;
    std::set<int> seen;
    auto take = [&](const MemberView* member) {
        if (seen.insert(member->index).second) chosen.push_back(member);
    };
    if (arguments.empty()) {
        for (const MemberView& member : view.Entries())
            if (all || (member.state == MemberView::kMember && !IsTable(view, member)))
                take(&member);
        return chosen;
    }
    for (const std::string& argument : arguments) {
        const std::string name = NameArgument(argument);
        if (IsPattern(name)) {
            const std::string pattern = FoldCase(name);
            bool matched = false;
            for (const MemberView& member : view.Entries()) {
                if (!all && member.state != MemberView::kMember) continue;
                if (WildcardMatch(pattern, FoldCase(member.name)) ||
                    WildcardMatch(pattern, FoldCase(member.stored))) {
                    take(&member);
                    matched = true;
                }
            }
            if (!matched) Fail(library, "no member matches " + argument + nothing);
        } else {
            const MemberView* member = view.Entry(view.Find(name));
            if (member == nullptr) Fail(library, "has no member " + argument + nothing);
            take(member);
        }
    }
    return chosen;
}

void WarnOfTable(const LibraryView& view, const std::string& library) {
    if (!view.TableProblem().empty())
        std::fprintf(stderr, "txlib: %s: %s\n", EscapeControls(library).c_str(),
                     view.TableProblem().c_str());
}

const char* StateName(MemberView::State state) {
    switch (state) {
    case MemberView::kMember:
        return "member";
    case MemberView::kHidden:
        return "hidden";
    case MemberView::kDeleted:
        break;
    }
    return "deleted";
}

// The characters of a Windows-1252 name as list shows it (ShownText).
size_t Columns(const std::string& name) {
    const std::string shown = ShownText(name);
#ifdef _WIN32
    return shown.size();
#else
    return static_cast<size_t>(
        std::count_if(shown.begin(), shown.end(), [](char c) { return (c & 0xC0) != 0x80; }));
#endif
}

// A Windows-1252 name as list shows it, padded with spaces to `width`
// characters.
std::string Padded(const std::string& name, size_t width) {
    const size_t columns = Columns(name);
    return ShownText(name) + std::string(columns < width ? width - columns : 0, ' ');
}

// The pairs of live entries (valid ones, whether a lookup reaches them or
// not) whose names, as files, are one name where case is ignored, as it is
// on Windows; each later entry paired with the first of its name.
std::vector<std::pair<const MemberView*, const MemberView*>>
CaseCollisions(const LibraryView& view) {
    std::vector<std::pair<const MemberView*, const MemberView*>> pairs;
    std::map<std::string, const MemberView*> first;
    for (const MemberView& member : view.Entries()) {
        if (member.state == MemberView::kDeleted) continue;
        const auto [at, fresh] = first.emplace(FoldFileCase(member.name), &member);
        if (!fresh) pairs.emplace_back(at->second, &member);
    }
    return pairs;
}

std::string CollisionText(const MemberView& a, const MemberView& b) {
    std::string text = "entries " + Number(static_cast<uint64_t>(a.index)) + " (" +
                       ShownText(a.name) + ") and " + Number(static_cast<uint64_t>(b.index)) +
                       " (" + ShownText(b.name) + ") have the same name if case is ignored";
    if (b.state == MemberView::kHidden)
        text += "; no lookup reaches entry " + Number(static_cast<uint64_t>(b.index)) + ", and";
    else
        text += ";";
    return text + " extracted on Windows one file would replace the other";
}

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
#ifdef _WIN32
    _setmode(_fileno(stdin), _O_BINARY);
#endif
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

constexpr char kThroughLink[] =
    "is a symbolic link: extraction goes through no link inside its directory, to a folder or "
    "to a file";

// The first part of `target` after `prefix` (the output folder) that is a
// symbolic link, or "" when none is.
std::string LinkBelow(const std::string& prefix, const std::string& target) {
    for (size_t at = prefix.size(); at <= target.size();) {
        const size_t end = target.find_first_of("/\\", at);
        const std::string part = target.substr(0, end);
        if (IsLink(part)) return part;
        if (end == std::string::npos) break;
        at = end + 1;
    }
    return "";
}

// Makes each missing folder of `path`, noting those it made.
void MakeFolders(const std::string& path, std::vector<std::string>* made) {
    for (size_t at = 0; at != std::string::npos;) {
        at = path.find_first_of("/\\", at + 1);
        const std::string prefix = path.substr(0, at);
        if (prefix.empty() || prefix.back() == ':' || IsDirectory(prefix)) continue;
#ifdef _WIN32
        const int failed = _mkdir(prefix.c_str());
#else
        const int failed = ::mkdir(prefix.c_str(), 0777);
#endif
        // The cause is taken before the checks below can replace it.
        const std::string reason = failed != 0 ? ErrnoText() : std::string();
        if (failed != 0 && !IsDirectory(prefix))
            Fail(prefix, NameTaken(prefix) ? "exists and is not a folder"
                                           : "cannot make the folder: " + reason);
        made->push_back(prefix);
    }
}

} // namespace

void RequireLibrary(const std::string& library, bool suggest_create) {
    if (!FileExistsOnDisk(library))
        Fail(library, suggest_create ? "no such library (txlib create makes one)" : "no such file");
}

std::vector<const MemberView*> SelectMembers(const LibraryView& view,
                                             const std::vector<std::string>& arguments, bool all,
                                             const std::string& library,
                                             const std::string& nothing) {
    return Select(view, arguments, all, library, nothing);
}

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
            Fail(name, "damaged: member " + ShownText(EntryName(entry)) +
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
    if (name.empty() || name == "." || name == "..") {
        *reason = "has an empty, \".\" or \"..\" part";
        return false;
    }
    for (char c : name) {
        const auto byte = static_cast<uint8_t>(c);
        if (byte < 0x20 || byte == 0x7F || std::strchr("\\/:*?\"<>|", c) != nullptr) {
            *reason = "holds a character that a file name cannot hold";
            return false;
        }
    }
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

bool MapExtractTarget(const std::string& prefix, const std::string& name, char separator,
                      ExtractTarget* target, std::string* reason) {
    *target = ExtractTarget{prefix, "", {}, {}};
    size_t start = 0;
    for (;;) {
        const size_t end = name.find('\\', start);
        const std::string part = name.substr(start, end - start);
        if (!SafeFileName(part, reason)) return false;
        target->folded += FoldFileCase(part);
        target->path += DisplayText(part);
        if (end == std::string::npos) return true;
        target->folder_paths.push_back(target->path);
        target->folded_folders.push_back(target->folded);
        target->folded += '\\';
        target->path += separator;
        start = end + 1;
    }
}

bool WildcardMatch(const std::string& pattern, const std::string& name) {
    // reach[n]: the pattern so far matches the first n characters of the
    // name. '*' and '?' stay within one part of a long name; "**" crosses
    // the backslashes between parts.
    std::vector<char> reach(name.size() + 1, 0), next(name.size() + 1);
    reach[0] = 1;
    for (size_t p = 0; p < pattern.size(); ++p) {
        std::fill(next.begin(), next.end(), 0);
        if (pattern[p] == '*') {
            const bool across = p + 1 < pattern.size() && pattern[p + 1] == '*';
            while (p + 1 < pattern.size() && pattern[p + 1] == '*')
                ++p;
            for (size_t n = 0; n <= name.size(); ++n)
                next[n] = reach[n] || (n > 0 && next[n - 1] && (across || name[n - 1] != '\\'));
        } else {
            for (size_t n = 0; n < name.size(); ++n)
                next[n + 1] =
                    reach[n] && (pattern[p] == '?' ? name[n] != '\\' : pattern[p] == name[n]);
        }
        reach.swap(next);
    }
    return reach[name.size()] != 0;
}

nlohmann::ordered_json LibraryInfoJson(const std::string& path, uint32_t base) {
    CoreSession core;
    const tx::LibraryRecord* library = core.Open(path, base, path, true);
    const LibraryView view(core);
    const tx::HeaderBlock& h = *library->header;
    int members = 0, deleted = 0;
    for (const MemberView& member : view.Entries()) {
        if (member.state == MemberView::kMember) ++members;
        if (member.state == MemberView::kDeleted) ++deleted;
    }
    Json info;
    info["file"] = PathUtf8(path);
    info["offset"] = base;
    info["size"] = library->end_of_data;
    info["magic"] = Cp1252ToUtf8(std::string(h.magic, strnlen(h.magic, 14)));
    info["header_size"] = h.header_size;
    info["created"] =
        h.create_date == 0
            ? Json()
            : Json(FatDate(h.create_date) + " " + FatTime(h.create_date, h.create_time));
    info["kind"] = h.kind;
    info["scramble"] =
        h.seed == tx::kSeedPlain ? Json() : Json{{"seed", h.seed}, {"method", h.method}};
    info["version"] = h.version;
    info["capacity"] = h.capacity;
    info["used"] = h.used;
    info["members"] = members;
    info["deleted"] = deleted;
    info["sorted"] = h.sorted != 0;
    info["words"] = {h.word100, h.word2048};
    return info;
}

int LibraryInfo(const Options& options, const std::string& path, uint32_t base) {
    if (options.json) {
        std::printf("%s\n", LibraryInfoJson(path, base).dump(2).c_str());
        return 0;
    }
    CoreSession core;
    const tx::LibraryRecord* library = core.Open(path, base, path, true);
    const LibraryView view(core);
    WarnOfTable(view, path);
    const tx::HeaderBlock& h = *library->header;
    if (base == 0) std::printf("file:              %s\n", EscapeControls(path).c_str());
    std::printf("container:         %ld bytes from offset %lu\n",
                static_cast<long>(library->end_of_data), static_cast<unsigned long>(base));
    std::printf("magic:             \"%s\"\n",
                ShownText(std::string(h.magic, strnlen(h.magic, 14))).c_str());
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
    int members = 0, deleted = 0, hidden = 0;
    for (const MemberView& member : view.Entries())
        (member.state == MemberView::kMember    ? members
         : member.state == MemberView::kDeleted ? deleted
                                                : hidden)++;
    std::printf("directory:         %u entries, %u used: %d members, %d deleted", h.capacity,
                h.used, members, deleted);
    if (hidden > 0) std::printf(", %d that no lookup reaches", hidden);
    std::printf("\n");
    if (view.Searched() && view.HasTable())
        std::printf("long names:        %u, in a table of %u bytes\n",
                    static_cast<unsigned>(view.Lines().size()),
                    static_cast<unsigned>(view.TableText().size()));
    std::printf("sorted:            %s\n", h.sorted ? "yes" : "no");
    std::printf("header words:      %u %u\n", h.word100, h.word2048);
    return 0;
}

namespace {

Json ListDocument(const ReadLibrary& opened, const std::string& library,
                  const ListRequest& request) {
    const tx::LibraryRecord* record = opened.record;
    const LibraryView& view = opened.view;
    Json list;
    list["library"] = PathUtf8(library);
    list["offset"] = opened.base;
    list["kind"] = record->header->kind;
    list["members"] = Json::array();
    for (const MemberView* member : Select(view, request.names, request.all, library, "")) {
        const tx::DirEntry& e = record->directory[member->index];
        Json item;
        item["index"] = member->index;
        item["name"] = Cp1252ToUtf8(member->name);
        item["stored"] = Cp1252ToUtf8(member->stored);
        item["state"] = StateName(member->state);
        // Copies: the packed entry's fields cannot be bound to references.
        item["size"] = static_cast<uint32_t>(e.size);
        item["offset"] = static_cast<uint32_t>(e.offset);
        item["allocated"] = static_cast<uint32_t>(e.allocated);
        item["date"] = FatDate(e.date);
        item["time"] = FatTime(e.date, e.time);
        item["attribute"] = static_cast<unsigned>(e.attribute);
        item["inside"] = tx::EntryInsideContainer(&e, record->end_of_data) != 0;
        list["members"].push_back(item);
    }
    if (!view.TableProblem().empty()) list["warning"] = view.TableProblem();
    return list;
}

// Says which live entries have one name where case is ignored.
void WarnOfCollisions(const LibraryView& view, const std::string& library) {
    for (const auto& [first, second] : CaseCollisions(view))
        std::fprintf(stderr, "txlib: %s: %s\n", EscapeControls(library).c_str(),
                     CollisionText(*first, *second).c_str());
}

} // namespace

nlohmann::ordered_json ListJson(const std::string& library, const ListRequest& request) {
    const ReadLibrary opened(library);
    return ListDocument(opened, library, request);
}

int CommandList(const Options& options, const std::string& library, const ListRequest& request) {
    int damaged = 0;
    if (options.json) {
        const ReadLibrary opened(library);
        const Json list = ListDocument(opened, library, request);
        WarnOfCollisions(opened.view, library);
        std::printf("%s\n", list.dump(2).c_str());
        for (const Json& member : list["members"])
            if (member["state"] == "member" && !member["inside"].get<bool>()) ++damaged;
    } else {
        const ReadLibrary opened(library);
        const tx::LibraryRecord* record = opened.record;
        const LibraryView& view = opened.view;
        WarnOfTable(view, library);
        WarnOfCollisions(view, library);
        const std::vector<const MemberView*> chosen =
            Select(view, request.names, request.all, library, "");
        const bool verbose = options.verbosity > 1;
        size_t width = 12;
        for (const MemberView* member : chosen)
            width = std::max(width, Columns(member->name));
        if (options.verbosity > 0)
            std::printf("%s %10s  %-10s %s%s%s%s\n", Padded("NAME", width).c_str(), "SIZE", "DATE",
                        verbose || request.all ? "TIME    " : "TIME",
                        verbose ? "  ENTRY     OFFSET  ALLOCATED" : "",
                        request.all ? (verbose ? "  STATE  " : "  STATE") : "",
                        verbose ? "  STORED" : "");
        for (const MemberView* member : chosen) {
            const tx::DirEntry& e = record->directory[member->index];
            const bool inside = tx::EntryInsideContainer(&e, record->end_of_data) != 0;
            if (member->state == MemberView::kMember && !inside) ++damaged;
            std::printf("%s %10lu  %-10s %-8s", Padded(member->name, width).c_str(),
                        static_cast<unsigned long>(e.size), FatDate(e.date).c_str(),
                        FatTime(e.date, e.time).c_str());
            if (verbose)
                std::printf("  %5d %10lu %10lu", member->index,
                            static_cast<unsigned long>(e.offset),
                            static_cast<unsigned long>(e.allocated));
            if (request.all) std::printf(verbose ? "  %-7s" : "  %s", StateName(member->state));
            if (verbose) std::printf("  %s", ShownText(member->stored).c_str());
            if (!inside) std::printf("  (data outside the container)");
            std::printf("\n");
        }
    }
    if (damaged > 0)
        Fail(library, "damaged: " + Number(static_cast<uint64_t>(damaged)) +
                          " member(s) point outside the container");
    return 0;
}

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
        Progress progress(options, plan.data);
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
        Progress quiet(options, 0);
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
        Progress progress(options, plan.data + plan.early);
        WriteMembers(options, core, plan, library, out.TempPath(), progress, &report);
        core.Close(library);
    }
    out.Commit();
    PrintReport(options, inputs, report);
    return 0;
}

namespace {

// Whether -k or --keep-newer-files keeps the file at `target` in place of
// the member `entry`: any file there, or one written later than the member
// was (a member without a date is older than any file).
bool KeepsFile(const ExtractRequest& request, const std::string& target,
               const tx::DirEntry& entry) {
    if (!request.keep_old && !request.keep_newer) return false;
    if (!NameTaken(target)) return false;
    if (request.keep_old) return true;
    int16_t file;
    if (!tx::DiskOpen(target.c_str(), kDiskReadShared, &file)) return false;
    tx::DateTimeRecord when{};
    const bool dated = tx::DiskGetFileTime(file, &when) != 0;
    tx::DiskClose(file);
    if (!dated) return false;
    const uint32_t on_disk =
        static_cast<uint32_t>(tx::PackFatDate(when)) << 16 | tx::PackFatTime(when);
    const uint32_t stored = static_cast<uint32_t>(entry.date) << 16 | entry.time;
    return on_disk > stored;
}

} // namespace

int CommandExtract(const Options& options, const std::string& library,
                   const ExtractRequest& request) {
    const ReadLibrary opened(library);
    const tx::LibraryRecord* record = opened.record;
    const LibraryView& view = opened.view;
    WarnOfTable(view, library);

    // The members to write, chosen and checked before anything is written.
    const std::string nothing = "; nothing extracted";
    const std::vector<const MemberView*> chosen =
        Select(view, request.names, false, library, nothing);
    for (const MemberView* member : chosen) {
        if (!tx::EntryInsideContainer(&record->directory[member->index], record->end_of_data))
            Fail(library, "damaged: member " + ShownText(member->name) +
                              " points outside the container" + nothing);
    }
    // On Windows two members whose names differ only in case would be
    // written to one file; the library's own lookup may reach only one.
    if (!request.to_stdout && request.names.empty()) {
        const auto collisions = CaseCollisions(view);
        if (!collisions.empty())
            Fail(library,
                 CollisionText(*collisions.front().first, *collisions.front().second) + nothing);
    }
    uint8_t key = 0;
    if (!tx::MemberKey(record, &key))
        Fail(library, "its members are scrambled by method " + Number(record->header->method) +
                          ", which the launcher cannot undo" + nothing);

    // Reads the entry chosen, by its index, from the container: the bytes
    // of that entry and no other, whatever its name leads a lookup to.
    std::vector<uint8_t> buffer(kExtractChunk);
    auto copy = [&](const MemberView& member, auto write) {
        const tx::DirEntry& entry = record->directory[member.index];
        const std::string what = "cannot read member " + ShownText(member.name);
        if (!tx::FileSeekExact(record->container,
                               record->base_offset + static_cast<int32_t>(entry.offset)))
            Fail(library, CoreFailure(what));
        // The container is a file of its own (a disk handle): it is read in
        // pieces larger than the virtual layer's 16-bit counts.
        uint32_t done = 0;
        while (done < entry.size) {
            const uint32_t left = entry.size - done;
            const uint32_t want = left < kExtractChunk ? left : kExtractChunk;
            uint32_t got = 0;
            if (!tx::DiskRead(record->container, buffer.data(), want, &got) || got != want)
                Fail(library, CoreFailure(what));
            if (record->header->seed != tx::kSeedPlain)
                for (uint32_t at = 0; at < want; at += kChunk)
                    tx::XorBytes(buffer.data() + at,
                                 static_cast<uint16_t>(std::min<uint32_t>(kChunk, want - at)), key);
            write(buffer.data(), static_cast<size_t>(want));
            done += want;
        }
    };

    if (request.to_stdout) {
        if (chosen.size() != 1)
            Fail(library,
                 "-O writes one member, and " + Number(chosen.size()) + " are selected" + nothing);
        if (StandardOutputIs(library))
            Fail(library, std::string("standard output is ") +
                              (opened.base != 0 ? "the program that holds the library read"
                                                : "the library read") +
                              ", which extraction never writes into" + nothing);
#ifdef _WIN32
        _setmode(_fileno(stdout), _O_BINARY);
#endif
        copy(*chosen.front(), [](const uint8_t* data, size_t size) {
            if (std::fwrite(data, 1, size, stdout) != size)
                Fail("", "cannot write to standard output: " + ErrnoText());
        });
        if (std::fflush(stdout) != 0) Fail("", "cannot write to standard output: " + ErrnoText());
        return 0;
    }

    // Where each member goes: its long name's folders under the output
    // folder, every part of it a safe name.
#ifdef _WIN32
    const char separator = '\\';
#else
    const char separator = '/';
#endif
    std::string prefix = request.directory;
    if (!prefix.empty() && prefix.back() != '/' && prefix.back() != '\\') prefix += separator;
    std::vector<std::string> targets;
    std::set<int> kept; // entries whose file -k keeps
    const char* const kept_why = request.keep_old ? "it exists" : "it is newer than the member";
    std::vector<std::string> skipped;               // their files
    std::map<std::string, const MemberView*> files; // as Windows compares names
    std::set<std::string> folders;
    uint64_t total = 0;
    for (const MemberView* member : chosen) {
        ExtractTarget mapped;
        std::string reason;
        if (!MapExtractTarget(prefix, member->name, separator, &mapped, &reason))
            Fail(library, "member \"" + ShownText(member->name) + "\" " + reason +
                              ": it would not be written inside the output directory" + nothing);
        const size_t leaf =
            mapped.path.size() -
            (mapped.folder_paths.empty() ? prefix.size() : mapped.folder_paths.back().size() + 1);
        if (leaf + kTemporarySuffixMax > kFileNameMax)
            Fail(mapped.path, "the name is longer than the " +
                                  Number(kFileNameMax - kTemporarySuffixMax) +
                                  " characters that leave room for the temporary name it is "
                                  "written under first" +
                                  nothing);
        for (const std::string& folder : mapped.folder_paths)
            if (FileExistsOnDisk(folder) && !IsDirectory(folder))
                Fail(folder, "is a file where member " + ShownText(member->name) +
                                 " needs a folder" + nothing);
        folders.insert(mapped.folded_folders.begin(), mapped.folded_folders.end());
        const std::string& target = mapped.path;
        const std::string& folded = mapped.folded;
        if (target.size() > static_cast<size_t>(tx::kPathMax))
            Fail(target,
                 "the path is longer than " + Number(tx::kPathMax) + " characters" + nothing);
        const size_t absolute = LimitedPathLength(target);
        if (absolute + kTemporarySuffixMax > kLimitedPathMax)
            Fail(target, "made absolute, the path is " + Number(absolute) +
                             " characters, more than the " +
                             Number(kLimitedPathMax - kTemporarySuffixMax) +
                             " that leave room for the temporary name it is written under "
                             "first within the system's limit of " +
                             Number(kLimitedPathMax) + nothing);
        const auto [at, fresh] = files.emplace(folded, member);
        if (!fresh)
            Fail(library, "members " + ShownText(at->second->name) + " and " +
                              ShownText(member->name) +
                              " have the same name if case is ignored: on Windows one file "
                              "would replace the other" +
                              nothing);
        if (KeepsFile(request, target, record->directory[member->index])) {
            kept.insert(member->index);
            skipped.push_back(target);
            continue;
        }
        const std::string link = LinkBelow(prefix, target);
        if (!link.empty()) Fail(link, kThroughLink + nothing);
        if (IsDirectory(target)) Fail(target, "is a folder" + nothing);
        if (SameFile(target, library))
            Fail(target, std::string(opened.base != 0 ? "is the program that holds the library read"
                                                      : "is the library read") +
                             ", which extraction never replaces" + nothing);
        targets.push_back(target);
        if (kept.count(member->index) == 0) total += record->directory[member->index].size;
    }
    std::vector<const MemberView*> writing;
    for (const MemberView* member : chosen)
        if (kept.count(member->index) == 0) writing.push_back(member);
    for (const std::string& folder : folders)
        if (files.count(folder))
            Fail(library,
                 "member " + ShownText(folder) + " would be both a file and a folder" + nothing);
    if (FileExistsOnDisk(request.directory) && !IsDirectory(request.directory))
        Fail(request.directory, "exists and is not a directory");

    // Each file is written whole under a temporary name and renamed into
    // place; after a failure, the files written so far stay and are named.
    std::vector<std::string> made, written;
    std::map<FileIdentity, const MemberView*> identities; // of the files written
    Progress progress(options, total);
    try {
        MakeFolders(prefix, &made);
        for (const std::string& target : skipped)
            if (options.verbosity > 0)
                std::printf("skipped %s: %s\n", EscapeControls(target).c_str(), kept_why);
        for (size_t i = 0; i < writing.size(); ++i) {
            const MemberView& member = *writing[i];
            const std::string& target = targets[i];
            const size_t slash = target.find_last_of("/\\");
            if (slash != std::string::npos && slash >= prefix.size())
                MakeFolders(target.substr(0, slash + 1), &made);
            // Checked again now that the folders are there: a link put in
            // the way meanwhile is not gone through either.
            const std::string link = LinkBelow(prefix, target);
            if (!link.empty()) Fail(link, kThroughLink);
            OutputFile out(target);
            out.Open();
            copy(member, [&](const uint8_t* data, size_t size) {
                out.Write(data, size);
                progress.Add(size);
            });
            out.Close();
            // A file that appeared meanwhile is kept as well.
            if (KeepsFile(request, target, record->directory[member.index])) {
                if (options.verbosity > 0)
                    std::printf("skipped %s: %s\n", EscapeControls(target).c_str(), kept_why);
                continue;
            }
            // Two names this command wrote can be one file where the system
            // gives files other names too (Windows' short names): the file
            // of the first member is not replaced by the second's.
            FileIdentity identity;
            if (IdentityOf(target, &identity) && identities.count(identity) != 0)
                Fail(target, "is the file just written for member " +
                                 ShownText(identities[identity]->name) +
                                 " under another name; it is not replaced by member " +
                                 ShownText(member.name));
            out.Commit();
            written.push_back(target);
            if (IdentityOf(target, &identity)) identities[identity] = &member;
            const tx::DirEntry& entry = record->directory[member.index];
            if (entry.date != 0) {
                const std::string what = "cannot set its date and time";
                std::string failed;
                int16_t file;
                if (!tx::DiskOpen(target.c_str(), tx::kDiskRead | tx::kDiskWrite, &file)) {
                    failed = CoreFailure(what);
                } else {
                    if (!tx::DiskSetFileTime(file, tx::UnpackFatDateTime(entry.date, entry.time)))
                        failed = CoreFailure(what);
                    if (!tx::DiskClose(file) && failed.empty()) failed = CoreFailure(what);
                }
                if (!failed.empty()) Fail(target, failed);
            }
            if (options.verbosity > 0) {
                progress.Clear();
                std::printf("%s (%lu bytes)\n", EscapeControls(target).c_str(),
                            static_cast<unsigned long>(entry.size));
                std::fflush(stdout);
            }
        }
    } catch (Failure& failure) {
        progress.Clear();
        for (auto folder = made.rbegin(); folder != made.rend(); ++folder)
            RemoveEmptyFolder(*folder);
        if (written.empty()) {
            failure.message += nothing;
        } else {
            if (options.verbosity == 0)
                for (const std::string& path : written)
                    std::fprintf(stderr, "txlib: written %s\n", EscapeControls(path).c_str());
            failure.message +=
                "; the " + Number(written.size()) + " file(s) written before it stay, each whole";
        }
        throw;
    }
    return 0;
}

} // namespace txlib

// What the library commands share: numbers, dates and names as they show
// them, a library opened for reading, the members that arguments select, the
// checks of names and containers.
//
// Containers are opened, read and written through the core's library layer,
// so the tool accepts and writes exactly what the launcher does, and finds
// members by the names the launcher finds them by. A library is changed on a
// copy under a temporary name, renamed over the original only when every
// member went in.
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

} // namespace txlib

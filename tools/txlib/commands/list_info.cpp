// list and info on a library container: its members and its header.
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
    return DisplayColumns(ShownText(name));
}

// A Windows-1252 name as list shows it, padded with spaces to `width`
// characters.
std::string Padded(const std::string& name, size_t width) {
    const size_t columns = Columns(name);
    return ShownText(name) + std::string(columns < width ? width - columns : 0, ' ');
}

} // namespace

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

} // namespace txlib

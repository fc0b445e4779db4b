// The bytes of a long-name table, stored as TXBIBLI.LFN in a library made
// for the input beside members named as the table's first lines say, then
// loaded as the launcher loads it when it opens an application library.
// Every long name of the table, as written, is then opened as a member: the
// library tool's reading of a table (ParseTable) must tell which member the
// launcher opens, or that it opens none. The tool's own round trip of the
// text, and the short names it makes for the long ones, are checked too.
#include "common.h"

#include "library/libtable.h"
#include "library/searchlist.h"
#include "formats/longnames.h"
#include "platform/win32.h"
#include "vfile/virtual.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr size_t kMembersMade = 6;
constexpr size_t kNamesOpened = 24;
constexpr size_t kTableLoadedMax = 0xFFFF; // the launcher's 16-bit read count

[[noreturn]] void Broken(const char* what, const std::string& name) {
    std::fprintf(stderr, "longnames: %s: \"%s\"\n", what, name.c_str());
    std::abort();
}

bool WriteWhole(const std::string& path, int16_t selector, const std::string& bytes) {
    int16_t handle = -1;
    if (!tx::FileCreate(path.c_str(), &handle, selector)) return false;
    bool ok = true;
    for (size_t at = 0; ok && at < bytes.size(); at += 0x8000) {
        std::string piece = bytes.substr(at, 0x8000);
        ok = tx::FileWrite(handle, piece.data(), static_cast<uint16_t>(piece.size())) ==
             piece.size();
    }
    return tx::FileClose(handle) && ok;
}

// The member's bytes, or false when it does not open.
bool ReadMember(const std::string& name, int16_t selector, std::string* bytes) {
    const std::string path = "|" + name;
    int16_t handle = -1;
    if (!tx::FileOpenRead(path.c_str(), &handle, selector)) return false;
    bytes->clear();
    char buffer[4096];
    for (uint16_t got; (got = tx::FileRead(handle, buffer, sizeof buffer)) != 0;)
        bytes->append(buffer, got);
    tx::FileClose(handle);
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::vector<txlib::TableLine> lines = txlib::ParseTable(text);
    const std::vector<txlib::TableLine> again = txlib::ParseTable(txlib::TableText(lines));
    if (again.size() != lines.size())
        Broken("the table written again has other lines", text.substr(0, 40));
    for (size_t i = 0; i < lines.size(); ++i)
        if (again[i].long_name != lines[i].long_name || again[i].stored != lines[i].stored)
            Broken("the table written again reads otherwise", lines[i].long_name);

    // The members the library holds, by folded name, with their bytes: the
    // table, and each of the first lines' stored names that an entry can
    // hold, its bytes its own name.
    std::map<std::string, std::string> members{{txlib::kTableMember, text}};
    for (size_t i = 0; i < lines.size() && members.size() <= kMembersMade; ++i)
        if (txlib::FitsEntry(lines[i].stored))
            members.emplace(txlib::FoldCase(lines[i].stored), lines[i].stored);

    const std::string path = txfuzz::ScratchWinPath("names") + "\\APP.LIB";
    DeleteFileA(path.c_str()); // the library of the input before
    txfuzz::StartLayers();
    int16_t selector = -1;
    if (!tx::LibraryOpen(path.c_str(), &selector, 1, 0, 0, -1, -1, 0)) std::abort();
    for (const auto& [name, bytes] : members)
        if (!WriteWhole("|" + name, selector, bytes)) Broken("cannot write member", name);
    tx::LibraryClose(selector);
    if (tx::LibraryOpenApplication(path.c_str(), &selector, 0) != 0)
        Broken("the library made does not open", path);
    // The table in force is that of the library the search list is at: the
    // first, and only, one here. Names are then opened in it by selector.
    if (tx::SearchListFirst() != selector - tx::kSelectorBase)
        Broken("the library opened is not in the search list", path);

    // Each long name of the table, as written (a valid long name has no
    // space at either end to trim): the launcher upper-cases it and takes the
    // first line of that long name, else the name itself.
    const bool loaded = size <= kTableLoadedMax;
    for (size_t i = 0; i < lines.size() && i < kNamesOpened; ++i) {
        const std::string& asked = lines[i].long_name;
        std::string reason;
        if (!txlib::ValidLongName(asked, &reason)) continue;
        const std::string key = txlib::FoldCase(asked);
        std::string wanted = key;
        for (size_t j = 0; loaded && j < lines.size(); ++j)
            if (lines[j].long_name == key) {
                wanted = txlib::FoldCase(lines[j].stored);
                break;
            }
        const auto member = members.find(wanted);
        std::string bytes;
        const bool opened = ReadMember(asked, selector, &bytes);
        if (member == members.end()) {
            if (opened) Broken("a long name opened a member the table does not name", asked);
        } else if (!opened) {
            Broken("a long name did not open the member the table names", asked);
        } else if (bytes != member->second) {
            Broken("a long name opened another member than the table names", asked);
        }
    }
    tx::LibraryClose(selector);
    txfuzz::EndLayers();

    // The tool's short names: 8.3 names that an entry holds, never one taken.
    std::vector<std::string> taken;
    for (size_t i = 0; i < lines.size() && i < kNamesOpened; ++i) {
        const std::string made = txlib::ShortName(lines[i].long_name, [&](const std::string& n) {
            for (const std::string& t : taken)
                if (t == txlib::FoldCase(n)) return true;
            return false;
        });
        if (!txlib::FitsEntry(made)) Broken("a short name that no entry holds", made);
        for (const std::string& t : taken)
            if (t == txlib::FoldCase(made)) Broken("a short name given twice", made);
        taken.push_back(txlib::FoldCase(made));
    }
    return 0;
}

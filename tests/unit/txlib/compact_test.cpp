// compact and add over libraries made byte by byte: a compacted library
// holds every live entry as it was, its data as stored and its long names,
// and the launcher's core still opens its members by their names; add into
// a full directory replaces in place, or compacts first.
#include "container_fixture.h"
#include "commands/deletecompact.h"
#include "host/failure.h"
#include "commands/librarytools.h"
#include "commands/libraryview.h"
#include "testutil.h"

#include "library/libtable.h"
#include "library/searchlist.h"
#include "vfile/virtual.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using txtest::FixtureContainer;
using txtest::FixtureMember;
using txtest::Get16;
using txtest::Get32;

const txlib::Options kQuiet{0, false};

// Each valid entry's 48 bytes, its offset and allocated size blanked, and
// its data as stored, in directory order.
std::vector<std::pair<std::string, std::string>> LiveEntries(const std::string& bytes) {
    std::vector<std::pair<std::string, std::string>> live;
    const int used = std::min(Get16(bytes, 116), Get16(bytes, 110));
    for (int i = 0; i < used; ++i) {
        const size_t at = txtest::EntryAt(i);
        if (Get16(bytes, at + 17) != 1) continue;
        std::string entry = bytes.substr(at, 48);
        entry.replace(23, 8, 8, '\0');
        live.emplace_back(entry, bytes.substr(Get32(bytes, at + 23), Get32(bytes, at + 19)));
    }
    return live;
}

// The bytes the launcher's core reads from the member it opens by `name`
// in the application library at `path`.
std::string CoreReads(const std::string& path, const std::string& name) {
    txlib::CoreSession core; // the core's services, as the launcher starts them
    int16_t selector = -1;
    EXPECT_EQ(tx::LibraryOpenApplication(path.c_str(), &selector, 0), 0) << path;
    int16_t handle = -1;
    std::string data;
    // The library's long-name table, loaded with it, is put in force.
    tx::SearchListFirst();
    if (tx::FileOpen(("|" + name).c_str(), &handle, selector) == 1) {
        char buffer[4096];
        for (uint16_t got; (got = tx::FileRead(handle, buffer, sizeof buffer)) > 0;)
            data.append(buffer, got);
        tx::FileClose(handle);
    } else {
        ADD_FAILURE() << "the core does not open " << name;
    }
    tx::LibraryClose(selector);
    return data;
}

TEST(Compact, KeepsEveryLiveEntryItsDataAndTheLongNamesByteForByte) {
    const FixtureMember deleted{"\xE5OLD.TXT", "dead bytes", 0};
    const std::string module = txtest::Pattern(70000, 3);
    FixtureContainer plain = txtest::Lib({{"A.TXT", "first"},
                                          deleted,
                                          {"ALONGN~1.TXT", "long", 1, 0x2A21, 0x1234},
                                          {"TXBIBLI.LFN", "\nSUB\\A LONG NAME.TXT\tALONGN~1.TXT\n"},
                                          deleted,
                                          {"TX413EXE.DLL", module}});
    FixtureContainer scrambled = plain;
    scrambled.seed = 0x1234;
    scrambled.key = tx::ScrambleKey(0x1234, 0);
    FixtureContainer other_kind = plain;
    other_kind.kind = 7;
    FixtureContainer sorted = txtest::Lib({{"", ""}, {"AAA.X", "a"}, deleted, {"CCC.X", "c"}});
    sorted.sorted = 1;
    sorted.members[2].name = "BBB.X";
    struct Case {
        const char* what;
        FixtureContainer spec;
        uint16_t capacity; // of the compacted directory
    };
    const Case cases[] = {
        {"plain", plain, 30},
        {"scrambled", scrambled, 30},
        {"of another kind", other_kind, 30},
        {"sorted: no empty entry after the names", sorted, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        txtest::ScratchDir dir;
        const std::string before = txtest::BuildContainer(c.spec);
        dir.write("app.lib", before);
        const std::string library = dir.host("app.lib").string();
        txlib::CommandCompact(kQuiet, library);
        const std::string after = dir.read("app.lib");
        const auto live = LiveEntries(before);
        EXPECT_EQ(LiveEntries(after), live);
        EXPECT_EQ(after.substr(0, 110), before.substr(0, 110));
        EXPECT_EQ(after.substr(112, 4), before.substr(112, 4));
        EXPECT_EQ(after.substr(118), before.substr(118, 10) + after.substr(128));
        EXPECT_EQ(Get16(after, 110), c.capacity);
        EXPECT_EQ(Get16(after, 116), live.size());
        size_t data = 0;
        for (const auto& entry : live)
            data += entry.second.size();
        EXPECT_EQ(after.size(), 128 + 48 * size_t{c.capacity} + data) << "dead bytes remain";
        if (c.spec.kind == 0 && !c.spec.sorted) {
            const std::string path = txtest::WinPath(dir.host("app.lib"));
            EXPECT_EQ(CoreReads(path, "TX413EXE.DLL"), module);
            EXPECT_EQ(CoreReads(path, "sub\\a long name.txt"), "long");
        }
    }
}

TEST(Add, IntoAFullDirectoryReplacesInPlaceOrCompactsFirst) {
    std::vector<FixtureMember> members;
    for (int i = 0; i < 1000; ++i)
        members.push_back({txtest::Numbered("M", i), txtest::Numbered("data ", i)});
    FixtureContainer full = txtest::Lib(members);
    full.capacity = 1000;
    FixtureContainer one_deleted = full;
    one_deleted.members[10].state = 0;
    one_deleted.members[10].name = "\xE5"
                                   "10";
    struct Case {
        const char* what;
        FixtureContainer spec;
        const char* file;
        int entry;           // where the member written ends up
        const char* refused; // or the refusal
    };
    const Case cases[] = {
        {"a replacement takes the old entry", full, "M500", 500, nullptr},
        {"a new name in 1000 live entries", full, "NEW", -1, "would need 1001 directory entries"},
        {"a new name after a deleted entry is compacted away", one_deleted, "NEW", 999, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        txtest::ScratchDir dir;
        dir.write("app.lib", txtest::BuildContainer(c.spec));
        dir.write(c.file, "new data");
        const std::string library = dir.host("app.lib").string();
        txlib::AddRequest request;
        request.paths = {c.file};
        request.directory = dir.host().string();
        try {
            txlib::CommandAdd(kQuiet, library, request);
            EXPECT_EQ(c.refused, nullptr) << "added";
        } catch (const txlib::Failure& failure) {
            ASSERT_NE(c.refused, nullptr) << failure.message;
            EXPECT_NE(failure.message.find(c.refused), std::string::npos) << failure.message;
            continue;
        }
        const std::string after = dir.read("app.lib");
        EXPECT_EQ(Get16(after, 116), 1000);
        EXPECT_EQ(txtest::EntryName(after, c.entry), c.file);
        const size_t at = txtest::EntryAt(c.entry);
        EXPECT_EQ(after.substr(Get32(after, at + 23), Get32(after, at + 19)), "new data");
        // Every other member is still there, in its order.
        EXPECT_EQ(txtest::EntryName(after, 0), "M0");
        EXPECT_EQ(txtest::EntryName(after, c.entry == 999 ? 998 : 999), "M999");
    }
}

} // namespace

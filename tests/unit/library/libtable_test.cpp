// The open-library table: what opens and what is refused, nested and
// base-offset containers, the table's limit, the search order, new
// containers, and the application library.
#include "layer_fixture.h"

#include <cstring>

using namespace tx;
using txtest::FixtureContainer;
using txtest::FixtureMember;

namespace {

class LibTableTest : public txtest::LayerTest {
  protected:
    // Marks the last error number so that a failure recording nothing shows.
    static void Mark() { SetErrorNumber(1); }

    int16_t Selector() const { return selector_; }
    int Open(const std::string& name, int16_t kind = -1) {
        return LibraryOpenExisting(dir.win(name).c_str(), &selector_, kind);
    }
    int16_t selector_ = 0;
};

FixtureContainer Plain(std::vector<FixtureMember> members, uint16_t kind = 0) {
    FixtureContainer spec;
    spec.kind = kind;
    spec.members = std::move(members);
    return spec;
}

} // namespace

TEST_F(LibTableTest, ShortestContainerAndMagic) {
    FixtureContainer spec;
    spec.capacity = 0;
    std::string bytes = txtest::BuildContainer(spec);
    ASSERT_EQ(bytes.size(), 128u);
    bytes[0] = '\x7F'; // the first byte is neither read nor compared
    dir.write("min.lib", bytes);
    ASSERT_EQ(Open("min.lib"), 1);
    EXPECT_EQ(Selector(), 255);
    EXPECT_EQ(LibraryClose(Selector()), 1);
    EXPECT_EQ(dir.read("min.lib"), bytes); // nothing changed: nothing written back

    dir.write("short.lib", bytes.substr(0, 127));
    Mark();
    EXPECT_EQ(Open("short.lib"), 0);
    EXPECT_EQ(Selector(), -1);
    EXPECT_EQ(ErrorLastNumber(), 1063);
    EXPECT_EQ(Open("missing.lib"), 0);
    EXPECT_EQ(ErrorLastNumber(), 1063);

    bytes[9] = '_';
    dir.write("bad.lib", bytes);
    Mark();
    EXPECT_EQ(Open("bad.lib"), 0);
    EXPECT_EQ(ErrorLastNumber(), 1); // a wrong magic records nothing
    int16_t index = 255;
    EXPECT_EQ(LibraryCheckSelector(&index), 0); // the record is free again
}

TEST_F(LibTableTest, HeadersThatDoNotFitAreRefusedAndLeftAlone) {
    FixtureContainer spec = Plain({{"A", "aaaa"}});
    std::string good = txtest::BuildContainer(spec);
    struct Case {
        const char* what;
        size_t at;
        uint16_t value;
    } cases[] = {{"capacity above 1000", 110, 1001},
                 {"used above capacity", 116, 9},
                 {"directory past the end", 110, 9}};
    for (const Case& c : cases) {
        std::string bytes = good;
        txtest::Put16(bytes, c.at, c.value);
        dir.write("odd.lib", bytes);
        EXPECT_EQ(Open("odd.lib"), 0) << c.what;
        EXPECT_EQ(Selector(), -1) << c.what;
        EXPECT_EQ(dir.read("odd.lib"), bytes) << c.what;
    }
    int16_t index = 255;
    EXPECT_EQ(LibraryCheckSelector(&index), 0);
}

TEST_F(LibTableTest, DemandedKindAndTheSearchList) {
    Put("k3.lib", Plain({{"A", "1"}}, 3));
    Mark();
    EXPECT_EQ(Open("k3.lib", 0), 0);
    EXPECT_EQ(ErrorLastNumber(), 1);
    ASSERT_EQ(Open("k3.lib", -1), 1);
    EXPECT_EQ(LibraryKind(Selector()), 3);
    EXPECT_EQ(SearchListContains(static_cast<int16_t>(Selector() - 255)), 0);
    EXPECT_EQ(LibraryKind(300), -2);
    Put("k0.lib", Plain({{"A", "1"}}, 0));
    ASSERT_EQ(Open("k0.lib", 0), 1);
    EXPECT_EQ(SearchListContains(static_cast<int16_t>(Selector() - 255)), 1);
}

TEST_F(LibTableTest, TwentyOpenAtMostAndCloseTwiceFails) {
    Put("a.lib", Plain({{"A", "1"}}, 7));
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(Open("a.lib"), 1) << i;
        EXPECT_EQ(Selector(), 255 + i);
    }
    Mark();
    EXPECT_EQ(Open("a.lib"), 0);
    EXPECT_EQ(Selector(), -1);
    EXPECT_EQ(ErrorLastNumber(), 1061);
    for (int16_t s = 255; s < 275; ++s) {
        int16_t index = s;
        EXPECT_EQ(LibraryCheckSelector(&index), 1);
        EXPECT_EQ(index, s - 255);
    }
    EXPECT_EQ(LibraryClose(260), 1);
    EXPECT_EQ(LibraryClose(260), 0);
    EXPECT_EQ(ErrorLastNumber(), 1066);
    EXPECT_EQ(LibrarySelect(260), 0);
    EXPECT_EQ(LibrarySelect(254), 0);
    EXPECT_EQ(Open("a.lib"), 1);
    EXPECT_EQ(Selector(), 260); // the free record of lowest index
}

TEST_F(LibTableTest, SearchOrderFollowsOpensAndCloses) {
    for (const char* name : {"a.lib", "b.lib", "c.lib", "d.lib"})
        Put(name, Plain({{"X", "1"}}));
    int16_t a, b, c, d;
    ASSERT_EQ(LibraryOpenExisting(dir.win("a.lib").c_str(), &a, 0), 1);
    ASSERT_EQ(LibraryOpenExisting(dir.win("b.lib").c_str(), &b, 0), 1);
    ASSERT_EQ(LibraryOpenExisting(dir.win("c.lib").c_str(), &c, 0), 1);
    ASSERT_EQ(LibraryClose(b), 1);
    ASSERT_EQ(LibraryOpenExisting(dir.win("d.lib").c_str(), &d, 0), 1);
    EXPECT_EQ(d, b); // D takes B's free record but comes last in the search
    SelectLibrary(static_cast<int16_t>(a - 255));
    std::vector<int16_t> order;
    for (int16_t i = SearchListFirst(); i != -1; i = SearchListNext()) {
        order.push_back(i);
        EXPECT_EQ(g_current_library, i);
    }
    EXPECT_EQ(order, (std::vector<int16_t>{0, 2, 1}));
    EXPECT_EQ(g_current_library, 0); // the library current before the iteration
    char** slot = nullptr;
    ASSERT_EQ(SearchListLast(&slot), 1);
    EXPECT_EQ(slot, &const_cast<SearchEntry*>(SearchListEntries())[2].long_names);
}

TEST_F(LibTableTest, EmptySearchListLeavesTheCurrentLibrary) {
    Put("k5.lib", Plain({{"A", "1"}}, 5));
    ASSERT_EQ(Open("k5.lib"), 1);
    SelectLibrary(0);
    EXPECT_EQ(SearchListFirst(), -1);
    EXPECT_EQ(g_current_library, 0);
    char** slot;
    EXPECT_EQ(SearchListLast(&slot), 0);
}

TEST_F(LibTableTest, NestedOpenSharesTheOuterHandleAndSurvivesItsClose) {
    FixtureContainer inner = Plain({{"IN1", "inner one"}, {"IN2", "inner two!"}}, 1);
    const std::string inner_bytes = txtest::BuildContainer(inner);
    Put("outer.lib", Plain({{"HEAD", "h"}, {"X.LIB", inner_bytes}, {"NOTLIB.LIB", "plain text"}}));
    int16_t outer;
    ASSERT_EQ(LibraryOpenExisting(dir.win("outer.lib").c_str(), &outer, 0), 1);

    // X.LIB is not on disk: with libraries first off it is found after the disk.
    SetLibrariesFirst(0);
    const std::string asked = dir.win("X.LIB");
    int16_t nested;
    ASSERT_EQ(LibraryOpenExisting(asked.c_str(), &nested, -1), 1);
    LibraryRecord* o = LibraryRecordAt(static_cast<int16_t>(outer - 255));
    LibraryRecord* n = LibraryRecordAt(static_cast<int16_t>(nested - 255));
    EXPECT_STREQ(n->path, asked.c_str());
    EXPECT_EQ(n->container, o->container);
    EXPECT_EQ(n->owns_handle, 0);
    EXPECT_EQ(n->base_offset, 128 + 8 * 48 + 1);
    EXPECT_EQ(n->end_of_data, static_cast<int32_t>(inner_bytes.size()));
    EXPECT_EQ(+n->directory[1].offset, 128u + 8 * 48 + 9); // relative to its own start

    int16_t h;
    ASSERT_EQ(FileOpen("|IN2", &h, nested), 1);
    EXPECT_EQ(ReadAll(h), "inner two!");
    ASSERT_EQ(LibraryClose(nested), 1);

    ASSERT_EQ(FileOpen("|HEAD", &h, outer), 1);
    EXPECT_EQ(ReadAll(h), "h");

    // A member that is no container fails to open nested; the outer stays.
    EXPECT_EQ(LibraryOpenExisting(dir.win("NOTLIB.LIB").c_str(), &nested, -1), 0);
    EXPECT_EQ(nested, -1);
    ASSERT_EQ(FileOpen("|HEAD", &h, outer), 1);
    EXPECT_EQ(ReadAll(h), "h");
}

TEST_F(LibTableTest, LibrariesFirstPrefersTheMemberOverTheDiskFile) {
    Put("X.LIB", Plain({{"DISK", "on disk"}}, 2));
    Put("outer.lib",
        Plain({{"X.LIB", txtest::BuildContainer(Plain({{"MEMBER", "in member"}}, 2))}}));
    int16_t outer, lib, h;
    ASSERT_EQ(LibraryOpenExisting(dir.win("outer.lib").c_str(), &outer, 0), 1);
    ASSERT_EQ(LibraryOpenExisting(dir.win("X.LIB").c_str(), &lib, -1), 1);
    EXPECT_EQ(LibraryRecordAt(static_cast<int16_t>(lib - 255))->owns_handle, 0);
    EXPECT_EQ(FileOpen("|MEMBER", &h, lib), 1);
    ASSERT_EQ(LibraryClose(lib), 1);
    SetLibrariesFirst(0);
    ASSERT_EQ(LibraryOpenExisting(dir.win("X.LIB").c_str(), &lib, -1), 1);
    EXPECT_EQ(LibraryRecordAt(static_cast<int16_t>(lib - 255))->owns_handle, 1);
    EXPECT_EQ(FileOpen("|DISK", &h, lib), 1);
}

TEST_F(LibTableTest, ClosingTheOuterLibraryClosesTheNestedOnesFirst) {
    Put("outer.lib", Plain({{"IN.LIB", txtest::BuildContainer(Plain({{"M", "m"}}, 4))}}, 4));
    int16_t outer, nested;
    ASSERT_EQ(Open("outer.lib"), 1);
    outer = Selector();
    // Nested by hand: kind 4 libraries are not searched.
    LibraryRecord* o = LibraryRecordAt(0);
    ASSERT_EQ(LibraryOpen(o->path, &nested, 0, 1, -1, 0, static_cast<int32_t>(o->directory[0].size),
                          static_cast<int32_t>(o->directory[0].offset)),
              1);
    ASSERT_EQ(LibraryClose(outer), 1);
    int16_t index = nested;
    EXPECT_EQ(LibraryCheckSelector(&index), 0);
}

TEST_F(LibTableTest, NewContainerIsWrittenWhole) {
    const std::string path = dir.win("new.lib");
    int16_t selector;
    ASSERT_EQ(LibraryOpen(path.c_str(), &selector, 1, 0, -1, -1, 0, 0), 1);
    EXPECT_EQ(SearchListContains(static_cast<int16_t>(selector - 255)), 0);
    ASSERT_EQ(LibraryClose(selector), 1);
    std::string bytes = dir.read("new.lib");
    FixtureContainer spec;
    spec.capacity = 30;
    spec.kind = 0xFFFF;
    std::string expected = txtest::BuildContainer(spec);
    ASSERT_EQ(bytes.size(), 1568u);
    // Creation date and time are the clock's: compare everything else.
    EXPECT_NE(txtest::Get16(bytes, 102), 0);
    txtest::Put16(bytes, 100, 0x6D44);
    txtest::Put16(bytes, 102, 0x2147);
    EXPECT_EQ(bytes, expected);
    ASSERT_EQ(LibraryOpenExisting(path.c_str(), &selector, -1), 1);
    EXPECT_EQ(LibraryKind(selector), -1);
}

TEST_F(LibTableTest, NewContainerThatCannotBeWrittenIsNotLeftBehind) {
    if (!txplat::FaultsSupported()) GTEST_SKIP() << txtest::kNoFaultsReason;
    const std::string path = dir.win("new.lib");
    int16_t selector;
    txplat::FaultInject("WriteFile", 112); // the disk is full
    EXPECT_EQ(LibraryOpen(path.c_str(), &selector, 1, 0, -1, -1, 0, 0), 0);
    txplat::FaultClear();
    EXPECT_FALSE(std::filesystem::exists(dir.host("new.lib")));
    EXPECT_EQ(LibraryOpen(path.c_str(), &selector, 1, 0, -1, -1, 0, 0), 1);
}

TEST_F(LibTableTest, ApplicationLibraryResults) {
    int16_t selector;
    EXPECT_EQ(LibraryOpenApplication(dir.win("none.lib").c_str(), &selector, 0), 1);
    dir.write("text.lib", std::string(300, 'x'));
    EXPECT_EQ(LibraryOpenApplication(dir.win("text.lib").c_str(), &selector, 0), 2);
    Put("k16.lib", Plain({{"A", "1"}}, 16));
    EXPECT_EQ(LibraryOpenApplication(dir.win("k16.lib").c_str(), &selector, 0), 4);
    EXPECT_EQ(selector, -1);
    for (int16_t s = 255; s < 275; ++s) {
        int16_t index = s;
        EXPECT_EQ(LibraryCheckSelector(&index), 0);
    }
    EXPECT_EQ(g_layer.report_errors, 1);
    EXPECT_EQ(g_layer.libraries_first, 1);
    Put("app.lib", Plain({{"A", "1"}}, 0));
    EXPECT_EQ(LibraryOpenApplication(dir.win("app.lib").c_str(), &selector, 0), 0);
    EXPECT_EQ(selector, 255);
}

TEST_F(LibTableTest, ContainerAtABaseOffsetRunsToTheEndOfItsFile) {
    const std::string prefix = "MZ" + std::string(998, '\x90');
    const std::string lib = txtest::BuildContainer(Plain({{"TX413EXE.DLL", "runtime bytes"}}));
    dir.write("app.exe", prefix + lib);
    int16_t selector, h;
    ASSERT_EQ(LibraryOpenApplication(dir.win("app.exe").c_str(), &selector, 1000), 0);
    LibraryRecord* r = LibraryRecordAt(0);
    EXPECT_EQ(r->base_offset, 1000);
    EXPECT_EQ(r->end_of_data, static_cast<int32_t>(lib.size()));
    ASSERT_EQ(FileOpen("|TX413EXE.DLL", &h, selector), 1);
    EXPECT_EQ(ReadAll(h), "runtime bytes");
    EXPECT_EQ(LibraryProbe(dir.win("app.exe").c_str(), -1), 0); // no container at offset 0

    dir.write("tiny.exe", "MZ");
    EXPECT_EQ(LibraryOpenApplication(dir.win("tiny.exe").c_str(), &selector, 1000), 3);
}

TEST_F(LibTableTest, ProbeIsQuietAndKeepsTheCurrentLibrary) {
    Put("a.lib", Plain({{"A", "1"}}, 3));
    ASSERT_EQ(Open("a.lib"), 1);
    SelectLibrary(0);
    Mark();
    EXPECT_EQ(LibraryProbe(dir.win("a.lib").c_str(), 3), 1);
    EXPECT_EQ(LibraryProbe(dir.win("a.lib").c_str(), 4), 0);
    EXPECT_EQ(LibraryProbe(dir.win("missing.lib").c_str(), -1), 0);
    EXPECT_EQ(LibraryProbeFile(dir.win("missing.lib").c_str()), 0);
    EXPECT_EQ(LibraryProbeFile(dir.win("a.lib").c_str()), 1);
    EXPECT_EQ(ErrorLastNumber(), 1);
    EXPECT_EQ(g_current_library, 0);
}

TEST_F(LibTableTest, FailedHeaderReadRaises1015) {
    if (!txplat::FaultsSupported()) GTEST_SKIP() << txtest::kNoFaultsReason;
    Put("a.lib", Plain({{"A", "1"}}, 3));
    txplat::FaultInject("ReadFile", 5);
    EXPECT_EQ(Open("a.lib"), 0);
    EXPECT_EQ(ErrorLastNumber(), 1015);
    txplat::FaultInject("ReadFile", 5, 1); // the header reads, the directory does not
    EXPECT_EQ(Open("a.lib"), 0);
    EXPECT_EQ(ErrorLastNumber(), 1015);
    int16_t index = 255;
    EXPECT_EQ(LibraryCheckSelector(&index), 0);
    EXPECT_EQ(Open("a.lib"), 1);
}

TEST_F(LibTableTest, RelativePathsAreRecordedAgainstTheCurrentDirectory) {
    Put("rel.lib", Plain({{"A", "1"}}, 3));
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(dir.host());
    int16_t selector;
    const int opened = LibraryOpenExisting("rel.lib", &selector, -1);
    std::filesystem::current_path(before);
    ASSERT_EQ(opened, 1);
    char current[261];
    std::string expected = dir.win("rel.lib");
    EXPECT_STREQ(LibraryRecordAt(0)->path, expected.c_str());
    EXPECT_EQ(FileCurrentDir(current, sizeof current), 1);
    EXPECT_STRNE(current, dir.win("").c_str()); // back where it was
}

// A read-only open asks the system for reading only, and every way of
// writing through it, or through the disk layer's switch, fails cleanly.
TEST_F(LibTableTest, ReadOnlyOpenWritesNothing) {
    Put("a.lib",
        Plain({{"OLD", "old"}, {"INNER.LIB", txtest::BuildContainer(Plain({{"X", "x"}}))}}));
    const std::string before = dir.read("a.lib"), path = dir.win("a.lib");
    txplat::FaultClear();
    const int previous = LibrarySetReadOnly(1);
    ASSERT_EQ(Open("a.lib"), 1);
    const int16_t outer = Selector();
    ASSERT_EQ(Open("INNER.LIB"), 1); // nested: no such disk file
    int16_t h = 0;
    for (const int16_t selector : {outer, Selector()}) {
        Mark();
        EXPECT_EQ(FileCreate("|NEW", &h, selector), 0);
        EXPECT_EQ(ErrorLastNumber(), 1008);
    }
    char bytes[] = "over";
    ASSERT_EQ(LibrarySelect(outer), 1);
    EXPECT_EQ(FileWrite(outer, bytes, 4), 0);
    EXPECT_EQ(DiskLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(DirectoryWriteBack(), 0);
    EXPECT_EQ(LibraryOpen(dir.win("new.lib").c_str(), &h, 1, 0, 0, -1, -1, 0), 0);
    EXPECT_EQ(LibraryClose(outer), 1);
    LibrarySetReadOnly(previous);
    for (const txplat::CreateFileCall& call : txplat::CreateFileCalls())
        EXPECT_EQ(call.access & GENERIC_WRITE, 0u);
    DiskSetReadOnlyOpen(1);
    EXPECT_EQ(DiskCreate(path.c_str(), 15, &h), 0); // would empty it
    EXPECT_EQ(DiskLastError(), ERROR_ACCESS_DENIED);
    ASSERT_EQ(DiskOpen(path.c_str(), 15, &h), 1);
    DiskSetReadOnlyOpen(0);
    EXPECT_EQ(DiskWrite(h, bytes, 4), 0);
    DiskClose(h);
    EXPECT_TRUE(dir.read("a.lib") == before) << "a.lib was written";
    EXPECT_FALSE(std::filesystem::exists(dir.host("new.lib")));
}

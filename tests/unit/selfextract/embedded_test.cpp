// Finding the embedded library's offset in executables made here byte by
// byte, and bringing module files up to date from a library.
#include "diskfile/filetime.h"
#include "layer_fixture.h"
#include "library/embedded.h"
#include "launcher/scratchdir.h"
#include "launcher/extractmodule.h"

#include <filesystem>
#include <iterator>

using namespace tx;
using txtest::FixtureContainer;
using txtest::FixtureMember;
using txtest::Put16;
using txtest::Put32;

namespace {

using Fat = std::pair<uint16_t, uint16_t>; // FAT date and time words

// A PE file: MZ header whose e_lfanew points at "PE\0\0", a file header for
// two sections, an empty optional header, then the section table with .text
// and the resource section (named `name`), whose PointerToLinenumbers holds
// `offset`. The table starts at `table_at` (e_lfanew is placed to fit).
std::string MakePe(size_t table_at, uint32_t offset, const std::string& name = ".rsrc",
                   size_t size = 0x13800) {
    std::string pe(std::max(size, table_at + 80), '\0');
    pe[0] = 'M';
    pe[1] = 'Z';
    const size_t lfanew = table_at - 4 - 20 - 0xE0;
    Put32(pe, 0x3C, static_cast<uint32_t>(lfanew));
    pe.replace(lfanew, 4, std::string("PE\0\0", 4));
    Put16(pe, lfanew + 4, 0x14C); // i386
    Put16(pe, lfanew + 6, 2);     // sections
    Put16(pe, lfanew + 20, 0xE0); // optional header size
    Put16(pe, lfanew + 24, 0x10B);
    pe.replace(table_at, 5, ".text");
    pe.replace(table_at + 40, name.size(), name);
    Put32(pe, table_at + 40 + 28, offset);
    return pe;
}

class EmbeddedTest : public txtest::LayerTest {
  protected:
    int32_t OffsetOf(const std::string& bytes) {
        dir.write("launcher.exe", bytes);
        return EmbeddedLibraryOffset(dir.win("launcher.exe").c_str());
    }

    static std::pair<uint16_t, uint16_t> Stamp(const std::string& path) {
        FindRecord record{};
        EXPECT_EQ(DiskFindFirst(path.c_str(), &record, 0), 1) << path;
        DiskFindClose(&record);
        return {PackFatDate(record.when), PackFatTime(record.when)};
    }
};

} // namespace

TEST_F(EmbeddedTest, OffsetFromTheResourceSectionHeader) {
    EXPECT_EQ(OffsetOf(MakePe(0x178, 0x13C00)), 0x13C00);
    EXPECT_EQ(OffsetOf(MakePe(0x178, 0x13C00, ".RsRc")), 0x13C00); // any case
    EXPECT_EQ(OffsetOf(MakePe(0x178, 0)), 0);                      // not set up
    // A longer name is another section; the short file reads as zeros after
    // its end.
    EXPECT_EQ(OffsetOf(MakePe(0x178, 0x13C00, ".rsrc2", 0x200)), 0);
    // The header must begin in the first 30000 bytes; one that does is read
    // whole even when it runs past them.
    EXPECT_EQ(OffsetOf(MakePe(30000, 0x9000, ".rsrc", 40000)), 0);
    EXPECT_EQ(OffsetOf(MakePe(29995 - 40, 0x9000, ".rsrc", 40000)), 0x9000);
    // A name cut by the end of the scanned bytes does not match.
    std::string cut = MakePe(0x178, 0, ".text", 40000);
    cut.replace(29997, 5, ".rsrc");
    EXPECT_EQ(OffsetOf(cut), 0);

    EXPECT_EQ(EmbeddedLibraryOffset(dir.win("missing.exe").c_str()), kEmbeddedNoFile);
    EXPECT_EQ(OffsetOf("MZ too short"), kEmbeddedNoHeader);
    std::string not_image = MakePe(0x178, 0x13C00);
    not_image[0] = 'Z';
    not_image[1] = 'M';
    EXPECT_EQ(OffsetOf(not_image), kEmbeddedNotImage);
}

TEST(FindSectionHeader, FirstMatchEndedByZeroOrByTheEnd) {
    const std::string text = std::string(".rsrcx.rsr.RSRC\0", 16) + ".rsrc";
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    EXPECT_EQ(FindSectionHeader(bytes, text.size()), 10);
    EXPECT_EQ(FindSectionHeader(bytes + 11, text.size() - 11), 5); // ended by the end
    EXPECT_EQ(FindSectionHeader(bytes, 14), -1);
}

TEST(PlainFileName, OnlyANameWithoutDirectoryOrDrive) {
    for (const char* name : {"TX413EXE.DLL", "..DLL", "CONSOLE.DLL", "COM10.DLL", "LPTX.DLL",
                             "NULL.DLL", "COM.DLL", "XCON.DLL"})
        EXPECT_TRUE(PlainFileName(name)) << name;
    for (const char* name : {"", ".", "..", "..\\TX413EXE.DLL", "SUB/X.DLL", "C:X.DLL", "*.DLL",
                             "...", "  ", "X.DLL.", "X.DLL ", "X\x01.DLL"})
        EXPECT_FALSE(PlainFileName(name)) << name;
    // Names that Windows opens as devices, whatever the extension.
    for (const char* name :
         {"CON.DLL", "nul.dll", "Aux", "PRN.X.DLL", "COM1.DLL", "lpt9.dll", "COM0.DLL",
          "COM\xB9.DLL", "LPT\xB2.DLL", "com\xB3", "CON .DLL", "CONIN$.DLL", "conout$"})
        EXPECT_FALSE(PlainFileName(name)) << name;
}

// A member named so that the path names the directory itself used to stop
// the launcher, since the directory cannot be deleted to make room.
TEST_F(EmbeddedTest, MemberNamedLikeTheDirectoryIsNotExtracted) {
    FixtureContainer spec;
    spec.members = {{"   ", "data"}, {"..", "data"}, {". .", "data"}};
    Put("app.lib", spec);
    const int16_t s = OpenLib("app.lib");
    for (const char* name : {"   ", "..", ". ."})
        ExtractModule(name, s, dir.win().c_str());
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.host()), {}), 1);
}

TEST_F(EmbeddedTest, ModuleFileBroughtUpToDateOnlyWhenItDiffers) {
    const std::string data = txtest::Pattern(3000, 2);
    FixtureContainer spec;
    spec.members = {{"TX413EXE.DLL", data}};
    Put("app.lib", spec);
    const int16_t s = OpenLib("app.lib");
    const std::string path = dir.win("TX413EXE.DLL");

    ExtractModule("TX413EXE.DLL", s, dir.win().c_str());
    EXPECT_EQ(dir.read("TX413EXE.DLL"), data);
    EXPECT_EQ(Stamp(path), Fat(0x2147, 0x6D44));
    EXPECT_EQ(g_layer.library_search, 0);

    // Same size, date and time: left alone, whatever it holds.
    std::string changed = data;
    changed[10] ^= 1;
    dir.write("TX413EXE.DLL", changed);
    int16_t h;
    ASSERT_EQ(DiskOpen(path.c_str(), kDiskRead | kDiskWrite, &h), 1);
    ASSERT_EQ(DiskSetFileTime(h, UnpackFatDateTime(0x2147, 0x6D44)), 1);
    DiskClose(h);
    ExtractModule("TX413EXE.DLL", s, dir.win().c_str());
    EXPECT_EQ(dir.read("TX413EXE.DLL"), changed);

    // Two seconds off: replaced.
    ASSERT_EQ(DiskOpen(path.c_str(), kDiskRead | kDiskWrite, &h), 1);
    ASSERT_EQ(DiskSetFileTime(h, UnpackFatDateTime(0x2147, 0x6D45)), 1);
    DiskClose(h);
    ExtractModule("TX413EXE.DLL", s, dir.win().c_str());
    EXPECT_EQ(dir.read("TX413EXE.DLL"), data);
    EXPECT_EQ(Stamp(path), Fat(0x2147, 0x6D44));

    // What a copy cut short leaves (the first part, with the member's date
    // and time) differs by its size.
    dir.write("TX413EXE.DLL", data.substr(0, 1000));
    ASSERT_EQ(DiskOpen(path.c_str(), kDiskRead | kDiskWrite, &h), 1);
    ASSERT_EQ(DiskSetFileTime(h, UnpackFatDateTime(0x2147, 0x6D44)), 1);
    DiskClose(h);
    ExtractModule("TX413EXE.DLL", s, dir.win().c_str());
    EXPECT_EQ(dir.read("TX413EXE.DLL"), data);
}

TEST_F(EmbeddedTest, NothingWrittenForAbsentMembersOrUnsafeNames) {
    FixtureContainer spec;
    spec.members = {{"TX413EXE.DLL", "runtime"}};
    Put("app.lib", spec);
    const int16_t s = OpenLib("app.lib");
    std::filesystem::create_directory(dir.host("sub"));
    const std::string sub = dir.win("sub");

    // Not a member: a file on disk stays, and none is made.
    dir.write("sub/TX413DB.DLL", "old module");
    ExtractModule("TX413DB.DLL", s, sub.c_str());
    EXPECT_EQ(dir.read("sub/TX413DB.DLL"), "old module");
    ExtractModule("TX413ZQ.DLL", s, sub.c_str());
    EXPECT_FALSE(std::filesystem::exists(dir.host("sub/TX413ZQ.DLL")));

    // A name that reaches out of the directory, and a path too long.
    dir.write("TX413EXE.DLL", "outside");
    ExtractModule("..\\TX413EXE.DLL", s, sub.c_str());
    EXPECT_EQ(dir.read("TX413EXE.DLL"), "outside");
    const std::string deep = sub + std::string(260 - sub.size() - 12, 'd');
    ExtractModule("TX413EXE.DLL", s, deep.c_str());
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.host("sub")),
                            std::filesystem::directory_iterator()),
              1);
}

namespace {

// A library whose member TX413EXE.DLL spans three copy chunks, and an older
// module file of that name beside it.
class ReplaceTest : public EmbeddedTest {
  protected:
    void SetUp() override {
        EmbeddedTest::SetUp();
        if (!txplat::FaultsSupported()) GTEST_SKIP() << txtest::kNoFaultsReason;
        FixtureContainer spec;
        spec.members = {{"TX413EXE.DLL", data}};
        Put("app.lib", spec);
        selector = OpenLib("app.lib");
        dir.write("TX413EXE.DLL", kOld);
    }

    void Extract() { ExtractModule("TX413EXE.DLL", selector, dir.win().c_str()); }
    bool Holds(const std::string& bytes) const { return dir.read("TX413EXE.DLL") == bytes; }

    // The files of the directory: nothing else is left behind.
    size_t Entries() const {
        return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(dir.host()),
                                                 std::filesystem::directory_iterator()));
    }

    static constexpr const char* kOld = "an older module";
    const std::string data = txtest::Pattern(150000, 5);
    int16_t selector = -1;
};

} // namespace

// Whatever goes wrong, the module's name never names a part of a copy or
// nothing: the old file stays until the new one is whole.
TEST_F(ReplaceTest, OldModuleStaysWholeWhenTheNewCopyFails) {
    struct Case {
        const char* what;
        const char* call;
        uint32_t error;
        int skip;
    } cases[] = {
        {"a write fails in the second chunk", "WriteFile", ERROR_DISK_FULL, 20},
        {"the copy cannot be created", "CreateFileA", ERROR_ACCESS_DENIED, 1}, // after the mark
    };
    for (const Case& c : cases) {
        dir.write("TX413EXE.DLL", kOld);
        txplat::FaultClear();
        txplat::FaultInject(c.call, c.error, c.skip);
        Extract();
        EXPECT_GT(txplat::CallCount(c.call), c.skip) << c.what;
        EXPECT_TRUE(Holds(kOld)) << c.what;
        EXPECT_EQ(Entries(), 2u) << c.what;
    }
}

// Another start put the module in place between this start's look and its
// move, and has it loaded (under Windows it cannot be replaced then): this
// start goes on with it.
TEST_F(ReplaceTest, GoesOnWhenAnotherStartPutTheModuleInPlaceFirst) {
    Extract();
    ASSERT_TRUE(Holds(data));
    txplat::FaultClear();
    txplat::FaultInject("FindFirstFileA", ERROR_FILE_NOT_FOUND); // the first look misses it
    txplat::FaultInject("MoveFileExA", ERROR_ACCESS_DENIED);
    Extract();
    EXPECT_EQ(txplat::CallCount("MoveFileExA"), 1);
    EXPECT_TRUE(Holds(data));
    EXPECT_EQ(Entries(), 2u);
}

// A rename refused by a sharing violation is tried again, then the module is
// deleted and copied in place, whether it was there or not.
TEST_F(ReplaceTest, RenameRefusedAsHeldIsRetriedThenDoneInPlace) {
    for (const auto& [module_there, refusals] : {std::pair{true, 2}, {true, -1}, {false, -1}}) {
        std::filesystem::remove(dir.host("TX413EXE.DLL"));
        if (module_there) dir.write("TX413EXE.DLL", kOld);
        txplat::FaultClear();
        txplat::FaultInject("MoveFileExA", ERROR_SHARING_VIOLATION, 0, refusals);
        Extract();
        EXPECT_EQ(txplat::CallCount("MoveFileExA"), refusals < 0 ? 6 : refusals + 1);
        EXPECT_TRUE(Holds(data) && Entries() == 2u) << module_there << refusals;
    }
}

TEST_F(ReplaceTest, StopsWhenAStaleModuleCannotBeReplaced) {
    EXPECT_EXIT(
        {
            txplat::FaultInject("MoveFileExA", ERROR_ACCESS_DENIED);
            Extract();
            std::exit(3);
        },
        ::testing::ExitedWithCode(0), "is in processing or you do not have right.*\n5\n");
    EXPECT_TRUE(Holds(kOld));
    EXPECT_EQ(Entries(), 2u);
}

// Where no private directory can be made beside the module, it is replaced
// where it lies, as a directory that cannot be written still reports.
TEST_F(ReplaceTest, ReplacedInPlaceWithoutAPrivateDirectory) {
    txplat::FaultInject("CreateDirectoryA", ERROR_ACCESS_DENIED);
    Extract();
    EXPECT_EQ(txplat::CallCount("MoveFileExA"), 0);
    EXPECT_TRUE(Holds(data));
}

// Folders that killed starts left are removed, never one whose mark a live
// start (here another handle: locks conflict between handles) holds locked.
TEST_F(EmbeddedTest, LeftPrivateFoldersAreRemovedLiveOnesKept) {
    const struct {
        const char* folder;
        int mark; // -1 none, 0 unlocked, 1 locked
        bool copy, stays;
    } cases[] = {{"~TX1A2B-0", 1, true, true},   {"~TX1A2B-1", 0, true, false},
                 {"~TX1A2B-2", 0, false, false}, {"~TX1A2B-3", -1, false, false},
                 {"~TX1A2B-4", -1, true, true},  {"~TXNOTOURS", 0, true, true}};
    int16_t live = -1;
    for (const auto& c : cases) {
        const std::string folder = c.folder;
        std::filesystem::create_directory(dir.host(folder));
        if (c.copy) dir.write(folder + "/TX413EXE.DLL", "part of a mod");
        if (c.mark >= 0) dir.write(folder + "/~TX", "");
        if (c.mark < 1) continue;
        ASSERT_EQ(DiskOpen(dir.win(folder + "/~TX").c_str(), 15, &live), 1);
        ASSERT_EQ(DiskLock(live, 0, 1), 1);
    }
    ClearAbandonedScratch(dir.win().c_str());
    for (const auto& c : cases)
        EXPECT_EQ(std::filesystem::exists(dir.host(c.folder)), c.stays) << c.folder;
    EXPECT_TRUE(std::filesystem::exists(dir.host("~TX1A2B-0/TX413EXE.DLL")));
    DiskClose(live);
}

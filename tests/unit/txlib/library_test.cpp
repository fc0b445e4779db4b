// txlib's library commands on container files made byte by byte: the members
// it sees are the ones the launcher's lookup opens, by the same names; what it
// writes keeps to one directory growth; its JSON parses back; an extraction
// refuses before it writes, and after a failure keeps what it wrote whole.
#include "container_fixture.h"
#include "host/errortext.h"
#include "host/failure.h"
#include "commands/libraryview.h"
#include "commands/librarytools.h"
#include "testutil.h"

#include "library/container.h"
#include "platform/fault.h"
#include "platform/win32.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;
using txtest::FixtureContainer;
using txtest::FixtureMember;

const txlib::Options kQuiet{0, false};

// Writes bytes to a path given as narrow text (any bytes, as the tool takes
// them).
void WriteFile(const std::string& path, const std::string& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

std::string Path(const txtest::ScratchDir& dir, const std::string& name) {
    return dir.host(name).string();
}

// The members the view shows, as (name, stored name) pairs, after checking
// that the lookup finds each by the name shown.
std::vector<std::pair<std::string, std::string>> Members(const std::string& library) {
    txlib::CoreSession core;
    core.Open(library, 0, library);
    const txlib::LibraryView view(core);
    std::vector<std::pair<std::string, std::string>> members;
    for (const txlib::MemberView& member : view.Entries()) {
        if (member.state != txlib::MemberView::kMember) continue;
        EXPECT_EQ(view.Find(member.name), member.index) << member.name;
        members.emplace_back(member.name, member.stored);
    }
    return members;
}

TEST(LibraryView, SeesWhatTheLauncherOpensByTheNamesItOpensThemBy) {
    using Pairs = std::vector<std::pair<std::string, std::string>>;
    struct Case {
        const char* what;
        FixtureContainer spec;
        Pairs members;
    };
    auto table = [](const std::string& text) { return FixtureMember{"TXBIBLI.LFN", text}; };
    FixtureContainer sorted = txtest::Lib({{"", ""},
                                           {"", ""},
                                           {"", ""},
                                           {"AAA.X", "a"},
                                           {"BBB.X", "b"},
                                           {"CCC.X", "c"},
                                           {"DDD.X", "d"},
                                           {"EEE.X", "e"}});
    sorted.sorted = 1;
    sorted.used = 5;
    FixtureContainer other_kind = txtest::Lib({{"A.TXT", "a"}, table("\nLONG NAME.TXT\tA.TXT")});
    other_kind.kind = 16;
    const Case cases[] = {
        {"a sorted directory searched up to its capacity",
         sorted,
         {{"AAA.X", "AAA.X"},
          {"BBB.X", "BBB.X"},
          {"CCC.X", "CCC.X"},
          {"DDD.X", "DDD.X"},
          {"EEE.X", "EEE.X"}}},
        {"another writer's lower-case entries and hand-written table",
         txtest::Lib(
             {{"lower.txt", "l"}, {"other.txt", "o"}, table("\nA LONG NAME.TXT\tother.txt\n")}),
         {{"lower.txt", "lower.txt"},
          {"A LONG NAME.TXT", "other.txt"},
          {"TXBIBLI.LFN", "TXBIBLI.LFN"}}},
        {"a table line without a tab, one with a carriage return, one naming no member",
         txtest::Lib(
             {{"A.TXT", "a"},
              {"B.TXT", "b"},
              table("\nNO TAB.TXT A.TXT\nCR NAME.TXT\tB.TXT\r\nGHOST NAME.TXT\tGHOST.TXT\n")}),
         {{"A.TXT", "A.TXT"}, {"B.TXT", "B.TXT"}, {"TXBIBLI.LFN", "TXBIBLI.LFN"}}},
        {"a long name written in lower case is never found",
         txtest::Lib({{"A.TXT", "a"}, table("\nlong name.txt\tA.TXT\n")}),
         {{"A.TXT", "A.TXT"}, {"TXBIBLI.LFN", "TXBIBLI.LFN"}}},
        {"a table over 65535 bytes is not read",
         txtest::Lib({{"A.TXT", "a"}, table("\nLONG NAME.TXT\tA.TXT\n" + std::string(70000, ' '))}),
         {{"A.TXT", "A.TXT"}, {"TXBIBLI.LFN", "TXBIBLI.LFN"}}},
        {"a second entry of a name is not reached",
         txtest::Lib({{"A.TXT", "first"}, {"A.TXT", "second"}}),
         {{"A.TXT", "A.TXT"}}},
        {"a library of another kind has no long names",
         other_kind,
         {{"A.TXT", "A.TXT"}, {"TXBIBLI.LFN", "TXBIBLI.LFN"}}},
    };
    txtest::ScratchDir dir;
    for (const Case& c : cases) {
        const std::string library = Path(dir, "view.lib");
        WriteFile(library, txtest::BuildContainer(c.spec));
        EXPECT_EQ(Members(library), c.members) << c.what;
    }
}

// A library holding A.TXT and a table that maps `long_name` to it.
std::string TableLibrary(const std::string& long_name) {
    return txtest::BuildContainer(
        txtest::Lib({{"A.TXT", "data"}, {"TXBIBLI.LFN", "\n" + long_name + "\tA.TXT\n"}}));
}

TEST(Extract, LongNamesThatWouldLeaveTheFolderAreRefusedBeforeAnyFolderIsMade) {
    const char* const names[] = {"..\\EVIL.TXT",  "SUB\\..\\..\\EVIL.TXT", "\\ROOT.TXT",
                                 "C:\\DRIVE.TXT", "SUB\\CON.TXT",          "SUB\\TRAILING."};
    for (const char* name : names) {
        txtest::ScratchDir dir;
        const std::string library = Path(dir, "evil.lib");
        WriteFile(library, TableLibrary(name));
        txlib::ExtractRequest request;
        request.directory = Path(dir, "out");
        try {
            txlib::CommandExtract(kQuiet, library, request);
            ADD_FAILURE() << name << " was extracted";
        } catch (const txlib::Failure& failure) {
            EXPECT_EQ(failure.status, txlib::kExitFailed) << name;
            EXPECT_NE(failure.message.find("nothing extracted"), std::string::npos) << name;
        }
        EXPECT_FALSE(fs::exists(dir.host("out"))) << name;
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.host()), fs::directory_iterator()), 1)
            << name;
    }
}

TEST(Extract, AFailureKeepsTheFilesWrittenWholeAndNamesThem) {
    if (!txplat::FaultsSupported()) GTEST_SKIP() << "needs the POSIX layer's fault injection";
    txtest::ScratchDir dir;
    const std::string library = Path(dir, "two.lib");
    WriteFile(library, txtest::BuildContainer(txtest::Lib(
                           {{"FIRST.TXT", txtest::Pattern(70000, 1)}, {"SECOND.TXT", "second"}})));
    // The reads of opening the library and writing the first member; the
    // next read, of the second member, fails.
    txlib::ExtractRequest request;
    request.directory = Path(dir, "first");
    request.names = {"FIRST.TXT"};
    txplat::FaultClear();
    txlib::CommandExtract(kQuiet, library, request);
    const long before_second = txplat::CallCount("ReadFile");
    ASSERT_EQ(dir.read("first/FIRST.TXT"), txtest::Pattern(70000, 1));

    request.directory = Path(dir, "both");
    request.names = {};
    txplat::FaultClear();
    txplat::FaultInject("ReadFile", 23 /* ERROR_CRC */, static_cast<int>(before_second), 1);
    try {
        txlib::CommandExtract(kQuiet, library, request);
        ADD_FAILURE() << "the failed read was not told";
    } catch (const txlib::Failure& failure) {
        EXPECT_NE(failure.message.find("the 1 file(s) written before it stay"), std::string::npos)
            << failure.message;
    }
    txplat::FaultClear();
    EXPECT_EQ(dir.read("both/FIRST.TXT"), txtest::Pattern(70000, 1));
    std::set<std::string> left;
    for (const auto& entry : fs::directory_iterator(dir.host("both")))
        left.insert(entry.path().filename().string());
    EXPECT_EQ(left, std::set<std::string>{"FIRST.TXT"}) << "a partial or temporary file was left";
}

// A full disk is told in words, naming the member or the library; a cause
// that the disk layer no longer holds is left out, never shown as a number.
TEST(Messages, AFullDiskIsToldInWordsAndNoCauseIsNoNumber) {
    if (!txplat::FaultsSupported()) GTEST_SKIP() << "needs the POSIX layer's fault injection";
    txtest::ScratchDir dir;
    dir.write("BIG.BIN", txtest::Pattern(100000, 3));
    const std::string library = Path(dir, "app.lib");
    txlib::CommandCreate(kQuiet, library, 0, txlib::AddRequest{});
    txlib::AddRequest add;
    add.paths = {"BIG.BIN"};
    add.directory = dir.host().string();
    struct Case {
        const char* what;
        std::function<void()> run;
        std::string says; // the whole message
    };
    const Case cases[] = {
        {"a member that does not fit", [&] { txlib::CommandAdd(kQuiet, library, add); },
         "cannot write member BIG.BIN: no space left on the device"},
        // Creating a library, the layer clears the cause as it removes the
        // file it could not write.
        {"a library that cannot be created",
         [&] { txlib::CommandCreate(kQuiet, Path(dir, "new.lib"), 0, txlib::AddRequest{}); },
         "cannot be created"},
    };
    for (const Case& c : cases) {
        txplat::FaultClear();
        txplat::FaultInject("WriteFile", 112 /* ERROR_DISK_FULL */, 0, -1);
        try {
            c.run();
            ADD_FAILURE() << c.what << ": no failure";
        } catch (const txlib::Failure& failure) {
            EXPECT_EQ(failure.message, c.says) << c.what;
        }
        txplat::FaultClear();
    }
    for (uint32_t code : {2u, 3u, 5u, 32u, 33u, 80u, 112u, 183u})
        EXPECT_EQ(txlib::WindowsErrorText(code).find_first_of("0123456789"), std::string::npos)
            << code;
}

TEST(Create, WritesEachDataByteOnceAndGrowsNoDirectory) {
    if (!txplat::FaultsSupported()) GTEST_SKIP() << "needs the POSIX layer's call counters";
    txtest::ScratchDir dir;
    constexpr int kFiles = 300;
    constexpr size_t kSize = 16384;
    fs::create_directories(dir.host("tree/sub"));
    for (int i = 0; i < kFiles; ++i)
        dir.write((i % 2 ? "tree/sub/file-with-a-long-name-" : "tree/F") + std::to_string(i),
                  txtest::Pattern(kSize, static_cast<unsigned>(i)));
    txlib::AddRequest request;
    request.paths = {"tree"};
    request.directory = dir.host().string();
    txplat::FaultClear();
    txlib::CommandCreate(kQuiet, Path(dir, "big.lib"), 0, request);
    uint64_t written = 0;
    for (uint32_t size : txplat::CallSizes("WriteFile"))
        written += size;
    const long calls = txplat::CallCount("WriteFile");
    txplat::FaultClear();

    // 300 members and the long-name table: a directory of 301 entries from
    // the start, written at creation, at each of the 301 commits and at the
    // close.
    const std::string bytes = dir.read("big.lib");
    const uint16_t capacity = txtest::Get16(bytes, 110);
    EXPECT_EQ(capacity, kFiles + 1);
    const uint64_t directory = static_cast<uint64_t>(tx::ContainerNewSize(capacity));
    const uint64_t data = bytes.size() - directory;
    EXPECT_GE(data, kFiles * kSize);
    EXPECT_LE(written, data + (kFiles + 3) * directory)
        << "data was moved: " << written << " bytes in " << calls << " calls";
    std::printf("create of %d files of %lu bytes: %lu bytes written in %ld calls\n", kFiles,
                static_cast<unsigned long>(kSize), static_cast<unsigned long>(written), calls);
}

TEST(Add, GrowsTheDirectoryOnceToWhatTheCommandNeeds) {
    txtest::ScratchDir dir;
    fs::create_directories(dir.host("more"));
    for (int i = 0; i < 100; ++i)
        dir.write(txtest::Numbered("more/M", i), txtest::Pattern(1000, static_cast<unsigned>(i)));
    dir.write("A.TXT", "first");
    const std::string library = Path(dir, "app.lib");
    txlib::AddRequest request;
    request.directory = dir.host().string();
    request.paths = {"A.TXT"};
    txlib::CommandCreate(kQuiet, library, 0, request);
    // 29 free entries, then one growth for the 71 entries still needed.
    request.paths.clear();
    for (int i = 0; i < 100; ++i)
        request.paths.push_back(txtest::Numbered("M", i));
    request.directory = dir.host("more").string();
    txlib::CommandAdd(kQuiet, library, request);
    EXPECT_EQ(txtest::Get16(dir.read("app.lib"), 110), 101);
    EXPECT_EQ(Members(library).size(), 101u);
}

TEST(Create, ATableOverTheLimitIsRefusedBeforeAnythingIsWritten) {
    txtest::ScratchDir dir;
    // 360 names of 182 characters make lines of some 192 bytes: more than
    // 65535 in all, on disk paths that Windows still opens.
    const std::string folder(90, 'D');
    fs::create_directories(dir.host(folder));
    for (int i = 0; i < 360; ++i)
        dir.write(folder + "/" + std::string(86, 'f') + txtest::Numbered("-", 1000 + i), "x");
    txlib::AddRequest request;
    request.paths = {folder};
    request.directory = dir.host().string();
    try {
        txlib::CommandCreate(kQuiet, Path(dir, "full.lib"), 0, request);
        ADD_FAILURE() << "a table over 65535 bytes was written";
    } catch (const txlib::Failure& failure) {
        EXPECT_NE(failure.message.find("more than the 65535"), std::string::npos)
            << failure.message;
    }
    EXPECT_FALSE(fs::exists(dir.host("full.lib")));
}

TEST(Add, ShortNamesStayUniqueAndStableAcrossAddsAndReplaces) {
    txtest::ScratchDir dir;
    fs::create_directories(dir.host("a"));
    fs::create_directories(dir.host("b"));
    const char* const files[] = {"a/readme-long-name.txt", "b/readme-long-name.txt",
                                 "readme-long-name.txt", "README~1.TXT"};
    for (const char* file : files)
        dir.write(file, file);
    const std::string library = Path(dir, "app.lib");
    txlib::AddRequest request;
    request.directory = dir.host().string();
    request.paths = {"a", "README~1.TXT"};
    txlib::CommandCreate(kQuiet, library, 0, request);
    const auto first = Members(library);
    for (const auto& paths : {std::vector<std::string>{"b", "a"},
                              std::vector<std::string>{"readme-long-name.txt", "a", "b"}}) {
        request.paths = paths;
        txlib::CommandAdd(kQuiet, library, request);
    }
    const auto members = Members(library);
    std::set<std::string> stored;
    for (const auto& [name, short_name] : members) {
        EXPECT_TRUE(stored.insert(short_name).second) << "two members stored as " << short_name;
        EXPECT_TRUE(txlib::FitsEntry(short_name)) << short_name;
    }
    EXPECT_EQ(members.size(), 5u); // four files and the table
    // A\README-LONG-NAME.TXT was replaced twice under the short name it got
    // first, and the file named README~1.TXT kept its own name.
    for (const auto& member : first)
        EXPECT_NE(std::find(members.begin(), members.end(), member), members.end())
            << member.first << " as " << member.second;
}

TEST(Json, NamesAndPathsOutsideAsciiParseBack) {
    txtest::ScratchDir dir;
    // 0xE9 and 0xFF are Windows-1252 letters; 0xFF in a Linux path is no
    // UTF-8 at all.
    // Made by hand: std::filesystem would take the narrow name for UTF-8 on
    // Windows, where it is in the code page.
    const std::string library = dir.host().string() + "/lib\xFF.lib";
    WriteFile(library, txtest::BuildContainer(txtest::Lib(
                           {{"CAF\xE9.TXT", "coffee"},
                            {"\xFF.TXT", "y"},
                            {"TXBIBLI.LFN", "\nD\xC9J\xC0 VU\\LONG NAME.TXT\tCAF\xE9.TXT"}})));
    const nlohmann::json list =
        nlohmann::json::parse(txlib::ListJson(library, txlib::ListRequest{}).dump());
    ASSERT_EQ(list["members"].size(), 2u);
    EXPECT_EQ(list["members"][0]["name"], "D\xC3\x89J\xC3\x80 VU\\LONG NAME.TXT");
    EXPECT_EQ(list["members"][0]["stored"], "CAF\xC3\xA9.TXT");
    EXPECT_EQ(list["members"][1]["name"], "\xC3\xBF.TXT");
    const std::string shown = list["library"];
#ifdef _WIN32
    EXPECT_EQ(shown.substr(shown.size() - 9), "lib\xC3\xBF.lib");
#else
    EXPECT_EQ(shown, dir.host().string() + "/lib\xC3\xBF.lib");
#endif
    const nlohmann::json info = nlohmann::json::parse(txlib::LibraryInfoJson(library, 0).dump());
    EXPECT_EQ(info["file"], shown);
    EXPECT_EQ(info["members"], 3);
    EXPECT_TRUE(info["scramble"].is_null());
    EXPECT_EQ(info["words"], nlohmann::json({100, 2048}));
}

} // namespace

// list, info and extract open the library for reading only (a member without
// a date, so that extract opens no file of its own again to date it).
TEST(ReadCommands, OpenTheLibraryForReadingOnly) {
    if (!txplat::FaultsSupported()) GTEST_SKIP() << "needs the POSIX layer's record of opens";
    txtest::ScratchDir dir;
    const std::string library = Path(dir, "s.lib");
    WriteFile(library, txtest::BuildContainer(txtest::Lib({{"A.TXT", "aaaa", 1, 0, 0}})));
    const txlib::ExtractRequest extract{{}, Path(dir, "out")};
    for (const auto& [name, run] : std::vector<std::pair<const char*, std::function<void()>>>{
             {"list", [&] { txlib::ListJson(library, {}); }},
             {"info", [&] { txlib::LibraryInfoJson(library, 0); }},
             {"extract", [&] { txlib::CommandExtract(kQuiet, library, extract); }}}) {
        txplat::FaultClear();
        run();
        int opens = 0;
        for (const txplat::CreateFileCall& call : txplat::CreateFileCalls()) {
            opens += call.disposition == OPEN_EXISTING;
            EXPECT_FALSE(call.disposition == OPEN_EXISTING && (call.access & GENERIC_WRITE))
                << name;
        }
        EXPECT_GT(opens, 0) << name;
    }
}

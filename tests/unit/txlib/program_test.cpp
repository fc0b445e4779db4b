// The library tool's commands on Windows programs, over real files: a
// program rewritten by streaming stores the checksum of the bytes it wrote,
// and the JSON of slots and info parses back whatever the strings and paths
// hold.
#include "commands/commands.h"
#include "formats/exeimage.h"
#include "host/files.h"
#include "pe_fixture.h"

#include "container_fixture.h"
#include "testutil.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

const txlib::Options kQuiet{0, false};
const txlib::Options kJson{0, true};

std::string Text(const std::vector<uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

// The PE checksum as the loader checks it: the file as 16-bit words (an odd
// last byte padded with zero), the CheckSum field as zero, summed with the
// carries folded back in, plus the file's length.
uint32_t Checksum(const std::string& b, size_t field) {
    uint32_t sum = 0;
    for (size_t i = 0; i < b.size(); i += 2) {
        uint32_t word = static_cast<uint8_t>(b[i]);
        if (i + 1 < b.size()) word |= static_cast<uint32_t>(static_cast<uint8_t>(b[i + 1])) << 8;
        if (i >= field && i < field + 4) word = 0;
        sum += word;
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return sum + static_cast<uint32_t>(b.size());
}

// What a command printed.
std::string Printed(const std::function<void()>& command) {
    testing::internal::CaptureStdout();
    command();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

TEST(StreamedPrograms, StoreTheChecksumOfWhatTheyWrote) {
    txtest::ScratchDir dir;
    txtest::PeFile pe = txtest::BuildPe(txtest::SlotStrings());
    txtest::Put32(pe.bytes, pe.checksum, 1); // the program carries a checksum
    dir.write("base.exe", Text(pe.bytes));
    // A library of odd length, streamed in several pieces.
    const std::string library =
        txtest::BuildContainer(txtest::Lib({{"BIG.BIN", txtest::Pattern((2u << 20) + 3, 5)}}));
    dir.write("app.lib", library);
    const std::string base = dir.host("base.exe").string();
    const std::string app = dir.host("app.exe").string();

    const struct {
        const char* what;
        std::function<void()> run;
        const char* written;
    } steps[] = {
        {"slots --set",
         [&] {
             txlib::CommandSlots(kQuiet, base, {{"project", "X.PRJ"}});
         },
         "base.exe"},
        {"embed",
         [&] { txlib::CommandEmbed(kQuiet, base, dir.host("app.lib").string(), app, false); },
         "app.exe"},
        {"slots --set on the program with its library",
         [&] {
             txlib::CommandSlots(kQuiet, app, {{"9", "2.00B"}});
         },
         "app.exe"},
    };
    for (const auto& step : steps) {
        step.run();
        const std::string bytes = dir.read(step.written);
        EXPECT_EQ(txtest::Get32(bytes, pe.checksum), Checksum(bytes, pe.checksum)) << step.what;
    }

    // The program written last holds both values and the library whole.
    const txlib::InputFile result(app);
    const txlib::ExeImage image = txlib::ParseExecutable(result);
    EXPECT_EQ(txlib::ReadEntry(result, image.strings.at(5).front()).substr(0, 6),
              std::string("X.PRJ\0", 6));
    EXPECT_EQ(txlib::ReadEntry(result, image.strings.at(9).front()).substr(0, 6),
              std::string("2.00B\0", 6));
    const uint32_t offset = txlib::EmbeddedOffset(result, image);
    EXPECT_EQ(offset % 512, 0u);
    EXPECT_EQ(dir.read("app.exe").substr(offset), library);
}

TEST(ProgramJson, SlotValuesComeOutAsUtf8) {
    txtest::ScratchDir dir;
    std::vector<std::u16string> strings = txtest::SlotStrings();
    strings[9] = std::u16string(u"CAF\u00C9\u00FF\0......", 12);
    strings[10] = std::u16string(u"\u4E2D\0..", 4); // outside Windows-1252
    dir.write("app.exe", Text(txtest::BuildPe(strings).bytes));
    const std::string out =
        Printed([&] { txlib::CommandSlots(kJson, dir.host("app.exe").string(), {}); });

    const nlohmann::json j = nlohmann::json::parse(out);
    EXPECT_EQ(j["format"], "PE32");
    EXPECT_EQ(j["lossy"], true);
    const nlohmann::json& slots = j["slots"];
    ASSERT_EQ(slots.size(), 7u); // the four pairs and slots 9, 10, 11
    EXPECT_EQ(slots[4]["id"], 9);
    EXPECT_EQ(slots[4]["value"], "CAF\xC3\x89\xC3\xBF");
    EXPECT_EQ(slots[4]["entries"][0]["stored"], std::string("CAF\xC3\x89\xC3\xBF\0......", 14));
    EXPECT_EQ(slots[5]["value"], "?");
    EXPECT_EQ(slots[2]["id"], 5);
    EXPECT_EQ(slots[2]["second"], 6);
    EXPECT_EQ(slots[2]["entries"].size(), 2u);
}

TEST(ProgramJson, InfoShowsTheEmbeddedLibraryWhateverThePath) {
    txtest::ScratchDir dir;
    txtest::PeFile pe = txtest::BuildPe(txtest::SlotStrings());
    dir.write("base.exe", Text(pe.bytes));
    const std::string library = txtest::BuildContainer(
        txtest::Lib({{"A.TXT", "hello"}, {"\xE5OLD.TXT", "gone", 0}, {"B.TXT", "world"}}));
    dir.write("app.lib", library);
    // On Linux a path is bytes: one that is not UTF-8 is shown as
    // Windows-1252, as every document shows paths.
    const std::string name = "prog\xFF.exe", shown = "prog\xC3\xBF.exe";
    const std::string path = dir.host().string() + "/" + name;
    txlib::CommandEmbed(kQuiet, dir.host("base.exe").string(), dir.host("app.lib").string(), path,
                        false);
    const std::string out = Printed([&] { txlib::CommandInfo(kJson, path); });

    const nlohmann::json j = nlohmann::json::parse(out);
    EXPECT_EQ(j["file"], dir.host().string() + "/" + shown);
    EXPECT_EQ(j["format"], "PE32");
    EXPECT_EQ(j["offset_field"], pe.rsrc_header + 28);
    EXPECT_TRUE(j["library_problem"].is_null());
    const nlohmann::json& lib = j["library"];
    const uint64_t offset = lib["offset"];
    EXPECT_EQ(offset % 512, 0u);
    EXPECT_GE(offset, pe.bytes.size());
    EXPECT_EQ(lib["size"], library.size());
    EXPECT_EQ(j["size"], offset + library.size());
    EXPECT_EQ(lib["magic"], "MTKORELAN 0.00");
    EXPECT_EQ(lib["created"], "1996-10-07 13:42:08");
    EXPECT_EQ(lib["capacity"], 8);
    EXPECT_EQ(lib["used"], 3);
    EXPECT_EQ(lib["members"], 2);
    EXPECT_EQ(lib["deleted"], 1);
    EXPECT_TRUE(lib["scramble"].is_null());
    EXPECT_EQ(lib["sorted"], false);
    EXPECT_EQ(lib["words"], nlohmann::json({100, 2048}));
}

} // namespace

// Reading a file by range: small reads through the cached windows, large
// ones straight from the file, and a file that is not what it was.
#include "host/failure.h"
#include "host/files.h"

#include "container_fixture.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

constexpr size_t kWindow = 64 * 1024;

TEST(InputFile, EveryRangeReadsTheBytesThere) {
    txtest::ScratchDir dir;
    // Ten windows and three bytes: more windows than are cached.
    const std::string bytes = txtest::Pattern(10 * kWindow + 3, 9);
    dir.write("f", bytes);
    const txlib::InputFile file(dir.host("f").string());
    ASSERT_EQ(file.Size(), bytes.size());
    const struct {
        uint64_t offset;
        size_t count;
    } reads[] = {
        {0, 1},
        {kWindow - 2, 5},           // across two windows
        {10 * kWindow, 3},          // the short last window
        {10 * kWindow + 3, 0},      // nothing, at the end
        {3 * kWindow + 1, kWindow}, // large: straight from the file
        {kWindow - 1, 3 * kWindow}, // large and unaligned
        {0, bytes.size()},          // the whole file
        {9 * kWindow + 7, 100},     // windows 9, 8, ... 0: the first ones were dropped
        {8 * kWindow + 7, 100},
        {7 * kWindow, 100},
        {6 * kWindow, 100},
        {5 * kWindow, 100},
        {4 * kWindow, 100},
        {3 * kWindow, 100},
        {2 * kWindow, 100},
        {kWindow, 100},
        {5, 100},
        {9 * kWindow + 9, 100},
    };
    for (const auto& r : reads) {
        std::string got(r.count, '\0');
        file.Read(r.offset, got.data(), r.count);
        ASSERT_EQ(got, bytes.substr(r.offset, r.count)) << r.offset << " " << r.count;
    }
    EXPECT_EQ(file.ReadRange(10 * kWindow, 100).size(), 3u);
    EXPECT_TRUE(file.ReadRange(20 * kWindow, 100).empty());
    char byte;
    EXPECT_THROW(file.Read(bytes.size(), &byte, 1), txlib::Failure);
}

TEST(InputFile, AFileCutShortOrNoFileIsAFailure) {
    txtest::ScratchDir dir;
    dir.write("f", txtest::Pattern(4 * kWindow, 3));
    const txlib::InputFile file(dir.host("f").string());
    std::filesystem::resize_file(dir.host("f"), kWindow);
    std::vector<char> out(100);
    try {
        file.Read(2 * kWindow, out.data(), out.size());
        ADD_FAILURE() << "read past the new end";
    } catch (const txlib::Failure& failure) {
        EXPECT_EQ(failure.status, txlib::kExitFailed);
        EXPECT_NE(failure.message.find("shorter"), std::string::npos) << failure.message;
    }
    std::filesystem::create_directory(dir.host("d"));
    EXPECT_THROW(txlib::InputFile(dir.host("d").string()), txlib::Failure);
    EXPECT_THROW(txlib::InputFile(dir.host("none").string()), txlib::Failure);
}

} // namespace

// New member entries and the growth of a full directory, which moves every
// member's data further into the container.
#include "layer_fixture.h"

#include <filesystem>
#include <fstream>

using namespace tx;
using txtest::FixtureContainer;
using txtest::FixtureMember;

namespace {

class GrowthTest : public txtest::LayerTest {
  protected:
    // A full directory of `count` members with distinct data of `size` bytes.
    std::string Full(const std::string& name, int count, size_t size) {
        FixtureContainer spec;
        spec.capacity = static_cast<uint16_t>(count);
        for (int i = 0; i < count; ++i)
            spec.members.push_back({txtest::Numbered("M", i), txtest::Pattern(size, i)});
        return Put(name, spec);
    }

    // Checks that `after` is `before` with the directory grown by `growth`
    // entries: header and old entries equal but for capacity and offsets,
    // new slots empty, member data moved up intact.
    static void ExpectGrown(const std::string& before, const std::string& after, int growth,
                            int used_after) {
        const int capacity = txtest::Get16(before, 110);
        const size_t distance = static_cast<size_t>(growth) * 48;
        const size_t data = 128 + static_cast<size_t>(capacity) * 48;
        EXPECT_EQ(txtest::Get16(after, 110), capacity + growth);
        EXPECT_EQ(txtest::Get16(after, 116), used_after);
        EXPECT_EQ(after.substr(0, 110), before.substr(0, 110));
        for (int i = 0; i < capacity; ++i) {
            const size_t at = txtest::EntryAt(i);
            EXPECT_EQ(after.substr(at, 23), before.substr(at, 23)) << i;
            EXPECT_EQ(txtest::Get32(after, at + 23), txtest::Get32(before, at + 23) + distance)
                << i;
            EXPECT_EQ(after.substr(at + 27, 21), before.substr(at + 27, 21)) << i;
        }
        EXPECT_EQ(after.substr(data + distance, before.size() - data), before.substr(data));
    }
};

} // namespace

TEST_F(GrowthTest, FullDirectoryGrowsBy30AndMovesTheData) {
    Full("a.lib", 8, 100);
    const std::string before = dir.read("a.lib");
    const int16_t s = OpenLib("a.lib");
    int16_t h;
    ASSERT_EQ(FileCreate("|NEW", &h, s), 1);
    EXPECT_EQ(h, 1008);
    const std::string grown = dir.read("a.lib");
    ASSERT_EQ(grown.size(), before.size() + 1440);
    ExpectGrown(before, grown, 30, 8);
    for (int i = 8; i < 38; ++i)
        EXPECT_EQ(grown.substr(txtest::EntryAt(i), 48), std::string(48, '\0')) << i;

    EXPECT_EQ(WriteText(h, "new member"), 10);
    EXPECT_EQ(FileClose(h), 1);
    const std::string after = dir.read("a.lib");
    EXPECT_EQ(after.substr(grown.size()), "new member");
    EXPECT_EQ(txtest::Get32(after, txtest::EntryAt(8) + 23), grown.size());
    for (int i = 0; i < 8; ++i) {
        ASSERT_EQ(FileOpen(txtest::Numbered("|M", i).c_str(), &h, s), 1);
        EXPECT_EQ(ReadAll(h), txtest::Pattern(100, i)) << i;
    }
}

TEST_F(GrowthTest, DataLargerThanOneChunkMovesIntact) {
    Full("big.lib", 3, 70000 / 3 * 3); // 210000 bytes: four chunks of at most 65000
    const std::string before = dir.read("big.lib");
    const int16_t s = OpenLib("big.lib");
    int16_t h;
    ASSERT_EQ(FileCreate("|NEW", &h, s), 1);
    EXPECT_EQ(FileClose(h), 1);
    ExpectGrown(before, dir.read("big.lib"), 30, 4);
}

TEST_F(GrowthTest, GrowthIsCutAtAThousandEntries) {
    Full("a.lib", 990, 2);
    const std::string before = dir.read("a.lib");
    const int16_t s = OpenLib("a.lib");
    int16_t h;
    ASSERT_EQ(FileCreate("|NEW", &h, s), 1);
    EXPECT_EQ(h, 1990);
    EXPECT_EQ(FileClose(h), 1);
    ExpectGrown(before, dir.read("a.lib"), 10, 991);
}

TEST_F(GrowthTest, AThousandUsedEntriesTakeNoMore) {
    Full("a.lib", 1000, 1);
    const std::string before = dir.read("a.lib");
    const int16_t s = OpenLib("a.lib");
    int16_t h;
    EXPECT_EQ(FileCreate("|M5", &h, s), 0); // even over an existing name
    EXPECT_EQ(h, -1);
    ASSERT_EQ(FileOpen("|M5", &h, s), 1); // which stays a member
    EXPECT_EQ(ReadAll(h), txtest::Pattern(1, 5));
    EXPECT_EQ(LibraryClose(s), 1);
    EXPECT_EQ(dir.read("a.lib"), before);
}

TEST_F(GrowthTest, FreeEntriesAreTakenWithoutMovingAnything) {
    FixtureContainer spec;
    spec.members = {{"A", "a"}};
    Put("a.lib", spec);
    const std::string before = dir.read("a.lib");
    const int16_t s = OpenLib("a.lib");
    ASSERT_EQ(LibrarySelect(s), 1);
    EXPECT_EQ(NewMemberEntry(), 1);
    EXPECT_EQ(NewMemberEntry(), 1); // nothing committed in between
    EXPECT_EQ(g_current_record->member_offset, static_cast<int32_t>(before.size()));
    EXPECT_EQ(dir.read("a.lib"), before);
}

TEST_F(GrowthTest, NestedContainersTakeNoNewMembers) {
    FixtureContainer inner;
    inner.kind = 1;
    inner.capacity = 1;
    inner.members = {{"IN", "inner"}};
    FixtureContainer outer;
    outer.members = {{"IN.LIB", txtest::BuildContainer(inner)}, {"AFTER", "after"}};
    Put("outer.lib", outer);
    const std::string before = dir.read("outer.lib");
    const int16_t o = OpenLib("outer.lib");
    SetLibrariesFirst(0);
    int16_t n, h;
    ASSERT_EQ(LibraryOpenExisting(dir.win("IN.LIB").c_str(), &n, -1), 1);
    EXPECT_EQ(FileCreate("|IN", &h, n), 0);
    EXPECT_EQ(ErrorLastNumber(), 1008);
    ASSERT_EQ(LibrarySelect(n), 1);
    EXPECT_EQ(NewMemberEntry(), -1);
    ASSERT_EQ(FileOpen("|IN", &h, n), 1);
    EXPECT_EQ(ReadAll(h), "inner");
    EXPECT_EQ(LibraryClose(n), 1);
    EXPECT_EQ(LibraryClose(o), 1);
    EXPECT_EQ(dir.read("outer.lib"), before);
}

TEST_F(GrowthTest, FailedMoveLeavesTheDirectorySizeAsItWas) {
    if (!txplat::FaultsSupported()) GTEST_SKIP() << txtest::kNoFaultsReason;
    Full("a.lib", 8, 10);
    const int16_t s = OpenLib("a.lib");
    int16_t h;
    txplat::FaultInject("WriteFile", 112);
    EXPECT_EQ(FileCreate("|NEW", &h, s), 0);
    EXPECT_EQ(h, -1);
    LibraryRecord* lib = LibraryRecordAt(0);
    EXPECT_EQ(+lib->header->capacity, 8);
    EXPECT_EQ(lib->end_of_data, 128 + 8 * 48 + 80);
}

TEST_F(GrowthTest, NestedLibrariesFollowTheDataTheyLieIn) {
    FixtureContainer inner;
    inner.kind = 1;
    inner.capacity = 1;
    inner.members = {{"IN", "inner"}};
    FixtureContainer outer;
    outer.capacity = 2;
    outer.members = {{"IN.LIB", txtest::BuildContainer(inner)}, {"AFTER", "after"}};
    Put("outer.lib", outer);
    const int16_t o = OpenLib("outer.lib");
    SetLibrariesFirst(0);
    int16_t n, h;
    ASSERT_EQ(LibraryOpenExisting(dir.win("IN.LIB").c_str(), &n, -1), 1);
    ASSERT_EQ(FileCreate("|NEW", &h, o), 1); // the outer directory grows
    EXPECT_EQ(FileClose(h), 1);
    ASSERT_EQ(FileOpen("|IN", &h, n), 1);
    EXPECT_EQ(ReadAll(h), "inner");
}

TEST_F(GrowthTest, NothingGoesPastTwoGibibytesIntoTheFile) {
    constexpr int32_t kEnd = 0x7FFFFFFF - 100; // where the containers end in their files
    // A full directory at a base offset: growing it would move its data past
    // that point.
    FixtureContainer full;
    full.capacity = 1;
    full.members = {{"A", "a"}};
    const std::string bytes = txtest::BuildContainer(full);
    const int32_t base = kEnd - static_cast<int32_t>(bytes.size());
    dir.write("full.lib", "");
    std::filesystem::resize_file(dir.host("full.lib"), static_cast<uintmax_t>(base));
    std::ofstream(dir.host("full.lib"), std::ios::binary | std::ios::app) << bytes;
    int16_t s, h;
    ASSERT_EQ(LibraryOpen(dir.win("full.lib").c_str(), &s, 0, 1, -1, -1, -1, base), 1);
    EXPECT_EQ(FileCreate("|NEW", &h, s), 0);

    // Free entries in a container of its own: a member takes what is left.
    FixtureContainer room;
    room.members = {{"A", "a"}};
    Put("room.lib", room);
    std::filesystem::resize_file(dir.host("room.lib"), static_cast<uintmax_t>(kEnd));
    const int16_t r = OpenLib("room.lib");
    ASSERT_EQ(FileCreate("|NEW", &h, r), 1);
    std::string data(200, 'x');
    EXPECT_EQ(FileWrite(h, data.data(), 200), 0);
    EXPECT_EQ(FileWrite(h, data.data(), 100), 100);
    EXPECT_EQ(FileClose(h), 1);
    EXPECT_EQ(LibraryRecordAt(static_cast<int16_t>(r - kSelectorBase))->end_of_data, 0x7FFFFFFF);
}

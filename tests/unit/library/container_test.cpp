// The container records: a new header block byte by byte, the magic check,
// and the reader's refusal of headers and entries that do not fit.
#include "container_fixture.h"
#include "library/container.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using namespace tx;
using txtest::BuildContainer;
using txtest::FixtureContainer;

namespace {

HeaderBlock HeaderFrom(const std::string& bytes) {
    HeaderBlock header;
    std::memcpy(&header, bytes.data(), sizeof header);
    return header;
}

} // namespace

TEST(ContainerRecords, NewHeaderMatchesHandBuiltBytes) {
    FixtureContainer spec;
    spec.capacity = 30;
    spec.kind = 0xFFFF;
    const std::string expected = BuildContainer(spec);
    ASSERT_EQ(expected.size(), 1568u);
    EXPECT_EQ(ContainerNewSize(30), 1568);

    HeaderBlock header;
    std::memset(&header, 0xCC, sizeof header);
    ContainerInitHeader(&header, -1, 30, 0x2147, 0x6D44);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&header), 128), expected.substr(0, 128));

    ContainerInitHeader(&header, 16, 8, 0, 0);
    const std::string bytes(reinterpret_cast<const char*>(&header), 128);
    EXPECT_EQ(txtest::Get16(bytes, 104), 16);
    EXPECT_EQ(txtest::Get16(bytes, 110), 8);
    EXPECT_EQ(ContainerNewSize(0), 128);
}

TEST(ContainerRecords, EntryFieldsSitAtTheirOffsets) {
    FixtureContainer spec;
    spec.members = {{"A.TXT", "x"}, {"DATA.FIC", "0123456789", 1, 0x1234, 0x5678}};
    const std::string bytes = BuildContainer(spec);
    DirEntry entry;
    std::memcpy(&entry, bytes.data() + txtest::EntryAt(1), sizeof entry);
    EXPECT_STREQ(entry.name, "DATA.FIC");
    EXPECT_EQ(+entry.reserved1, -1);
    EXPECT_EQ(+entry.reserved2, -1);
    EXPECT_EQ(+entry.state, 1);
    EXPECT_EQ(+entry.size, 10u);
    EXPECT_EQ(+entry.offset, 128u + 8 * 48 + 1);
    EXPECT_EQ(+entry.allocated, 10u);
    EXPECT_EQ(+entry.attribute, 0x20);
    EXPECT_EQ(+entry.date, 0x1234);
    EXPECT_EQ(+entry.time, 0x5678);
}

TEST(ContainerRecords, MagicComparesOnlyBytesOneToNine) {
    std::string bytes = BuildContainer({});
    for (int first : {0, int{'M'}, int{'Z'}, 0xFF}) {
        bytes[0] = static_cast<char>(first);
        HeaderBlock header = HeaderFrom(bytes);
        EXPECT_EQ(ContainerMagicMatches(&header), 1) << first;
    }
    bytes.replace(10, 4, "9.99"); // another version
    bytes[14] = 0;
    bytes[97] = 0;
    HeaderBlock other = HeaderFrom(bytes);
    EXPECT_EQ(ContainerMagicMatches(&other), 1);

    for (int at : {1, 5, 9}) {
        std::string broken = BuildContainer({});
        broken[at] = 'x';
        HeaderBlock header = HeaderFrom(broken);
        EXPECT_EQ(ContainerMagicMatches(&header), 0) << at;
    }
}

TEST(ContainerRecords, HeaderUsableOnlyWhenTheDirectoryFits) {
    FixtureContainer spec;
    spec.capacity = 0;
    HeaderBlock header = HeaderFrom(BuildContainer(spec));
    EXPECT_EQ(ContainerHeaderUsable(&header, 128), 1);

    header.capacity = 8;
    header.used = 8;
    EXPECT_EQ(ContainerHeaderUsable(&header, 128 + 8 * 48), 1);
    EXPECT_EQ(ContainerHeaderUsable(&header, 128 + 8 * 48 - 1), 0); // directory runs past the end
    header.used = 9;
    EXPECT_EQ(ContainerHeaderUsable(&header, 100000), 0); // more used than there are
    header.capacity = 1000;
    EXPECT_EQ(ContainerHeaderUsable(&header, 100000), 1);
    header.capacity = 1001;
    EXPECT_EQ(ContainerHeaderUsable(&header, 100000), 0);
}

TEST(ContainerRecords, EntryInsideContainerGuardsOffsetAndSize) {
    DirEntry entry{};
    entry.offset = 512;
    entry.size = 100;
    EXPECT_EQ(EntryInsideContainer(&entry, 612), 1);
    EXPECT_EQ(EntryInsideContainer(&entry, 611), 0);
    entry.size = 0;
    EXPECT_EQ(EntryInsideContainer(&entry, 512), 1);
    EXPECT_EQ(EntryInsideContainer(&entry, 511), 0);
    entry.offset = 0xFFFFFFF0u; // offset + size would wrap around
    entry.size = 0x20;
    EXPECT_EQ(EntryInsideContainer(&entry, 0x7FFFFFFF), 0);
    EXPECT_EQ(EntryInsideContainer(&entry, -1), 0);
}

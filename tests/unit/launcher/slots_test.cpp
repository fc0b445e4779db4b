// Configuration slots read from this program's string table, the version
// rule with the command that reports a runtime too old, and the resolution of
// the library specification.
#include "launcher/slots.h"
#include "support/trim.h"

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

HINSTANCE Self() {
    return GetModuleHandleA(nullptr);
}

std::string Pair(unsigned first) {
    // Exactly the documented size, so that a write past it is caught.
    std::vector<char> buffer(tx::kPairBufferSize, '#');
    size_t n = tx::ReadSlotPair(Self(), first, buffer.data());
    EXPECT_EQ(n, std::strlen(buffer.data()));
    return buffer.data();
}

TEST(Slots, PaddedEntryReadsAsItsValue) {
    char buffer[tx::kSlotReadLimit];
    EXPECT_EQ(tx::ReadSlot(Self(), 1, buffer, tx::kSlotReadLimit), 7u);
    EXPECT_STREQ(buffer, "ACCUEIL");
    EXPECT_EQ(tx::ReadSlot(Self(), 9, buffer, tx::kSlotReadLimit), 5u);
    EXPECT_STREQ(buffer, "1.00A");
    // A slot the table does not have reads as empty.
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(tx::ReadSlot(Self(), 30, buffer, tx::kSlotReadLimit), 0u);
    EXPECT_STREQ(buffer, "");
}

TEST(Slots, ExtractionFlagsAreCutAtTheirReadLimit) {
    char flags[tx::kFlagsReadLimit + 1];
    std::memset(flags, '#', sizeof flags);
    EXPECT_EQ(tx::ReadSlot(Self(), 11, flags, tx::kFlagsReadLimit), 99u);
    EXPECT_EQ(std::string(flags, 2), ">G");
    EXPECT_EQ(flags[99], 0);
    EXPECT_EQ(flags[100], '#');
}

TEST(Slots, PairContinuesTheFirstSlot) {
    // An unused continuation (one space) goes away with trimming.
    std::string window = Pair(1);
    EXPECT_EQ(window, "ACCUEIL ");
    EXPECT_STREQ(tx::TrimRight(window.data()), "ACCUEIL");
    // A first slot that fills its entry is read whole, without padding, and
    // the continuation follows it directly.
    EXPECT_EQ(Pair(3), std::string(126, 'F') + "SUITE");
    // Spaces only in both parts: empty after trimming.
    std::string blank = Pair(5);
    EXPECT_EQ(blank, "     ");
    EXPECT_STREQ(tx::TrimRight(blank.data()), "");
}

TEST(Slots, PairOfOverlongEntriesKeepsBothPartsWhole) {
    // Each part is read up to its limit (259 characters) and neither is cut
    // to make room for the other.
    EXPECT_EQ(Pair(20), std::string(259, 'X') + std::string(259, 'Y'));
}

TEST(Slots, VersionRuleComparesBytes) {
    EXPECT_FALSE(tx::RuntimeTooOld("1.00A", "1.00A"));
    EXPECT_FALSE(tx::RuntimeTooOld("1.00A", "1.00B"));
    EXPECT_FALSE(tx::RuntimeTooOld("1.00A", "4.10A"));
    EXPECT_TRUE(tx::RuntimeTooOld("1.00A", "1.00"));
    EXPECT_TRUE(tx::RuntimeTooOld("1.00A", "0.99Z"));
    // Lower-case letters sort after upper-case ones.
    EXPECT_FALSE(tx::RuntimeTooOld("1.00A", "1.00a"));
    // Bytes compare unsigned: 0xE9 sorts after every ASCII character.
    EXPECT_FALSE(tx::RuntimeTooOld("1.00z", "1.00\xE9"));
    // An empty expected version accepts anything; no version is too old.
    EXPECT_FALSE(tx::RuntimeTooOld("", ""));
    EXPECT_TRUE(tx::RuntimeTooOld("1.00A", ""));
}

// The "ERRE" command as the runtime is to receive it.
std::string TooOld(const std::string& module, const std::string& expected,
                   const std::string& found) {
    return "ERRE,La dll " + module + " est trop ancienne pour cet ex\xE9" + "cutable.\n" +
           "Version attendue : " + expected + "\nVersion trouv\xE9" + "e : " + found + "\n\n" +
           module + " is too old.\nYou need version : " + expected +
           "\nWe found version : " + found + "\n";
}

TEST(Slots, TooOldCommandCutsTheVersionsItQuotesToFit) {
    std::string long_found = "1.00";
    while (long_found.size() < 200)
        long_found += std::to_string(long_found.size() % 10);
    const std::string nines(100, '9');
    const struct {
        std::string expected, found;
        std::string sent_expected, sent_found;
    } cases[] = {
        {"1.00A", "1.00", "1.00A", "1.00"},
        // With the default module name 38 characters of the found version fit.
        {"1.00A", long_found.substr(0, 38), "1.00A", long_found.substr(0, 38)},
        {"1.00A", long_found.substr(0, 39), "1.00A", long_found.substr(0, 38)},
        {"1.00A", long_found, "1.00A", long_found.substr(0, 38)},
        // An expected version that leaves no room: the found one goes first.
        {nines, "1.00", nines.substr(0, 43), ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected + " / " + c.found);
        std::vector<char> out(tx::kCommandMax + 1, '#');
        const size_t length = tx::FormatTooOldCommand(out.data(), "TX413EXE.DLL",
                                                      c.expected.c_str(), c.found.c_str());
        const std::string wanted = TooOld("TX413EXE.DLL", c.sent_expected, c.sent_found);
        EXPECT_EQ(std::string(out.data()), wanted);
        EXPECT_EQ(length, wanted.size());
        EXPECT_LE(length, tx::kCommandMax);
    }
}

struct Resolved {
    int ok;
    std::string spec;
    size_t length;
};

Resolved Resolve(const std::string& spec, const char* found) {
    std::vector<char> buffer(tx::kPairBufferSize, '#');
    std::memcpy(buffer.data(), spec.c_str(), spec.size() + 1);
    size_t length = 0;
    int ok = tx::ResolveLibrarySpec(buffer.data(), buffer.size(), found, &length);
    return {ok, buffer.data(), length};
}

TEST(Slots, LibraryFileNameTakesTheHostDirectory) {
    Resolved r = Resolve("LIBRARY.DAT", "C:\\APP\\HOST.EXE");
    EXPECT_EQ(r.ok, 1);
    EXPECT_EQ(r.spec, "C:\\APP\\LIBRARY.DAT");
    // Of a path, only the file name survives.
    r = Resolve("D:\\OLD\\LIBRARY.DAT", "C:\\APP\\HOST.EXE");
    EXPECT_EQ(r.spec, "C:\\APP\\LIBRARY.DAT");
    r = Resolve("D:\\OLD\\", "C:\\APP\\HOST.EXE");
    EXPECT_EQ(r.spec, "C:\\APP\\");
}

TEST(Slots, LibraryStaysAsItIsWithoutAHostDirectory) {
    for (const char* found : {"", "HOST.EXE"}) {
        Resolved r = Resolve("D:\\OLD\\LIBRARY.DAT", found);
        EXPECT_EQ(r.ok, 1) << found;
        EXPECT_EQ(r.spec, "D:\\OLD\\LIBRARY.DAT") << found;
    }
}

TEST(Slots, LibraryPathLongerThanAPathIsRefusedUnchanged) {
    std::string directory = "C:\\" + std::string(100, 'D');
    std::string host = directory + "\\HOST.EXE";
    // 259 characters in all still fit.
    std::string fits(259 - directory.size() - 1, 'N');
    Resolved r = Resolve(fits, host.c_str());
    EXPECT_EQ(r.ok, 1);
    EXPECT_EQ(r.spec, directory + "\\" + fits);
    EXPECT_EQ(r.length, 259u);
    // One more is refused, and the specification is left as it was.
    std::string too_long = fits + "N";
    r = Resolve(too_long, host.c_str());
    EXPECT_EQ(r.ok, 0);
    EXPECT_EQ(r.spec, too_long);
    EXPECT_EQ(r.length, 260u);
    // A name as long as a pair can hold.
    r = Resolve(std::string(518, 'N'), host.c_str());
    EXPECT_EQ(r.ok, 0);
    EXPECT_EQ(r.length, directory.size() + 1 + 518);
}

} // namespace

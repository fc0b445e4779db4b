// Name lookup in a library's directory, unsorted and sorted, in its three
// modes, and the translation of long names through the table in force.
#include "layer_fixture.h"

#include <cstring>

using namespace tx;
using txtest::FixtureContainer;
using txtest::FixtureMember;

namespace {

class LookupTest : public txtest::LayerTest {
  protected:
    int16_t Lookup(const char* name, int16_t mode) {
        std::strcpy(buffer, name);
        return DirectoryLookup(buffer, mode);
    }
    char buffer[261];
};

} // namespace

TEST_F(LookupTest, UnsortedFindsValidEntriesIgnoringCase) {
    FixtureContainer spec;
    spec.members = {{"ONE.TXT", "1"},
                    {"TWO.TXT", "22", 0}, // an entry of the name that is not valid
                    {"TWO.TXT", "333"},
                    {"THREE", "4444"}};
    spec.used = 3; // the fourth entry lies beyond the used count
    Put("a.lib", spec);
    ASSERT_EQ(LibrarySelect(OpenLib("a.lib")), 1);

    EXPECT_EQ(Lookup("one.txt", kLookupTest), 0);
    EXPECT_STREQ(buffer, "ONE.TXT"); // upper-cased in place
    EXPECT_EQ(Lookup("Two.Txt", kLookupTest), 2);
    EXPECT_EQ(Lookup("THREE", kLookupTest), -1);
    EXPECT_EQ(Lookup("ONE.TX", kLookupTest), -1);
    EXPECT_EQ(Lookup("ONE.TXT", 7), -1); // no such mode

    // Open mode starts reading the entry.
    LibraryRecord* lib = g_current_record;
    lib->writing = 1;
    EXPECT_EQ(Lookup("TWO.TXT", kLookupOpen), 2);
    EXPECT_EQ(lib->writing, 0);
    EXPECT_EQ(lib->size_at_open, 3);
    EXPECT_EQ(lib->member_offset, 128 + 8 * 48 + 1 + 2);
    EXPECT_EQ(lib->position, 0);
    EXPECT_EQ(lib->current_entry, &lib->directory[2]);
}

TEST_F(LookupTest, ReplaceDeletesEveryEntryOfTheName) {
    FixtureContainer spec;
    spec.members = {{"DUP", "a", 0}, {"DUP", "b"}, {"KEEP", "c"}};
    Put("a.lib", spec);
    ASSERT_EQ(LibrarySelect(OpenLib("a.lib")), 1);
    LibraryRecord* lib = g_current_record;
    EXPECT_EQ(Lookup("dup", kLookupReplace), -1);
    for (int i : {0, 1}) {
        EXPECT_EQ(static_cast<uint8_t>(lib->directory[i].name[0]), 0xE5) << i;
        EXPECT_EQ(+lib->directory[i].state, 0) << i;
        EXPECT_STREQ(lib->directory[i].name + 1, "UP");
    }
    EXPECT_EQ(Lookup("DUP", kLookupTest), -1);
    EXPECT_EQ(Lookup("KEEP", kLookupTest), 2);
}

TEST_F(LookupTest, OnlyAnOpenThatFindsItsMemberTakesTheAccessStateOver) {
    Put("a.lib", txtest::Lib({{"ONE", "1"}, {"GONE", "2", 0}}));
    ASSERT_EQ(LibrarySelect(OpenLib("a.lib")), 1);
    LibraryRecord* lib = g_current_record;
    const struct {
        const char* name;
        int16_t mode;
    } lookups[] = {{"ONE", kLookupTest},
                   {"NONE", kLookupTest},
                   {"NONE", kLookupOpen},
                   {"GONE", kLookupOpen},
                   {"NONE", kLookupReplace},
                   {"GONE", kLookupReplace},
                   {"ONE", 7}};
    for (const auto& lookup : lookups) {
        SCOPED_TRACE(std::string(lookup.name) + " mode " + std::to_string(lookup.mode));
        lib->writing = 1;
        lib->new_member = 1;
        Lookup(lookup.name, lookup.mode);
        EXPECT_EQ(lib->writing, 1);
        EXPECT_EQ(lib->new_member, 1);
    }
}

TEST_F(LookupTest, SortedDirectoryWithLeadingEmptyEntries) {
    FixtureContainer spec;
    spec.sorted = 1;
    spec.members = {{"", ""},          {"", ""},       {"ALPHA", "a"}, {"BETA", "b"},
                    {"DELTA", "d", 0}, {"GAMMA", "g"}, {"OMEGA", "o"}, {"ZETA", "z"}};
    Put("s.lib", spec);
    ASSERT_EQ(LibrarySelect(OpenLib("s.lib")), 1);
    EXPECT_EQ(Lookup("alpha", kLookupTest), 2);
    EXPECT_EQ(Lookup("BETA", kLookupTest), 3);
    EXPECT_EQ(Lookup("GAMMA", kLookupOpen), 5);
    EXPECT_EQ(Lookup("ZETA", kLookupTest), 7);
    EXPECT_EQ(Lookup("DELTA", kLookupTest), -1); // present but not valid
    EXPECT_EQ(Lookup("AAA", kLookupTest), -1);   // below every name
    EXPECT_EQ(Lookup("ZZZ", kLookupTest), -1);   // above every name
    EXPECT_EQ(Lookup("CHI", kLookupTest), -1);   // between two names
    EXPECT_EQ(Lookup("", kLookupTest), -1);

    FixtureContainer empty;
    empty.sorted = 1;
    empty.capacity = 3;
    Put("e.lib", empty);
    ASSERT_EQ(LibrarySelect(OpenLib("e.lib")), 1);
    EXPECT_EQ(Lookup("ALPHA", kLookupTest), -1);
}

TEST_F(LookupTest, OpenRefusesEntriesOutsideTheContainer) {
    FixtureContainer spec;
    spec.members = {{"GOOD", "12345"}, {"BAD", "678"}};
    std::string bytes = txtest::BuildContainer(spec);
    txtest::Put32(bytes, txtest::EntryAt(1) + 19, 1000); // size runs past the end of data
    dir.write("a.lib", bytes);
    ASSERT_EQ(LibrarySelect(OpenLib("a.lib")), 1);
    EXPECT_EQ(Lookup("BAD", kLookupTest), 1);
    EXPECT_EQ(Lookup("BAD", kLookupOpen), -1);
    EXPECT_EQ(DirectoryLookupRefused(), 1);
    EXPECT_EQ(Lookup("GOOD", kLookupOpen), 0);
    EXPECT_EQ(DirectoryLookupRefused(), 0);
}

TEST_F(LookupTest, LongNamesTranslateThroughTheTableInForce) {
    FixtureContainer spec;
    const std::string table = "\nMY LONG NAME.TXT\tMYLONG~1.TXT\nSECOND ONE\tSECOND~1\n";
    spec.members = {{"TXBIBLI.LFN", table}, {"MYLONG~1.TXT", "long"}, {"SECOND~1", "two"}};
    Put("app.lib", spec);
    int16_t selector;
    ASSERT_EQ(LibraryOpenApplication(dir.win("app.lib").c_str(), &selector, 0), 0);
    ASSERT_EQ(SearchListFirst(), selector - 255); // the table of the only library is in force
    ASSERT_EQ(SearchListNext(), -1);

    EXPECT_EQ(Lookup("my long name.txt", kLookupTest), 1);
    EXPECT_STREQ(buffer, "MYLONG~1.TXT");
    EXPECT_EQ(Lookup("second one  ", kLookupTest), 2); // trailing spaces do not count
    std::strcpy(buffer, "unknown name");
    EXPECT_EQ(LongNameTranslate(buffer), buffer);
    EXPECT_STREQ(buffer, "unknown name");
    // A key is a whole line: a partial name does not match.
    std::strcpy(buffer, "LONG NAME.TXT");
    LongNameTranslate(buffer);
    EXPECT_STREQ(buffer, "LONG NAME.TXT");
    // A stored name that does not fit the caller's buffer leaves it alone.
    std::strcpy(buffer, "MY LONG NAME.TXT");
    EXPECT_EQ(LongNameTranslate(buffer, 12), nullptr);
    EXPECT_STREQ(buffer, "MY LONG NAME.TXT");
    EXPECT_EQ(DirectoryLookup(buffer, kLookupTest, 12), -1);
}

TEST_F(LookupTest, TableThatDoesNotBeginWithALineFeedMissesItsFirstLine) {
    FixtureContainer spec;
    spec.members = {{"TXBIBLI.LFN", "FIRST NAME\tFIRST~1\nOTHER NAME\tOTHER~1\n"},
                    {"FIRST~1", "1"},
                    {"OTHER~1", "2"}};
    Put("app.lib", spec);
    int16_t selector;
    ASSERT_EQ(LibraryOpenApplication(dir.win("app.lib").c_str(), &selector, 0), 0);
    SearchListFirst();
    SearchListNext();
    EXPECT_EQ(Lookup("FIRST NAME", kLookupTest), -1);
    EXPECT_EQ(Lookup("OTHER NAME", kLookupTest), 2);
}

TEST_F(LookupTest, LongNameTableOf64KiBIsNotLoaded) {
    FixtureContainer spec;
    std::string table = "\nBIG NAME\tBIG~1\n";
    table.resize(65536, ' ');
    spec.members = {{"TXBIBLI.LFN", table}, {"BIG~1", "x"}};
    Put("app.lib", spec);
    int16_t selector;
    ASSERT_EQ(LibraryOpenApplication(dir.win("app.lib").c_str(), &selector, 0), 0);
    EXPECT_EQ(SearchListEntries()[0].long_names, nullptr);
    EXPECT_EQ(LongNamesLoad(), 0);
    SearchListFirst();
    SearchListNext();
    EXPECT_EQ(Lookup("BIG NAME", kLookupTest), -1);
}

// Long member names as txlib writes and reads them: the table text as the
// launcher's lookup finds its lines, generated short names, the rules for a
// long name, and the patterns that select members.
#include "commands/librarytools.h"
#include "formats/longnames.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

TEST(LongNameTable, LinesAreWhatTheLookupFinds) {
    struct Case {
        const char* what;
        std::string text;
        std::vector<txlib::TableLine> lines;
    };
    const Case cases[] = {
        {"two lines",
         "\nA LONG NAME.TXT\tALONGN~1.TXT\nB\\C.TXT\tC~1.TXT",
         {{"A LONG NAME.TXT", "ALONGN~1.TXT"}, {"B\\C.TXT", "C~1.TXT"}}},
        {"no line feed before the first line", "A.TXT\tB.TXT\nC.TXT\tD.TXT", {{"C.TXT", "D.TXT"}}},
        {"a line without a tab", "\nNO TAB HERE\n\nX.TXT\tY.TXT", {{"X.TXT", "Y.TXT"}}},
        {"a carriage return stays in the stored name",
         "\nLONG.TXT\tL~1.TXT\r\n",
         {{"LONG.TXT", "L~1.TXT\r"}}},
        {"the text ends at a NUL",
         std::string("\nA.TXT\tB.TXT\0\nC.TXT\tD.TXT", 26),
         {{"A.TXT", "B.TXT"}}},
        {"a second tab belongs to the stored name", "\nA\tB\tC", {{"A", "B\tC"}}},
    };
    for (const Case& c : cases) {
        const std::vector<txlib::TableLine> lines = txlib::ParseTable(c.text);
        ASSERT_EQ(lines.size(), c.lines.size()) << c.what;
        for (size_t i = 0; i < lines.size(); ++i) {
            EXPECT_EQ(lines[i].long_name, c.lines[i].long_name) << c.what;
            EXPECT_EQ(lines[i].stored, c.lines[i].stored) << c.what;
        }
    }
    EXPECT_EQ(txlib::TableText({{"A\\B.TXT", "B~1.TXT"}, {"LONGER NAME", "LONGER~1"}}),
              "\nA\\B.TXT\tB~1.TXT\nLONGER NAME\tLONGER~1");
}

TEST(LongNameTable, ShortNamesAreEightThreeAndFree) {
    struct Case {
        const char* long_name;
        std::set<std::string> taken;
        const char* expected;
    };
    std::set<std::string> nine;
    for (int i = 1; i <= 9; ++i)
        nine.insert("README~" + std::to_string(i) + ".TXT");
    const Case cases[] = {
        {"TREE\\README-LONG-NAME.TXT", {}, "README~1.TXT"},
        {"README-LONG-NAME.TXT", {"README~1.TXT"}, "README~2.TXT"},
        {"README-LONG-NAME.TXT", nine, "READM~10.TXT"},
        {"MY FILE.TEXT", {}, "MYFILE~1.TEX"},
        {"NO EXTENSION AT ALL", {}, "NOEXTE~1"},
        {".HIDDEN-FILE", {}, "TX~1.HID"},
        {"\xC9T\xC9.TXT", {}, "T~1.TXT"},
        {"\xE9\xE9\xE9.TXT", {}, "TX~1.TXT"},
    };
    for (const Case& c : cases) {
        const std::string name = txlib::ShortName(c.long_name, [&](const std::string& candidate) {
            return c.taken.count(candidate) != 0;
        });
        EXPECT_EQ(name, c.expected) << c.long_name;
        EXPECT_TRUE(txlib::FitsEntry(name)) << name;
    }
}

TEST(LongNameTable, WhichNamesAreLongAndWhichAreRefused) {
    struct Case {
        std::string name;
        bool fits;
        bool long_ok;
    };
    const Case cases[] = {
        {"MAIN.OBJ", true, true},
        {"README-LONG.TXT", false, true},
        {"A\\B.TXT", false, true},
        {"\xE5SA.TXT", false, true}, // 0xE5 would mark a deleted entry
        {" LEAD.TXT", false, false},
        {"TRAIL.TXT ", false, false},
        {"..\\X.TXT", false, false},
        {"A\\\\B", false, false},
        {"\\ROOT.TXT", false, false},
        {"C:\\X.TXT", false, false},
        {"A\tB.TXT", false, false},
        {"STAR*.TXT", false, false},
        {std::string(259, 'N'), false, true},
        {std::string(260, 'N'), false, false},
    };
    for (const Case& c : cases) {
        std::string reason;
        EXPECT_EQ(txlib::FitsEntry(c.name), c.fits) << c.name;
        EXPECT_EQ(txlib::ValidLongName(c.name, &reason), c.long_ok) << c.name << ": " << reason;
    }
}

TEST(Patterns, StarAndQuestionMarkStayWithinAPartAndTwoStarsCross) {
    struct Case {
        const char* pattern;
        const char* name;
        bool matches;
    };
    const Case cases[] = {
        {"F0000*", "F00001.TXT", true},
        {"F0000*", "F0001.TXT", false},
        // '*' and '?' stay within one part of a long name; "**" crosses parts.
        {"*.TXT", "A\\B\\C.TXT", false},
        {"**.TXT", "A\\B\\C.TXT", true},
        {"A\\*", "A\\B\\C.TXT", false},
        {"A\\*\\*.TXT", "A\\B\\C.TXT", true},
        {"A\\**", "A\\B\\C.TXT", true},
        {"A?B\\C.TXT", "A\\B\\C.TXT", false},
        {"?.TXT", "A.TXT", true},
        {"?.TXT", "AB.TXT", false},
        {"*", "", true},
        {"", "A", false},
        {"A*B*C", "AXXBYYC", true},
        {"A*B*C", "AXXBYY", false},
        {"**.DLL", "TX413EXE.DLL", true},
        {"TX41?EXE.DLL", "TX413EXE.DLL", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(txlib::WildcardMatch(c.pattern, c.name), c.matches)
            << c.pattern << " ~ " << c.name;
}

TEST(Patterns, ExtractedPartsStayInsideTheOutputFolder) {
    struct Case {
        const char* part;
        bool safe;
    };
    const Case cases[] = {
        {"README-LONG-NAME.TXT", true},
        {"..", false},
        {"C:", false},
        {"", false},
        {"CON.TXT", false},
        {"com1", false},
        {"A.", false},
        {"A ", false},
        {"\xE5SA.TXT", true},
        {"A/B", false},
        {"NUL", false},
    };
    for (const Case& c : cases) {
        std::string reason;
        EXPECT_EQ(txlib::SafeFileName(c.part, &reason), c.safe) << c.part;
    }
}

} // namespace

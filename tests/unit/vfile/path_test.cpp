// Path handling: the split, member paths and bounded copies.
#include "vfile/virtual.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using namespace tx;

namespace {

struct Split {
    int result;
    std::string drive, directory, name, extension;
    bool operator==(const Split&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Split& s) {
    return out << s.result << " [" << s.drive << "][" << s.directory << "][" << s.name << "]["
               << s.extension << "]";
}

Split SplitOf(const std::string& path) {
    char drive[kDriveBufSize], directory[kPathMax + 1], name[kPathMax + 1], extension[kPathMax + 1];
    std::memset(drive, 'x', sizeof drive);
    const int result = SplitPath(path.c_str(), drive, directory, name, extension);
    return {result, drive, directory, name, extension};
}

} // namespace

TEST(SplitPath, DrivesDirectoriesNamesAndExtensions) {
    EXPECT_EQ(SplitOf("C:\\APP\\DATA.FIC"), (Split{1, "C:", "\\APP\\", "DATA", ".FIC"}));
    EXPECT_EQ(SplitOf("DATA"), (Split{1, "", "", "DATA", ""}));
    EXPECT_EQ(SplitOf("C:ABC"), (Split{1, "", "", "C:ABC", ""})); // no separator: all name
    EXPECT_EQ(SplitOf("C:\\DIR\\NAME"), (Split{1, "C:", "\\DIR\\", "NAME", ""}));
    // The extension is searched over the whole path, across separators.
    EXPECT_EQ(SplitOf("C:\\DIR.X\\NAME"), (Split{1, "C:", "\\", "DIR", ".X\\NAME"}));
    // Only the last separator becomes a backslash.
    EXPECT_EQ(SplitOf("A/B/C.TXT"), (Split{1, "", "A/B\\", "C", ".TXT"}));
    EXPECT_EQ(SplitOf("\\ROOT.DLL"), (Split{1, "", "\\", "ROOT", ".DLL"}));
    EXPECT_EQ(SplitOf(""), (Split{1, "", "", "", ""}));
}

TEST(SplitPath, UncServerNamesGoToTheDrive) {
    EXPECT_EQ(SplitOf("\\\\SRV\\SHARE\\X.DLL"), (Split{1, "\\\\SRV", "\\SHARE\\", "X", ".DLL"}));
    EXPECT_EQ(SplitOf("\\\\SRV\\X.DLL"), (Split{1, "\\\\SRV", "\\", "X", ".DLL"}));
    EXPECT_EQ(SplitOf("\\\\\\X"), (Split{1, "\\\\", "\\", "X", ""}));
    // Fifteen characters fit the drive buffer; sixteen are refused whole.
    EXPECT_EQ(SplitOf("\\\\SERVER7890123\\S\\F.TXT"),
              (Split{1, "\\\\SERVER7890123", "\\S\\", "F", ".TXT"}));
    EXPECT_EQ(SplitOf("\\\\SERVER78901234\\S\\F.TXT"), (Split{0, "", "", "", ""}));
    EXPECT_EQ(SplitOf("ABCDEFGHIJKLMNOP:\\F"), (Split{0, "", "", "", ""}));
}

TEST(SplitPath, LongPathsAreCutAtTheWorkingLength) {
    const std::string path = "C:\\" + std::string(300, 'N');
    const Split s = SplitOf(path);
    EXPECT_EQ(s.name, std::string(257, 'N'));
}

TEST(MemberPaths, PrefixAndFileNamePart) {
    char out[32];
    MemberPathOf(out, "C:\\WINDOWS\\TX413EXE.DLL", 31);
    EXPECT_STREQ(out, "|TX413EXE.DLL");
    MemberPathOf(out, "|ABC", 31);
    EXPECT_STREQ(out, "|ABC");
    MemberPathOf(out, "C:ABC", 31);
    EXPECT_STREQ(out, "|C:ABC");
    MemberPathOf(out, "A/B/C", 31); // '/' is not a separator here
    EXPECT_STREQ(out, "|A/B/C");
    std::memset(out, 'x', sizeof out);
    MemberPathOf(out, "C:\\LONGNAME.DLL", 5);
    EXPECT_STREQ(out, "|LONG");

    char path[16] = "|NAME";
    EXPECT_EQ(StripMemberPrefix(path), 1);
    EXPECT_STREQ(path, "NAME");
    EXPECT_EQ(StripMemberPrefix(path), 0);
    EXPECT_STREQ(path, "NAME");
}

TEST(MemberPaths, CopyBoundedAlwaysTerminatesAtTheCount) {
    char out[8];
    std::memset(out, 'x', sizeof out);
    EXPECT_EQ(CopyBounded(out, "ABCDEFGHIJ", 5), out);
    EXPECT_STREQ(out, "ABCDE");
    std::memset(out, 'x', sizeof out);
    CopyBounded(out, "AB", 5);
    EXPECT_EQ(std::string(out, 6), std::string("AB\0\0\0\0", 6));
    EXPECT_EQ(out[6], 'x');
}

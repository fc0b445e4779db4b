// FindFirstFileA, FindNextFileA and FindClose: wildcards, "." and "..",
// attributes, sizes, times and short names, natively and under Wine.
#include "filetest.h"
#include "platform/fault.h"
#include "platform/win32.h"
#include "testutil.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <vector>

namespace {

using filetest::Handle;
using filetest::kReadWrite;
using filetest::Open;
using txtest::ScratchDir;
namespace fs = std::filesystem;

DWORD Err() {
    return GetLastError();
}

// Every entry a search yields, in order; the error after the last one in
// *end_error. An empty list when FindFirstFileA fails, with its error.
std::vector<WIN32_FIND_DATAA> FindAll(const std::string& pattern, DWORD* end_error) {
    std::vector<WIN32_FIND_DATAA> out;
    WIN32_FIND_DATAA fd;
    std::memset(&fd, 0x5A, sizeof fd);
    SetLastError(0);
    HANDLE h = FindFirstFileA(pattern.c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) {
        *end_error = Err();
        return out;
    }
    do {
        out.push_back(fd);
    } while (FindNextFileA(h, &fd));
    *end_error = Err();
    EXPECT_TRUE(FindClose(h));
    return out;
}

std::vector<std::string> Names(const std::string& pattern, DWORD* end_error = nullptr) {
    DWORD e = 0;
    std::vector<std::string> names;
    for (const auto& fd : FindAll(pattern, &e))
        names.push_back(fd.cFileName);
    if (end_error) *end_error = e;
    return names;
}

// The listing without its order, but for "." and ".." which must come first.
std::vector<std::string> Sorted(std::vector<std::string> v) {
    size_t dots = 0;
    while (dots < v.size() && (v[dots] == "." || v[dots] == ".."))
        ++dots;
    std::sort(v.begin() + static_cast<long>(dots), v.end());
    return v;
}

class FindTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir.write("a.txt", "hello");
        dir.write("ABC.TXT", "12345678");
        dir.write("noext", "x");
        dir.write("ac", "");
        dir.write("abc", "");
        dir.write("data.bin", std::string(1000, 'd'));
        fs::create_directory(dir.host("sub"));
    }
    ScratchDir dir;
};

TEST_F(FindTest, DirectoryListingStartsWithDotAndDotDot) {
    DWORD end = 0;
    auto all = FindAll(dir.win("*"), &end);
    EXPECT_EQ(end, static_cast<DWORD>(ERROR_NO_MORE_FILES));
    std::vector<std::string> names;
    for (const auto& fd : all)
        names.push_back(fd.cFileName);
    EXPECT_EQ(Sorted(names), (std::vector<std::string>{".", "..", "ABC.TXT", "a.txt", "abc", "ac",
                                                       "data.bin", "noext", "sub"}));
    for (const auto& fd : all) {
        std::string name = fd.cFileName;
        SCOPED_TRACE(name);
        bool dir_entry = name == "." || name == ".." || name == "sub";
        EXPECT_EQ((fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0, dir_entry);
        if (!dir_entry) {
            EXPECT_NE(fd.dwFileAttributes & FILE_ATTRIBUTE_ARCHIVE, 0u);
            EXPECT_EQ(fd.dwFileAttributes & FILE_ATTRIBUTE_READONLY, 0u);
            EXPECT_EQ(fd.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN, 0u);
        }
        EXPECT_EQ(fd.nFileSizeHigh, 0u);
        // Legal 8.3 names have no separate short name.
        EXPECT_STREQ(fd.cAlternateFileName, "");
    }
    auto size_of = [&](const std::string& n) -> DWORD {
        for (const auto& fd : all)
            if (n == fd.cFileName) return fd.nFileSizeLow;
        return 0xDEADu;
    };
    EXPECT_EQ(size_of("a.txt"), 5u);
    EXPECT_EQ(size_of("ABC.TXT"), 8u);
    EXPECT_EQ(size_of("data.bin"), 1000u);
    EXPECT_EQ(size_of("sub"), 0u);

    // An empty directory holds "." and ".." only.
    EXPECT_EQ(Names(dir.win("sub\\*"), &end), (std::vector<std::string>{".", ".."}));
    EXPECT_EQ(end, static_cast<DWORD>(ERROR_NO_MORE_FILES));
}

TEST_F(FindTest, WildcardsAsWindowsMatchesThem) {
    // "*.*" and "*." match names without a dot too.
    EXPECT_EQ(Sorted(Names(dir.win("*.*"))), Sorted(Names(dir.win("*"))));
    EXPECT_EQ(Sorted(Names(dir.win("*."))), Sorted(Names(dir.win("*"))));
    // Without regard to case.
    EXPECT_EQ(Sorted(Names(dir.win("*.TXT"))), (std::vector<std::string>{"ABC.TXT", "a.txt"}));
    EXPECT_EQ(Sorted(Names(dir.win("A*"))),
              (std::vector<std::string>{"ABC.TXT", "a.txt", "abc", "ac"}));
    // '?' is exactly one character.
    EXPECT_EQ(Names(dir.win("a?c")), (std::vector<std::string>{"abc"}));
    EXPECT_EQ(Names(dir.win("a?")), (std::vector<std::string>{"ac"}));
    EXPECT_EQ(Names(dir.win("?")), (std::vector<std::string>{"."}));
    EXPECT_EQ(Names(dir.win("??")), (std::vector<std::string>{"..", "ac"}));
    EXPECT_EQ(Names(dir.win("no*t")), (std::vector<std::string>{"noext"}));
    EXPECT_EQ(Sorted(Names(dir.win("*x*"))),
              (std::vector<std::string>{"ABC.TXT", "a.txt", "noext"}));
    EXPECT_EQ(Names(dir.win("*.b?n")), (std::vector<std::string>{"data.bin"}));

    DWORD end = 0;
    EXPECT_TRUE(Names(dir.win("zz*"), &end).empty());
    EXPECT_EQ(end, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(FindTest, PatternWithoutWildcardsNamesOneEntry) {
    DWORD end = 0;
    auto one = FindAll(dir.win("A.TXT"), &end);
    ASSERT_EQ(one.size(), 1u);
    EXPECT_STREQ(one[0].cFileName, "a.txt");
    EXPECT_EQ(one[0].nFileSizeLow, 5u);
    EXPECT_EQ(end, static_cast<DWORD>(ERROR_NO_MORE_FILES));
    EXPECT_EQ(Names(dir.win("abc.txt")), (std::vector<std::string>{"ABC.TXT"}));
    // A directory named alone is that directory's entry, not its listing.
    auto sub = FindAll(dir.win("sub"), &end);
    ASSERT_EQ(sub.size(), 1u);
    EXPECT_STREQ(sub[0].cFileName, "sub");
    EXPECT_NE(sub[0].dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
    // "sub\." is "sub"; "sub\.." is the scratch directory itself.
    EXPECT_EQ(Names(dir.win("sub\\.")), (std::vector<std::string>{"sub"}));
    EXPECT_EQ(Names(dir.win("sub\\..")),
              (std::vector<std::string>{dir.host().filename().string()}));
    // A trailing separator names no entry.
    EXPECT_TRUE(Names(dir.win("sub\\"), &end).empty());
    EXPECT_EQ(end, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_TRUE(Names(dir.win("missing.txt"), &end).empty());
    EXPECT_EQ(end, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(FindTest, MissingAndBadDirectories) {
    DWORD end = 0;
    EXPECT_TRUE(Names(dir.win("missing\\*"), &end).empty());
    EXPECT_EQ(end, static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_TRUE(Names(dir.win("missing\\a.txt"), &end).empty());
    EXPECT_EQ(end, static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    // Wildcards in a directory, and a file used as one.
    EXPECT_TRUE(Names(dir.win("s*b\\*"), &end).empty());
    EXPECT_EQ(end, static_cast<DWORD>(ERROR_INVALID_NAME));
    EXPECT_TRUE(Names(dir.win("a.txt\\*"), &end).empty());
    EXPECT_EQ(end, static_cast<DWORD>(ERROR_INVALID_NAME));
    EXPECT_TRUE(Names("", &end).empty());
    EXPECT_EQ(end, static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    WIN32_FIND_DATAA fd;
    EXPECT_FAILS_AS(FindFirstFileA(nullptr, &fd), INVALID_HANDLE_VALUE, ERROR_PATH_NOT_FOUND);
}

TEST_F(FindTest, RootHasNoDotEntries) {
    std::string root = dir.win().substr(0, 3) + "*";
    auto names = Names(root);
    ASSERT_FALSE(names.empty());
    EXPECT_EQ(std::count(names.begin(), names.end(), "."), 0);
    EXPECT_EQ(std::count(names.begin(), names.end(), ".."), 0);
}

TEST_F(FindTest, AttributesOfHiddenAndReadOnlyFiles) {
    dir.write(".hidden", "h");
    dir.write("ro.txt", "r");
    fs::permissions(dir.host("ro.txt"),
                    fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    DWORD end = 0;
    auto ro = FindAll(dir.win("ro.txt"), &end);
    ASSERT_EQ(ro.size(), 1u);
    EXPECT_EQ(ro[0].dwFileAttributes,
              static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY));
    fs::permissions(dir.host("ro.txt"), fs::perms::owner_write, fs::perm_options::add);

    auto plain = FindAll(dir.win("a.txt"), &end);
    ASSERT_EQ(plain.size(), 1u);
    EXPECT_EQ(plain[0].dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
    auto sub = FindAll(dir.win("sub"), &end);
    ASSERT_EQ(sub.size(), 1u);
    EXPECT_EQ(sub[0].dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));

    // Wine shows a host file whose name starts with a dot as hidden.
    if (filetest::OurLayer() || filetest::OnWine()) {
        auto hidden = FindAll(dir.win(".hidden"), &end);
        ASSERT_EQ(hidden.size(), 1u);
        EXPECT_EQ(hidden[0].dwFileAttributes,
                  static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN));
    }
}

TEST_F(FindTest, ShortNamesOfLongNamesAreWines) {
    if (!filetest::OurLayer() && !filetest::OnWine())
        GTEST_SKIP() << "Windows makes short names its own way, or none";
    const std::map<std::string, std::string> expected = {
        {".hidden", "_HID~45N"},
        {"container_info.json", "CONT~KRA.JSO"},
        {"pyenv-installer", "PYEN~KFZ"},
        {"lost+found", "LOST~YZJ"},
        {"a.b.c", ""},
        {"abcdefghi", ""},
        {"ab.cdef", ""},
    };
    for (const auto& [name, shortname] : expected)
        dir.write(name, "");
    for (const auto& [name, shortname] : expected) {
        DWORD end = 0;
        auto one = FindAll(dir.win(name), &end);
        ASSERT_EQ(one.size(), 1u) << name;
        EXPECT_STREQ(one[0].cFileName, name.c_str());
        if (!shortname.empty()) {
            EXPECT_STREQ(one[0].cAlternateFileName, shortname.c_str());
        }
        // Some short name is made for every name that is no legal 8.3 name.
        EXPECT_NE(one[0].cAlternateFileName[0], '\0') << name;
        EXPECT_LT(std::strlen(one[0].cAlternateFileName), 13u);
    }
}

TEST_F(FindTest, TimesAndLargeSizes) {
    {
        Handle h(Open(dir.win("big.bin"), kReadWrite, CREATE_ALWAYS));
        ASSERT_TRUE(h.valid());
        LONG high = 1;
        ASSERT_EQ(SetFilePointer(h, 7, &high, FILE_BEGIN), 7u);
        ASSERT_TRUE(SetEndOfFile(h));
        SYSTEMTIME st = {2004, 5, 0, 6, 7, 8, 10, 0};
        FILETIME ft;
        ASSERT_TRUE(SystemTimeToFileTime(&st, &ft));
        ASSERT_TRUE(SetFileTime(h, nullptr, nullptr, &ft));
    }
    DWORD end = 0;
    auto big = FindAll(dir.win("big.bin"), &end);
    ASSERT_EQ(big.size(), 1u);
    EXPECT_EQ(big[0].nFileSizeHigh, 1u);
    EXPECT_EQ(big[0].nFileSizeLow, 7u);
    SYSTEMTIME back;
    ASSERT_TRUE(FileTimeToSystemTime(&big[0].ftLastWriteTime, &back));
    EXPECT_EQ(back.wYear, 2004);
    EXPECT_EQ(back.wMonth, 5);
    EXPECT_EQ(back.wDay, 6);
    EXPECT_EQ(back.wHour, 7);
    EXPECT_EQ(back.wMinute, 8);
    EXPECT_EQ(back.wSecond, 10);
    EXPECT_TRUE(DeleteFileA(dir.win("big.bin").c_str()));
}

TEST_F(FindTest, NextAtTheEndAndBadHandles) {
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA(dir.win("noext").c_str(), &fd);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_FAILS(FindNextFileA(h, &fd), ERROR_NO_MORE_FILES);
    EXPECT_FAILS(FindNextFileA(h, &fd), ERROR_NO_MORE_FILES);
    EXPECT_TRUE(FindClose(h));
    if (filetest::OurLayer()) {
        // Wine finds its freed search record again and "closes" it twice.
        EXPECT_FAILS(FindClose(h), ERROR_INVALID_HANDLE);
    }

    for (HANDLE bad : {static_cast<HANDLE>(nullptr), INVALID_HANDLE_VALUE}) {
        EXPECT_FAILS(FindClose(bad), ERROR_INVALID_HANDLE);
        EXPECT_FAILS(FindNextFileA(bad, &fd), ERROR_INVALID_HANDLE);
    }
    HANDLE unknown = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x1234));
    EXPECT_FAILS(FindClose(unknown), ERROR_INVALID_HANDLE);
    Handle file(Open(dir.win("a.txt"), GENERIC_READ, OPEN_EXISTING));
    ASSERT_TRUE(file.valid());
    EXPECT_FAILS(FindClose(file), ERROR_INVALID_HANDLE);
    // A search handle is not closed by CloseHandle (Windows: not a kernel
    // handle) and stays usable.
    h = FindFirstFileA(dir.win("*").c_str(), &fd);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    if (filetest::OurLayer()) {
        // Wine and Windows dereference these and crash; here they fail.
        EXPECT_FAILS(FindNextFileA(unknown, &fd), ERROR_INVALID_HANDLE);
        EXPECT_FAILS(FindNextFileA(file, &fd), ERROR_INVALID_HANDLE);
        EXPECT_FAILS(CloseHandle(h), ERROR_INVALID_HANDLE);
        EXPECT_FAILS_AS(FindFirstFileA(dir.win("*").c_str(), nullptr), INVALID_HANDLE_VALUE,
                        ERROR_INVALID_PARAMETER);
        EXPECT_FAILS(FindNextFileA(h, nullptr), ERROR_INVALID_PARAMETER);
    }
    EXPECT_TRUE(FindNextFileA(h, &fd));
    EXPECT_TRUE(FindClose(h));
}

TEST_F(FindTest, FaultInjection) {
    if (!txplat::FaultsSupported()) GTEST_SKIP() << "the Windows calls are the system's own";
    txplat::FaultClear();
    txplat::FaultInject("FindFirstFileA", ERROR_NOT_READY);
    WIN32_FIND_DATAA fd;
    EXPECT_FAILS_AS(FindFirstFileA(dir.win("*").c_str(), &fd), INVALID_HANDLE_VALUE,
                    ERROR_NOT_READY);
    HANDLE h = FindFirstFileA(dir.win("*").c_str(), &fd);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    txplat::FaultInject("FindNextFileA", ERROR_GEN_FAILURE, 1);
    EXPECT_TRUE(FindNextFileA(h, &fd));
    EXPECT_FAILS(FindNextFileA(h, &fd), ERROR_GEN_FAILURE);
    EXPECT_TRUE(FindNextFileA(h, &fd));
    EXPECT_TRUE(FindClose(h));
    EXPECT_EQ(txplat::CallCount("FindFirstFileA"), 2);
    txplat::FaultClear();
}

} // namespace

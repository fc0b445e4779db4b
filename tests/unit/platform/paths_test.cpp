// How a Windows path names a file: case does not matter, "." and ".." are
// resolved by text, trailing dots and spaces of the name are dropped, and the
// length limit is MAX_PATH characters.
#include "platform/win32.h"
#include "testutil.h"

#include <gtest/gtest.h>
#include <string>

namespace {

bool Opens(const std::string& path) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    CloseHandle(h);
    return true;
}

TEST(Paths, SpellingsOfOneFile) {
    txtest::ScratchDir dir;
    CreateDirectoryA(dir.win("Sub").c_str(), nullptr);
    dir.write("Sub/Module.Dll", "x");
    EXPECT_TRUE(Opens(dir.win("Sub\\Module.Dll")));
    EXPECT_TRUE(Opens(dir.win("SUB\\MODULE.DLL")));
    EXPECT_TRUE(Opens(dir.win("sub/module.dll")));
    EXPECT_TRUE(Opens(dir.win("Sub\\..\\Sub\\.\\module.dll")));
    EXPECT_TRUE(Opens(dir.win("Sub\\module.dll.")));
    EXPECT_TRUE(Opens(dir.win("Sub\\module.dll ")));
    EXPECT_FALSE(Opens(dir.win("Sub\\module.dl")));
}

TEST(Paths, LengthLimit) {
    txtest::ScratchDir dir;
    std::string base = dir.win() + "\\";
    ASSERT_LT(base.size(), 200u);
    // Exactly MAX_PATH characters is looked up; one more is refused.
    std::string at_limit = base + std::string(MAX_PATH - base.size(), 'a');
    ASSERT_EQ(at_limit.size(), static_cast<size_t>(MAX_PATH));
    SetLastError(0);
    EXPECT_FALSE(Opens(at_limit));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    SetLastError(0);
    EXPECT_FALSE(Opens(at_limit + "a"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
}

} // namespace

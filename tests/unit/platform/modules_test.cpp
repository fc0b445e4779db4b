// Modules, the program's own string table, WIN.INI, the environment block,
// wsprintfA and message boxes.
#include "platform/fault.h"
#include "platform/win32.h"
#include "testutil.h"

#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <string>

namespace {

TEST(Modules, MissingModuleAndMissingEntryPoint) {
    SetLastError(0);
    EXPECT_EQ(LoadLibraryA("NOSUCHMODULE.DLL"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));

    HMODULE self = GetModuleHandleA(nullptr);
    ASSERT_NE(self, nullptr);
    SetLastError(0);
    EXPECT_EQ(GetProcAddress(self, "NoSuchEntryPoint"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
}

TEST(Modules, OwnFileNameIsAWindowsPath) {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(GetModuleHandleA(nullptr), path, sizeof path);
    ASSERT_GT(n, 3u);
    ASSERT_EQ(n, std::strlen(path));
    EXPECT_EQ(path[1], ':');
    EXPECT_EQ(path[2], '\\');
    std::string name = std::strrchr(path, '\\') + 1;
#ifdef _WIN32
    EXPECT_EQ(name, "test_platform.exe");
#else
    EXPECT_EQ(name, "test_platform");
#endif
    // The module is found again by its file name, in any case.
    for (char& c : name)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(GetModuleHandleA(name.c_str()), GetModuleHandleA(nullptr));

    // Too small a buffer: cut to its size, with no terminator to count on,
    // and the size answered.
    char small[9] = {};
    EXPECT_EQ(GetModuleFileNameA(nullptr, small, 8), 8u);
    EXPECT_EQ(std::string(small, 8), std::string(path, 8));
}

TEST(Strings, PaddedEntryReadsAsItsValue) {
    HINSTANCE self = GetModuleHandleA(nullptr);
    char buf[260];
    std::memset(buf, 'x', sizeof buf);
    // The whole stored entry is copied (value, NUL, padding); read as a
    // string it is just the value.
    EXPECT_EQ(LoadStringA(self, 1, buf, sizeof buf), 11);
    EXPECT_STREQ(buf, "VALUE");
    EXPECT_EQ(std::string(buf + 6, 5), ".....");

    // The load limit counts the terminator.
    EXPECT_EQ(LoadStringA(self, 2, buf, 4), 3);
    EXPECT_STREQ(buf, "PLA");

    // A missing entry loads nothing.
    EXPECT_EQ(LoadStringA(self, 3, buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "");
}

TEST(Strings, WindowsCharactersComeBackByteForByte) {
    char buf[64];
    ASSERT_EQ(LoadStringA(GetModuleHandleA(nullptr), 5, buf, sizeof buf), 8);
    EXPECT_STREQ(buf, "\xE9t\xE9 \xEAtre");
}

TEST(Profile, MissingSettingGivesTheDefault) {
    char buf[16];
    EXPECT_EQ(GetProfileStringA("NOSUCHSECTION", "LOCAL", "N", buf, sizeof buf), 1u);
    EXPECT_STREQ(buf, "N");
    // Trailing blanks of the default are dropped; null gives empty.
    EXPECT_EQ(GetProfileStringA("NOSUCHSECTION", "LOCAL", "Y  ", buf, sizeof buf), 1u);
    EXPECT_STREQ(buf, "Y");
    EXPECT_EQ(GetProfileStringA("NOSUCHSECTION", "LOCAL", nullptr, buf, sizeof buf), 0u);
    EXPECT_STREQ(buf, "");
}

#ifndef _WIN32
// Natively the Windows directory is TX_WINDIR and win.ini is read from it.
TEST(Profile, SettingIsReadFromWinIniInTheWindowsDirectory) {
    txtest::ScratchDir dir;
    dir.write("win.ini", "[Other]\nLOCAL=X\n\n[exetorvix]\n ; note\nlocal = O \nLAST=\"q z\"\n");
    const char* old = std::getenv("TX_WINDIR");
    std::string saved = old ? old : "";
    setenv("TX_WINDIR", dir.host().c_str(), 1);

    char win[MAX_PATH];
    EXPECT_EQ(GetWindowsDirectoryA(win, sizeof win), dir.win().size());
    EXPECT_EQ(std::string(win), dir.win());
    char buf[16];
    EXPECT_EQ(GetProfileStringA("EXETORVIX", "LOCAL", "N", buf, sizeof buf), 1u);
    EXPECT_STREQ(buf, "O");
    EXPECT_EQ(GetProfileStringA("EXETORVIX", "LAST", "", buf, sizeof buf), 3u);
    EXPECT_STREQ(buf, "q z");
    EXPECT_EQ(GetProfileStringA("EXETORVIX", "LAST", "", buf, 3), 2u);
    EXPECT_STREQ(buf, "q ");

    if (old)
        setenv("TX_WINDIR", saved.c_str(), 1);
    else
        unsetenv("TX_WINDIR");
}
#endif

TEST(Process, EnvironmentBlockIsDoubleNulTerminated) {
    LPCH block = GetEnvironmentStrings();
    ASSERT_NE(block, nullptr);
    bool has_path = false;
    const char* p = block;
    int count = 0;
    while (*p) {
        if (std::strncmp(p, "PATH=", 5) == 0 || std::strncmp(p, "Path=", 5) == 0) has_path = true;
        p += std::strlen(p) + 1;
        ++count;
    }
    EXPECT_GT(count, 0);
    EXPECT_TRUE(has_path);
    EXPECT_TRUE(FreeEnvironmentStringsA(block));
}

TEST(Format, WsprintfFormatsAndStopsAt1024Characters) {
    char buf[1100];
    EXPECT_EQ(wsprintfA(buf, "Error %d", static_cast<int>(static_cast<short>(0xFC17))), 11);
    EXPECT_STREQ(buf, "Error -1001");
    EXPECT_EQ(wsprintfA(buf, "ENVI,%lu", 4294967295UL), 15);
    EXPECT_STREQ(buf, "ENVI,4294967295");

    std::string longer(2000, 'a');
    std::memset(buf, 'x', sizeof buf);
    int n = wsprintfA(buf, "%s", longer.c_str());
    EXPECT_EQ(n, 1024);
    EXPECT_EQ(std::strlen(buf), 1023u);
    EXPECT_EQ(buf[1024], 'x');
}

TEST(Format, MessageBoxAnswersAtOnce) {
    txplat::MessageBoxesClear();
    int r = MessageBoxA(nullptr, "texte\n\ntext", "Caption", MB_ICONINFORMATION);
    if (!txplat::FaultsSupported()) {
        // Under Wine without a display the box cannot be shown; it returns.
        SUCCEED();
        return;
    }
    EXPECT_EQ(r, IDOK);
    auto boxes = txplat::MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_FALSE(boxes[0].has_owner);
    EXPECT_EQ(boxes[0].text, "texte\n\ntext");
    EXPECT_EQ(boxes[0].caption, "Caption");
    EXPECT_EQ(boxes[0].style, static_cast<unsigned>(MB_ICONINFORMATION));
}

TEST(Faults, NamedCallFailsWithTheChosenCode) {
    if (!txplat::FaultsSupported()) GTEST_SKIP() << "the Windows calls are the system's own";
    txplat::FaultClear();
    txplat::FaultInject("GlobalAlloc", ERROR_NOT_ENOUGH_MEMORY, 1, 1);
    HGLOBAL first = GlobalAlloc(GHND, 16);
    EXPECT_NE(first, nullptr);
    SetLastError(0);
    EXPECT_EQ(GlobalAlloc(GHND, 16), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    HGLOBAL third = GlobalAlloc(GHND, 16);
    EXPECT_NE(third, nullptr);
    EXPECT_EQ(txplat::CallCount("GlobalAlloc"), 3);
    GlobalFree(first);
    GlobalFree(third);
    txplat::FaultClear();
}

} // namespace

// The module table with its defaults, the runtime module list, the lookup by
// module index, and calls into runtime entry points of either calling
// convention.
#include "launcher/modules.h"
#include "launcher/startup.h"
#include "platform/fault.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

const std::vector<std::string> kDefaults = {"TX413EXE.DLL", "TX413ZQ.DLL",  "TX413DB.DLL",
                                            "TX413SQL.DLL", "TX413CPL.DLL", "TX413IMG.DLL",
                                            "TX411FIC.DLL", "TX413EXE.DLL", "TX413OLE.DLL"};

class ModuleTable : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(tx::BuildModuleTable(), 1); }
    void TearDown() override { tx::ReleaseModuleTable(); }

    // Parses `list` and expects it to be taken.
    void Parse(std::string list) {
        const char* rejected = nullptr;
        size_t length = 0;
        ASSERT_EQ(tx::ParseModuleList(list.data(), &rejected, &length), 1) << list;
        EXPECT_EQ(rejected, nullptr);
    }

    std::vector<std::string> Names() {
        std::vector<std::string> names;
        for (int i = 0; i < tx::kModuleCount; ++i)
            names.push_back(tx::ModuleNameByIndex(i));
        return names;
    }
};

TEST_F(ModuleTable, UnpublishedTableAnswersTheDefaults) {
    Parse("");
    EXPECT_EQ(Names(), kDefaults);
    EXPECT_STREQ(tx::ModuleNameByIndex(9), "");
    EXPECT_STREQ(tx::ModuleNameByIndex(-1), "");
    // What the runtime receives all the same, read as the bytes it gets: the
    // address of the first entry, as wide as a pointer (4 bytes on 32-bit
    // Windows, 8 on a 64-bit system), the count 9 in 16 bits, 8 zero bytes;
    // nine entries, entry 7 empty.
    const auto* bytes = reinterpret_cast<const uint8_t*>(tx::ModuleTableRecordAddress());
    const char* names = nullptr;
    std::memcpy(&names, bytes, sizeof names);
    ASSERT_NE(names, nullptr);
    EXPECT_EQ(std::vector<uint8_t>(bytes + sizeof names, bytes + sizeof names + 10),
              (std::vector<uint8_t>{9, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_STREQ(names, "TX413EXE.DLL");
    EXPECT_STREQ(names + 22 * 6, "TX411FIC.DLL");
    EXPECT_STREQ(names + 22 * 7, "");
}

TEST_F(ModuleTable, ListFillsEntriesByPosition) {
    Parse("abc,def");
    std::vector<std::string> expected = kDefaults;
    expected[0] = "ABC.DLL";
    expected[1] = "DEF.DLL";
    // Published, the table's own entry 7 is what it holds: nothing.
    expected[7] = "";
    EXPECT_EQ(Names(), expected);
    EXPECT_STREQ(tx::ModuleNameByIndex(9), "");
}

TEST_F(ModuleTable, EmptyFieldsTakeNoPositionAndDotsKeepTheirExtension) {
    // Positions 0..7 go to indexes 0, 1, 6, 2, 5, 3, 4, 8; a ninth is ignored.
    Parse(",,a,,b,x.bin,c,,d,e.Dll,f,g,NINTH");
    EXPECT_EQ(Names(), (std::vector<std::string>{"A.DLL", "B.DLL", "C.DLL", "E.DLL", "F.DLL",
                                                 "D.DLL", "X.BIN", "", "G.DLL"}));
    for (int position = 0; position < 8; ++position)
        EXPECT_EQ(tx::ModuleIndexOfPosition(position),
                  std::vector<int>({0, 1, 6, 2, 5, 3, 4, 8})[position]);
    EXPECT_EQ(tx::ModuleIndexOfPosition(8), -1);
}

TEST_F(ModuleTable, OnlyLettersAToZAreUpperCased) {
    Parse("tx\xE9-1_z");
    EXPECT_STREQ(tx::ModuleNameByIndex(0), "TX\xE9-1_Z.DLL");
}

TEST_F(ModuleTable, NameMustFit21Characters) {
    // 17 characters and ".DLL", or 21 with a dot of their own, fit.
    Parse(std::string(17, 'a') + "," + std::string(17, 'b') + ".XYZ");
    EXPECT_EQ(std::string(tx::ModuleNameByIndex(0)), std::string(17, 'A') + ".DLL");
    EXPECT_EQ(std::string(tx::ModuleNameByIndex(1)), std::string(17, 'B') + ".XYZ");
    tx::ReleaseModuleTable();

    ASSERT_EQ(tx::BuildModuleTable(), 1);
    std::string list = "ok," + std::string(18, 'c') + ",after";
    const char* rejected = nullptr;
    size_t length = 0;
    EXPECT_EQ(tx::ParseModuleList(list.data(), &rejected, &length), 0);
    ASSERT_NE(rejected, nullptr);
    EXPECT_EQ(std::string(rejected), std::string(18, 'c'));
    EXPECT_EQ(length, 22u);
    // Refused, the list is not published; its neighbour entry is intact.
    EXPECT_EQ(Names(), kDefaults);
    EXPECT_STREQ(tx::ModuleTableRecordAddress()->names + 22 * 2, "TX413DB.DLL");
}

TEST(ModuleTableMemory, FailedAllocationLeavesNoTable) {
    if (!txplat::FaultsSupported()) GTEST_SKIP() << "fault injection needs the POSIX layer";
    txplat::FaultClear();
    txplat::FaultInject("GlobalAlloc", ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(tx::BuildModuleTable(), 0);
    txplat::FaultClear();
    EXPECT_EQ(tx::ModuleTableRecordAddress()->names, nullptr);
    // Nothing can be parsed into it, and lookups still answer.
    std::string list = "abc";
    const char* rejected = nullptr;
    size_t length = 0;
    EXPECT_EQ(tx::ParseModuleList(list.data(), &rejected, &length), 0);
    EXPECT_STREQ(tx::ModuleNameByIndex(0), "TX413EXE.DLL");
    tx::ReleaseModuleTable();
}

TEST(ModuleTableMemory, LauncherStopsWithStatus2WithoutATable) {
    if (!txplat::FaultsSupported()) GTEST_SKIP() << "fault injection needs the POSIX layer";
    GTEST_FLAG_SET(death_test_style, "fast");
    txplat::FaultClear();
    txplat::FaultInject("GlobalAlloc", ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EXIT(tx::LauncherMain(GetModuleHandleA(nullptr)), ::testing::ExitedWithCode(2),
                "Error 1067");
    txplat::FaultClear();
}

// Entry points of both conventions. Each records what it received and how
// deep the stack was when it was called.
#if defined(__i386__)
#define TEST_STDCALL __attribute__((stdcall))
#else
#define TEST_STDCALL
#endif

void* g_first = nullptr;
void* g_second = nullptr;

uintptr_t StackPointer() {
    uintptr_t sp;
#if defined(__i386__)
    __asm__ volatile("movl %%esp, %0" : "=r"(sp));
#elif defined(__x86_64__)
    __asm__ volatile("movq %%rsp, %0" : "=r"(sp));
#else
    sp = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
#endif
    return sp;
}

extern "C" int TEST_STDCALL StdTwo(void* first, void* second) {
    g_first = first;
    g_second = second;
    return 0x1234;
}
extern "C" int TEST_STDCALL StdOne(void* first) {
    g_first = first;
    return 7;
}
extern "C" int CTwo(void* first, void* second) {
    g_first = first;
    g_second = second;
    return -1;
}
extern "C" int COne(void* first) {
    g_first = first;
    return 0;
}

template <typename F> FARPROC Entry(F* f) {
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(f));
}

TEST(RuntimeEntry, BothConventionsGetTheirArgumentsAndLeaveTheStackAsItWas) {
    int a = 0, b = 0;
    uintptr_t before = StackPointer();
    for (int i = 0; i < 1000; ++i) {
        EXPECT_EQ(tx::CallRuntimeEntry2(Entry(&StdTwo), &a, &b), 0x1234);
        EXPECT_EQ(g_first, &a);
        EXPECT_EQ(g_second, &b);
        EXPECT_EQ(tx::CallRuntimeEntry1(Entry(&StdOne), &b), 7);
        EXPECT_EQ(g_first, &b);
        EXPECT_EQ(tx::CallRuntimeEntry2(Entry(&CTwo), &b, &a), -1);
        EXPECT_EQ(g_first, &b);
        EXPECT_EQ(g_second, &a);
        EXPECT_EQ(tx::CallRuntimeEntry1(Entry(&COne), &a), 0);
        EXPECT_EQ(g_first, &a);
    }
    EXPECT_EQ(StackPointer(), before);
}

} // namespace

#include "support/memory.h"
#include "support_test.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

using namespace tx;

namespace {

class ErrorTest : public SupportTest {};

TEST_F(ErrorTest, NumberWithoutTemplateShowsErrorNumberInWarningBox) {
    EXPECT_EQ(RaiseErrorPtr(1067), nullptr);
    EXPECT_EQ(ErrorLastNumber(), 1067);
    EXPECT_STREQ(ErrorMessageText(), "Error 1067");

    EXPECT_EQ(RaiseErrorShort(-2), -1);
    EXPECT_EQ(ErrorLastNumber(), -2);
    EXPECT_STREQ(ErrorMessageText(), "Error -2");

    EXPECT_EQ(RaiseErrorInt(static_cast<int16_t>(40000)), 0);
    EXPECT_STREQ(ErrorMessageText(), "Error -25536");

    ExpectBoxes({{kRuntimeCaption, "Error 1067"},
                 {kRuntimeCaption, "Error -2"},
                 {kRuntimeCaption, "Error -25536"}});
    for (const auto& box : txplat::MessageBoxes()) {
        EXPECT_FALSE(box.has_owner); // no active window here
        EXPECT_EQ(box.style, unsigned(MB_ICONWARNING | MB_OK));
    }
}

TEST_F(ErrorTest, SetFamilyRecordsWithoutShowing) {
    EXPECT_EQ(ErrorLastNumber(), 0);
    EXPECT_EQ(SetErrorNumberShort(1019), -1);
    EXPECT_EQ(ErrorLastNumber(), 1019);
    EXPECT_EQ(SetErrorNumber(1020), 0);
    EXPECT_EQ(ErrorLastNumber(), 1020);
    ExpectBoxes({});
}

TEST_F(ErrorTest, TemplatesOfSeverityZeroAndOneAreFormattedAndReturn) {
    EXPECT_EQ(RaiseErrorInt(2001, "LIB.TXL", 12), 0);
    EXPECT_STREQ(ErrorMessageText(), "Fichier LIB.TXL, ligne 12");
    EXPECT_EQ(RaiseErrorPtr(2002, 3, -7), nullptr);
    EXPECT_STREQ(ErrorMessageText(), "Bloc 3 sur -7");
    EXPECT_EQ(ErrorLastNumber(), 2002);
    ExpectBoxes(
        {{kRuntimeCaption, "Fichier LIB.TXL, ligne 12"}, {kRuntimeCaption, "Bloc 3 sur -7"}});
}

TEST_F(ErrorTest, LongTextsAreCutToTheBuffers) {
    // Beyond the message buffer, and beyond what wvsprintfA writes at all.
    for (size_t half : {300u, 800u}) {
        std::string a(half, 'a'), b(half, 'b');
        RaiseErrorInt(2004, a.c_str(), b.c_str());
        EXPECT_EQ(ErrorMessageText(), (a + b).substr(0, 454));
    }
    // A template of 300 characters is loaded as its first 253.
    RaiseErrorInt(2005);
    EXPECT_EQ(ErrorMessageText(), std::string(252, 'y'));
}

TEST_F(ErrorTest, RaiseAfterTermUsesNoReleasedBuffer) {
    ErrorTerm();
    RaiseErrorInt(2001, "A", 1);
    EXPECT_STREQ(ErrorMessageText(), "Fichier A, ligne 1");
    ErrorTerm(); // nothing left to release: no 1002 for a null buffer
    EXPECT_EQ(ErrorLastNumber(), 2001);
}

TEST_F(ErrorTest, InitWithoutMemoryFallsBackWithoutRecursing) {
    if (!txplat::FaultsSupported()) GTEST_SKIP() << kNoFaultsReason;
    ErrorTerm();
    txplat::FaultInject("GlobalAlloc", ERROR_NOT_ENOUGH_MEMORY, 0, 2);
    ErrorInit(kOwnName);
    EXPECT_EQ(ErrorLastNumber(), 1067);
    ExpectBoxes({{kRuntimeCaption, "Error 1067"}, {kRuntimeCaption, "Error 1067"}});

    std::string a(800, 'a');
    RaiseErrorInt(2004, a.c_str(), "");
    EXPECT_EQ(ErrorMessageText(), a.substr(0, 454));
    txplat::FaultClear();
    ErrorTerm();
    EXPECT_EQ(txplat::CallCount("GlobalFree"), 0);
}

// Death tests run in a child process: under Windows a new one, natively a
// fork, or a new one where a fresh state is needed.
TEST(ErrorDeathTest, RaiseBeforeInitUsesTheFallback) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            bool ok = RaiseErrorPtr(2001, "B", 2) == nullptr && ErrorLastNumber() == 2001 &&
                      std::strcmp(ErrorMessageText(), "Fichier B, ligne 2") == 0;
            std::exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(ErrorDeathTest, SeverityTwoEndsTheProcessWithStatusTwoAfterTheBox) {
    // Natively the box is written to standard error, before the exit.
    const char* shown = txplat::FaultsSupported() ? "RUNTIME Erreur.*\n.*Fin fatale 7" : "";
    EXPECT_EXIT(
        {
            ErrorInit(kOwnName);
            RaiseErrorInt(2003, 7);
            std::exit(0);
        },
        ::testing::ExitedWithCode(2), shown);
}

TEST(ErrorDeathTest, SeverityTwoEndsThroughTheOrdinaryExit) {
    EXPECT_EXIT(
        {
            std::atexit([] { std::fputs("exit handlers ran\n", stderr); });
            ErrorInit(kOwnName);
            RaiseErrorInt(2003, 7);
            std::exit(0);
        },
        ::testing::ExitedWithCode(2), "exit handlers ran");
}

} // namespace

#include "support/trim.h"

#include <gtest/gtest.h>
#include <string>

using namespace tx;

namespace {

std::string Trimmed(void (*trim)(char*), std::string text) {
    trim(text.data());
    return text.c_str();
}
void Right(char* text) {
    EXPECT_EQ(TrimRight(text), text);
}

TEST(Trim, SpacesOnlyAtTheEndsGo) {
    EXPECT_EQ(Trimmed(TrimLeft, "  a b  "), "a b  ");
    EXPECT_EQ(Trimmed(Right, "  a b  "), "  a b");
    EXPECT_EQ(Trimmed(TrimBoth, "  a  b  "), "a  b");
    EXPECT_EQ(Trimmed(TrimBoth, "\ta\t"), "\ta\t");
    EXPECT_EQ(Trimmed(TrimBoth, " \t "), "\t");
}

TEST(Trim, AllSpaceEmptyAndNull) {
    for (auto trim : {TrimLeft, Right, TrimBoth}) {
        EXPECT_EQ(Trimmed(trim, "    "), "");
        EXPECT_EQ(Trimmed(trim, ""), "");
    }
    TrimLeft(nullptr);
    TrimBoth(nullptr);
    EXPECT_EQ(TrimRight(nullptr), nullptr);
}

} // namespace

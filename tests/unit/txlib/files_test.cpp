// The right to rewrite a file: one writer at a time.
#include "host/failure.h"
#include "host/files.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// A second writer of a file that another holds fails once its wait is over
// (here at once) with status 2, and has the file once the first is done.
TEST(WriteLock, SecondWriterFailsAfterItsWaitThenGetsTheFile) {
    txtest::ScratchDir dir;
    dir.write("x.lib", "library");
    const std::string path = dir.host("x.lib").string();
    const std::string same = (dir.host() / "." / "x.lib").string();
    {
        txlib::WriteLock first(path);
        try {
            txlib::WriteLock second(same, true, 0);
            ADD_FAILURE() << "two writers at once";
        } catch (const txlib::Failure& failure) {
            EXPECT_EQ(failure.status, txlib::kExitFailed);
            EXPECT_NE(failure.message.find("another txlib is writing it"), std::string::npos)
                << failure.message;
        }
    }
    txlib::WriteLock again(same, true, 0);
    EXPECT_TRUE(again.Existed());
}

} // namespace

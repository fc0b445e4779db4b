// The command channel: formatting a command within its 255 characters,
// decoding the reply record into the last reply, and what sending a command
// does to the last reply and the command block (with a runtime, PROBE.DLL,
// that leaves the block as it receives it).
#include "launcher/channel.h"
#include "launcher/modules.h"
#include "launcher/runtime_abi.h"
#include "platform/win32.h"

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

namespace {

using Block = std::array<unsigned char, tx::kCommandBlockSize>;

// A block with the given flags, filled elsewhere with a byte that would show
// if it were taken for text.
Block Reply(uint8_t flags) {
    Block b;
    b.fill('~');
    b[tx::kReplyFlags] = flags;
    return b;
}

void Put(Block& b, size_t at, const std::string& bytes) {
    std::memcpy(b.data() + at, bytes.data(), bytes.size());
}

// Gives the last reply known contents to start from.
void Prime() {
    tx::ResetLastReply();
    Block b = Reply(tx::kReplyHasCode | tx::kReplyHasValue);
    Put(b, tx::kReplyCode, "OLD");
    b[tx::kReplyValueLength] = 3;
    Put(b, tx::kReplyValue, "old");
    tx::DecodeReply(b.data());
    ASSERT_STREQ(tx::LastReplyCode(), "OLD");
    ASSERT_STREQ(tx::LastReplyValue(), "old");
}

TEST(Reply, FieldsWithoutTheirFlagKeepTheLastReply) {
    for (uint8_t flags : {0x00, 0x40, 0x20, 0x60, 0x08}) {
        Prime();
        Block b = Reply(flags);
        tx::DecodeReply(b.data());
        EXPECT_STREQ(tx::LastReplyCode(), "OLD") << int(flags);
        EXPECT_STREQ(tx::LastReplyValue(), "old") << int(flags);
    }
}

TEST(Reply, CodeAlone) {
    Prime();
    Block b = Reply(tx::kReplyHasCode);
    Put(b, tx::kReplyCode, "ESC");
    tx::DecodeReply(b.data());
    EXPECT_STREQ(tx::LastReplyCode(), "ESC");
    EXPECT_STREQ(tx::LastReplyValue(), "old");
}

TEST(Reply, ValueTakesItsDeclaredLength) {
    Prime();
    Block b = Reply(tx::kReplyHasValue);
    b[tx::kReplyValueLength] = 5;
    Put(b, tx::kReplyValue, "4.10A");
    tx::DecodeReply(b.data());
    EXPECT_STREQ(tx::LastReplyValue(), "4.10A");
    EXPECT_STREQ(tx::LastReplyCode(), "OLD");
    // A zero byte ends it early; a zero length empties it.
    b[tx::kReplyValueLength] = 20;
    Put(b, tx::kReplyValue, std::string("4.1\0xyz", 7));
    tx::DecodeReply(b.data());
    EXPECT_STREQ(tx::LastReplyValue(), "4.1");
    b[tx::kReplyValueLength] = 0;
    tx::DecodeReply(b.data());
    EXPECT_STREQ(tx::LastReplyValue(), "");
}

TEST(Reply, NumberAndTextFormGivesTheText) {
    Prime();
    Block b = Reply(tx::kReplyHasCode | tx::kReplyHasValue | tx::kReplyTypeNumberAndText);
    Put(b, tx::kReplyCode, "*M*");
    b[tx::kReplyValueLength] = 2;
    Put(b, tx::kReplyValue,
        std::string("12\0"
                    "4.10A\0",
                    9));
    tx::DecodeReply(b.data());
    EXPECT_STREQ(tx::LastReplyCode(), "*M*");
    EXPECT_STREQ(tx::LastReplyValue(), "4.10A");
    // Other value types are taken as plain text.
    b[tx::kReplyFlags] = tx::kReplyHasValue | 5;
    tx::DecodeReply(b.data());
    EXPECT_STREQ(tx::LastReplyValue(), "12");
}

TEST(Reply, LongDeclaredValueIsCutWithinTheBlock) {
    // 208 bytes from offset 48 reach the end of the block; the value text
    // keeps 207 of them.
    Block b = Reply(tx::kReplyHasValue);
    b[tx::kReplyValueLength] = 255;
    std::fill(b.begin() + tx::kReplyValue, b.end(), 'v');
    tx::DecodeReply(b.data());
    EXPECT_EQ(std::string(tx::LastReplyValue()), std::string(tx::kValueTextMax, 'v'));
}

TEST(Reply, NumberAndTextIsNeverReadPastTheBlock) {
    // The text would start beyond the block: nothing is taken.
    Block b = Reply(tx::kReplyHasValue | tx::kReplyTypeNumberAndText);
    b[tx::kReplyValueLength] = 250;
    tx::DecodeReply(b.data());
    EXPECT_STREQ(tx::LastReplyValue(), "");
    // The text runs to the end of the block without a terminator: it stops
    // there (ASan checks the reads natively; the block is exactly 256 bytes).
    b[tx::kReplyValueLength] = 100;
    std::fill(b.begin() + tx::kReplyValue + 101, b.end(), 't');
    tx::DecodeReply(b.data());
    EXPECT_EQ(std::string(tx::LastReplyValue()),
              std::string(tx::kCommandBlockSize - (tx::kReplyValue + 101), 't'));
}

int Format(char* out, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int n = tx::FormatCommand(out, format, args);
    va_end(args);
    return n;
}

TEST(Command, FitsIn255Characters) {
    std::array<char, tx::kCommandMax + 1> text;
    std::string arg(255 - 10, 'p');
    EXPECT_EQ(Format(text.data(), "PROGRAMME,%s", arg.c_str()), 255);
    EXPECT_EQ(std::string(text.data()), "PROGRAMME," + arg);
    // One more does not fit: the length says so and nothing is written
    // beyond the buffer.
    arg += 'p';
    EXPECT_EQ(Format(text.data(), "PROGRAMME,%s", arg.c_str()), 256);
    EXPECT_EQ(std::strlen(text.data()), 255u);
    EXPECT_EQ(Format(text.data(), "ENVI,%lu", 4294967295UL), 15);
    EXPECT_STREQ(text.data(), "ENVI,4294967295");
}

TEST(Command, TooLongMessageShowsLengthsAndTheBeginning) {
    char message[tx::kTooLongMessageSize];
    std::string command = "BIBLI,DISQUE," + std::string(300, 'x');
    int n = tx::FormatTextTooLong(message, command.c_str(), command.size(), 255);
    ASSERT_GT(n, 0);
    ASSERT_LT(n, static_cast<int>(sizeof message));
    std::string beginning = command.substr(0, 40) + "...";
    EXPECT_EQ(std::string(message),
              "Texte trop long (313 caract\xE8res, 255 au plus) :\n" + beginning +
                  "\nProgramme arr\xEAt\xE9!\n\n\nText too long (313 characters, at most 255):\n" +
                  beginning + "\nProgram halted\n");
    // A short text is shown whole.
    tx::FormatTextTooLong(message, "abcdefghijklmnopqr", 22, 21);
    EXPECT_NE(std::strstr(message, ":\nabcdefghijklmnopqr\n"), nullptr);
}

// Sends commands to PROBE.DLL as the main runtime module.
class Sending : public ::testing::Test {
  protected:
    void SetUp() override {
        // Without its runtime module the launcher would end the process.
        HMODULE probe = LoadLibraryA("PROBE.DLL");
        ASSERT_NE(probe, nullptr) << "PROBE.DLL is built beside this program";
        FreeLibrary(probe);
        ASSERT_EQ(tx::BuildModuleTable(), 1);
        std::string list = "PROBE.DLL";
        const char* rejected = nullptr;
        size_t length = 0;
        ASSERT_EQ(tx::ParseModuleList(list.data(), &rejected, &length), 1);
    }
    void TearDown() override {
        tx::UnloadRuntime();
        tx::ReleaseModuleTable();
    }
};

// The probe leaves the command in the block, so commands begin with a letter
// from A to O: as a flags byte it carries neither a reply code nor a value.

TEST_F(Sending, InitialisationEmptiesTheLastReply) {
    Prime();
    tx::SendCommand("AB");
    ASSERT_TRUE(tx::RuntimeInitialised());
    EXPECT_STREQ(tx::LastReplyCode(), "");
    EXPECT_STREQ(tx::LastReplyValue(), "");
}

TEST_F(Sending, BlockIsZeroedUpToItsFirstZeroByteBeforeACommand) {
    tx::SendCommand("AB");
    ASSERT_TRUE(tx::RuntimeInitialised());
    unsigned char* block = tx::CommandBlock();
    // Where the block's first zero byte stands; 256: it has none.
    for (size_t first_zero : {3, 20, 255, 256}) {
        SCOPED_TRACE(first_zero);
        std::string before(tx::kCommandBlockSize, 'x');
        if (first_zero < before.size()) before[first_zero] = 0;
        std::memcpy(block, before.data(), before.size());
        tx::SendCommand("CD");
        // At most 255 bytes are zeroed; what lies past the first zero stays.
        std::string expected = before;
        std::fill_n(expected.begin(), std::min<size_t>(first_zero, tx::kCommandMax), '\0');
        expected.replace(0, 2, "CD");
        EXPECT_EQ(std::string(reinterpret_cast<char*>(block), tx::kCommandBlockSize), expected);
    }
}

} // namespace

// The command channel.
#include "launcher/channel.h"

#include "launcher/modules.h"
#include "launcher/runtime_abi.h"

#include <cstdio>
#include <cstring>

namespace tx {

namespace {

char g_text[kCommandMax + 1];
unsigned char g_block[kCommandBlockSize];
char g_reply_code[kReplyCodeLength + 1];
char g_reply_value[kValueTextMax + 1];

// Copies the text that starts at `from` in the block into the value text: at
// most `length` characters, stopping at a zero byte, at the value text's size
// and at the end of the block.
void TakeValue(const unsigned char* block, size_t from, size_t length) {
    size_t n = 0;
    if (from < kCommandBlockSize) {
        size_t room = kCommandBlockSize - from;
        if (length > room) length = room;
        if (length > kValueTextMax) length = kValueTextMax;
        while (n < length && block[from + n] != 0) {
            g_reply_value[n] = static_cast<char>(block[from + n]);
            ++n;
        }
    }
    g_reply_value[n] = 0;
}

} // namespace

const char* LastReplyCode() {
    return g_reply_code;
}
const char* LastReplyValue() {
    return g_reply_value;
}
void ClearReplyCode() {
    g_reply_code[0] = 0;
}

void ResetLastReply() {
    g_reply_code[0] = 0;
    g_reply_value[0] = 0;
}

unsigned char* CommandBlock() {
    return g_block;
}

int FormatCommand(char* out, const char* format, va_list args) {
    int n = std::vsnprintf(out, kCommandMax + 1, format, args);
    if (n < 0) {
        // An encoding failure of the C library: nothing usable to send.
        out[0] = 0;
        return 0;
    }
    return n;
}

void DecodeReply(const unsigned char* block) {
    uint8_t flags = block[kReplyFlags];
    if (flags & kReplyHasCode) {
        std::memcpy(g_reply_code, block + kReplyCode, kReplyCodeLength);
        g_reply_code[kReplyCodeLength] = 0;
    }
    if (!(flags & kReplyHasValue)) return;
    size_t length = block[kReplyValueLength];
    if ((flags & kReplyTypeMask) == kReplyTypeNumberAndText) {
        // A number text of that length and its terminator come first.
        TakeValue(block, kReplyValue + length + 1, kValueTextMax);
    } else {
        TakeValue(block, kReplyValue, length);
    }
}

int SendCommand(const char* format, ...) {
    va_list args;
    va_start(args, format);
    int length = FormatCommand(g_text, format, args);
    va_end(args);
    if (length > static_cast<int>(kCommandMax))
        StopTextTooLong(g_text, static_cast<size_t>(length), kCommandMax);

    if (!RuntimeInitialised()) {
        LoadMainRuntime();
        // The block goes to initialisation as it is: all zero at first, later
        // whatever it last held.
        if (RuntimeInitInstance(g_block, ModuleTableRecordAddress()) != 0) {
            ResetLastReply();
            SetRuntimeInitialised(true);
        }
    }
    if (!RuntimeInitialised()) return 0;

    size_t used = strnlen(reinterpret_cast<const char*>(g_block), kCommandMax);
    std::memset(g_block, 0, used);
    std::memcpy(g_block, g_text, static_cast<size_t>(length) + 1);
    RuntimeCall(g_block);
    DecodeReply(g_block);
    return 0;
}

} // namespace tx

// The process-wide error state and the numbered message reports.
#include "support/error.h"

#include "platform/win32.h"
#include "support/memory.h"

#include <cstdlib>
#include <cstring>

namespace tx {

namespace {

constexpr uint16_t kTemplateSize = 255;
constexpr uint16_t kMessageSize = 455;
// LoadStringA's limit, terminator included: a template keeps 253 characters.
constexpr int kTemplateLoadLimit = 254;
// wvsprintfA writes at most this many characters, terminator included.
constexpr int kFormatLimit = 1024;
constexpr int16_t kSeverityFatal = 2;
constexpr int16_t kSeverityNone = -1;
constexpr int kFatalExitStatus = 2;

// Used whenever the blocks are not there: before ErrorInit, after ErrorTerm,
// or when ErrorInit could not allocate them. A raise then still has somewhere
// to load and format its message.
char fallback_template[kTemplateSize];
char fallback_message[kMessageSize];

struct ErrorState {
    int16_t last_number = 0;
    HMODULE message_module = nullptr; // null: the program's own module
    char* template_buffer = fallback_template;
    char* message_buffer = fallback_message;
};

ErrorState state;

// Frees the buffer if it is a block, and points it back at its fallback.
void ReleaseBuffer(char*& buffer, char* fallback) {
    char* block = buffer;
    buffer = fallback;
    buffer[0] = 0;
    if (block != fallback) BlockFree(block);
}

// Formats into the message buffer. wvsprintfA may write up to 1024
// characters whatever the destination, so the text is formatted in a local
// buffer of that size first and then cut to what the message buffer holds.
void FormatMessageText(const char* format, va_list args) {
    char formatted[kFormatLimit];
    formatted[0] = 0;
    wvsprintfA(formatted, format, args);
    formatted[kFormatLimit - 1] = 0;
    size_t length = std::strlen(formatted);
    if (length > kMessageSize - 1u) length = kMessageSize - 1u;
    std::memcpy(state.message_buffer, formatted, length);
    state.message_buffer[length] = 0;
}

} // namespace

void ErrorInit(const char* own_file_name) {
    state.last_number = 0;
    state.message_module = GetModuleHandleA(own_file_name);
    // Blocks of an earlier ErrorInit are released first. The fallbacks stay
    // in place until the new blocks exist, so a failing BlockAlloc raises
    // 1067 into a static buffer; RaiseError itself never allocates, so that
    // raise cannot come back here. A buffer that cannot be had keeps its
    // fallback until the next ErrorInit.
    ReleaseBuffer(state.message_buffer, fallback_message);
    ReleaseBuffer(state.template_buffer, fallback_template);
    if (char* block = static_cast<char*>(BlockAlloc(kTemplateSize))) state.template_buffer = block;
    if (char* block = static_cast<char*>(BlockAlloc(kMessageSize))) state.message_buffer = block;
}

void ErrorTerm() {
    ReleaseBuffer(state.message_buffer, fallback_message);
    ReleaseBuffer(state.template_buffer, fallback_template);
}

int16_t ErrorLastNumber() {
    return state.last_number;
}

const char* ErrorMessageText() {
    return state.message_buffer;
}

int SetErrorNumber(int16_t number) {
    state.last_number = number;
    return 0;
}

int16_t SetErrorNumberShort(int16_t number) {
    state.last_number = number;
    return -1;
}

int RaiseError(int16_t number, va_list args) {
    state.last_number = number;
    state.message_buffer[0] = 0;

    char* tmpl = state.template_buffer;
    tmpl[0] = 0;
    tmpl[1] = 0;
    // String ids are 16-bit: a negative number names the id of its bit pattern.
    UINT id = static_cast<uint16_t>(number);
    int16_t severity;
    if (LoadStringA(state.message_module, id, tmpl, kTemplateLoadLimit) != 0) {
        severity = static_cast<int16_t>(tmpl[0] - '0');
        FormatMessageText(tmpl + 1, args);
    } else {
        wsprintfA(state.message_buffer, "Error %d", static_cast<int>(number));
        severity = kSeverityNone;
    }

    int answer = MessageBoxA(GetActiveWindow(), state.message_buffer, "RUNTIME Erreur",
                             MB_ICONWARNING | MB_OK);
    // The ordinary exit, so that exit handlers run (ExitProcess skips them).
    if (severity == kSeverityFatal) std::exit(kFatalExitStatus);
    return answer;
}

int RaiseErrorInt(int number, ...) {
    va_list args;
    va_start(args, number);
    RaiseError(static_cast<int16_t>(number), args);
    va_end(args);
    return 0;
}

void* RaiseErrorPtr(int number, ...) {
    va_list args;
    va_start(args, number);
    RaiseError(static_cast<int16_t>(number), args);
    va_end(args);
    return nullptr;
}

int16_t RaiseErrorShort(int number, ...) {
    va_list args;
    va_start(args, number);
    RaiseError(static_cast<int16_t>(number), args);
    va_end(args);
    return -1;
}

} // namespace tx

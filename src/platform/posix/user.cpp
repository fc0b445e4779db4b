// USER32 calls: strings are in modules.cpp; here message boxes, wsprintf
// and the active window.
#include "internal.h"

#include <cstdio>
#include <cstring>

namespace {

// wsprintfA never writes more than 1024 characters, terminator included.
constexpr int kWsprintfLimit = 1024;

// Writes one message box to standard error, one line per text line, so that
// a person or a test reading the output sees what would have been shown.
void ShowOnStderr(LPCSTR text, LPCSTR caption, UINT style) {
    std::fprintf(stderr, "[MessageBox caption=\"%s\" style=0x%08x]\n", caption ? caption : "",
                 style);
    const char* t = text ? text : "";
    std::fprintf(stderr, "%s\n[/MessageBox]\n", t);
    std::fflush(stderr);
}

} // namespace

using namespace txplat::posix;

extern "C" {

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT style) {
    if (FaultEnter("MessageBoxA")) return 0;
    // A null caption shows as "Error", as on Windows.
    LPCSTR shown_caption = caption ? caption : "Error";
    MessageBoxRecordAdd(owner != nullptr, text, shown_caption, style);
    ShowOnStderr(text, shown_caption, style);
    return IDOK;
}

int WINAPI wvsprintfA(LPSTR buffer, LPCSTR format, va_list args) {
    if (!buffer) return -1;
    if (!format) {
        buffer[0] = 0;
        return 0;
    }
    int n = std::vsnprintf(buffer, kWsprintfLimit, format, args);
    if (n < 0) {
        buffer[0] = 0;
        return 0;
    }
    // A cut output holds 1023 characters and the terminator, and the result
    // is then the limit itself, as Wine answers.
    return n < kWsprintfLimit ? n : kWsprintfLimit;
}

int WINAPIV wsprintfA(LPSTR buffer, LPCSTR format, ...) {
    va_list args;
    va_start(args, format);
    int n = wvsprintfA(buffer, format, args);
    va_end(args);
    return n;
}

HWND WINAPI GetActiveWindow(void) { return nullptr; }

} // extern "C"

// USER32 calls: strings are in modules.cpp; here message boxes, wsprintf
// and the active window.
#include "internal.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>
#include <string>

namespace {

// wsprintfA never writes more than 1024 characters, terminator included.
constexpr int kWsprintfLimit = 1024;

// Whether the user's locale (LC_ALL, LC_CTYPE, LANG) speaks UTF-8. Read
// without changing the process's own locale, which the runtime shares.
bool TerminalSpeaksUtf8() {
    static const bool utf8 = [] {
        locale_t user = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(nullptr));
        if (user == static_cast<locale_t>(nullptr)) return false;
        const bool yes = std::strcmp(nl_langinfo_l(CODESET, user), "UTF-8") == 0;
        freelocale(user);
        return yes;
    }();
    return utf8;
}

// The system's texts are Windows-1252. A UTF-8 terminal gets them converted
// (a byte the code page leaves undefined shows as "?"); any other terminal
// gets the bytes as they are.
std::string ForTerminal(const char* text) {
    if (!TerminalSpeaksUtf8()) return text;
    iconv_t convert = iconv_open("UTF-8", "WINDOWS-1252");
    if (convert == reinterpret_cast<iconv_t>(-1)) return text;
    std::string out;
    char* in = const_cast<char*>(text);
    size_t left = std::strlen(text);
    while (left > 0) {
        char buffer[256];
        char* at = buffer;
        size_t room = sizeof buffer;
        const size_t done = iconv(convert, &in, &left, &at, &room);
        out.append(buffer, static_cast<size_t>(at - buffer));
        if (done == static_cast<size_t>(-1) && errno != E2BIG) {
            out += '?';
            ++in;
            --left;
        }
    }
    iconv_close(convert);
    return out;
}

// Writes one message box to standard error, one line per text line, so that
// a person or a test reading the output sees what would have been shown, in
// the terminal's encoding.
void ShowOnStderr(LPCSTR text, LPCSTR caption, UINT style) {
    std::fprintf(stderr, "[MessageBox caption=\"%s\" style=0x%08x]\n",
                 ForTerminal(caption ? caption : "").c_str(), style);
    std::fprintf(stderr, "%s\n[/MessageBox]\n", ForTerminal(text ? text : "").c_str());
    std::fflush(stderr);
}

} // namespace

using namespace txplat::posix;

extern "C" {

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT style) {
    if (FaultEnter("MessageBoxA")) return 0;
    // A null caption shows as "Error", as on Windows.
    LPCSTR shown_caption = caption ? caption : "Error";
    // Tests read the bytes the caller gave.
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

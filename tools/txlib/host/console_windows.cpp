// Standard output and error that are consoles are turned into the write end
// of one pipe; a thread reads the bytes back, converts them from
// Windows-1252 to UTF-16 and hands them to the console with WriteConsoleW.
// One pipe for both keeps their order as written; standard output is made
// unbuffered so that it does not lag behind standard error, as on a
// console. At exit the descriptors get the console back, which ends the
// pipe, and the thread is waited for, so that nothing written is lost.
#include "host/console.h"

#include "host/text.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

namespace txlib {

namespace {

struct Relay {
    HANDLE console = nullptr;    // where the text goes
    HANDLE pipe = nullptr;       // the read end
    int saved[3] = {-1, -1, -1}; // the descriptors' console, by descriptor
    std::thread thread;
};

Relay g_relay;

bool IsConsole(HANDLE handle) {
    DWORD mode;
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode);
}

void Forward() {
    char bytes[4096];
    DWORD got = 0;
    std::wstring text;
    while (ReadFile(g_relay.pipe, bytes, sizeof bytes, &got, nullptr) && got > 0) {
        text.clear();
        for (DWORD i = 0; i < got; ++i)
            text.push_back(static_cast<wchar_t>(Cp1252ToUnit(static_cast<uint8_t>(bytes[i]))));
        const wchar_t* at = text.data();
        DWORD left = static_cast<DWORD>(text.size());
        DWORD written = 0;
        while (left > 0 && WriteConsoleW(g_relay.console, at, left, &written, nullptr) &&
               written > 0) {
            at += written;
            left -= written;
        }
    }
    CloseHandle(g_relay.pipe);
}

void GiveConsoleBack() {
    std::fflush(stdout);
    std::fflush(stderr);
    for (int fd = 1; fd <= 2; ++fd) {
        if (g_relay.saved[fd] < 0) continue;
        _dup2(g_relay.saved[fd], fd); // closes this descriptor's write end
        _close(g_relay.saved[fd]);
        g_relay.saved[fd] = -1;
    }
    if (g_relay.thread.joinable()) g_relay.thread.join();
}

} // namespace

void TextToConsole() {
    const bool out = IsConsole(GetStdHandle(STD_OUTPUT_HANDLE));
    const bool err = IsConsole(GetStdHandle(STD_ERROR_HANDLE));
    if (!out && !err) return;
    HANDLE read_end = nullptr, write_end = nullptr;
    if (!CreatePipe(&read_end, &write_end, nullptr, 0)) return;
    // Text mode: line ends reach the console as CR LF, as they would have.
    const int pipe_fd = _open_osfhandle(reinterpret_cast<intptr_t>(write_end), _O_TEXT);
    if (pipe_fd < 0) {
        CloseHandle(read_end);
        CloseHandle(write_end);
        return;
    }
    g_relay.console = GetStdHandle(out ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    g_relay.pipe = read_end;
    for (int fd = 1; fd <= 2; ++fd) {
        if (!(fd == 1 ? out : err)) continue;
        const int saved = _dup(fd);
        if (saved < 0) continue;
        std::fflush(fd == 1 ? stdout : stderr);
        if (_dup2(pipe_fd, fd) != 0) {
            _close(saved);
            continue;
        }
        g_relay.saved[fd] = saved;
    }
    _close(pipe_fd); // the descriptors keep their own write ends
    if (g_relay.saved[1] < 0 && g_relay.saved[2] < 0) {
        CloseHandle(read_end);
        return;
    }
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    g_relay.thread = std::thread(Forward);
    std::atexit(GiveConsoleBack);
}

} // namespace txlib

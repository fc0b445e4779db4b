// The launcher's entry: on Windows the GUI program's WinMain, natively main.
// Both hand the launcher's own module to the start-up sequence; the command
// line and the show-window value are not used. Natively, "--version" alone
// prints the version and starts nothing, so that an installed launcher can
// say which it is (the Windows launcher shows it in its version resource).
#include "launcher/startup.h"

#ifdef _WIN32

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    return tx::LauncherMain(instance);
}

#else

#include "txversion.h"

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("launcher %s\n", TX_VERSION);
        return 0;
    }
    return tx::LauncherMain(GetModuleHandleA(nullptr));
}

#endif

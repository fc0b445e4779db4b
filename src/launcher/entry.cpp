// The launcher's entry: on Windows the GUI program's WinMain, natively main.
// Both hand the launcher's own module to the start-up sequence; the command
// line and the show-window value are not used.
#include "launcher/startup.h"

#ifdef _WIN32

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    return tx::LauncherMain(instance);
}

#else

int main() {
    return tx::LauncherMain(GetModuleHandleA(nullptr));
}

#endif

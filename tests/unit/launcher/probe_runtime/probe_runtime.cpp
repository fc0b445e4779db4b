// A runtime module for the command channel's tests: it accepts initialisation
// and leaves the command block exactly as the launcher hands it over, so that
// a test reads there what the launcher wrote. Built as PROBE.DLL beside the
// launcher suite's program, where the launcher looks for its runtime first.
#if defined(_WIN32)
#define PROBE_EXPORT extern "C" __declspec(dllexport)
#else
#define PROBE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

PROBE_EXPORT int TX4InitInstance(void*, void*) {
    return 1;
}

PROBE_EXPORT int TXCALLC(void*) {
    return 0;
}

PROBE_EXPORT int FinInstance(void*) {
    return 0;
}

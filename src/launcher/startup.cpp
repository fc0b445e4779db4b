// The start-up sequence.
#include "launcher/startup.h"

#include "diskfile/diskfile.h"
#include "launcher/channel.h"
#include "launcher/modules.h"
#include "launcher/slots.h"
#include "launcher/selfextract.h"
#include "support/error.h"
#include "support/trim.h"
#include "vfile/vfile.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace tx {

namespace {

constexpr int kDiskHandles = 140;
// Exit status after a fatal numbered error.
constexpr int kExitFatal = 2;

bool ReplyCodeIs(const char* code) {
    return std::strcmp(LastReplyCode(), code) == 0;
}

bool Embedded(const char* library) {
    return std::strstr(library, "/EXE") != nullptr;
}

// What follows the unloading of the runtime, on every path that returns.
void Finish() {
    ErrorTerm();
    VirtualTerm();
    DiskTermHandles();
    ReleaseModuleTable();
}

// Resolves a library file name against the directory of the host module.
void ResolveAgainstHost(char* library, const char* host) {
    char found[MAX_PATH] = "";
    DWORD n = GetModuleFileNameA(GetModuleHandleA(host), found, MAX_PATH);
    found[MAX_PATH - 1] = 0;
    // A cut path would name another directory: refuse it rather than use it.
    if (n >= MAX_PATH) StopTextTooLong(found, n, kPathMax);
    size_t resolved;
    if (!ResolveLibrarySpec(library, kPairBufferSize, found, &resolved))
        StopTextTooLong(found, resolved, kPathMax);
}

} // namespace

int LauncherMain(HINSTANCE instance) {
    // The own file name may be as long as the path allows.
    char own_name[MAX_PATH] = "";
    char flags[kFlagsReadLimit + 1] = "";

    // The module table's memory failure has been reported by the memory
    // layer; without a table there is nothing to hand the runtime.
    if (!BuildModuleTable()) std::exit(kExitFatal);
    char list[kSlotReadLimit];
    ReadSlot(instance, kSlotModuleList, list, kSlotReadLimit);
    const char* rejected;
    size_t rejected_length;
    if (!ParseModuleList(list, &rejected, &rejected_length))
        StopTextTooLong(rejected, rejected_length, kModuleNameMax);
    DiskInitHandles(kDiskHandles);

    char module_path[MAX_PATH] = "";
    GetModuleFileNameA(instance, module_path, MAX_PATH);
    module_path[MAX_PATH - 1] = 0;
    if (char* slash = std::strrchr(module_path, '\\')) {
        *slash = 0;
        std::strcpy(own_name, slash + 1);
    }

    FileLayerInit();
    VirtualInit();
    ErrorInit(own_name);

    char library[kPairBufferSize];
    ReadSlotPair(instance, kSlotLibrary, library);
    if (Embedded(library)) {
        ReadSlot(instance, kSlotExtractFlags, flags, kFlagsReadLimit);
        SelfExtract(flags, instance);
    }

    SendCommand("SABLIER,OUI");
    char expected[kSlotReadLimit];
    ReadSlot(instance, kSlotVersion, expected, kSlotReadLimit);
    SendCommand("OPTION,VERSION");
    if (RuntimeTooOld(expected, LastReplyValue())) {
        // The runtime is told even when its version text is long: the
        // command is cut to fit in the versions it quotes, never refused.
        char command[kCommandMax + 1];
        FormatTooOldCommand(command, ModuleNameByIndex(0), expected, LastReplyValue());
        SendCommand("%s", command);
        UnloadRuntime();
        Finish();
        return 1;
    }

    char window[kPairBufferSize];
    char project[kPairBufferSize];
    char host[kPairBufferSize];
    ReadSlotPair(instance, kSlotStartWindow, window);
    ReadSlotPair(instance, kSlotProject, project);
    ReadSlotPair(instance, kSlotHostModule, host);
    TrimRight(library);
    TrimRight(window);
    TrimRight(project);
    TrimRight(host);

    LPCH environment = GetEnvironmentStrings();
    // The whole address, in decimal: on 64-bit Windows an unsigned long has
    // only 32 bits.
    SendCommand("ENVI,%llu",
                static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(environment)));

    if (library[0]) {
        if (!Embedded(library)) ResolveAgainstHost(library, host);
        SendCommand("BIBLI,DISQUE,%s", library);
    }

    if (project[0]) {
        SendCommand("PROGRAMME,%s", project);
    } else {
        ClearReplyCode();
        SendCommand("ouvre,%s", window);
        if (!ReplyCodeIs("ESC") && !ReplyCodeIs("*E*")) SendCommand("ecran,saisie");
    }
    while (ReplyCodeIs("*M*")) {
        SendCommand("INFO,Choix de menu sans code\nMenu item without code");
        ClearReplyCode();
        SendCommand("ecran,saisie");
    }

    UnloadRuntime();
    Finish();
    FreeEnvironmentStringsA(environment);
    return 1;
}

} // namespace tx

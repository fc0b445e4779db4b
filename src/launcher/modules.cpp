// The module table, the link to the main runtime module, and the stops of
// start-up.
#include "launcher/modules.h"

#include "launcher/channel.h"
#include "support/memory.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tx {

namespace {

// The names the table starts with, by module index. Index 7 has none.
constexpr const char* kTableDefaults[kModuleCount] = {
    "TX413EXE.DLL", "TX413ZQ.DLL",  "TX413DB.DLL",  "TX413SQL.DLL",
    "TX413CPL.DLL", "TX413IMG.DLL", "TX411FIC.DLL", "",
    "TX413OLE.DLL"};

// What a lookup answers while the table is not published: the same names,
// except that index 7 stands for the main runtime module.
constexpr const char* kLookupDefaults[kModuleCount] = {
    "TX413EXE.DLL", "TX413ZQ.DLL",  "TX413DB.DLL",  "TX413SQL.DLL", "TX413CPL.DLL",
    "TX413IMG.DLL", "TX411FIC.DLL", "TX413EXE.DLL", "TX413OLE.DLL"};

constexpr int kListPositions = 8;
constexpr int kPositionToIndex[kListPositions] = {0, 1, 6, 2, 5, 3, 4, 8};

ModuleTableRecord g_record = {};
ModuleTableRecord* g_published = nullptr;

// The runtime link.
HMODULE g_runtime = nullptr;
bool g_initialised = false;
FARPROC g_init = nullptr;
FARPROC g_fin = nullptr;
FARPROC g_call = nullptr;

constexpr const char kCaption[] = "Torvix 4.0";

constexpr const char kNotFound[] = "%s est introuvable\nProgramme arr\xEAt\xE9!\n\n\n"
                                   "%s is not found\nProgram halted\n";
constexpr const char kNotCompatible[] = "%s n'est pas une version compatible\nProgramme "
                                        "arr\xEAt\xE9!\n\n\n%s is not compatible\nProgram "
                                        "halted\n";

// Both messages are formatted into 204 characters with two names of at most
// 21 characters each in place of the two "%s".
constexpr size_t kModuleMessageSize = 204;
static_assert(sizeof kNotFound - 1 - 4 + 2 * kModuleNameMax < kModuleMessageSize);
static_assert(sizeof kNotCompatible - 1 - 4 + 2 * kModuleNameMax < kModuleMessageSize);

constexpr const char kTooLong[] = "Texte trop long (%u caract\xE8res, %u au plus) :\n%s\nProgramme "
                                  "arr\xEAt\xE9!\n\n\nText too long (%u characters, at most "
                                  "%u):\n%s\nProgram halted\n";
// How much of the offending text the message shows.
constexpr size_t kExcerpt = 40;

} // namespace

int ModuleIndexOfPosition(int position) {
    return position >= 0 && position < kListPositions ? kPositionToIndex[position] : -1;
}

int BuildModuleTable() {
    g_published = nullptr;
    g_record = {};
    g_record.count = kModuleCount;
    auto* names = static_cast<char*>(BlockAlloc(static_cast<uint16_t>(kModuleTableSize)));
    if (!names) return 0;
    for (int i = 0; i < kModuleCount; ++i)
        std::strcpy(names + kModuleEntrySize * i, kTableDefaults[i]);
    g_record.names = names;
    return 1;
}

int ParseModuleList(char* text, const char** rejected, size_t* rejected_length) {
    *rejected = nullptr;
    *rejected_length = 0;
    if (!text || !*text) return 1;
    if (!g_record.names) return 0;
    char* p = text;
    for (int position = 0; position < kListPositions; ++position) {
        // Runs of commas separate like one; an empty field takes no position.
        p += std::strspn(p, ",");
        if (!*p) break;
        char* token = p;
        size_t length = std::strcspn(p, ",");
        p += length;
        if (*p) *p++ = 0;
        bool has_dot = std::memchr(token, '.', length) != nullptr;
        size_t full = length + (has_dot ? 0 : 4);
        if (full > kModuleNameMax) {
            *rejected = token;
            *rejected_length = full;
            return 0;
        }
        char* entry = g_record.names + kModuleEntrySize * kPositionToIndex[position];
        std::memcpy(entry, token, length);
        if (!has_dot) std::memcpy(entry + length, ".DLL", 4);
        entry[full] = 0;
        for (char* c = entry; *c; ++c)
            if (*c >= 'a' && *c <= 'z') *c = static_cast<char>(*c - 'a' + 'A');
    }
    g_published = &g_record;
    return 1;
}

const char* ModuleNameByIndex(int index) {
    const ModuleTableRecord* record = g_published;
    // The runtime holds the record's address, so its fields are checked
    // before use; an index is never taken beyond the nine entries.
    if (record && !IsBadReadPtr(record, sizeof *record) && record->names && index >= 0 &&
        index < record->count && index < kModuleCount)
        return record->names + kModuleEntrySize * index;
    if (index >= 0 && index < kModuleCount) return kLookupDefaults[index];
    return "";
}

ModuleTableRecord* ModuleTableRecordAddress() {
    return &g_record;
}

void ReleaseModuleTable() {
    if (!g_record.names) return;
    BlockFree(g_record.names);
    g_record.names = nullptr;
}

void LoadMainRuntime() {
    const char* format = nullptr;
    g_runtime = LoadLibraryA(ModuleNameByIndex(0));
    if (!g_runtime) {
        format = kNotFound;
    } else if (!(g_init = GetProcAddress(g_runtime, kEntryInit)) ||
               !(g_fin = GetProcAddress(g_runtime, kEntryFin)) ||
               !(g_call = GetProcAddress(g_runtime, kEntryCall))) {
        format = kNotCompatible;
    } else {
        return;
    }
    // The name is copied within its entry's width, so the message fits its
    // buffer whatever the table holds by now.
    char name[kModuleEntrySize];
    std::strncpy(name, ModuleNameByIndex(0), kModuleNameMax);
    name[kModuleNameMax] = 0;
    char message[kModuleMessageSize];
    wsprintfA(message, format, name, name);
    StopStartup(message);
}

bool RuntimeInitialised() {
    return g_initialised;
}

void SetRuntimeInitialised(bool initialised) {
    g_initialised = initialised;
}

int RuntimeInitInstance(void* block, ModuleTableRecord* record) {
    return CallRuntimeEntry2(g_init, block, record);
}

void RuntimeCall(void* block) {
    CallRuntimeEntry1(g_call, block);
}

void UnloadRuntime() {
    if (!g_initialised) return;
    CallRuntimeEntry1(g_fin, CommandBlock());
    g_initialised = false;
    if (g_runtime) {
        FreeLibrary(g_runtime);
        g_runtime = nullptr;
    }
}

#if defined(__i386__)

// esi keeps the stack pointer across the call. A runtime built with the
// standard calling convention pops its arguments itself, one built with the C
// convention leaves them to the caller; putting esp back afterwards suits
// both. The stack is aligned to 16 bytes at the call for runtimes that expect
// it.
int CallRuntimeEntry1(FARPROC entry, void* first) {
    int result;
    __asm__ volatile("movl %%esp, %%esi\n\t"
                     "andl $-16, %%esp\n\t"
                     "subl $12, %%esp\n\t"
                     "pushl %[first]\n\t"
                     "call *%[entry]\n\t"
                     "movl %%esi, %%esp"
                     : "=a"(result)
                     : [entry] "r"(entry), [first] "r"(first)
                     : "esi", "ecx", "edx", "memory", "cc");
    return result;
}

int CallRuntimeEntry2(FARPROC entry, void* first, void* second) {
    int result;
    __asm__ volatile("movl %%esp, %%esi\n\t"
                     "andl $-16, %%esp\n\t"
                     "subl $8, %%esp\n\t"
                     "pushl %[second]\n\t"
                     "pushl %[first]\n\t"
                     "call *%[entry]\n\t"
                     "movl %%esi, %%esp"
                     : "=a"(result)
                     : [entry] "r"(entry), [first] "r"(first), [second] "r"(second)
                     : "esi", "ecx", "edx", "memory", "cc");
    return result;
}

#else

// One calling convention only: an ordinary call.
int CallRuntimeEntry1(FARPROC entry, void* first) {
    auto generic = reinterpret_cast<void (*)()>(entry);
    return reinterpret_cast<int (*)(void*)>(generic)(first);
}

int CallRuntimeEntry2(FARPROC entry, void* first, void* second) {
    auto generic = reinterpret_cast<void (*)()>(entry);
    return reinterpret_cast<int (*)(void*, void*)>(generic)(first, second);
}

#endif

void StopStartup(const char* message) {
    MessageBoxA(nullptr, message, kCaption, MB_ICONINFORMATION);
    std::exit(0);
}

int FormatTextTooLong(char* out, const char* text, size_t length, size_t limit) {
    char excerpt[kExcerpt + 4];
    size_t shown = strnlen(text, kExcerpt + 1);
    if (shown > kExcerpt) {
        std::memcpy(excerpt, text, kExcerpt);
        std::memcpy(excerpt + kExcerpt, "...", 4);
    } else {
        std::memcpy(excerpt, text, shown);
        excerpt[shown] = 0;
    }
    auto n = static_cast<unsigned>(length);
    auto most = static_cast<unsigned>(limit);
    int written =
        std::snprintf(out, kTooLongMessageSize, kTooLong, n, most, excerpt, n, most, excerpt);
    return written < 0 ? 0 : written;
}

void StopTextTooLong(const char* text, size_t length, size_t limit) {
    char message[kTooLongMessageSize];
    FormatTextTooLong(message, text, length, limit);
    UnloadRuntime();
    StopStartup(message);
}

} // namespace tx

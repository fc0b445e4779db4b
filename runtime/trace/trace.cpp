// The trace runtime: a runtime module that meets the launcher's runtime
// interface and nothing more. Every call it receives is appended to the trace
// file, and every command is answered from the reply script. Both files lie
// beside the module: TXTRACE.LOG and TXREPLY.TXT (formats in README.md).
//
// The reader variant (TXTRACE_READER) also opens the library it is handed,
// as a runtime does, and reads the members the script names through the
// core's own lookup, long-name table included.
#include "launcher/runtime_abi.h"

#ifdef TXTRACE_READER
#include "diskfile/diskfile.h"
#include "library/libtable.h"
#include "vfile/vfile.h"
#include "vfile/virtual.h"
#endif

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <sys/uio.h>
#include <unistd.h>
#include <climits>
#endif

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#if defined(_WIN32) && defined(TXTRACE_STDCALL)
#define TXTRACE_CALL __stdcall
#elif defined(_WIN32)
#define TXTRACE_CALL __cdecl
#else
#define TXTRACE_CALL
#endif

#ifdef _WIN32
#define TXTRACE_EXPORT extern "C" __declspec(dllexport)
#else
#define TXTRACE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

using tx::kCommandBlockSize;

// One reply of the script.
struct Reply {
    bool has_code = false;
    char code[3] = {};
    enum { kNone, kPlain, kNumberAndText } value = kNone;
    std::string number; // value type 8: the number text
    std::string text;   // the value text
};

// The replies for the commands that begin with `pattern`, used in turn; the
// last one repeats.
struct Rule {
    std::string pattern;
    std::vector<Reply> replies;
    size_t used = 0;
};

struct Script {
    bool loaded = false;
    long refuse_init = 0;
    std::vector<Rule> rules;
    std::vector<std::string> read_members; // reader: members to read from the library
    std::string problems;                  // lines that could not be read, for the trace
};

Script g_script;

// The version answered to "OPTION,VERSION" when there is no reply script.
constexpr const char kVersionWithoutScript[] = "4.10A";
long g_init_calls = 0;

#ifdef _WIN32
HMODULE g_self = nullptr;
#endif

// The directory of this module, with its separator at the end.
std::string ModuleDirectory() {
#ifdef _WIN32
    char path[MAX_PATH] = "";
    GetModuleFileNameA(g_self, path, MAX_PATH);
    path[MAX_PATH - 1] = 0;
    const char sep = '\\';
#else
    Dl_info info = {};
    char path[PATH_MAX] = "";
    if (dladdr(reinterpret_cast<void*>(&ModuleDirectory), &info) && info.dli_fname &&
        !realpath(info.dli_fname, path))
        std::snprintf(path, sizeof path, "%s", info.dli_fname);
    const char sep = '/';
#endif
    std::string p = path;
    size_t cut = p.find_last_of(sep);
    return cut == std::string::npos ? std::string() : p.substr(0, cut + 1);
}

// Text of the trace: ASCII only. Backslash, line ends and tabs are written
// \\ \n \r \t; any other byte below 32 or above 126 as \xhh.
std::string Escape(const char* text, size_t length) {
    std::string out;
    for (size_t i = 0; i < length; ++i) {
        auto c = static_cast<unsigned char>(text[i]);
        char buf[5];
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 32 || c > 126) {
                std::snprintf(buf, sizeof buf, "\\x%02x", c);
                out += buf;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out;
}

std::string Escape(const std::string& s) {
    return Escape(s.data(), s.size());
}

// The reverse of Escape, for the patterns and texts of the script.
std::string Unescape(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 >= s.size()) {
            out += s[i];
            continue;
        }
        char c = s[++i];
        if (c == 'n') {
            out += '\n';
        } else if (c == 'r') {
            out += '\r';
        } else if (c == 't') {
            out += '\t';
        } else if (c == 'x' && i + 2 < s.size()) {
            out += static_cast<char>(std::strtoul(s.substr(i + 1, 2).c_str(), nullptr, 16));
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

void TraceLine(const std::string& line) {
    std::string path = ModuleDirectory() + "TXTRACE.LOG";
    if (FILE* f = std::fopen(path.c_str(), "ab")) {
        std::fwrite(line.data(), 1, line.size(), f);
        std::fputc('\n', f);
        std::fclose(f);
    }
}

std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return "";
    size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

// Reads one reply: "none"; or "code XYZ" (exactly three characters), then
// optionally "value TEXT" or "value8 NUMBER TEXT"; or just one of the last
// two. TEXT runs to the end of the line.
bool ParseReply(std::string s, Reply* reply) {
    s = Trim(s);
    if (s == "none") return true;
    if (s.compare(0, 5, "code ") == 0) {
        size_t end = s.find(' ', 5);
        std::string code = Unescape(s.substr(5, end == std::string::npos ? end : end - 5));
        if (code.size() != 3) return false;
        reply->has_code = true;
        std::memcpy(reply->code, code.data(), 3);
        s = end == std::string::npos ? "" : Trim(s.substr(end));
    }
    if (s.empty()) return reply->has_code;
    if (s.compare(0, 7, "value8 ") == 0) {
        std::string rest = s.substr(7);
        size_t space = rest.find(' ');
        reply->value = Reply::kNumberAndText;
        reply->number = Unescape(rest.substr(0, space));
        reply->text = space == std::string::npos ? "" : Unescape(rest.substr(space + 1));
        return true;
    }
    if (s == "value" || s.compare(0, 6, "value ") == 0) {
        reply->value = Reply::kPlain;
        reply->text = s.size() > 6 ? Unescape(s.substr(6)) : "";
        return true;
    }
    return false;
}

void LoadScript() {
    if (g_script.loaded) return;
    g_script.loaded = true;
    std::string path = ModuleDirectory() + "TXREPLY.TXT";
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        // Without a script the runtime still says which version it is, one
        // that the launcher's reference configuration accepts (1.00A), so
        // that a first start runs to its end and shows the whole trace.
        Reply version;
        version.value = Reply::kPlain;
        version.text = kVersionWithoutScript;
        g_script.rules.push_back(Rule{"OPTION,VERSION", {version}, 0});
        return;
    }
    std::string line;
    int number = 0;
    for (int c = 0; c != EOF;) {
        line.clear();
        while ((c = std::fgetc(f)) != EOF && c != '\n')
            line += static_cast<char>(c);
        ++number;
        std::string t = Trim(line);
        if (t.empty() || t[0] == '#') continue;
        if (t.compare(0, 12, "refuse-init ") == 0) {
            g_script.refuse_init = std::strtol(t.c_str() + 12, nullptr, 10);
            continue;
        }
#ifdef TXTRACE_READER
        if (t.compare(0, 12, "read-member ") == 0) {
            g_script.read_members.push_back(Unescape(Trim(t.substr(12))));
            continue;
        }
#endif
        size_t arrow = t.find(" => ");
        Reply reply;
        if (arrow == std::string::npos || !ParseReply(t.substr(arrow + 4), &reply)) {
            g_script.problems.append(" ").append(std::to_string(number));
            continue;
        }
        std::string pattern = Unescape(Trim(t.substr(0, arrow)));
        Rule* rule = nullptr;
        for (Rule& r : g_script.rules)
            if (r.pattern == pattern) rule = &r;
        if (!rule) {
            g_script.rules.push_back(Rule{pattern, {}, 0});
            rule = &g_script.rules.back();
        }
        rule->replies.push_back(reply);
    }
    std::fclose(f);
    if (!g_script.problems.empty())
        TraceLine(std::string("TXREPLY.TXT: lines not understood:").append(g_script.problems));
}

// The reply for a command: from the first rule whose pattern begins it.
[[maybe_unused]] const Reply* ReplyFor(const char* command) {
    for (Rule& r : g_script.rules) {
        if (std::strncmp(command, r.pattern.c_str(), r.pattern.size()) != 0) continue;
        size_t i = r.used < r.replies.size() ? r.used : r.replies.size() - 1;
        ++r.used;
        return &r.replies[i];
    }
    return nullptr;
}

// Writes a reply record into the block and describes it for the trace.
[[maybe_unused]] std::string WriteReply(unsigned char* block, const Reply* reply) {
    std::memset(block, 0, kCommandBlockSize);
    if (!reply) return "";
    std::string said;
    uint8_t flags = 0;
    if (reply->has_code) {
        flags |= tx::kReplyHasCode;
        std::memcpy(block + tx::kReplyCode, reply->code, 3);
        said.append(" code ").append(Escape(reply->code, 3));
    }
    // Whatever the script says, nothing is written past the block.
    auto put = [&](size_t at, const std::string& s) {
        for (size_t i = 0; i < s.size() && at + i < kCommandBlockSize; ++i)
            block[at + i] = static_cast<unsigned char>(s[i]);
    };
    if (reply->value == Reply::kPlain) {
        flags |= tx::kReplyHasValue;
        block[tx::kReplyValueLength] =
            static_cast<unsigned char>(std::min<size_t>(reply->text.size(), 255));
        put(tx::kReplyValue, reply->text);
        said.append(" value ").append(Escape(reply->text));
    } else if (reply->value == Reply::kNumberAndText) {
        flags |= tx::kReplyHasValue | tx::kReplyTypeNumberAndText;
        block[tx::kReplyValueLength] =
            static_cast<unsigned char>(std::min<size_t>(reply->number.size(), 255));
        put(tx::kReplyValue, reply->number);
        put(tx::kReplyValue + reply->number.size() + 1, reply->text);
        said.append(" value8 ")
            .append(Escape(reply->number))
            .append(" ")
            .append(Escape(reply->text));
    }
    block[tx::kReplyFlags] = flags;
    return said.empty() ? said : std::string(" =>").append(said);
}

// Copies up to `count` bytes at `address` of this process into `out`,
// stopping at the first byte that cannot be read instead of faulting there:
// an address that arrived cut short points anywhere. Answers the bytes copied.
size_t ReadOwnMemory(uintptr_t address, char* out, size_t count) {
    size_t done = 0;
    while (done < count) {
        // Never across a page boundary, so that a readable page before an
        // unreadable one still counts.
        const size_t page = 4096 - ((address + done) & 4095);
        const size_t want = count - done < page ? count - done : page;
#ifdef _WIN32
        SIZE_T got = 0;
        if (!ReadProcessMemory(GetCurrentProcess(), reinterpret_cast<const void*>(address + done),
                               out + done, want, &got) ||
            got != want)
            break;
#else
        iovec local{out + done, want};
        iovec remote{reinterpret_cast<void*>(address + done), want};
        if (process_vm_readv(getpid(), &local, 1, &remote, 1, 0) != static_cast<ssize_t>(want))
            break;
#endif
        done += want;
    }
    return done;
}

// The value of TXTRACE_ENV in the environment block at `address`, read
// safely: "unreadable" when nothing can be read there, as after an address
// that lost its high bits on the way.
[[maybe_unused]] std::string EnvironmentMark(uintptr_t address) {
    static const char kName[] = "TXTRACE_ENV=";
    constexpr size_t kMostRead = 1 << 20;
    std::string block(kMostRead, '\0');
    const size_t got = ReadOwnMemory(address, block.data(), block.size());
    if (got == 0) return "unreadable";
    block.resize(got);
    // The block is a run of NUL-terminated strings ended by an empty one.
    for (size_t at = 0; at < block.size() && block[at] != 0;) {
        const size_t end = block.find('\0', at);
        if (end == std::string::npos) break;
        if (block.compare(at, sizeof kName - 1, kName) == 0)
            return std::string(kName).append(
                Escape(block.substr(at + sizeof kName - 1, end - at - (sizeof kName - 1))));
        at = end + 1;
    }
    return "no TXTRACE_ENV";
}

#ifdef TXTRACE_READER
// Opens the library as an application library (its long-name table loaded)
// and reads each member the script names by its member path, through the
// library's selector.
void ReadMembers(const char* library) {
    tx::DiskInitHandles(140);
    tx::FileLayerInit();
    tx::VirtualInit();
    int16_t selector = -1;
    const int opened = tx::LibraryOpenApplication(library, &selector, 0);
    if (opened != 0)
        TraceLine(std::string("  library not opened: ").append(std::to_string(opened)));
    for (size_t i = 0; opened == 0 && i < g_script.read_members.size(); ++i) {
        const std::string& name = g_script.read_members[i];
        const std::string path = "|" + name;
        int16_t handle;
        if (!tx::FileOpenRead(path.c_str(), &handle, selector)) {
            TraceLine(std::string("  member ").append(Escape(name)).append(": not found"));
            continue;
        }
        std::string bytes;
        char buffer[4096];
        uint16_t got;
        while ((got = tx::FileRead(handle, buffer, sizeof buffer)) > 0)
            bytes.append(buffer, got);
        tx::FileClose(handle);
        TraceLine(std::string("  member ")
                      .append(Escape(name))
                      .append(": ")
                      .append(std::to_string(bytes.size()))
                      .append(" bytes: ")
                      .append(Escape(bytes.substr(0, 64))));
    }
    if (opened == 0) tx::LibraryClose(selector);
    tx::VirtualTerm();
    tx::DiskTermHandles();
}
#endif

} // namespace

#ifdef _WIN32
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) g_self = instance;
    return TRUE;
}
#endif

TXTRACE_EXPORT int TXTRACE_CALL TX4InitInstance(unsigned char* block,
                                                const tx::ModuleTableRecord* record) {
    (void)block;
    LoadScript();
    std::string line = "TX4InitInstance";
    if (record) {
        line.append(" modules=").append(std::to_string(record->count));
        int shown = record->count < tx::kModuleCount ? record->count : tx::kModuleCount;
        for (int i = 0; i < shown && record->names; ++i) {
            const char* name = record->names + tx::kModuleEntrySize * i;
            line.append(i ? "," : " ").append(Escape(name, strnlen(name, tx::kModuleEntrySize)));
        }
    }
    bool refuse = ++g_init_calls <= g_script.refuse_init;
    line += refuse ? " -> 0" : " -> 1";
    TraceLine(line);
    return refuse ? 0 : 1;
}

TXTRACE_EXPORT int TXTRACE_CALL FinInstance(unsigned char* block) {
    (void)block;
    TraceLine("FinInstance");
    return 1;
}

#ifndef TXTRACE_NO_CALLC
TXTRACE_EXPORT int TXTRACE_CALL TXCALLC(unsigned char* block) {
    LoadScript();
    char command[kCommandBlockSize + 1];
    size_t length = strnlen(reinterpret_cast<const char*>(block), kCommandBlockSize);
    std::memcpy(command, block, length);
    command[length] = 0;
    std::string said = WriteReply(block, ReplyFor(command));
    TraceLine(std::string("TXCALLC ").append(Escape(command, length)).append(said));
    if (std::strncmp(command, "ENVI,", 5) == 0) {
        auto address = static_cast<uintptr_t>(std::strtoull(command + 5, nullptr, 10));
        if (address) TraceLine(std::string("  environment ").append(EnvironmentMark(address)));
    }
#ifdef TXTRACE_READER
    if (std::strncmp(command, "BIBLI,DISQUE,", 13) == 0 && !g_script.read_members.empty())
        ReadMembers(command + 13);
#endif
    return 1;
}
#endif

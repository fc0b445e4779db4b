// txlib: the library tool. Lists, extracts and adds the members of library
// containers, and reads and patches a launcher's configuration slots and its
// embedded library.
#include "commands.h"
#include "failure.h"
#include "librarytools.h"
#include "txversion.h"

#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

namespace {

constexpr const char kVersion[] = "txlib " TX_VERSION;

constexpr const char kUsage[] =
    "usage: txlib [-q | -v] COMMAND ARGUMENTS\n"
    "\n"
    "Launcher programs:\n"
    "  slots EXE                       show the configuration slots\n"
    "  slots EXE --set SLOT=VALUE ...  set slots (SLOT: 1, 3, 5, 7, 9, 10, 11 or window,\n"
    "                                  library, project, host, version, modules, flags)\n"
    "  embed EXE LIB -o OUT            OUT: EXE with the library LIB embedded\n"
    "        [--any-kind]              (also a library whose kind is not 0)\n"
    "  unembed EXE -o LIB              write the embedded library out to LIB\n"
    "  info EXE                        where the slots and the embedded library lie\n"
    "\n"
    "Library containers (LIB may be a program with an embedded library where it\n"
    "is only read):\n"
    "  create LIB [--kind N]           make an empty library (kind 0 by default)\n"
    "  info LIB                        the header fields\n"
    "  list LIB [--all] [--json]       the members; --all adds deleted entries\n"
    "  add LIB FILE... [--as NAME]     add or replace members, keeping each file's\n"
    "                                  date and time\n"
    "  extract LIB [MEMBER...] [-d DIR]  write members (all by default) into DIR,\n"
    "                                  with their dates and times\n"
    "\n"
    "  -q  say only what fails      -v  say more      --help      --version\n"
    "\n"
    "Exit status: 0 done, 1 wrong command line, 2 failed (nothing is written then).\n";

[[noreturn]] void Usage(const std::string& message) {
    txlib::Fail("", message + " (txlib --help shows the usage)", txlib::kExitUsage);
}

struct CommandLine {
    std::string command;
    std::vector<std::string> arguments;
    std::vector<std::pair<std::string, std::string>> sets;
    std::string out, directory, as_name, kind;
    bool all = false, json = false, any_kind = false, help = false, version = false;
    bool has_out = false, has_directory = false, has_kind = false;
};

CommandLine Parse(int argc, char** argv, txlib::Options* options) {
    CommandLine line;
    bool options_end = false;
    auto value = [&](int& i, const std::string& name) -> std::string {
        if (i + 1 >= argc) Usage(name + " needs a value");
        return argv[++i];
    };
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (options_end || a.empty() || a[0] != '-' || a == "-") {
            if (line.command.empty())
                line.command = a;
            else
                line.arguments.push_back(a);
        } else if (a == "--") {
            options_end = true;
        } else if (a == "-h" || a == "--help") {
            line.help = true;
        } else if (a == "--version") {
            line.version = true;
        } else if (a == "-q" || a == "--quiet") {
            options->verbosity = 0;
        } else if (a == "-v" || a == "--verbose") {
            options->verbosity = 2;
        } else if (a == "--set" || a.rfind("--set=", 0) == 0) {
            const std::string pair = a == "--set" ? value(i, a) : a.substr(6);
            const size_t equals = pair.find('=');
            if (equals == std::string::npos || equals == 0) Usage("--set takes SLOT=VALUE");
            line.sets.emplace_back(pair.substr(0, equals), pair.substr(equals + 1));
        } else if (a == "-o" || a == "--output") {
            line.out = value(i, a);
            line.has_out = true;
        } else if (a == "-d" || a == "--directory") {
            line.directory = value(i, a);
            line.has_directory = true;
        } else if (a == "--as") {
            line.as_name = value(i, a);
            if (line.as_name.empty()) Usage("--as needs a name");
        } else if (a == "--kind") {
            line.kind = value(i, a);
            line.has_kind = true;
        } else if (a == "--all") {
            line.all = true;
        } else if (a == "--json") {
            line.json = true;
        } else if (a == "--any-kind") {
            line.any_kind = true;
        } else {
            Usage("unknown option " + a);
        }
    }
    return line;
}

// Options that the command does not take are refused rather than ignored.
void Allow(const CommandLine& line, bool sets, bool out, bool directory, bool as, bool kind,
           bool list_flags, bool any_kind) {
    if (!sets && !line.sets.empty()) Usage(line.command + " takes no --set");
    if (!out && line.has_out) Usage(line.command + " takes no -o");
    if (!directory && line.has_directory) Usage(line.command + " takes no -d");
    if (!as && !line.as_name.empty()) Usage(line.command + " takes no --as");
    if (!kind && line.has_kind) Usage(line.command + " takes no --kind");
    if (!list_flags && (line.all || line.json)) Usage(line.command + " takes no --all or --json");
    if (!any_kind && line.any_kind) Usage(line.command + " takes no --any-kind");
}

void Count(const CommandLine& line, size_t least, size_t most) {
    if (line.arguments.size() < least) Usage(line.command + ": too few arguments");
    if (line.arguments.size() > most) Usage(line.command + ": too many arguments");
}

int KindValue(const std::string& text) {
    char* end = nullptr;
    const long kind = std::strtol(text.c_str(), &end, 0);
    if (text.empty() || *end != 0 || kind < -1 || kind > 0xFFFF)
        Usage("--kind takes a number from 0 to 65535 (or -1)");
    return static_cast<int>(kind);
}

int Run(int argc, char** argv) {
    txlib::Options options;
    const CommandLine line = Parse(argc, argv, &options);
    if (line.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (line.version) {
        std::printf("%s\n", kVersion);
        return 0;
    }
    const std::string& c = line.command;
    const auto& args = line.arguments;
    if (c.empty()) Usage("no command");
    options.json = line.json;
    if (c == "slots") {
        Allow(line, true, false, false, false, false, !line.all, false);
        Count(line, 1, 1);
        return txlib::CommandSlots(options, args[0], line.sets);
    }
    if (c == "embed") {
        Allow(line, false, true, false, false, false, false, true);
        Count(line, 2, 2);
        if (!line.has_out) Usage("embed needs -o OUT");
        return txlib::CommandEmbed(options, args[0], args[1], line.out, line.any_kind);
    }
    if (c == "unembed") {
        Allow(line, false, true, false, false, false, false, false);
        Count(line, 1, 1);
        if (!line.has_out) Usage("unembed needs -o LIB");
        return txlib::CommandUnembed(options, args[0], line.out);
    }
    if (c == "info") {
        Allow(line, false, false, false, false, false, !line.all, false);
        Count(line, 1, 1);
        return txlib::CommandInfo(options, args[0]);
    }
    if (c == "create") {
        Allow(line, false, false, false, false, true, false, false);
        Count(line, 1, 1);
        return txlib::CommandCreate(options, args[0], line.has_kind ? KindValue(line.kind) : 0);
    }
    if (c == "list") {
        Allow(line, false, false, false, false, false, true, false);
        Count(line, 1, 1);
        return txlib::CommandList(options, args[0], line.all, line.json);
    }
    if (c == "add") {
        Allow(line, false, false, false, true, false, false, false);
        Count(line, 2, static_cast<size_t>(-1));
        return txlib::CommandAdd(options, args[0], {args.begin() + 1, args.end()}, line.as_name);
    }
    if (c == "extract") {
        Allow(line, false, false, true, false, false, false, false);
        Count(line, 1, static_cast<size_t>(-1));
        return txlib::CommandExtract(options, args[0], {args.begin() + 1, args.end()},
                                     line.has_directory ? line.directory : ".");
    }
    Usage("unknown command " + c);
}

} // namespace

int main(int argc, char** argv) {
    try {
        return Run(argc, argv);
    } catch (const txlib::Failure& failure) {
        std::fflush(stdout);
        if (failure.file.empty())
            std::fprintf(stderr, "txlib: %s\n", failure.message.c_str());
        else
            std::fprintf(stderr, "txlib: %s: %s\n", failure.file.c_str(), failure.message.c_str());
        return failure.status;
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "txlib: out of memory\n");
        return txlib::kExitFailed;
    }
}

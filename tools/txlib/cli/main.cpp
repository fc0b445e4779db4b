// txlib: the library tool. Lists, extracts and adds the members of library
// containers, and reads and patches a launcher's configuration slots and its
// embedded library.
#include "commands/commands.h"
#include "commands/deletecompact.h"
#include "host/errortext.h"
#include "host/console.h"
#include "host/failure.h"
#include "host/files.h"
#include "commands/librarytools.h"
#include "commands/resourcescommand.h"
#include "formats/slotvalues.h"
#include "host/spool.h"
#include "host/systemfiles.h"
#include "host/text.h"
#include "txversion.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <cstdlib>
#include <new>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr const char kVersion[] = "txlib " TX_VERSION;

constexpr const char kDescription[] =
    "txlib: library containers (create, list, add, extract, delete, compact, info) and\n"
    "launcher programs (slots, resources, embed, unembed, info). A library that is only\n"
    "read may be a program with an embedded library, or - for standard input. Each\n"
    "command has its own help: txlib COMMAND --help.";

constexpr const char kFooter[] =
    "Exit status: 0 done, 1 wrong command line, 2 failed. A failed create, add, delete,\n"
    "compact, slots --set, resources, embed or unembed writes nothing. A failed extract\n"
    "keeps the files it wrote before the failure, each whole, and names them; no file\n"
    "is ever left half written.\n"
    "A command that writes a library or a program waits while another txlib writes\n"
    "the same file, at most 60 seconds, then fails with status 2 and writes nothing.\n"
    "It writes through a symbolic link to its target, keeps the file's mode, owner\n"
    "and group, and refuses a file that is read-only, has other names (hard links)\n"
    "or, unless run as root, belongs to another user. On Linux a path that holds a\n"
    "backslash is refused: the library layer would read it as a folder separator.";

// How names and patterns select members, for list, extract and delete.
constexpr const char kPatternNotes[] =
    "A NAME is looked up as the launcher does, ignoring case; / may stand for \\.\n"
    "* and ? match within one folder level of a long name, ** across levels.";

constexpr const char kListNotes[] =
    "Control characters in names are shown escaped, as ls -b shows them (\\033).\n"
    "Two live entries whose names are the same if case is ignored are named on\n"
    "standard error.";

constexpr const char kExtractNotes[] =
    "A file that exists is replaced by the member of its name, unless -k (or\n"
    "--keep-newer-files) keeps it: each file kept is named, and the others extracted.\n"
    "A symbolic link inside DIR, to a folder or where a file goes, is refused.\n"
    "The library read, or the program that holds it, is never replaced. Extracting\n"
    "all members is refused when two live entries have the same name if case is\n"
    "ignored (on Windows one file would replace the other), and so is extracting\n"
    "two such members.";

constexpr const char kAddNotes[] =
    "A path that is absolute or leaves the folder (..) is stored under its last part,\n"
    "and one line says so. A member replaced keeps its directory entry; when new\n"
    "members would overflow a directory holding deleted entries, the library is\n"
    "compacted first.";

[[noreturn]] void Usage(const std::string& message, const std::string& command = "") {
    txlib::Fail("",
                message + " (txlib " + (command.empty() ? "" : command + " ") +
                    "--help shows the usage)",
                txlib::kExitUsage);
}

int KindValue(const std::string& text) {
    char* end = nullptr;
    const long kind = std::strtol(text.c_str(), &end, 0);
    if (text.empty() || *end != 0 || kind < -1 || kind > 0xFFFF)
        Usage("--kind takes a number from 0 to 65535 (or -1)", "create");
    return static_cast<int>(kind);
}

// On Linux a backslash is a character of a file name, but the library layer
// takes it for a folder separator, as on Windows: it would open another file
// than the one named. Such a path is refused before anything is read.
void CheckNativePaths(const std::vector<const std::string*>& paths) {
    if (txlib::BackslashSeparatesFolders()) return;
    for (const std::string* path : paths)
        if (path->find('\\') != std::string::npos)
            txlib::Fail(*path, "a path with a backslash cannot be used on Linux: the library "
                               "layer reads a backslash as a folder separator");
}

// Every option may be given once.
CLI::Option* Once(CLI::Option* option) {
    return option->multi_option_policy(CLI::MultiOptionPolicy::Throw);
}

struct Line {
    std::string exe, library, file, out, directory = ".", in_directory, as_name, kind;
    std::vector<std::string> sets, paths, names;
    txlib::ResourceRequest resources;
    std::vector<std::string> resource_sets;
    bool any_kind = false, all = false, json = false, keep_old = false, keep_newer = false,
         to_stdout = false, set_name = false;
};

int Dispatch(const CLI::App& app, Line& line, const txlib::Options& options);

int Run(int argc, char** argv) {
    txlib::Options options;
    Line line;
    CLI::App app(kDescription, "txlib");
    // A path that begins with '/' is a path, not a Windows-style option, on
    // Windows too (the subcommands take this over).
    app.allow_windows_style_options(false);
    app.footer(kFooter);
    app.set_version_flag("--version", kVersion, "show the version");
    app.set_help_flag("-h,--help", "show this help");
    app.require_subcommand(1, 1);
    CLI::Option* quiet = Once(app.add_flag("-q,--quiet")->description("say only what fails"));
    CLI::Option* verbose = Once(app.add_flag("-v,--verbose")->description("say more"));

    auto command = [&](const char* name, const char* what) {
        CLI::App* sub = app.add_subcommand(name, what);
        sub->fallthrough();
        sub->footer(kFooter);
        return sub;
    };

    CLI::App* slots = command("slots", "show a launcher's configuration slots, or set them");
    slots->add_option("EXE", line.exe, "the launcher program")->required();
    slots->add_option("--set", line.sets,
                      "SLOT=VALUE: set a slot (SLOT: 1, 3, 5, 7, 9, 10, 11 or window, library,\n"
                      "project, host, version, modules, flags); may be given for several slots");
    Once(slots->add_flag("--json", line.json, "the slots as JSON"));

    CLI::App* embed = command("embed", "OUT: a copy of EXE with the library LIB embedded");
    embed->add_option("EXE", line.exe, "the launcher program")->required();
    embed->add_option("LIB", line.library, "the library file")->required();
    Once(embed->add_option("-o,--output", line.out, "the program to write (neither EXE nor LIB)"))
        ->required();
    Once(embed->add_flag("--any-kind", line.any_kind, "also a library whose kind is not 0"));
    Once(embed->add_flag("--name", line.set_name,
                         "set slots 3 and 7 (library and host) to OUT's file name"));

    CLI::App* unembed = command("unembed", "write a program's embedded library out to a file");
    unembed->add_option("EXE", line.exe, "the launcher program")->required();
    Once(unembed->add_option("-o,--output", line.out, "the library file to write (not EXE)"))
        ->required();

    CLI::App* resources =
        command("resources", "show a Windows program's resources, or set its icon, version, "
                             "version texts and manifest");
    resources->add_option("EXE", line.exe, "the launcher program")->required();
    Once(resources->add_option("--icon", line.resources.icon, "FILE.ico: the program's icon"));
    Once(resources->add_option("--version", line.resources.version,
                               "X.Y.Z.W: the file and product version"));
    resources->add_option("--set", line.resource_sets,
                          "KEY=VALUE: a version text (CompanyName, FileDescription, ProductName,\n"
                          "LegalCopyright, OriginalFilename, ...); may be given several times");
    Once(resources->add_option("--manifest", line.resources.manifest,
                               "FILE: the application manifest"));
    Once(resources->add_flag("--json", line.json, "the resources as JSON"));

    CLI::App* info =
        command("info", "a library's header, or where a program keeps its slots and library");
    info->add_option("FILE", line.file, "a library or a launcher program")->required();
    Once(info->add_flag("--json", line.json, "as JSON"));

    CLI::App* create = command("create", "make a library, empty or holding files and folders");
    create->add_option("LIB", line.library, "the library file to make")->required();
    create->add_option("PATH", line.paths,
                       "files and folders to put in; each is named by its path as given");
    Once(create->add_option("--kind", line.kind, "the library's kind (0 by default)"));
    Once(create->add_option("-C,--directory", line.in_directory,
                            "the folder the paths are read from, relative to it"));

    CLI::App* list = command("list", "the members of a library");
    list->footer(std::string(kPatternNotes) + "\n" + kListNotes + "\n\n" + kFooter);
    list->add_option("LIB", line.library, "the library, or a program holding one")->required();
    list->add_option("NAME", line.names, "members to show, by name or * and ? pattern");
    Once(list->add_flag("-a,--all", line.all,
                        "deleted entries, entries no lookup reaches and the long-name table too"));
    Once(list->add_flag("--json", line.json, "as JSON"));

    CLI::App* add = command("add", "add or replace members, keeping each file's date and time");
    add->add_option("LIB", line.library, "the library file")->required();
    add->footer(std::string(kAddNotes) + "\n\n" + kFooter);
    add->add_option("PATH", line.paths,
                    "files and folders, each named by its path as given; - for standard input")
        ->required();
    Once(add->add_option("--as", line.as_name, "the member name of the one file"));
    Once(add->add_option("-C,--directory", line.in_directory,
                         "the folder the paths are read from, relative to it"));

    CLI::App* remove = command("delete", "remove members; the library is rewritten without them");
    remove->footer(std::string(kPatternNotes) +
                   "\nThe long-name table loses the lines of the members removed.\n\n" + kFooter);
    remove->add_option("LIB", line.library, "the library file")->required();
    remove->add_option("NAME", line.names, "members to remove, by name or pattern")->required();

    CLI::App* compact =
        command("compact", "rewrite a library without its deleted entries and unused bytes");
    compact->add_option("LIB", line.library, "the library file")->required();

    CLI::App* extract = command(
        "extract", "write members (all by default) as files, with their folders, dates and times");
    extract->footer(std::string(kPatternNotes) + "\n" + kExtractNotes + "\n\n" + kFooter);
    extract->add_option("LIB", line.library, "the library, or a program holding one")->required();
    extract->add_option("MEMBER", line.names, "members to write, by name or * and ? pattern");
    CLI::Option* directory = Once(extract->add_option(
        "-C,-d,--directory", line.directory, "write into DIR (made if missing); -d is the same"));
    CLI::Option* keep = Once(extract->add_flag("-k,--keep-old-files", line.keep_old,
                                               "skip each member whose file exists, and name it"));
    CLI::Option* keep_newer = Once(extract->add_flag(
        "--keep-newer-files", line.keep_newer, "skip each member whose file was written after it"));
    Once(extract->add_flag("-O,--to-stdout", line.to_stdout,
                           "write the one member's bytes to standard output"))
        ->excludes(directory)
        ->excludes(keep)
        ->excludes(keep_newer);

    // The first word that is not an option names the command.
    bool help = false, named = false;
    for (int i = 1; i < argc && !named; ++i) {
        const std::string word = argv[i];
        help = help || word == "-h" || word == "--help" || word == "--version";
        if (word == "--") break;
        if (word.empty() || word[0] != '-') {
            for (const CLI::App* sub : app.get_subcommands({}))
                named = named || sub->get_name() == word;
            if (!named) Usage("unknown command " + word);
        }
    }
    if (!named && !help) Usage("no command");
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        std::fputs(app.help().c_str(), stdout);
        return 0;
    } catch (const CLI::CallForVersion&) {
        std::printf("%s\n", kVersion);
        return 0;
    } catch (const CLI::ParseError& error) {
        std::string message = error.what();
        while (!message.empty() && message.back() == '\n')
            message.pop_back();
        // "--json: At Most 1 required but received 2" says that an option
        // was repeated.
        const size_t colon = message.find(": At Most 1 required");
        if (colon != std::string::npos) message = message.substr(0, colon) + " is given twice";
        std::string sub;
        for (const CLI::App* s : app.get_subcommands())
            sub = s->get_name();
        Usage(message, sub);
    }
    // -q and -v: the last one given counts.
    for (const CLI::Option* option : app.parse_order()) {
        if (option == quiet) options.verbosity = 0;
        if (option == verbose) options.verbosity = 2;
    }
    options.json = line.json;

    std::vector<const std::string*> paths{&line.exe, &line.library, &line.file, &line.out,
                                          &line.in_directory};
    if (extract->parsed()) paths.push_back(&line.directory);
    if (create->parsed() || add->parsed())
        for (const std::string& path : line.paths)
            paths.push_back(&path);
    CheckNativePaths(paths);

    if (slots->parsed()) {
        std::vector<std::pair<std::string, std::string>> sets;
        std::set<unsigned> named;
        for (const std::string& pair : line.sets) {
            const size_t equals = pair.find('=');
            if (equals == std::string::npos || equals == 0)
                Usage("--set takes SLOT=VALUE", "slots");
            const std::string key = pair.substr(0, equals);
            const txlib::SlotInfo* slot = txlib::FindSlot(key);
            if (slot != nullptr && !named.insert(slot->id).second)
                Usage("--set gives slot " + key + " twice", "slots");
            sets.emplace_back(key, pair.substr(equals + 1));
        }
        if (options.json && !sets.empty())
            Usage("--json shows the slots; it does not set them", "slots");
        return txlib::CommandSlots(options, line.exe, sets);
    }
    if (resources->parsed()) {
        for (const std::string& pair : line.resource_sets) {
            const size_t equals = pair.find('=');
            if (equals == std::string::npos || equals == 0)
                Usage("--set takes KEY=VALUE", "resources");
            line.resources.strings.emplace_back(pair.substr(0, equals), pair.substr(equals + 1));
        }
        if (options.json && !line.resources.Empty())
            Usage("--json shows the resources; it does not set them", "resources");
        CheckNativePaths({&line.resources.icon, &line.resources.manifest});
        return txlib::CommandResources(options, line.exe, line.resources);
    }
    if (embed->parsed())
        return txlib::CommandEmbed(options, line.exe, line.library, line.out, line.any_kind,
                                   line.set_name);
    if (unembed->parsed()) return txlib::CommandUnembed(options, line.exe, line.out);
    // A command that only reads takes a library from a pipe too; a path
    // that leads nowhere is no such file.
    if (info->parsed() || list->parsed() || extract->parsed()) {
        std::string& read = info->parsed() ? line.file : line.library;
        if (read != "-" && !txlib::FileExistsOnDisk(read)) txlib::Fail(read, "no such file");
        const txlib::SpooledLibrary spooled(read);
        if (spooled.Path() == read) return Dispatch(app, line, options);
        // Messages name the input, not the temporary file.
        const std::string given = read == "-" ? "standard input" : read;
        read = spooled.Path();
        try {
            return Dispatch(app, line, options);
        } catch (txlib::Failure& failure) {
            if (failure.file == read) failure.file = given;
            throw;
        }
    }
    return Dispatch(app, line, options);
}

// Runs the command parsed.
int Dispatch(const CLI::App& app, Line& line, const txlib::Options& options) {
    const CLI::App* info = app.get_subcommand("info");
    const CLI::App* create = app.get_subcommand("create");
    const CLI::App* list = app.get_subcommand("list");
    const CLI::App* add = app.get_subcommand("add");
    const CLI::App* remove = app.get_subcommand("delete");
    const CLI::App* compact = app.get_subcommand("compact");
    if (info->parsed()) return txlib::CommandInfo(options, line.file);
    if (create->parsed()) {
        txlib::AddRequest request{line.paths, "", line.in_directory};
        return txlib::CommandCreate(options, line.library,
                                    line.kind.empty() ? 0 : KindValue(line.kind), request);
    }
    if (list->parsed())
        return txlib::CommandList(options, line.library, txlib::ListRequest{line.names, line.all});
    if (add->parsed()) {
        if (!line.as_name.empty() && line.paths.size() != 1)
            Usage("--as names one file only", "add");
        return txlib::CommandAdd(options, line.library,
                                 txlib::AddRequest{line.paths, line.as_name, line.in_directory});
    }
    if (remove->parsed()) return txlib::CommandDelete(options, line.library, line.names);
    if (compact->parsed()) return txlib::CommandCompact(options, line.library);
    if (line.to_stdout && line.names.size() != 1) Usage("-O writes one MEMBER, named", "extract");
    return txlib::CommandExtract(options, line.library,
                                 txlib::ExtractRequest{line.names, line.directory, line.keep_old,
                                                       line.keep_newer, line.to_stdout});
}

// What a command printed must have reached its destination: output lost to
// a full disk or a closed descriptor turns success into failure (status 2).
// Standard output is closed here, so that a failure that only its closing
// reports is seen too.
int CheckedOutput(int status) {
    std::string reason;
    if (std::fflush(stdout) != 0)
        reason = txlib::ErrnoText();
    else if (std::ferror(stdout))
        reason = "part of it was not written";
    if (std::fclose(stdout) != 0 && reason.empty()) reason = txlib::ErrnoText();
    if (reason.empty()) return status;
    std::fprintf(stderr, "txlib: cannot write to standard output: %s\n",
                 txlib::EscapeControls(reason).c_str());
    return status == 0 ? txlib::kExitFailed : status;
}

} // namespace

int main(int argc, char** argv) {
    txlib::OpenStandardStreams();
    txlib::TextToConsole();
    try {
        return CheckedOutput(Run(argc, argv));
    } catch (const txlib::Failure& failure) {
        std::fflush(stdout);
        // Whatever a message took from a file, it reaches the terminal
        // without control characters.
        const std::string message = txlib::EscapeControls(failure.message);
        if (failure.file.empty())
            std::fprintf(stderr, "txlib: %s\n", message.c_str());
        else
            std::fprintf(stderr, "txlib: %s: %s\n", txlib::EscapeControls(failure.file).c_str(),
                         message.c_str());
        return failure.status;
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "txlib: out of memory\n");
        return txlib::kExitFailed;
    }
}

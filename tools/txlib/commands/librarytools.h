// The commands over library containers, run through the core's library layer
// (open-library table, directory lookup with its long-name table, member
// reading and writing).
#pragma once

#include "commands/commands.h"
#include "formats/longnames.h"

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace txlib {

// Checks a container whose first `available` bytes are at `data` and which
// is `size` bytes long, as the reader will: the magic, a directory of at most
// 1000 entries that ends inside the container, a used count within it, and
// (when `entries` is set) every member's data inside the container. Damage
// throws Failure (status 2) naming `name`.
void CheckContainer(const std::string& name, const uint8_t* data, size_t available, uint64_t size,
                    bool entries);

// Fails unless `library` exists: "no such file", or with `suggest_create`
// a word that create makes one.
void RequireLibrary(const std::string& library, bool suggest_create);

class LibraryView;
struct MemberView;

// The entries that names and patterns select, each once, in the order
// named; with no names, every member but the long-name table (and with
// `all` every entry). A name or pattern that selects nothing fails, its
// message ending in `nothing`.
std::vector<const MemberView*> SelectMembers(const LibraryView& view,
                                             const std::vector<std::string>& arguments, bool all,
                                             const std::string& library,
                                             const std::string& nothing);

// Whether one part of a member's name (the whole of a short name, or a part
// of a long name between its backslashes) can be written as a file or folder
// inside the output directory and nowhere else: no drive letter, no "..",
// no device name, no character a file name cannot hold, and no dot or space
// at its end.
bool SafeFileName(const std::string& name, std::string* reason);

// Where extract writes a member: the file's path, the parts of the member's
// name (split at its backslashes) shown in the system's character set and
// joined by the system's separator after `prefix` (the output folder with
// its separator, or empty); the name as Windows compares file names, parts
// joined by '\'; and likewise the folders it passes through, outermost first.
struct ExtractTarget {
    std::string path;
    std::string folded;
    std::vector<std::string> folder_paths;
    std::vector<std::string> folded_folders;
};

// Maps a member's name to its ExtractTarget. False, with the reason, when a
// part of the name is not a SafeFileName.
bool MapExtractTarget(const std::string& prefix, const std::string& name, char separator,
                      ExtractTarget* target, std::string* reason);

// Whether a '*' and '?' pattern matches a name, both already case-folded:
// '*' matches any run of characters and '?' any one character within one
// part of a long name (no backslash); "**" matches any run, backslashes too.
bool WildcardMatch(const std::string& pattern, const std::string& name);

// "info" on a library container, or on the one embedded at `base` in a
// program; with options.json one JSON object (LibraryInfoJson).
int LibraryInfo(const Options& options, const std::string& path, uint32_t base);

// The header fields of the container at `base` in `path` as a JSON object:
// file, offset, size, magic, header_size, created, kind, scramble (null or
// {seed, method}), version, capacity, used, members, deleted, sorted, words.
nlohmann::ordered_json LibraryInfoJson(const std::string& path, uint32_t base);

struct ListRequest {
    std::vector<std::string> names; // names and patterns; empty for all
    bool all = false;               // deleted and hidden entries and the table too
};

// The members of a library (or of the one embedded in a program) as the JSON
// document that "list --json" prints: library, offset, kind and members, each
// with index, name (its long name, if any), stored, state, size, offset,
// allocated, date, time, attribute and inside.
nlohmann::ordered_json ListJson(const std::string& library, const ListRequest& request);

struct AddRequest {
    std::vector<std::string> paths; // files and folders; "-" for standard input
    std::string as_name;            // --as: the member name of the one file
    std::string directory;          // -C: the folder the paths are relative to
};

struct ExtractRequest {
    std::vector<std::string> names; // names and patterns; empty for all
    std::string directory = ".";    // -C (or -d): the folder written into
    bool keep_old = false;          // -k: skip each member whose file exists
    bool keep_newer = false;        // --keep-newer-files: skip those whose file is newer
    bool to_stdout = false;         // -O: the one member's bytes to standard output
};

int CommandCreate(const Options& options, const std::string& library, int kind,
                  const AddRequest& inputs);
int CommandList(const Options& options, const std::string& library, const ListRequest& request);
int CommandAdd(const Options& options, const std::string& library, const AddRequest& request);
int CommandExtract(const Options& options, const std::string& library,
                   const ExtractRequest& request);

} // namespace txlib

// What the library commands (librarytools.cpp, list_info.cpp,
// create_add.cpp, extract.cpp) share among themselves.
#pragma once

#include "commands/librarytools.h"
#include "commands/libraryview.h"

#include "diskfile/diskfile.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace txlib {

constexpr uint16_t kChunk = 60000;            // bytes per member read or write
constexpr uint32_t kExtractChunk = 1 << 20;   // bytes per read of a member extracted
constexpr int64_t kContainerMax = 0x7FFFFFFF; // offsets are signed 32-bit
constexpr int kLeastCapacity = 30;            // the directory of a new library, and the core's step
constexpr uint16_t kDiskReadShared = tx::kDiskRead | tx::kDiskShareRead | tx::kDiskShareWrite;

using Json = nlohmann::ordered_json;

// Numbers, header words and FAT dates and times as the commands show them.
std::string Number(uint64_t value);
std::string Hex16(unsigned value);
std::string FatDate(uint16_t date);
std::string FatTime(uint16_t date, uint16_t time);

bool IsDirectory(const std::string& path);

// The library inside `path`: the file itself, or the one embedded in a
// program. Answers its base offset.
uint32_t LibraryBase(const std::string& path);

// A library file, or the library embedded in a program, open for reading,
// with the launcher's view of its members.
struct ReadLibrary {
    explicit ReadLibrary(const std::string& library)
        : base((RequireLibrary(library, false), LibraryBase(library))),
          record(core.Open(library, base, library, true)), view(core) {}

    CoreSession core;
    uint32_t base;
    const tx::LibraryRecord* record;
    const LibraryView view;
};

// A name or pattern from the command line as a member name: Windows-1252,
// with '/' taken for the '\' between the parts of a long name.
std::string NameArgument(const std::string& argument);

bool IsPattern(const std::string& name);

// The table member of a library whose long names are in use.
bool IsTable(const LibraryView& view, const MemberView& member);

// The entries that names and patterns select, each once, in the order
// named; with no names, every member but the long-name table (and with
// `all` every entry). A name or pattern that selects nothing fails.
std::vector<const MemberView*> Select(const LibraryView& view,
                                      const std::vector<std::string>& arguments, bool all,
                                      const std::string& library, const std::string& nothing);

// Says what is wrong with the library's long-name table, if anything.
void WarnOfTable(const LibraryView& view, const std::string& library);

// The pairs of live entries (valid ones, whether a lookup reaches them or
// not) whose names, as files, are one name where case is ignored, as it is
// on Windows; each later entry paired with the first of its name.
std::vector<std::pair<const MemberView*, const MemberView*>>
CaseCollisions(const LibraryView& view);

// What list and extract say of such a pair.
std::string CollisionText(const MemberView& a, const MemberView& b);

} // namespace txlib

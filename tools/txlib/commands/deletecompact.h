// delete and compact, and the compacted copy of a library that add makes
// first when its directory would overflow.
#pragma once

#include "commands/commands.h"

#include "library/container.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace txlib {

class OutputFile;
class Progress;

// The header and directory of a library file as they stand, with what a
// rewrite needs to know of them.
struct LibrarySnapshot {
    tx::HeaderBlock header{};
    std::vector<tx::DirEntry> entries; // the whole directory
    int32_t end_of_data = 0;
    int reach = 0;      // entries the lookup looks at
    int table = -1;     // the long-name table's entry, when the library uses one
    bool keyed = false; // the scrambling key is known
    uint8_t key = 0;
};

LibrarySnapshot TakeSnapshot(const std::string& library);

// The valid entries within the lookup's reach, in directory order (a
// lookup reaches each one as before). A valid entry whose data lies outside
// the container fails: a rewrite would lose it.
std::vector<int> LiveEntries(const LibrarySnapshot& snapshot, const std::string& library);

// The bytes of the library rewritten with the entries `kept`, and with
// `table` (when given) as the table's data.
uint64_t CompactSize(const LibrarySnapshot& snapshot, const std::vector<int>& kept,
                     const std::optional<std::string>& table);

// Writes the library rewritten to `out`: the header as it stands but for
// the capacity (the entries kept, and at least 30 unless sorted) and the
// used count; the entries `kept` in their order, each with its name, size,
// date, time and attribute; their data back to back as stored. With `table`,
// the table's entry holds that text, dated now.
void WriteCompacted(const std::string& library, const LibrarySnapshot& snapshot,
                    const std::vector<int>& kept, const std::optional<std::string>& table,
                    OutputFile& out, Progress& progress);

int CommandCompact(const Options& options, const std::string& library);
int CommandDelete(const Options& options, const std::string& library,
                  const std::vector<std::string>& names);

} // namespace txlib

// The commands over library containers, run through the core's own library
// layer (open-library table, directory lookup, member reading and writing).
#pragma once

#include "commands.h"

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

// Whether `name` (Windows-1252) can be stored as a member name: 1 to 12
// characters, none of them a control character or one of \ / : * ? " < > |,
// not "." or "..", not beginning with the deleted-entry mark 0xE5. Sets the
// reason when not.
bool ValidMemberName(const std::string& name, std::string* reason);

// Whether a member name can be written as a file inside the output
// directory and nowhere else: a valid member name that is also no drive
// letter, no "..", no device name and does not end in a dot or a space.
bool SafeFileName(const std::string& name, std::string* reason);

// "info" on a library container, or on the one embedded at `base` in a
// program.
int LibraryInfo(const Options& options, const std::string& path, uint32_t base);

int CommandCreate(const Options& options, const std::string& library, int kind);
int CommandList(const Options& options, const std::string& library, bool all, bool json);
int CommandAdd(const Options& options, const std::string& library,
               const std::vector<std::string>& files, const std::string& as_name);
int CommandExtract(const Options& options, const std::string& library,
                   const std::vector<std::string>& members, const std::string& directory);

} // namespace txlib

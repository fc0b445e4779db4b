// The name a program goes by in its own slots. A launcher whose library is
// embedded tells the runtime "BIBLI,DISQUE,NAME/EXE" with slot 3 as it
// stands: the runtime opens NAME, so NAME must be the program's own file
// name. embed checks it, and with --name sets it (and slot 7, the host
// module) to the name of the program it writes.
#pragma once

#include "formats/exeimage.h"
#include "host/files.h"

#include <string>
#include <vector>

namespace txlib {

// The patches that store `value` (Windows-1252) in slot `key` of every
// copy of the strings; Failure when it does not fit.
std::vector<Patch> SlotPatches(const std::string& exe, const ExeImage& image,
                               const std::string& key, const std::string& value);

// What the launcher reads from slot `id` (and its continuation).
std::string SlotText(const InputFile& program, const ExeImage& image, unsigned id);

// The file name (last part) of a path.
std::string LastPart(const std::string& path);

// With `set_name`, the patches that make slots 3 and 7 name the program
// written at `out_path`. Otherwise none, and when slot 3 names another file
// before "/EXE", one warning on standard error with the command that fixes
// it.
std::vector<Patch> ProgramNamePatches(const InputFile& program, const ExeImage& image,
                                      const std::string& exe, const std::string& out_path,
                                      bool set_name);

} // namespace txlib

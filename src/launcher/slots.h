// The configuration slots: entries 1 to 11 of the launcher's own string table,
// written by the building tool into each copy of the launcher. An entry has a
// fixed stored length; its value is ended by a zero character and the rest is
// "." padding, so reading it as a string yields the value. A value that fills
// its entry has no terminator and is read whole (up to the read limit).
//
// A value that may be long occupies a pair of slots, the second continuing the
// first; an unused continuation holds one space, which trimming removes.
#pragma once

#include "launcher/runtime_abi.h"
#include "platform/win32.h"

#include <cstddef>

namespace tx {

enum : unsigned {
    kSlotStartWindow = 1,  // + 2
    kSlotLibrary = 3,      // + 4; "/EXE" in it: the library is embedded
    kSlotProject = 5,      // + 6
    kSlotHostModule = 7,   // + 8
    kSlotVersion = 9,      // oldest runtime version accepted
    kSlotModuleList = 10,  // runtime module list
    kSlotExtractFlags = 11 // one flag per list position; ">G": none
};

// Read limits, terminator included.
inline constexpr int kSlotReadLimit = 260;
inline constexpr int kFlagsReadLimit = 100;

// The longest path the launcher composes (MAX_PATH less the terminator).
inline constexpr size_t kPathMax = 259;

// A pair is read into a buffer that holds both parts at their read limit, so
// that neither part is ever cut: 259 + 259 characters and the terminator.
inline constexpr size_t kPairBufferSize = 2 * (kSlotReadLimit - 1) + 1;

// Reads slot `id` into `buffer` (at least `limit` bytes). Answers the length
// of the value; a missing slot reads as empty.
size_t ReadSlot(HINSTANCE instance, unsigned id, char* buffer, int limit);

// Reads the pair `first_id`, `first_id` + 1 into `buffer` (kPairBufferSize
// bytes): the second part is loaded at the end of the first. Answers the
// length of the value, trailing spaces included.
size_t ReadSlotPair(HINSTANCE instance, unsigned first_id, char* buffer);

// The version rule: the runtime is too old when the expected version sorts
// after the found one, byte by byte as unsigned characters.
bool RuntimeTooOld(const char* expected, const char* found);

// The "ERRE" command that asks a runtime found too old to tell the user so,
// formatted into `out` (kCommandMax + 1 bytes): the bilingual text with the
// main runtime module's name, the expected version and the found version,
// each given twice. A command that would pass kCommandMax characters is made
// to fit by cutting the found version, in both places, then if need be the
// expected version, and last the module name; the fixed text is never cut.
// Answers the length of the command.
size_t FormatTooOldCommand(char* out, const char* module, const char* expected, const char* found);

// Resolves a library specification given as a disk file name against the
// directory of `found_path` (the host module's full file name): the
// specification's file-name part (from its last backslash, or the whole text)
// replaces what follows the last backslash of `found_path`. Without a
// backslash in `found_path`, or with an empty one, the specification stays as
// it is. Answers 1 with the result in `spec` (`capacity` bytes), or 0 when the
// resolved path would be longer than kPathMax characters: `spec` is then left
// unchanged and *resolved_length tells how long it would have been.
int ResolveLibrarySpec(char* spec, size_t capacity, const char* found_path,
                       size_t* resolved_length);

} // namespace tx

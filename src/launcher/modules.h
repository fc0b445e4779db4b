// The runtime modules: the table of their file names, the link to the main
// runtime module (module index 0) and its three entry points, and the way
// start-up stops when the runtime cannot be had.
//
// Module indexes run 0..8; list positions 0..7 (of the runtime module list and
// of the extraction flags) map to indexes 0, 1, 6, 2, 5, 3, 4, 8.
#pragma once

#include "launcher/runtime_abi.h"
#include "platform/win32.h"

#include <cstddef>

namespace tx {

// Module index of list position 0..7.
int ModuleIndexOfPosition(int position);

// Takes the table's block, fills it with the default names and points the
// module table record at it. The table is not published: lookups keep using
// the built-in defaults. Answers 0 when the block cannot be had (the memory
// layer has reported it); the record then holds no table.
int BuildModuleTable();

// Parses the comma-separated runtime module list (modified in place) into the
// table and publishes it; an empty or null text leaves it unpublished. A name
// without "." gets ".DLL"; names are upper-cased (a to z only). A name that
// would not fit 21 characters is refused: the answer is 0, *rejected points
// at that token in the text and *rejected_length is the length the name would
// have had. The table is then left unpublished.
int ParseModuleList(char* text, const char** rejected, size_t* rejected_length);

// The file name of module `index`: the table's entry once the table is
// published and its record readable, otherwise the built-in default ("" for
// an index outside 0..8). Never null.
const char* ModuleNameByIndex(int index);

// The record handed to the runtime at initialisation.
ModuleTableRecord* ModuleTableRecordAddress();

// Frees the table's block; the record then holds no table.
void ReleaseModuleTable();

// Loads the main runtime module and binds "TX4InitInstance", "FinInstance"
// and "TXCALLC". If the module is missing or lacks one of them, shows the
// bilingual message and ends the process with status 0.
void LoadMainRuntime();

// Runtime link state.
bool RuntimeInitialised();
void SetRuntimeInitialised(bool initialised);

// Calls the bound entry points. Whichever of the C or the standard calling
// convention the runtime was built with, the stack is as before afterwards.
int RuntimeInitInstance(void* block, ModuleTableRecord* record);
void RuntimeCall(void* block);

// If the runtime is initialised: "FinInstance" with the command block, then
// the module is freed. Otherwise nothing happens.
void UnloadRuntime();

// Calls a runtime entry point with one or two pointer arguments and answers
// its 32-bit result; safe for both calling conventions (see above).
int CallRuntimeEntry1(FARPROC entry, void* first);
int CallRuntimeEntry2(FARPROC entry, void* first, void* second);

// Shows `message` in a "Torvix 4.0" information box with no owner and ends
// the process with status 0 through the ordinary exit.
[[noreturn]] void StopStartup(const char* message);

// For a text that the launcher cannot pass on whole (a command over 255
// characters, a library path over 259, a module name over 21): unloads the
// runtime if it is initialised, then stops start-up with a message giving the
// length, the limit and the beginning of the text. Nothing is cut and sent.
[[noreturn]] void StopTextTooLong(const char* text, size_t length, size_t limit);

// The message of StopTextTooLong, formatted into `out` (at least
// kTooLongMessageSize bytes); answers its length.
inline constexpr size_t kTooLongMessageSize = 400;
int FormatTextTooLong(char* out, const char* text, size_t length, size_t limit);

} // namespace tx

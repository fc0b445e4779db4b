// What the portable part of the tool's file handling (files.cpp) asks of
// the system, answered by files_posix.cpp or files_windows.cpp.
#pragma once

#include "host/files.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace txlib::files_system {

// The characters that end a path's directory part; the first is the one the
// system writes.
extern const char kSeparators[];

constexpr auto kLockPoll = std::chrono::milliseconds(25);

// The last C library error in words.
std::string Reason();

// The last error of a system call in words.
std::string SystemReason();

unsigned long OwnProcess();

// Positions a stream at a 64-bit offset from `whence`: 0 when it could.
int Seek(std::FILE* f, int64_t offset, int whence);

// What an open stream is: whether its state is known, a directory, a regular
// file, and its size.
struct StreamKind {
    bool known = false;
    bool directory = false;
    bool regular = false;
    int64_t size = 0;
};
StreamKind KindOf(std::FILE* f);

// The directory part of a path ("" for the current directory) and its name.
void SplitPath(const std::string& path, std::string* directory, std::string* name);

// Whether the process `pid` (neither this one nor 0) has ended, so that what
// it left is nobody's. A process that cannot be asked counts as alive.
bool ProcessGone(unsigned long pid);

// The names in `directory` (a path ending in a separator, or "") that may
// hold `mark`; every name where the system cannot pick them out.
std::vector<std::string> NamesHolding(const std::string& directory, const char* mark);

// Removes a temporary file, or a temporary directory and the files in it,
// that a process which has ended left. A file some process still has open
// (Windows) or holds locked (POSIX: a txlib elsewhere) stays, and so does
// anything but files and directories.
bool RemoveLeftover(const std::string& path);

// Makes the file `path` anew, never through a link and never over another
// file; on POSIX it stays open and locked, its descriptor in *file. 1 made,
// 0 the name is taken, -1 another failure (SystemReason tells).
int CreateTemporary(const std::string& path, intptr_t* file);

// Removes the temporary file of an OutputFile that was not committed (when
// `temp` is not empty), its private directory (when not empty) and lets go
// of its descriptor.
void DropTemporary(const std::string& temp, const std::string& private_directory, intptr_t file);

// Makes the private directory of OutputFile::PathToMake in place of the
// temporary file whose descriptor is *file (closed here), and holds it locked
// where the system can. False when it cannot be made.
bool MakePrivateDirectory(const std::string& directory, intptr_t* file);

// A stream for writing the temporary file `temp` (descriptor `file` on
// POSIX); null when none can be had.
std::FILE* OpenTemporary(const std::string& temp, intptr_t file);

} // namespace txlib::files_system

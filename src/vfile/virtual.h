// The virtual file layer: one 16-bit handle space over disk files and members
// of open library containers.
//
// Handles: -1 none; 0..254 a disk handle; 255..999 the container file of the
// current library (library selectors, 255 + index, fall in this range);
// 1000 and above a member, (library index + 1) * 1000 + entry index. A member
// handle acts on its library's current member: a library has one member open
// at a time.
//
// A path whose first character is '|' names a member; any other path is a
// disk path. Paths are copied into working buffers of 260 characters.
//
// This layer and library/ are one (see vfile/vfile.h): members are read
// through the open-library table, and the table opens its containers through
// the handles declared here.
#pragma once

#include "library/libtable.h"
#include "vfile/vfile.h"

#include <cstdint>

namespace tx {

constexpr int kPathMax = 260;     // characters of a working path
constexpr int kDriveBufSize = 16; // drive part of a split path, with its NUL
constexpr int16_t kFirstMemberHandle = 1000;
constexpr uint8_t kStampAttribute = 0x20;
constexpr int16_t kDirectoryGrowthStep = 30;

// Open modes of FileOpenOrCreate.
constexpr int kModeCreate = 0;
constexpr int kModeOpen = 1;

// What the close of a created file stamps it with.
struct StampRecord {
    uint8_t attribute;
    uint16_t date; // FAT date word
    uint16_t time; // FAT time word
};

// The layer's process-wide switches.
struct LayerSettings {
    int32_t report_errors;   // record failures in the error state
    int16_t library_search;  // opens of existing files also look in the search list
    int16_t libraries_first; // ... before the path itself rather than after it
    int16_t stamp_now;       // the close of a created file takes the current date and time
    int16_t pending_stamp;   // the most recent open created its file
    StampRecord stamp;
    int16_t growth_step; // entries by which a full directory grows
};
extern LayerSettings g_layer;

// The current library: an index (-1 none) and its record (null none).
extern int16_t g_current_library;
extern LibraryRecord* g_current_record;
void SelectLibrary(int16_t index);

int16_t SetLibrarySearch(int16_t value);
int16_t SetLibrariesFirst(int16_t value);

// Splits a path into drive (kDriveBufSize bytes), directory, name and
// extension (kPathMax + 1 bytes each). The extension is the text from the
// last '.' anywhere in the path; the directory always ends in a backslash.
// Answers 1, or 0 with all four empty when the drive part (the text up to a
// ':', or the server name of a UNC path) does not fit the drive buffer.
int SplitPath(const char* path, char* drive, char* directory, char* name, char* extension);

// The name and extension of a path (a member path without its '|'), cut to
// kPathMax characters, into `out` (kPathMax + 1 bytes). 0, `out` untouched,
// when the path cannot be split.
int PathFileName(const char* path, char* out);

// Drops a leading '|': 1 if there was one, else 0 and the path unchanged.
int StripMemberPrefix(char* path);

// '|' and the text after the path's last backslash, cut to `max_length`
// characters, into `out` (max_length + 1 bytes).
void MemberPathOf(char* out, const char* path, int16_t max_length);

// Copies at most `count` characters and stores a NUL at destination[count].
char* CopyBounded(char* destination, const char* source, uint16_t count);

// Opens (mode 1) or creates (mode 0) a disk file or member; the handle, or -1,
// goes to *handle. `selector` names the library of a member path. A library
// holds one member open at a time: while a member is being created in it, an
// open or a create of another of its members is refused (error 1008) until
// the created member is closed.
int FileOpenOrCreate(int mode, uint16_t flags, const char* path, int16_t* handle, int16_t selector);
int FileCreate(const char* path, int16_t* handle, int16_t selector);   // mode 0, flags 15
int FileOpen(const char* path, int16_t* handle, int16_t selector);     // mode 1, flags 15
int FileOpenRead(const char* path, int16_t* handle, int16_t selector); // mode 1, flags 13

// Closes a disk file (stamping a created one) or commits a created member.
// A member handle of an open library that has nothing to commit (a member
// open for reading, or none open) closes with 1; one of a library that is not
// open fails.
int FileClose(int16_t handle);

// FileClose without stamping the file, and without spending the stamp that
// the create of another file has left pending.
int FileCloseUnstamped(int16_t handle);

int FileExists(const char* path);
int32_t FileSizeOfPath(const char* path);
int FileByteLocked(int16_t handle, uint32_t offset);
int FileLockingWorks(const char* prefix);
int FileCurrentDir(char* buffer, int16_t size);

// Reading, writing and positioning. Counts are 16-bit; a member's reads and
// seeks stay within the member, and only a member being created is written.
uint16_t FileRead(int16_t handle, void* buffer, uint16_t count);
uint16_t FileWrite(int16_t handle, void* buffer, uint16_t count);
int32_t FileSeek(int16_t handle, int32_t offset, int16_t origin);
int FileReadExact(int16_t handle, void* buffer, uint16_t count);
int FileWriteExact(int16_t handle, void* buffer, uint16_t count);
int FileSeekExact(int16_t handle, int32_t position);
int FileReadAt(int16_t handle, int32_t position, void* buffer, uint16_t count);

// Copies a file through the layer. Selectors (-1 for the disk) choose the
// source and the destination: -1/-1 copies the disk file `second_path` to
// `path`; with a library on either side the member takes the file name of
// `path` (MemberPathOf), or `new_name` for a member destination. The data
// moves in chunks of 65000 bytes and the destination takes the source's date
// and time. A source whose first byte another process holds locked, on a
// volume where locking works, is copied with 'M' for that byte. Answers 1 when
// every byte was copied and the destination closed; 0 otherwise, and then a
// destination already created is closed and removed (a disk file deleted, a
// member's entry marked deleted). Paths longer than 260 characters, a new name
// with a disk destination, a disk copy onto its own source path and a member
// copied into its own library are refused without creating anything.
int FileCopy(int16_t destination, int16_t source, const char* path, const char* second_path,
             const char* new_name);

// Commits the current member of the current library (run by FileClose).
int MemberCommit();

// Writes the current library's header and directory to its container.
int DirectoryWriteBack();

// The one-byte key of scrambled member data; `valid` (optional) tells
// whether the method is one that defines a key (0 and 1).
uint8_t ScrambleKey(uint16_t seed, uint8_t method, int* valid = nullptr);
void XorBytes(void* buffer, uint16_t count, uint8_t key);

// Whether the container's member data can be unscrambled: plain, or a
// scramble method that defines a key. The key goes to *key (0 when plain).
int MemberKey(const LibraryRecord* library, uint8_t* key);

// A directory entry for a new member of the current library, growing a full
// directory first; -1 when none can be had.
int16_t NewMemberEntry();

} // namespace tx

// The open-library table: up to 20 library containers open at a time, each in
// a library record, named by callers with a library selector (255 + index).
//
// A container opens as a file of its own, at a base offset inside a file, or
// nested: as a member of an open library whose data is itself a container,
// sharing that library's container handle. The record also carries the member
// access state of the virtual file layer (the member open in the library, its
// position and sizes), since each library has exactly one.
//
// library/ and vfile/ are one layer, split in two folders by concern: this
// table opens its container files through virtual handles (vfile/virtual.h),
// because a container can be a member of another library, and the virtual
// layer reads members through this table. The container format itself
// (library/container.h) needs neither.
#pragma once

#include "library/container.h"

#include <cstdint>

namespace tx {

constexpr int kLibraryCount = 20;
constexpr int16_t kSelectorBase = 255;
constexpr int kLibraryPathSize = 261; // 260 characters and a NUL

struct LibraryRecord {
    char path[kLibraryPathSize]; // absolute path asked for; empty in a free record
    int16_t container;           // disk handle of the file holding the container; -1 when free
    HeaderBlock* header;         // owned 128-byte header block
    DirEntry* directory;         // owned directory, capacity entries
    DirEntry* current_entry;     // entry of the member open in this library
    int16_t owns_handle;         // 0 when the container handle is a parent library's
    int16_t modified;            // directory changed since the open: written back at close
    int16_t writing;             // the current member is being created, committed at close
    int16_t at_end;              // the position has reached the member's known end
    int16_t new_member;          // the commit raises the used-entry count
    int16_t current_index;       // index of the current entry; -1 in a record never used
    int32_t end_of_data;         // container length; new member data starts here
    int32_t base_offset;         // file offset of the container's first byte
    int32_t member_offset;       // container offset of the current member's data
    int32_t position;            // position within the current member
    int32_t size_at_open;        // entry size when opened for reading; 0 for a new member
    int32_t written_size;        // bytes of a member being created written so far
    int32_t allocated_size;      // kept for the record's layout; not interpreted
    int16_t read_only;           // opened by a read-only open: nothing is written to it
};

// The record of library `index`, or null when the table does not exist or
// the index is outside 0..19.
LibraryRecord* LibraryRecordAt(int16_t index);

// Opens or creates a container into the free record of lowest index and
// stores its selector (-1 on failure). `create` makes a missing container;
// `must_exist` allows the search through the open libraries (by bare name,
// before or after the disk as the layer settings say); `kind` -1 accepts any
// kind; with a `parent` library index the container is that library's member
// of `size` bytes at `base` in the parent's file.
int LibraryOpen(const char* path, int16_t* selector, int16_t create, int16_t must_exist,
                int16_t kind, int16_t parent, int32_t size, int32_t base);

// Sets the read-only switch of the table (0 at start) and answers its
// previous value. While it is on, LibraryOpen creates no container and opens
// a container's file for reading only (DiskSetReadOnlyOpen around the open),
// and the library it opens is read-only for its whole life, as is any library
// nested in a read-only one: members are not created in it (error 1008) and
// its directory is never written back.
int LibrarySetReadOnly(int value);

// LibraryOpen(path, selector, 0, 1, kind, -1, -1, 0).
int LibraryOpenExisting(const char* path, int16_t* selector, int16_t kind);

// Opens an application library of kind 0 and loads its long-name table.
// 0: open; 1: no such file; 2: not a container; 3: the open failed; 4: a
// container of another kind (closed again).
int LibraryOpenApplication(const char* path, int16_t* selector, int32_t base);

// Writes the directory back if it was changed, closes the container file if
// the record owns it (closing first the libraries nested in it), frees the
// record and takes the library off the search list.
int LibraryClose(int16_t selector);

// Makes the selector's library current; 0 and error 1066 for an invalid one.
int LibrarySelect(int16_t selector);

// 1 and the selector replaced by its library index when it names an open
// library; else 0 with the argument unchanged. Records nothing.
int LibraryCheckSelector(int16_t* selector);

// The header's kind of the selector's library, or -2 for an invalid selector.
int16_t LibraryKind(int16_t selector);

// Whether the path opens as a container of that kind (-1: any); quiet, and
// the current library is as before afterwards.
int LibraryProbe(const char* path, int16_t kind);

// 0 when the path does not exist, else LibraryProbe(path, -1).
int LibraryProbeFile(const char* path);

// Releases the current record after a failed open, closing its container
// file first when asked and when the record owns it. Answers 0.
int LibraryAbandon(int close_file);

// The table's life: VirtualInit forgets it, VirtualTerm frees it (libraries
// still open are not closed).
void LibraryTableReset();
void LibraryTableRelease();

} // namespace tx

// The search list of open kind-0 libraries, the name lookup in a library's
// directory, and the long-name tables that map names too long for a directory
// entry to the names the members are stored under.
#pragma once

#include <cstdint>

namespace tx {

constexpr int kSearchListSize = 512;

struct SearchEntry {
    int16_t library;  // index of an open library; -1 in a free entry
    char* long_names; // the library's long-name text (owned), or null
    int16_t word1;    // zero; not interpreted
    int16_t word2;    // zero; not interpreted
};

// The 512 entries; used ones stand together from entry 0 in search order.
const SearchEntry* SearchListEntries();

// Empties the list and the iteration state (without freeing texts).
void SearchListReset();

// Appends the library: 1, or 0 when all 512 entries are used.
int SearchListAdd(int16_t library);
int SearchListContains(int16_t library);
// Removes the first entry holding the library and frees its long-name text;
// the later entries move down.
void SearchListRemove(int16_t library);

// Iteration in search order; each library visited becomes the current one.
// -1 after the last, when the library current at SearchListFirst is current
// again. There is one iteration state for the whole process.
int16_t SearchListFirst();
int16_t SearchListNext();

// 1 and the long-name slot of the last used entry; 0 for an empty list.
int SearchListLast(char*** slot);

// Lookup modes.
constexpr int16_t kLookupTest = 0;    // index of a valid entry, else -1
constexpr int16_t kLookupOpen = 1;    // as test, and the member is opened for reading
constexpr int16_t kLookupReplace = 2; // marks the entry of that name deleted; -1

// Looks the name up in the current library's directory. The name buffer (of
// at least `size` bytes) is translated through the long-name table in force
// and upper-cased in place. Only an open-mode lookup that finds the member
// changes the library's member access state, which it takes over for reading
// that member; every other lookup leaves the state alone, so that a member
// being created survives existence tests, size queries and searches and is
// committed by its close.
int16_t DirectoryLookup(char* name, int16_t mode, int size = 261);

// 1 when the last open-mode lookup found a valid entry of the name but
// refused it, because its data does not lie inside the container or the
// container's scrambling cannot be undone.
int DirectoryLookupRefused();

// Replaces the name (a buffer of `size` bytes) by its stored name when the
// long-name table in force maps it. Answers the name, or null, leaving it
// unchanged, when the stored name would not fit the buffer.
char* LongNameTranslate(char* name, int size = 261);

// Reads the member "|TXBIBLI.LFN" into the long-name slot of the last library
// of the search list. 1 when loaded or there is none; 0 when it could not be
// read whole (a table of 65536 bytes or more is not loaded at all).
int LongNamesLoad();

} // namespace tx

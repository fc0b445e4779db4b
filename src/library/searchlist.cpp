// The search list of open kind-0 libraries, the lookup of a name in the
// current library's directory, and the long-name tables.
#include "library/searchlist.h"
#include "support/memory.h"
#include "support/names.h"
#include "support/trim.h"
#include "vfile/virtual.h"

#include <cstring>

namespace tx {

namespace {

SearchEntry g_list[kSearchListSize];
int g_cursor = kSearchListSize;
char** g_names_in_force = nullptr; // the long-name slot of the entry visited last
int16_t g_library_before = -1;     // current library when the iteration began
int g_lookup_refused = 0;

const char kLongNameMember[] = "|TXBIBLI.LFN";

size_t EntryNameLength(const DirEntry* entry) {
    return strnlen(entry->name, sizeof entry->name);
}

bool NameEquals(const DirEntry* entry, const char* name) {
    const size_t length = EntryNameLength(entry);
    if (std::strlen(name) != length) return false;
    for (size_t i = 0; i < length; ++i)
        if (UpperAscii(entry->name[i]) != UpperAscii(name[i])) return false;
    return true;
}

// Plain byte order of a name against an entry's name.
int CompareBytes(const char* name, const DirEntry* entry) {
    const size_t length = EntryNameLength(entry);
    for (size_t i = 0;; ++i) {
        const unsigned a = static_cast<unsigned char>(name[i]);
        const unsigned b = i < length ? static_cast<unsigned char>(entry->name[i]) : 0u;
        if (a != b) return a < b ? -1 : 1;
        if (a == 0) return 0;
    }
}

void MarkDeleted(DirEntry* entry) {
    entry->state = 0;
    entry->name[0] = static_cast<char>(kEntryDeleted);
}

void FreeEntry(SearchEntry* entry) {
    entry->library = -1;
    entry->long_names = nullptr;
    entry->word1 = entry->word2 = 0;
}

} // namespace

const SearchEntry* SearchListEntries() {
    return g_list;
}

void SearchListReset() {
    for (SearchEntry& entry : g_list)
        FreeEntry(&entry);
    g_cursor = kSearchListSize;
    g_names_in_force = nullptr;
    g_library_before = -1;
}

int SearchListAdd(int16_t library) {
    for (SearchEntry& entry : g_list) {
        if (entry.library == -1) {
            FreeEntry(&entry);
            entry.library = library;
            return 1;
        }
    }
    return 0;
}

int SearchListContains(int16_t library) {
    for (const SearchEntry& entry : g_list)
        if (entry.library == library) return 1;
    return 0;
}

void SearchListRemove(int16_t library) {
    int found = -1;
    for (int i = 0; i < kSearchListSize && found < 0; ++i)
        if (g_list[i].library == library) found = i;
    if (found >= 0) {
        if (g_list[found].long_names != nullptr) BlockFree(g_list[found].long_names);
        FreeEntry(&g_list[found]);
        g_names_in_force = nullptr;
        if (found != kSearchListSize - 1) {
            std::memmove(&g_list[found], &g_list[found + 1],
                         sizeof(SearchEntry) * static_cast<size_t>(kSearchListSize - 1 - found));
            FreeEntry(&g_list[kSearchListSize - 1]);
        }
    }
    g_cursor = 0;
    while (g_cursor < kSearchListSize && g_list[g_cursor].library == -1)
        ++g_cursor;
    g_names_in_force = g_cursor < kSearchListSize ? &g_list[g_cursor].long_names : nullptr;
}

int16_t SearchListFirst() {
    g_library_before = g_current_library;
    g_cursor = -1;
    return SearchListNext();
}

int16_t SearchListNext() {
    if (g_cursor < kSearchListSize) ++g_cursor;
    while (g_cursor < kSearchListSize && g_list[g_cursor].library == -1)
        ++g_cursor;
    if (g_cursor >= kSearchListSize) {
        SelectLibrary(g_library_before);
        return -1;
    }
    g_names_in_force = &g_list[g_cursor].long_names;
    SelectLibrary(g_list[g_cursor].library);
    return g_list[g_cursor].library;
}

int SearchListLast(char*** slot) {
    for (int i = kSearchListSize; i-- > 0;) {
        if (g_list[i].library != -1) {
            *slot = &g_list[i].long_names;
            return 1;
        }
    }
    return 0;
}

char* LongNameTranslate(char* name, int size) {
    if (g_names_in_force == nullptr || *g_names_in_force == nullptr) return name;
    char trimmed[kPathMax + 1];
    CopyBounded(trimmed, name, kPathMax);
    TrimBoth(trimmed);
    char key[kPathMax + 3];
    const size_t length = std::strlen(trimmed);
    key[0] = '\n';
    for (size_t i = 0; i < length; ++i)
        key[1 + i] = UpperAscii(trimmed[i]);
    key[1 + length] = '\t';
    key[2 + length] = 0;
    const char* hit = std::strstr(*g_names_in_force, key);
    if (hit == nullptr) return name;
    hit += length + 2;
    const size_t stored = std::strcspn(hit, "\n");
    if (size <= 0 || stored + 1 > static_cast<size_t>(size)) return nullptr;
    std::memcpy(name, hit, stored);
    name[stored] = 0;
    return name;
}

int DirectoryLookupRefused() {
    return g_lookup_refused;
}

int16_t DirectoryLookup(char* name, int16_t mode, int size) {
    g_lookup_refused = 0;
    LibraryRecord* library = g_current_record;
    if (library == nullptr || library->header == nullptr || library->directory == nullptr)
        return -1;
    const bool translated = LongNameTranslate(name, size) != nullptr;
    for (char* c = name; *c != 0; ++c)
        *c = UpperAscii(*c);
    // A name whose stored form does not fit the buffer names no member.
    if (!translated) return -1;

    const HeaderBlock* header = library->header;
    DirEntry* directory = library->directory;
    const int capacity = header->capacity;
    int found = -1;
    if (header->sorted == 0) {
        const int count = capacity < header->used ? capacity : header->used;
        for (int i = 0; i < count; ++i) {
            if (!NameEquals(&directory[i], name)) continue;
            // Replacing deletes every entry of the name, so that no older
            // valid entry can outlive the one that replaces it.
            if (mode == kLookupReplace)
                MarkDeleted(&directory[i]);
            else if (directory[i].state == 1) {
                found = i;
                break;
            }
        }
        if (found < 0) return -1;
    } else {
        if (capacity == 0) return -1;
        int low = 0;
        while (low < capacity && EntryNameEmpty(&directory[low]))
            ++low;
        if (low == capacity) return -1;
        int high = capacity;
        while (low != high) {
            const int middle = (low + high) / 2;
            if (CompareBytes(name, &directory[middle]) > 0)
                low = middle + 1;
            else
                high = middle;
        }
        if (low == capacity || !NameEquals(&directory[low], name)) return -1;
        found = low;
    }

    DirEntry* entry = &directory[found];
    switch (mode) {
    case kLookupTest:
        return entry->state == 1 ? static_cast<int16_t>(found) : -1;
    case kLookupOpen: {
        if (entry->state != 1) return -1;
        uint8_t key;
        if (!MemberKey(library, &key) || !EntryInsideContainer(entry, library->end_of_data)) {
            g_lookup_refused = 1;
            return -1;
        }
        library->writing = 0;
        library->at_end = 1;
        library->size_at_open = static_cast<int32_t>(entry->size);
        library->member_offset = static_cast<int32_t>(entry->offset);
        library->position = 0;
        library->written_size = 0;
        library->current_index = static_cast<int16_t>(found);
        library->current_entry = entry;
        return static_cast<int16_t>(found);
    }
    case kLookupReplace:
        MarkDeleted(entry);
        return -1;
    default:
        return -1;
    }
}

int LongNamesLoad() {
    if (!FileExists(kLongNameMember)) return 1;
    const int32_t size = FileSizeOfPath(kLongNameMember);
    char** slot;
    if (!SearchListLast(&slot)) return 1;
    // The read count is 16-bit: a table that would not be read whole is not
    // loaded at all.
    if (size < 0 || size > 0xFFFF) return 0;
    int16_t library = -1;
    for (const SearchEntry& entry : g_list)
        if (&entry.long_names == slot) library = entry.library;
    auto* text = static_cast<char*>(BlockAllocLarge(static_cast<uint32_t>(size) + 1));
    if (text == nullptr) return 0;
    int16_t handle;
    if (!FileOpen(kLongNameMember, &handle, static_cast<int16_t>(kSelectorBase + library))) {
        BlockFree(text);
        return 0;
    }
    const int read = FileReadExact(handle, text, static_cast<uint16_t>(size));
    FileClose(handle);
    if (!read) {
        BlockFree(text);
        return 0;
    }
    text[size] = 0;
    if (*slot != nullptr) BlockFree(*slot);
    *slot = text;
    return 1;
}

} // namespace tx

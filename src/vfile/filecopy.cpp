// Copying a file between disk and libraries through virtual handles: disk to
// disk, member to disk, disk to member, member to member. The data moves
// through one buffer, 65000 bytes at a time, and the destination takes the
// source's date and time.
#include "diskfile/diskfile.h"
#include "diskfile/filetime.h"
#include "support/memory.h"
#include "support/names.h"
#include "vfile/internal.h"

#include <cstdio>
#include <cstring>

namespace tx {

namespace {

constexpr uint16_t kCopyChunk = 65000;
constexpr uint8_t kExecutableFirstByte = 0x4D; // 'M' of the MZ signature

// Whether two paths are the same text, letters compared without regard to
// case.
bool SamePathText(const char* a, const char* b) {
    for (;; ++a, ++b) {
        const char x = UpperAscii(*a);
        if (x != UpperAscii(*b)) return false;
        if (x == 0) return true;
    }
}

// Whether a text fits a working path whole.
bool FitsPath(const char* path) {
    return path != nullptr && std::strlen(path) <= static_cast<size_t>(kPathMax);
}

// Whether the first byte of the source is held locked by someone else on a
// volume where locking is known to work: it is then not read, as the image of
// a running executable is not.
bool FirstByteHeld(int16_t source, const char* source_path) {
    if (!FileByteLocked(source, 0)) return false;
    char drive[kDriveBufSize], directory[kPathMax + 1], name[kPathMax + 1], extension[kPathMax + 1];
    const char* text = source_path[0] == '|' ? source_path + 1 : source_path;
    if (!SplitPath(text, drive, directory, name, extension)) return false;
    char prefix[kDriveBufSize + kPathMax + 1];
    std::snprintf(prefix, sizeof prefix, "%s%s", drive, directory);
    return FileLockingWorks(prefix) == 1;
}

// Undoes a destination that did not receive all of the source: it is closed
// with the current date and time rather than the source's, then a disk file
// is deleted and a member's entry marked deleted, so that what is left can
// never pass for a complete copy.
void DiscardDestination(int16_t handle, const char* path, int16_t stamp_now) {
    g_layer.stamp_now = stamp_now;
    if (handle < kFirstMemberHandle) {
        FileClose(handle);
        DiskDelete(path);
        return;
    }
    const int16_t library_index = static_cast<int16_t>((handle - kFirstMemberHandle) / 1000);
    const int16_t entry_index =
        static_cast<int16_t>(handle - (library_index + 1) * kFirstMemberHandle);
    FileClose(handle);
    SelectLibrary(library_index);
    LibraryRecord* library = g_current_record;
    if (library == nullptr || library->directory == nullptr) return;
    DirEntry* entry = &library->directory[entry_index];
    if (entry->state != 1) return; // never committed: the write-back clears it
    entry->state = 0;
    entry->name[0] = static_cast<char>(kEntryDeleted);
    library->modified = 1;
    DirectoryWriteBack();
}

} // namespace

int FileCopy(int16_t destination, int16_t source, const char* path, const char* second_path,
             const char* new_name) {
    const bool source_member = source != -1;
    const bool destination_member = destination != -1;
    if (!FitsPath(path)) return 0;
    // A new name is the name of a member destination; a disk file has none.
    if (new_name != nullptr && !destination_member) return 0;

    char source_path[kPathMax + 1];
    char destination_path[kPathMax + 1];
    if (source_member) {
        MemberPathOf(source_path, path, kPathMax);
    } else if (destination_member) {
        CopyBounded(source_path, path, kPathMax);
    } else {
        if (!FitsPath(second_path)) return 0;
        CopyBounded(source_path, second_path, kPathMax);
        // Creating the destination would empty the source before it is read.
        if (SamePathText(source_path, path)) return 0;
    }
    if (!destination_member) {
        CopyBounded(destination_path, path, kPathMax);
    } else if (new_name != nullptr) {
        // The new member is created under its own name, so that the create
        // replaces an older member of that name and no other.
        if (new_name[0] == 0 || std::strlen(new_name) + 1 > static_cast<size_t>(kPathMax)) return 0;
        destination_path[0] = '|';
        CopyBounded(destination_path + 1, new_name, kPathMax - 1);
    } else {
        MemberPathOf(destination_path, path, kPathMax);
    }

    if (source_member) {
        const int32_t report = g_layer.report_errors;
        g_layer.report_errors = 0;
        const int selected = LibrarySelect(source);
        g_layer.report_errors = report;
        if (!selected) return 0;
    }

    const int32_t size = FileSizeOfPath(source_path);
    if (size < 0) return 0;
    uint16_t chunk = size < kCopyChunk ? static_cast<uint16_t>(size) : kCopyChunk;
    auto* buffer = static_cast<uint8_t*>(BlockAlloc(chunk));
    if (buffer == nullptr) return 0;

    int16_t in = -1;
    if (!FileOpenRead(source_path, &in, source)) {
        BlockFree(buffer);
        return 0;
    }
    // The open may find the source elsewhere than where it was measured (the
    // library search): a copy of the wrong length is not made.
    uint32_t opened_size = 0;
    if (!FileGetSize(in, &opened_size) || opened_size != static_cast<uint32_t>(size)) {
        FileCloseUnstamped(in);
        BlockFree(buffer);
        return 0;
    }
    int first_read;
    if (chunk > 0 && FirstByteHeld(in, source_path)) {
        buffer[0] = kExecutableFirstByte;
        FileSeek(in, 1, 1);
        first_read = FileReadExact(in, buffer + 1, static_cast<uint16_t>(chunk - 1));
    } else {
        first_read = FileReadExact(in, buffer, chunk);
    }
    if (!first_read) {
        FileCloseUnstamped(in);
        BlockFree(buffer);
        return 0;
    }
    int32_t remaining = size - chunk;

    // Source and destination in one library would share its single member
    // access state: the create would take the source's place.
    if (destination_member && in >= kFirstMemberHandle) {
        int16_t index = destination;
        if (!LibraryCheckSelector(&index) || (in - kFirstMemberHandle) / 1000 == index) {
            FileCloseUnstamped(in);
            BlockFree(buffer);
            return 0;
        }
    }

    int16_t out = -1;
    if (!FileCreate(destination_path, &out, destination)) {
        FileCloseUnstamped(in);
        BlockFree(buffer);
        return 0;
    }
    const int16_t stamp_now = g_layer.stamp_now;
    g_layer.stamp_now = 0;

    // Two members may lie in one container file (a library nested in
    // another): each then moves the file away from the other's position, so
    // each is put back at its own before it is read or written.
    const bool members = in >= kFirstMemberHandle && out >= kFirstMemberHandle;
    for (;;) {
        if (members && FileSeek(out, 0, 1) < 0) break;
        if (!FileWriteExact(out, buffer, chunk)) break;
        if (remaining == 0) {
            FileCloseUnstamped(in);
            BlockFree(buffer);
            const int closed = FileClose(out);
            g_layer.stamp_now = stamp_now;
            return closed;
        }
        if (remaining < chunk) chunk = static_cast<uint16_t>(remaining);
        if (members && FileSeek(in, 0, 1) < 0) break;
        if (!FileReadExact(in, buffer, chunk)) break;
        remaining -= chunk;
    }
    // A write or a read failed part way.
    FileCloseUnstamped(in);
    BlockFree(buffer);
    DiscardDestination(out, destination_path, stamp_now);
    return 0;
}

} // namespace tx

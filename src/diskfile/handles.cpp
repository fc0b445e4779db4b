// The disk handle table: slots 2..N+1 chained into a free chain (head slot 0)
// and an open chain (head slot 1), both circular and doubly linked through
// their heads, and the open, create and close that move slots between them.
#include "diskfile/diskfile.h"
#include "diskfile/internal.h"

#include <cstdint>

namespace tx {

namespace {

struct Slot {
    int16_t next;
    int16_t prev;
    HANDLE system; // INVALID_HANDLE_VALUE while free; the capacity in slot 0
};

constexpr int16_t kFreeHead = 0;
constexpr int16_t kOpenHead = 1;

Slot* table = nullptr; // locked for the whole life of the table
int32_t init_count = 0;
int32_t last_error = 0;
int shared_open = 0;
int read_only_open = 0;

int16_t Capacity() {
    return static_cast<int16_t>(reinterpret_cast<intptr_t>(table[0].system));
}

bool IsHandleNumber(int16_t handle) {
    return table != nullptr && handle >= 2 && handle <= Capacity() + 1;
}

void Unlink(int16_t s) {
    table[table[s].prev].next = table[s].next;
    table[table[s].next].prev = table[s].prev;
}

// Puts slot `s` right after the head `head`.
void LinkFront(int16_t head, int16_t s) {
    int16_t first = table[head].next;
    table[s].prev = head;
    table[s].next = first;
    table[first].prev = s;
    table[head].next = s;
}

// The first free slot, or 0 when none can be taken (no table, chain empty, or
// a slot that claims to be free but holds a handle).
int16_t FirstFreeSlot() {
    if (table == nullptr) return 0;
    int16_t s = table[kFreeHead].next;
    if (s == kFreeHead || table[s].system != INVALID_HANDLE_VALUE) return 0;
    return s;
}

void ReleaseSlot(int16_t s) {
    Unlink(s);
    LinkFront(kFreeHead, s);
    table[s].system = INVALID_HANDLE_VALUE;
}

int OpenWithFlags(const char* path, uint16_t flags, int16_t* handle) {
    if (handle == nullptr) {
        disk::SetErrorCode(ERROR_INVALID_PARAMETER);
        return 0;
    }
    *handle = -1;
    if (path == nullptr) {
        disk::SetErrorCode(ERROR_INVALID_PARAMETER);
        return 0;
    }
    // The slot is found before the system is asked, so that a full table
    // never leaves a file opened, created or emptied behind it.
    int16_t slot = FirstFreeSlot();
    if (slot == 0) return 0;

    if (read_only_open != 0) {
        // Nothing is created or emptied, and the file is opened for reading.
        if (!(flags & kDiskOpenExisting)) {
            disk::SetErrorCode(ERROR_ACCESS_DENIED);
            return 0;
        }
        flags = static_cast<uint16_t>((flags | kDiskRead) & ~kDiskWrite);
    }
    DWORD access = 0;
    if (flags & kDiskRead) access |= GENERIC_READ;
    if (flags & kDiskWrite) access |= GENERIC_WRITE;
    if ((flags & kDiskForceShare) || shared_open != 0) flags |= kDiskShareRead | kDiskShareWrite;
    DWORD share = 0;
    if (flags & kDiskShareRead) share |= FILE_SHARE_READ;
    if (flags & kDiskShareWrite) share |= FILE_SHARE_WRITE;
    DWORD disposition = (flags & kDiskOpenExisting) ? OPEN_EXISTING : CREATE_ALWAYS;
    SECURITY_ATTRIBUTES security{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};

    HANDLE system = disk::WithErrorsQuiet([&] {
        return CreateFileA(path, access, share, &security, disposition, FILE_FLAG_RANDOM_ACCESS,
                           nullptr);
    });
    if (system == INVALID_HANDLE_VALUE) {
        disk::SetErrorFromSystem();
        return 0;
    }
    Unlink(slot);
    LinkFront(kOpenHead, slot);
    table[slot].system = system;
    *handle = slot;
    disk::SetErrorRaw(0);
    return 1;
}

} // namespace

namespace disk {

void SetErrorCode(DWORD code) {
    last_error = code == ERROR_SHARING_VIOLATION ? static_cast<int32_t>(ERROR_FILE_NOT_FOUND)
                                                 : static_cast<int32_t>(code);
}

void SetErrorRaw(int32_t value) {
    last_error = value;
}

} // namespace disk

int DiskInitHandles(int capacity) {
    if (init_count > 0) {
        ++init_count;
        return 1;
    }
    if (capacity < 1 || capacity > kDiskMaxCapacity) return 0;
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT,
                                static_cast<SIZE_T>(capacity + 2) * sizeof(Slot));
    if (block == nullptr) return 0;
    auto* slots = static_cast<Slot*>(GlobalLock(block));
    if (slots == nullptr) {
        GlobalFree(block);
        return 0;
    }
    int16_t last = static_cast<int16_t>(capacity + 1);
    for (int16_t s = 2; s <= last; ++s) {
        slots[s].prev = s == 2 ? kFreeHead : static_cast<int16_t>(s - 1);
        slots[s].next = s == last ? kFreeHead : static_cast<int16_t>(s + 1);
        slots[s].system = INVALID_HANDLE_VALUE;
    }
    slots[kFreeHead].next = 2;
    slots[kFreeHead].prev = last;
    slots[kFreeHead].system = reinterpret_cast<HANDLE>(static_cast<intptr_t>(capacity));
    slots[kOpenHead].next = kOpenHead;
    slots[kOpenHead].prev = kOpenHead;
    slots[kOpenHead].system = INVALID_HANDLE_VALUE;
    table = slots;
    init_count = 1;
    SetHandleCount(static_cast<UINT>(capacity));
    return 1;
}

int DiskTermHandles() {
    if (init_count == 0) return 0;
    if (--init_count > 0 || table == nullptr) return 1;
    // Nobody can reach a file through the table once it is gone: close what
    // is still open rather than leak it.
    while (table[kOpenHead].next != kOpenHead) {
        int16_t s = table[kOpenHead].next;
        CloseHandle(table[s].system);
        ReleaseSlot(s);
    }
    HGLOBAL block = GlobalHandle(table);
    table = nullptr;
    if (block == nullptr) return 0;
    GlobalUnlock(block);
    return GlobalFree(block) == nullptr ? 1 : 0;
}

int DiskOpen(const char* path, uint16_t flags, int16_t* handle) {
    return OpenWithFlags(path, static_cast<uint16_t>(flags | kDiskOpenExisting), handle);
}

int DiskCreate(const char* path, uint16_t flags, int16_t* handle) {
    return OpenWithFlags(path, flags, handle);
}

int DiskClose(int16_t handle) {
    HANDLE system = DiskSystemHandle(handle);
    if (system == INVALID_HANDLE_VALUE) return 0; // not open: nothing to close or release
    BOOL closed = CloseHandle(system);
    DWORD error = GetLastError();
    ReleaseSlot(handle);
    if (!closed) {
        disk::SetErrorCode(error);
        return 0;
    }
    disk::SetErrorRaw(0);
    return 1;
}

HANDLE DiskSystemHandle(int16_t handle) {
    return IsHandleNumber(handle) ? table[handle].system : INVALID_HANDLE_VALUE;
}

int32_t DiskLastError() {
    return last_error;
}

int DiskSetSharedOpen(int value) {
    int previous = shared_open;
    shared_open = value;
    return previous;
}

int DiskSetReadOnlyOpen(int value) {
    const int previous = read_only_open;
    read_only_open = value;
    return previous;
}

} // namespace tx

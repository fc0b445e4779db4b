// The global heap. Every live block is kept in a table, so that GlobalHandle
// of an address that is not a block fails (error 6) as on Windows, and the
// lock count of a movable block is visible to GlobalUnlock.
#include "internal.h"
#include "platform/fault.h"

#include <cstdlib>
#include <cstring>
#include <map>

namespace {

struct Block {
    void* data;
    size_t size;
    UINT flags;
    unsigned locks;
};

// Movable blocks are known by a handle that is not their address; fixed
// blocks by their address. Handles are odd numbers, never valid addresses.
std::map<uintptr_t, Block>& ByHandle() {
    static std::map<uintptr_t, Block> blocks;
    return blocks;
}
std::map<void*, uintptr_t>& ByAddress() {
    static std::map<void*, uintptr_t> index;
    return index;
}
uintptr_t next_handle = 0x10001;

Block* Find(HGLOBAL h) {
    auto it = ByHandle().find(reinterpret_cast<uintptr_t>(h));
    return it == ByHandle().end() ? nullptr : &it->second;
}

void* AllocData(size_t size, bool zero) {
    // A zero-byte block still gets an address of its own.
    size_t n = size ? size : 1;
    return zero ? std::calloc(1, n) : std::malloc(n);
}

} // namespace

long txplat::LiveGlobalBlocks() {
    return static_cast<long>(ByHandle().size());
}

using namespace txplat::posix;

extern "C" {

HGLOBAL WINAPI GlobalAlloc(UINT flags, SIZE_T bytes) {
    if (FaultEnter("GlobalAlloc")) return nullptr;
    void* data = AllocData(bytes, flags & GMEM_ZEROINIT);
    if (!data) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    uintptr_t h = (flags & GMEM_MOVEABLE) ? (next_handle += 2) : reinterpret_cast<uintptr_t>(data);
    ByHandle()[h] = Block{data, bytes, flags, 0};
    ByAddress()[data] = h;
    return reinterpret_cast<HGLOBAL>(h);
}

LPVOID WINAPI GlobalLock(HGLOBAL h) {
    if (FaultEnter("GlobalLock")) return nullptr;
    Block* b = Find(h);
    if (!b) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (b->flags & GMEM_MOVEABLE) {
        // A movable block of 0 bytes is made discarded: it has no memory to
        // lock, as on Windows.
        if (b->size == 0) {
            SetLastError(ERROR_DISCARDED);
            return nullptr;
        }
        ++b->locks;
    }
    return b->data;
}

BOOL WINAPI GlobalUnlock(HGLOBAL h) {
    if (FaultEnter("GlobalUnlock")) return FALSE;
    Block* b = Find(h);
    if (!b) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!(b->flags & GMEM_MOVEABLE)) return TRUE; // fixed blocks are never locked
    if (b->locks == 0) {
        SetLastError(ERROR_NOT_LOCKED);
        return FALSE;
    }
    --b->locks;
    SetLastError(NO_ERROR);
    return b->locks != 0;
}

HGLOBAL WINAPI GlobalReAlloc(HGLOBAL h, SIZE_T bytes, UINT flags) {
    if (FaultEnter("GlobalReAlloc")) return nullptr;
    Block* b = Find(h);
    if (!b) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    // A locked movable block, or a fixed one, may move only when asked to.
    bool may_move = (flags & GMEM_MOVEABLE) || ((b->flags & GMEM_MOVEABLE) && b->locks == 0);
    if (!may_move && bytes > b->size) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    void* data = std::realloc(b->data, bytes ? bytes : 1);
    if (!data) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if ((flags & GMEM_ZEROINIT) && bytes > b->size)
        std::memset(static_cast<char*>(data) + b->size, 0, bytes - b->size);
    ByAddress().erase(b->data);
    uintptr_t key = reinterpret_cast<uintptr_t>(h);
    if (!(b->flags & GMEM_MOVEABLE) && data != b->data) {
        // A fixed block is its own handle: the handle moves with it.
        Block moved = *b;
        ByHandle().erase(key);
        key = reinterpret_cast<uintptr_t>(data);
        b = &ByHandle()[key];
        *b = moved;
    }
    b->data = data;
    b->size = bytes;
    ByAddress()[data] = key;
    return reinterpret_cast<HGLOBAL>(key);
}

HGLOBAL WINAPI GlobalHandle(LPCVOID mem) {
    if (FaultEnter("GlobalHandle")) return nullptr;
    auto it = ByAddress().find(const_cast<void*>(mem));
    if (it == ByAddress().end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return reinterpret_cast<HGLOBAL>(it->second);
}

HGLOBAL WINAPI GlobalFree(HGLOBAL h) {
    if (FaultEnter("GlobalFree")) return h;
    Block* b = Find(h);
    if (!b) {
        SetLastError(ERROR_INVALID_HANDLE);
        return h;
    }
    ByAddress().erase(b->data);
    std::free(b->data);
    ByHandle().erase(reinterpret_cast<uintptr_t>(h));
    return nullptr;
}

SIZE_T WINAPI GlobalSize(HGLOBAL h) {
    Block* b = Find(h);
    if (!b) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    return b->size;
}

} // extern "C"

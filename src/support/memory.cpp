// Memory blocks over the global heap: movable, zero-filled, locked once, and
// found again from their locked address with GlobalHandle.
#include "support/memory.h"

#include "platform/win32.h"
#include "support/error.h"

namespace tx {

namespace {

constexpr uint16_t kMinBlockSize = 16;
constexpr uint16_t kMaxBlockSize = 65520;
// Extra bytes that every resize adds to the requested size.
constexpr uint32_t kReallocExtra = 4;

constexpr int16_t kErrFreeNull = 1002;
constexpr int16_t kErrFreeRefused = 1004;
constexpr int16_t kErrNoMemory = 1067;
constexpr int16_t kErrTooLarge = 1081;
constexpr int16_t kErrNotABlock = 1417;
constexpr int16_t kErrStillLocked = 1418;

// The two 16-bit halves of an address, high first, as the messages of 1417
// and 1418 take them (on a 64-bit host, the halves of its low 32 bits).
int AddressHigh(const void* address) {
    return static_cast<int>((reinterpret_cast<uintptr_t>(address) >> 16) & 0xFFFF);
}
int AddressLow(const void* address) {
    return static_cast<int>(reinterpret_cast<uintptr_t>(address) & 0xFFFF);
}

// Allocates a movable zero-filled object and locks it once.
void* AllocLocked(SIZE_T size) {
    HGLOBAL handle = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
    if (!handle) return RaiseErrorPtr(kErrNoMemory);
    void* address = GlobalLock(handle);
    if (!address) {
        // Nobody could ever free an object whose address was never known.
        GlobalFree(handle);
        return RaiseErrorPtr(kErrNoMemory);
    }
    return address;
}

} // namespace

void* BlockAlloc(uint16_t size) {
    if (size < kMinBlockSize) size = kMinBlockSize;
    if (size > kMaxBlockSize) return RaiseErrorPtr(kErrTooLarge);
    return AllocLocked(size);
}

void* BlockAllocLarge(uint32_t size) {
    // A movable object of 0 bytes is created discarded and cannot be locked:
    // an empty request takes one byte rather than failing as out of memory.
    return AllocLocked(size ? size : 1);
}

uint16_t BlockMaxSize() {
    return kMaxBlockSize;
}

void* BlockRealloc(void* address, uint16_t size) {
    HGLOBAL handle = GlobalHandle(address);
    if (!handle) return RaiseErrorPtr(kErrNoMemory);
    GlobalUnlock(handle);
    // In 32 bits: a request of 65535 gives 65539 bytes, not 3.
    SIZE_T new_size = static_cast<uint32_t>(size) + kReallocExtra;
    HGLOBAL moved = GlobalReAlloc(handle, new_size, GMEM_ZEROINIT);
    if (!moved) {
        // The caller keeps its block when the resize fails: lock it again so
        // that the address it holds stays valid.
        GlobalLock(handle);
        return RaiseErrorPtr(kErrNoMemory);
    }
    void* result = GlobalLock(moved);
    if (!result) return RaiseErrorPtr(kErrNoMemory);
    return result;
}

int BlockFree(void* address) {
    if (!address) return RaiseErrorInt(kErrFreeNull);
    HGLOBAL handle = GlobalHandle(address);
    if (!handle) {
        char text[100];
        wsprintfA(text, "Erreur GlobalHandle %d", static_cast<int>(GetLastError()));
        MessageBoxA(nullptr, text, "Erreur", MB_OK);
        return RaiseErrorInt(kErrNotABlock, AddressHigh(address), AddressLow(address));
    }
    // The one lock of the block's life is released here; a block that stays
    // locked is held by someone else and is left alone.
    if (GlobalUnlock(handle))
        return RaiseErrorInt(kErrStillLocked, AddressHigh(address), AddressLow(address));
    if (GlobalFree(handle)) return RaiseErrorInt(kErrFreeRefused);
    return 1;
}

} // namespace tx

// Memory blocks: all dynamic memory of the launcher's own code comes from
// here. A block is a movable, zero-filled global memory object, locked once
// for its whole life and known to its owner by its locked address. Every
// failure is raised through the error state before the caller sees null or 0.
#pragma once

#include <cstdint>

namespace tx {

// A block of `size` bytes (at least 16, at most 65520), or null after raising
// 1081 (too large) or 1067 (no memory).
void* BlockAlloc(uint16_t size);

// A block of any 32-bit size, or null after raising 1067.
void* BlockAllocLarge(uint32_t size);

// The largest size BlockAlloc accepts: 65520.
uint16_t BlockMaxSize();

// Resizes the block to size + 4 bytes, zero-filling what is added. Returns the
// new address (the block may move), or null after raising 1067.
void* BlockRealloc(void* address, uint16_t size);

// Releases a block: 1, or 0 after raising 1002 (null), 1417 (not a block),
// 1418 (still locked) or 1004 (refused).
int BlockFree(void* address);

} // namespace tx

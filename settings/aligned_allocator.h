#pragma once

// Memory blocks handed out on 16-byte boundaries, with a process-wide registry that
// remembers each block's size, so a block can be asked how large it is. The registry holds
// at most kAlignedBlockLimit blocks and keeps them in allocation order.

#include <cstddef>

inline constexpr std::size_t kAlignedBlockLimit = 10000;

// A block of at least size bytes at an address that is a multiple of 16, or nullptr when the
// registry is full or memory runs out.
void* AlignedAlloc(std::size_t size);
// Frees a block from AlignedAlloc. Null and addresses the registry does not know are ignored.
void AlignedFree(void* address);
// The size the block was asked for; 0 for null and for an address the registry does not know.
std::size_t AlignedSize(const void* address);
// How many blocks are handed out now.
std::size_t AlignedBlockCount();

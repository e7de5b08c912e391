#include "settings/aligned_allocator.h"

#include <cstdint>
#include <cstdlib>
#include <limits>
#include <vector>

namespace {

constexpr std::size_t kAlignment = 16;

struct AlignedBlock {
    void* allocation;  // as the allocator returned it
    void* address;     // what the caller holds
    std::size_t size;  // as the caller asked
};

// Only the main window's thread allocates these blocks, so the registry needs no lock.
std::vector<AlignedBlock>& registry() {
    static std::vector<AlignedBlock> blocks;
    return blocks;
}

}  // namespace

void* AlignedAlloc(std::size_t size) {
    std::vector<AlignedBlock>& blocks = registry();
    if (blocks.size() >= kAlignedBlockLimit) return nullptr;
    // A size this close to the top would wrap the padded request into a small allocation.
    if (size > std::numeric_limits<std::size_t>::max() - kAlignment) return nullptr;
    void* allocation = std::malloc(size + kAlignment);
    if (!allocation) return nullptr;
    // Rounding down from allocation + 16 lands 1 to 16 bytes in, and leaves size bytes after.
    const auto padded = reinterpret_cast<std::uintptr_t>(allocation) + kAlignment;
    void* address = reinterpret_cast<void*>(padded & ~static_cast<std::uintptr_t>(kAlignment - 1));
    blocks.push_back({allocation, address, size});
    return address;
}

void AlignedFree(void* address) {
    if (!address) return;
    std::vector<AlignedBlock>& blocks = registry();
    for (auto it = blocks.begin(); it != blocks.end(); ++it) {
        if (it->address == address) {
            std::free(it->allocation);
            blocks.erase(it);
            return;
        }
    }
}

std::size_t AlignedSize(const void* address) {
    if (!address) return 0;
    for (const AlignedBlock& block : registry())
        if (block.address == address) return block.size;
    return 0;
}

std::size_t AlignedBlockCount() {
    return registry().size();
}

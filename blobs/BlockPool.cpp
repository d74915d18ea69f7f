#include "blobs/BlockPool.h"

#include <algorithm>
#include <mutex>
#include <new>
#include <vector>

namespace blockpool {
namespace {

// Smaller blocks come and go cheaply through the allocator itself.
constexpr std::size_t kSmallestKept = 256u << 10;
constexpr std::size_t kMostBlocks = 8;
constexpr std::size_t kMostBytes = 128u << 20;  // as much as the labeller's own tables keep

struct Block {
    void* memory;
    std::size_t capacity;
};

struct Pool {
    Pool() { blocks.reserve(kMostBlocks); }
    std::mutex lock;
    std::vector<Block> blocks;
    std::size_t bytes = 0;
};

// Never destroyed: blobs that outlive static destruction still give back.
Pool& pool() {
    static Pool* const kept = new Pool;
    return *kept;
}

}  // namespace

void* take(std::size_t bytes, std::size_t& capacity) {
    if (bytes >= kSmallestKept) {
        Pool& p = pool();
        const std::lock_guard<std::mutex> hold(p.lock);
        auto best = p.blocks.end();
        for (auto it = p.blocks.begin(); it != p.blocks.end(); ++it)
            if (it->capacity >= bytes && (best == p.blocks.end() || it->capacity < best->capacity)) best = it;
        if (best != p.blocks.end()) {
            const Block found = *best;
            p.blocks.erase(best);
            p.bytes -= found.capacity;
            capacity = found.capacity;
            return found.memory;
        }
    }
    capacity = bytes;
    return ::operator new(bytes);
}

void giveBack(void* block, std::size_t capacity) noexcept {
    if (!block) return;
    if (capacity >= kSmallestKept) {
        Pool& p = pool();
        const std::lock_guard<std::mutex> hold(p.lock);
        // A full pool lets its smallest block go to make room for a larger one.
        if (p.blocks.size() >= kMostBlocks || p.bytes + capacity > kMostBytes) {
            auto smallest = std::min_element(p.blocks.begin(), p.blocks.end(),
                                             [](const Block& a, const Block& b) { return a.capacity < b.capacity; });
            if (smallest != p.blocks.end() && smallest->capacity < capacity) {
                ::operator delete(smallest->memory);
                p.bytes -= smallest->capacity;
                p.blocks.erase(smallest);
            }
        }
        if (p.blocks.size() < kMostBlocks && p.bytes + capacity <= kMostBytes) {
            p.blocks.push_back({block, capacity});  // within the reserved room: no allocation
            p.bytes += capacity;
            return;
        }
    }
    ::operator delete(block);
}

std::size_t keptBytes() {
    Pool& p = pool();
    const std::lock_guard<std::mutex> hold(p.lock);
    return p.bytes;
}

}  // namespace blockpool

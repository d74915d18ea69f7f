#pragma once
// Large blocks of memory that busy pictures need again and again (the edge
// point logs and the placed points), kept for the next picture instead of
// going back to the system: faulting fresh pages in costs more than labelling
// the points in them. Any thread may take and give back.

#include <cstddef>

namespace blockpool {

// At least bytes of raw memory; capacity gets how many there are.
void* take(std::size_t bytes, std::size_t& capacity);
// A block from take, with the capacity take gave.
void giveBack(void* block, std::size_t capacity) noexcept;
// Bytes the pool keeps now (at most 128 MB).
std::size_t keptBytes();

}  // namespace blockpool

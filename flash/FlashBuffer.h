#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

// An image buffer of a flash operation. It lives for one run of the
// operation and is released on every path by its owner.
using FlashBuffer = std::unique_ptr<uint8_t[]>;

// Hands out a buffer of the given size, or null when memory is short. The
// program uses AllocateFlashBuffer; tests pass one that can refuse.
using BufferAllocator = std::function<FlashBuffer(size_t size)>;

// Heap allocation that reports a shortage as null instead of throwing.
FlashBuffer AllocateFlashBuffer(size_t size);

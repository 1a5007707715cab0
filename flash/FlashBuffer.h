#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

// Gives a flash buffer back when its owner lets go of it.
struct FlashBufferRelease {
    void operator()(uint8_t* data) const;
};

// An image buffer of a flash operation. It lives for one run of the
// operation and is released on every path by its owner.
using FlashBuffer = std::unique_ptr<uint8_t[], FlashBufferRelease>;

// Hands out a buffer of the given size, or null when memory is short. The
// program uses AllocateFlashBuffer; tests pass one that can refuse.
using BufferAllocator = std::function<FlashBuffer(size_t size)>;

// A buffer of size bytes (contents unspecified), or null when memory is
// short; never throws. A released buffer is kept for the next run that asks
// for the same size: every run would otherwise take fresh memory from the
// system and pay for faulting in each of its pages, which costs more than
// the whole upgrade of an image against a fast drive.
FlashBuffer AllocateFlashBuffer(size_t size);

// Buffers handed out and not yet released, for checks that a flash
// operation releases what it took.
int LiveFlashBuffers();

#include "flash/FlashBuffer.h"

#include <cstddef>
#include <new>

namespace {

// Each buffer carries its size in front of the bytes its owner sees.
struct alignas(std::max_align_t) BufferHeader {
    size_t size;
};

// Released buffers waiting for the next run: one upgrade needs two. The
// flash operations run on the one user-interface thread, so plain variables
// do.
constexpr int KeptBuffers = 2;
BufferHeader* keptBuffers[KeptBuffers];
int liveBuffers = 0;

BufferHeader* HeaderOf(uint8_t* data) {
    return reinterpret_cast<BufferHeader*>(data) - 1;
}

uint8_t* DataOf(BufferHeader* header) {
    return reinterpret_cast<uint8_t*>(header + 1);
}

void Free(BufferHeader* header) {
    header->~BufferHeader();
    ::operator delete(header);
}

}  // namespace

FlashBuffer AllocateFlashBuffer(size_t size) {
    BufferHeader* header = nullptr;
    for (BufferHeader*& slot : keptBuffers) {
        BufferHeader* kept = slot;
        slot = nullptr;
        if (!kept) continue;
        if (kept->size == size) {
            header = kept;
            break;
        }
        Free(kept);  // a size no run is asking for any more
    }
    if (!header) {
        if (size > static_cast<size_t>(-1) - sizeof(BufferHeader)) return nullptr;
        void* memory = ::operator new(sizeof(BufferHeader) + size, std::nothrow);
        if (!memory) return nullptr;
        header = new (memory) BufferHeader{size};
    }
    ++liveBuffers;
    return FlashBuffer(DataOf(header));
}

void FlashBufferRelease::operator()(uint8_t* data) const {
    if (!data) return;
    --liveBuffers;
    BufferHeader* header = HeaderOf(data);
    for (BufferHeader*& slot : keptBuffers) {
        if (slot == nullptr) {
            slot = header;
            return;
        }
    }
    Free(header);
}

int LiveFlashBuffers() {
    return liveBuffers;
}

#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "payload/FirmwarePayload.h"

// A filled payload block with a patterned image and its checksum text.
inline std::vector<uint8_t> MakePayloadBlock() {
    std::vector<uint8_t> block(PayloadBlockSize, 0);
    uint8_t* image = block.data() + PayloadImageOffset;
    for (uint32_t i = 0; i < ImageSize; ++i) image[i] = static_cast<uint8_t>(i * 31 + (i >> 9));
    std::memcpy(block.data() + PayloadVersionOffset, "1.58", 4);
    char checksum[8];
    std::snprintf(checksum, sizeof checksum, "%04X", ImageChecksum(image, ImageSize));
    std::memcpy(block.data() + PayloadChecksumOffset, checksum, 4);
    block[PayloadModelOffset] = '1';
    return block;
}

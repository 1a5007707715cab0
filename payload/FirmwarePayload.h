#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "payload/PayloadLayout.h"

// 16-bit byte sum of a range, each byte taken unsigned, modulo 65536.
uint16_t ImageChecksum(const uint8_t* start, size_t length);

// Read-only view of a payload block (PayloadBlockSize bytes).
class FirmwarePayload {
  public:
    explicit FirmwarePayload(const uint8_t* block) : block_(block) {}

    // The block the program carries.
    static FirmwarePayload Program();

    // True while the first 15 bytes still spell the placeholder.
    bool IsPlaceholder() const;
    // The ImageSize bytes of the image.
    const uint8_t* Image() const { return block_ + PayloadImageOffset; }
    // The value of the checksum text, read as "%X" reads it, low 16 bits.
    uint16_t StoredChecksum() const;
    // The version text, up to 4 characters.
    std::string Version() const;
    // The model digit minus '0', modulo 256.
    uint8_t ModelId() const;

  private:
    const uint8_t* block_;
};

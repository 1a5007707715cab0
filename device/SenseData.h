#pragma once

#include <cstddef>
#include <cstdint>

// What a drive said about a command that ended in CHECK CONDITION: its sense
// key, additional sense code and qualifier. Every back-end decodes what its
// carrier returned (ASPI's sense area, the pass-through sense buffer, SG_IO's
// sense buffer) with DecodeSense.
struct SenseData {
    bool Present = false;   // sense data of a known format came back
    bool Deferred = false;  // 71h/73h: it is about an earlier command
    uint8_t SenseKey = 0;
    uint8_t Asc = 0;   // 0 when the drive returned too few bytes to hold it
    uint8_t Ascq = 0;  // the same
};

// Decodes fixed-format (70h/71h) or descriptor-format (72h/73h) sense data
// from the returned bytes at bytes. Nothing past them is read, nor, in the
// fixed format, past what its additional length (byte 7) covers. Any other
// response code, or too few bytes for the sense key, is no sense data.
SenseData DecodeSense(const uint8_t* bytes, size_t returned);

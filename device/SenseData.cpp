#include "device/SenseData.h"

namespace {

// Fixed format: the sense key in byte 2, the additional length in byte 7,
// ASC and ASCQ in bytes 12 and 13. Descriptor format: key, ASC and ASCQ in
// bytes 1 to 3.
constexpr size_t FixedKeyAt = 2;
constexpr size_t FixedAdditionalLengthAt = 7;
constexpr size_t FixedAscAt = 12;
constexpr size_t DescriptorKeyAt = 1;

}  // namespace

SenseData DecodeSense(const uint8_t* bytes, size_t returned) {
    SenseData sense;
    if (returned == 0) return sense;
    const uint8_t code = bytes[0] & 0x7F;
    size_t keyAt = DescriptorKeyAt;
    if (code == 0x70 || code == 0x71) {
        keyAt = FixedKeyAt;
        if (returned > FixedAdditionalLengthAt) {
            const size_t described = FixedAdditionalLengthAt + 1 + bytes[FixedAdditionalLengthAt];
            if (described < returned) returned = described;
        }
    } else if (code != 0x72 && code != 0x73) {
        return sense;
    }
    if (returned <= keyAt) return sense;
    const size_t ascAt = keyAt == FixedKeyAt ? FixedAscAt : keyAt + 1;
    sense.Present = true;
    sense.Deferred = (code & 1) != 0;
    sense.SenseKey = bytes[keyAt] & 0x0F;
    if (returned > ascAt) sense.Asc = bytes[ascAt];
    if (returned > ascAt + 1) sense.Ascq = bytes[ascAt + 1];
    return sense;
}

#include "payload/FirmwarePayload.h"

#include <cstring>

#include "payload/FirmwarePayloadBlock.h"

uint16_t ImageChecksum(const uint8_t* start, size_t length) {
    uint16_t sum = 0;
    for (size_t i = 0; i < length; ++i) sum = static_cast<uint16_t>(sum + start[i]);
    return sum;
}

FirmwarePayload FirmwarePayload::Program() {
    return FirmwarePayload(FirmwarePayloadBlock);
}

bool FirmwarePayload::IsPlaceholder() const {
    return std::memcmp(block_, PlaceholderText, PlaceholderLength) == 0;
}

namespace {

bool IsSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

// The checksum text is read the way the "%X" conversion reads it: leading
// white space, an optional sign, an optional "0x", then hexadecimal digits of
// either case up to the first other character; no digit reads as 0. Written
// out by hand so the result does not hang on a C library's scanf.
uint16_t FirmwarePayload::StoredChecksum() const {
    char text[PayloadChecksumLength + 1];
    std::memcpy(text, block_ + PayloadChecksumOffset, PayloadChecksumLength);
    text[PayloadChecksumLength] = '\0';

    const char* p = text;
    while (IsSpace(*p)) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && HexDigitValue(p[2]) >= 0) p += 2;
    uint32_t value = 0;
    bool anyDigit = false;
    for (; HexDigitValue(*p) >= 0; ++p) {
        value = value * 16 + static_cast<uint32_t>(HexDigitValue(*p));
        anyDigit = true;
    }
    if (!anyDigit) return 0;
    if (negative) value = 0u - value;
    return static_cast<uint16_t>(value);
}

std::string FirmwarePayload::Version() const {
    const char* text = reinterpret_cast<const char*>(block_ + PayloadVersionOffset);
    return std::string(text, strnlen(text, PayloadVersionLength));
}

uint8_t FirmwarePayload::ModelId() const {
    return static_cast<uint8_t>(block_[PayloadModelOffset] - '0');
}

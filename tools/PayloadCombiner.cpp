#include "tools/PayloadCombiner.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "payload/FirmwarePayload.h"

namespace {

constexpr size_t VersionZeroOffset = 4;
constexpr size_t ChecksumEnd = PayloadChecksumOffset + PayloadChecksumLength;  // 9

bool AllZero(const uint8_t* start, const uint8_t* end) {
    return std::all_of(start, end, [](uint8_t b) { return b == 0; });
}

bool IsPrintable(uint8_t c) {
    return c >= 0x20 && c <= 0x7E;
}

bool IsHexDigit(uint8_t c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// A field of at most `size` characters accepted by `accept`, at least one,
// then NUL padding to the end of the field.
template <typename Accept>
bool IsPaddedText(const uint8_t* field, size_t size, Accept accept) {
    size_t length = 0;
    while (length < size && field[length] != 0) {
        if (!accept(field[length])) return false;
        ++length;
    }
    return length > 0 && AllZero(field + length, field + size);
}

std::string FieldText(const uint8_t* field, size_t size) {
    const char* text = reinterpret_cast<const char*>(field);
    return std::string(text, strnlen(text, size));
}

}  // namespace

std::vector<size_t> FindUnfilledBlocks(const std::vector<uint8_t>& program) {
    std::vector<size_t> found;
    if (program.size() < PayloadBlockSize) return found;
    const uint8_t* begin = program.data();
    const uint8_t* const last = begin + (program.size() - PayloadBlockSize);
    const uint8_t* const placeholder = reinterpret_cast<const uint8_t*>(PlaceholderText);
    for (const uint8_t* p = begin; p <= last; ++p) {
        p = std::search(p, last + PlaceholderLength, placeholder, placeholder + PlaceholderLength);
        if (p > last) break;
        if (AllZero(p + PlaceholderLength, p + PayloadBlockSize)) {
            found.push_back(static_cast<size_t>(p - begin));
            p += PayloadBlockSize - 1;
        }
    }
    return found;
}

std::vector<size_t> FindFilledBlocks(const std::vector<uint8_t>& program) {
    std::vector<size_t> found;
    if (program.size() < PayloadBlockSize) return found;
    const size_t last = program.size() - PayloadBlockSize;
    for (size_t offset = 0; offset <= last; ++offset) {
        const uint8_t* h = program.data() + offset;
        // The zero runs rule out nearly every position before the texts are
        // looked at.
        if (h[VersionZeroOffset] != 0 || !AllZero(h + ChecksumEnd, h + PayloadModelOffset) ||
            !AllZero(h + PayloadModelOffset + 1, h + PayloadHeaderSize))
            continue;
        if (h[PayloadModelOffset] < '0' || h[PayloadModelOffset] > '9') continue;
        if (!IsPaddedText(h + PayloadVersionOffset, PayloadVersionLength, IsPrintable) ||
            !IsPaddedText(h + PayloadChecksumOffset, PayloadChecksumLength, IsHexDigit))
            continue;
        found.push_back(offset);
    }
    return found;
}

FilledBlockInfo DescribeFilledBlock(const uint8_t* block) {
    const FirmwarePayload payload(block);
    FilledBlockInfo info;
    info.version = FieldText(block + PayloadVersionOffset, PayloadVersionLength);
    info.checksumText = FieldText(block + PayloadChecksumOffset, PayloadChecksumLength);
    info.imageChecksum = ImageChecksum(payload.Image(), ImageSize);
    info.checksumMatches = payload.StoredChecksum() == info.imageChecksum;
    info.modelDigit = static_cast<char>(block[PayloadModelOffset]);
    return info;
}

std::string CheckVersionText(const std::string& version) {
    if (version.empty()) return "the version text is empty";
    if (version.size() > PayloadVersionLength)
        return "the version text \"" + version + "\" is longer than 4 characters";
    for (char c : version)
        if (!IsPrintable(static_cast<uint8_t>(c)))
            return "the version text holds a character that is not printable ASCII";
    return "";
}

std::string CheckModelText(const std::string& model) {
    if (model.size() != 1 || model[0] < '0' || model[0] > '9')
        return "the model must be one digit 0 to 9, not \"" + model + "\"";
    return "";
}

void FillPayloadBlock(uint8_t* block, const uint8_t* image, const std::string& version,
                      char modelDigit) {
    std::memset(block, 0, PayloadHeaderSize);
    std::memcpy(block + PayloadVersionOffset, version.data(),
                std::min(version.size(), PayloadVersionLength));
    char checksum[PayloadChecksumLength + 1];
    std::snprintf(checksum, sizeof checksum, "%04X",
                  static_cast<unsigned>(ImageChecksum(image, ImageSize)));
    std::memcpy(block + PayloadChecksumOffset, checksum, PayloadChecksumLength);
    block[PayloadModelOffset] = static_cast<uint8_t>(modelDigit);
    std::memcpy(block + PayloadImageOffset, image, ImageSize);
}

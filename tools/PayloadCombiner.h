#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "payload/PayloadLayout.h"

// Finding and filling the payload block inside a built program file. The
// program is built with an unfilled block: the placeholder text followed by
// zeros up to the block's full length. The placeholder literal that the
// program compares against may stand elsewhere in the file too, but never
// followed by a block's worth of zeros.

// Offsets of every unfilled block in the file, in file order.
std::vector<size_t> FindUnfilledBlocks(const std::vector<uint8_t>& program);

// Offsets of every block that looks filled the way FillPayloadBlock fills
// one: version text, zero, checksum digits, zeros, model digit, zeros, with
// the whole image inside the file.
std::vector<size_t> FindFilledBlocks(const std::vector<uint8_t>& program);

// What a filled block holds.
struct FilledBlockInfo {
    std::string version;
    std::string checksumText;
    uint16_t imageChecksum;  // what the image really sums to
    bool checksumMatches;    // the text, read as the program reads it, equals the sum
    char modelDigit;
};
FilledBlockInfo DescribeFilledBlock(const uint8_t* block);

// The rules for the texts that go into the header; each returns an empty
// string when the text is acceptable, otherwise the reason it is not.
std::string CheckVersionText(const std::string& version);
std::string CheckModelText(const std::string& model);

// Writes the whole header and the image into block (PayloadBlockSize bytes):
// version NUL-padded to 4 bytes, byte 4 zero, the image checksum as 4
// upper-case hex digits, bytes 9..15 zero, the model digit, bytes 17..31
// zero, then the image. The texts must have passed the checks above.
void FillPayloadBlock(uint8_t* block, const uint8_t* image, const std::string& version,
                      char modelDigit);

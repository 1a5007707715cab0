#pragma once

#include <cstddef>
#include <cstdint>

// The firmware payload block: a 32-byte header followed by the image.
// Offsets are from the start of the block.
constexpr uint32_t ImageSize = 0x20000;
constexpr size_t PayloadHeaderSize = 32;
constexpr size_t PayloadBlockSize = PayloadHeaderSize + ImageSize;  // 0x20020

constexpr size_t PayloadVersionOffset = 0;
constexpr size_t PayloadVersionLength = 4;
constexpr size_t PayloadChecksumOffset = 5;
constexpr size_t PayloadChecksumLength = 4;
constexpr size_t PayloadModelOffset = 16;
constexpr size_t PayloadImageOffset = PayloadHeaderSize;

// An unfilled block starts with these 15 characters (no terminator compared).
constexpr char PlaceholderText[] = "INSERT_FIRMWARE";
constexpr size_t PlaceholderLength = sizeof PlaceholderText - 1;
static_assert(PlaceholderLength == 15, "placeholder is 15 characters");

#pragma once

#include <cstddef>
#include <cstdint>

// The drive models a payload can be for, by its model digit: the drive's
// inquiry vendor (8) and product (16) as one 24-character field, padded with
// blanks, and the pattern of the firmware versions the image replaces ('*'
// stands for any one character). The start-up message that names the model
// and the model guard of the unattended runs both read this one table.
struct DriveModel {
    uint8_t modelId;
    const char* vendorProduct;   // exactly 24 characters
    const char* versionPattern;  // "5.*V"
    const char* noDeviceText;    // what start-up shows when no drive is found
};

constexpr size_t ModelFieldLength = 24;

// The model of this digit, or null for a digit that names none (0, 2, 8..).
const DriveModel* DriveModelFor(uint8_t modelId);

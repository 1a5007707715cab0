#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

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

// Whether a revision text matches the model's version pattern position by
// position ('*' matches any one character). The pattern must cover the text
// exactly: a pattern longer than the four characters an inquiry carries
// ("5.*VA") asks for a character no drive reports, so nothing matches it.
bool RevisionMatches(const DriveModel& model, const std::string& revision);

// Whether a payload's version text can stand for a drive revision of the
// model of this digit: the text, padded with blanks to the inquiry's four
// characters as a drive reports a shorter revision, matches the model's
// pattern. False for a digit that names no model.
bool VersionFitsModel(uint8_t modelId, const std::string& version);

// The width of the revision field of an inquiry.
constexpr size_t RevisionFieldLength = 4;

#pragma once

#include <cstdint>
#include <string>

#include "device/DeviceRecord.h"
#include "flash/OperatorFeedback.h"

// What the Upgrade and Save operations show alike.

// An unfilled payload block: the window says so from the start, and the
// upgrade refuses with the same words.
constexpr char NeedCombineText[] = "Need Combine firmware first !!";
constexpr char WriteMemoryFailedText[] = "Memory (Write) Initialization Failed!!";

// "Open Device (adapter target)VendorProduct Failed!!"
std::string OpenDeviceFailedText(const DeviceRecord& record);
// The chunk that failed too often: its 64 KB bank in lower-case hex and its
// offset in the bank as four upper-case digits.
std::string ChunkErrorText(uint32_t chunkOffset);
// "Flash size not match!! (40000 / 20000)": a drive whose flash is not the
// image's size.
std::string FlashSizeMismatchText(uint32_t flashSize);
// The browse, Upgrade and Exit buttons, in this order.
void DisableOperationButtons(OperatorFeedback& feedback);
void EnableOperationButtons(OperatorFeedback& feedback);

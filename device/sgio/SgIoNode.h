#pragma once

#include <cstdint>
#include <string>

#include "device/DeviceRecord.h"

// The device node a drive was found at: /dev/srN (the CD driver's node) or
// /dev/sgN (the SCSI generic node). A record carries it in two of its
// reserved bytes after DriveLetter, so it names its node wherever it is
// copied; the ASPI and pass-through back-ends leave them 0.
enum class SgIoNodeKind : uint8_t { None = 0, Cd = 1, Generic = 2 };

struct SgIoNode {
    SgIoNodeKind kind;
    uint8_t number;
};

// The node numbers the enumeration tries: /dev/sr0../dev/sr31 and
// /dev/sg0../dev/sg255.
constexpr int SgIoCdNodeCount = 32;
constexpr int SgIoGenericNodeCount = 256;

// "/dev/sr0", "/dev/sg3"; "" for SgIoNodeKind::None.
std::string SgIoNodePath(SgIoNode node);

void StoreSgIoNode(DeviceRecord& record, SgIoNode node);
// The node a record names; kind None for a record of another back-end.
SgIoNode SgIoNodeOf(const DeviceRecord& record);
// The device path of a record found by the SG_IO back-end; "" for others.
std::string SgIoDevicePath(const DeviceRecord& record);

#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// One found drive, exactly as the drive described itself. The record is a
// plain 140-byte value that is copied whole wherever it moves; every byte
// that no probe writes stays zero, and every text field keeps a terminating
// zero byte after the inquiry bytes copied into it.
struct DeviceRecord {
    uint8_t Reserved0;
    uint8_t AdapterId;  // ASPI host adapter; 0 on pass-through
    uint8_t TargetId;   // ASPI target; 0 on pass-through
    uint8_t Lun;        // only LUN 0 is ever addressed
    uint16_t ChipCode;  // 0x3120, 0x3140 or 0x3180
    uint16_t VersionMajor;
    uint16_t VersionMinor;
    uint8_t Reserved10[2];
    uint32_t FlashSize;  // bytes
    char Vendor[8 + 1];
    char Product[16 + 1];
    char Revision[4 + 1];
    char VendorProduct[24 + 1];
    uint8_t Reserved72[64];
    char DriveLetter;  // 'C'..'Z' on pass-through, 0 on ASPI
    // Bytes 0 and 1: the device node on the SG_IO back-end (sgio/SgIoNode.h);
    // 0 on the others.
    uint8_t Reserved137[3];
};

// The record's layout is shared with nobody outside the program, but the
// little-endian multi-byte fields and the offsets below are what the rest of
// the code (and its tests) take for granted.
static_assert(sizeof(DeviceRecord) == 140, "DeviceRecord is 140 bytes");
static_assert(offsetof(DeviceRecord, AdapterId) == 1, "AdapterId offset");
static_assert(offsetof(DeviceRecord, TargetId) == 2, "TargetId offset");
static_assert(offsetof(DeviceRecord, Lun) == 3, "Lun offset");
static_assert(offsetof(DeviceRecord, ChipCode) == 4, "ChipCode offset");
static_assert(offsetof(DeviceRecord, VersionMajor) == 6, "VersionMajor offset");
static_assert(offsetof(DeviceRecord, VersionMinor) == 8, "VersionMinor offset");
static_assert(offsetof(DeviceRecord, FlashSize) == 12, "FlashSize offset");
static_assert(offsetof(DeviceRecord, Vendor) == 16, "Vendor offset");
static_assert(offsetof(DeviceRecord, Product) == 25, "Product offset");
static_assert(offsetof(DeviceRecord, Revision) == 42, "Revision offset");
static_assert(offsetof(DeviceRecord, VendorProduct) == 47, "VendorProduct offset");
static_assert(offsetof(DeviceRecord, Reserved72) == 72, "reserved block offset");
static_assert(offsetof(DeviceRecord, DriveLetter) == 136, "DriveLetter offset");

// A record with every byte zero.
DeviceRecord ZeroDeviceRecord();

// A text field of a record up to its terminating zero, never read past the
// field (a record is plain bytes); the trimmed form also drops the blanks
// that pad the inquiry texts at either end.
std::string FieldText(const char* field, size_t size);
std::string TrimmedFieldText(const char* field, size_t size);

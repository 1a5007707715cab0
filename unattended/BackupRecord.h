#pragma once

#include <cstdint>
#include <string>

#include "device/DeviceRecord.h"
#include "unattended/RunLog.h"

// The record beside each backup: NAME.txt beside NAME.bin says which drive
// the flash was read from, when, by which program, and the SHA-256 of
// NAME.bin, so that a restore can tell a whole backup of this drive model
// from a damaged or a foreign one. Plain text, one key=value a line:
//
//   vendor=DVD-ROM\x20
//   product=16X            \x20
//   revision=5.0V
//   chip_code=0x3120
//   version_major=1
//   version_minor=0
//   flash_size=131072
//   date=2024-05-01 03:04:07
//   program=Flash Upgrade Program 1.58
//   sha256=0a1b...(64 hex digits)
//
// Values are bytes. The inquiry fields are written whole, exactly as the
// drive reported them (8, 16 and 4 bytes, padding included). In a value a
// backslash is written "\\", and every byte outside the printable ASCII
// range "\xHH" (two hex digits), so a line stays one line whatever the
// drive reported. A value's last byte, when it is a blank, is written
// "\x20": editors drop blanks at the end of a line, and the field would
// lose its padding. The blanks before it stay as they are, readable.
struct BackupRecord {
    std::string vendor;    // 8 bytes
    std::string product;   // 16 bytes
    std::string revision;  // 4 bytes
    uint16_t chipCode = 0;
    uint16_t versionMajor = 0;
    uint16_t versionMinor = 0;
    uint32_t flashSize = 0;
    std::string date;     // "2024-05-01 03:04:07", local time, as the log writes it
    std::string program;  // the program's name and version
    std::string sha256;   // 64 lower-case hex digits
};

// The record of a backup of flashSize bytes at flash, read from drive.
BackupRecord RecordOfBackup(const DeviceRecord& drive, const uint8_t* flash, uint32_t flashSize,
                            const LogTime& when, const std::string& program);

// The text, each line ended with lineEnd ("\r\n" on Windows, "\n" on Linux).
std::string FormatBackupRecord(const BackupRecord& record, const char* lineEnd);

// The longest record the reader takes; a longer file is no record.
constexpr size_t MaxRecordBytes = 4096;

// Reads a record strictly: every key above exactly once and no other, in
// any order; lines end with LF or CR LF (the last one may end without);
// a CR anywhere else, an empty line, a line without '=', a byte outside
// the printable ASCII range, a blank at the end of a value, an escape other
// than "\\" and "\xHH", an inquiry field of another length, a date longer
// than 32 or a program longer than 64 bytes, a number that is not decimal
// digits within its range, a chip code that is not "0x" and 1 to 4 hex
// digits, or a SHA-256 that is not 64 hex digits (either case) are
// refused. False with error saying which line and what, for the log.
bool ParseBackupRecord(const std::string& text, BackupRecord& record, std::string& error);

// Whether drive is the model the record was read from: the same vendor,
// product and chip code.
bool RecordFitsDrive(const BackupRecord& record, const DeviceRecord& drive);

// The record's path for the backup at path: the backup's extension (from
// the last dot of its last part) replaced by ".txt", or ".txt" added to a
// name without one.
std::string RecordPathFor(const std::string& path);

#pragma once

#include <string>

#include "device/DeviceRecord.h"

// The name of the n-th candidate (from 1) for the backup file of a drive:
// its vendor, product and revision, each trimmed of blanks at both ends,
// joined by '_', then ".bin"; from the second candidate on "-n" goes before
// the extension ("ARDENTA_DVD-ROM_RVX-418_1.00-2.bin").
//
// Every character that is not allowed in a file name (control characters,
// \ / : * ? " < > |, and bytes above 0x7E, which mean different letters in
// different code pages) becomes '_', and so do blanks inside the fields, so
// the name needs no quotes in a script. A name whose part before its first
// dot is a device name (CON, PRN, AUX, NUL, COM1..9, LPT1..9, CLOCK$, in any
// case) would open the device instead of a file, so it gets a leading '_'.
// A drive that reports only blanks is called "drive". The name only names:
// creating the file without overwriting is the caller's part.
std::string BackupFileName(const DeviceRecord& drive, int attempt);

// Names tried for one backup (and for its temporary) before the run gives up.
constexpr int MaxBackupCandidates = 100;

// The n-th candidate (from 1) for the temporary a backup is written under
// before it takes its name: "unfinished-backup-n.tmp". No backup is ever
// called so (a backup's name ends with ".bin"), and a run never takes such
// a file for a backup: one that is found was left by a run that was stopped
// before its backup was whole.
std::string BackupTemporaryName(int attempt);
// Whether name is of that form.
bool IsBackupTemporary(const std::string& name);

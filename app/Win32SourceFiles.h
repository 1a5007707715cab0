#pragma once

#include "unattended/FirmwareSource.h"

// Reads the backup /RESTORE names and its record: each file once, whole,
// into memory, so what is checked is what is written. Only a file on a disk
// is read: a device name (CON, a pipe) would wait for input that never
// comes in a run without a window.
class Win32SourceFiles : public SourceFiles {
  public:
    Result Read(const std::string& path, size_t limit, std::string& data,
                std::string& why) override;
};

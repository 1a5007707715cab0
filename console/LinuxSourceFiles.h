#pragma once

#include "unattended/FirmwareSource.h"

// Reads the backup a restore names and its record: each file once, whole,
// into memory, so what is checked is what is written. The file is the one
// the caller named (a link is followed, as for any file a user names); one
// that is not a regular file (a FIFO, a device, a folder) is refused
// without waiting for it.
class LinuxSourceFiles : public SourceFiles {
  public:
    Result Read(const std::string& path, size_t limit, std::string& data,
                std::string& why) override;
};

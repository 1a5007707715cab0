#pragma once

#include <windows.h>

#include "flash/OutputFile.h"

// The read-out file on Windows, through the calls Windows 95/98 already
// has: opened for writing only, shared with nobody, created when missing and
// never shortened by the opening itself.
class Win32OutputFile : public OutputFile {
  public:
    Win32OutputFile() = default;
    ~Win32OutputFile() override;

    Win32OutputFile(const Win32OutputFile&) = delete;
    Win32OutputFile& operator=(const Win32OutputFile&) = delete;

    bool Open(const std::string& path) override;
    bool Length(uint64_t& length) override;
    bool Truncate() override;
    bool Write(const uint8_t* data, uint32_t length) override;
    void Close() override;

  private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

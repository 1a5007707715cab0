#pragma once

#include <cstdint>
#include <string>

// The file a flash read-out is written to. Opening takes the file for
// writing only, shares it with no other opener, creates it when missing and
// never shortens it. Operations return true on success.
class OutputFile {
  public:
    virtual ~OutputFile() = default;

    virtual bool Open(const std::string& path) = 0;
    // The file's current length in bytes.
    virtual bool Length(uint64_t& length) = 0;
    // Shortens the file to length 0.
    virtual bool Truncate() = 0;
    // Writes length bytes at the file's start in one write; a short write
    // is a failure.
    virtual bool Write(const uint8_t* data, uint32_t length) = 0;
    // Closes the file if it is open; safe to call more than once.
    virtual void Close() = 0;
};

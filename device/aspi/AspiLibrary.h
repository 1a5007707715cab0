#pragma once

#include <cstdint>
#include <memory>

// The ASPI for Win32 library as the back-end sees it: load it and find its
// two entry points, ask for the support information, hand it a request
// block. The program loads "wnaspi32.dll"; tests hand in a substitute.
class AspiLibrary {
  public:
    virtual ~AspiLibrary() = default;

    // Loads the library and finds GetASPI32SupportInfo and SendASPI32Command.
    // False when either step fails; nothing stays loaded then.
    virtual bool Load() = 0;
    // Releases the library; harmless when nothing is loaded.
    virtual void Unload() = 0;

    // GetASPI32SupportInfo: bits 8..15 a status (SS_COMP when usable), bits
    // 0..7 the number of host adapters.
    virtual uint32_t GetSupportInfo() = 0;

    // SendASPI32Command on the request block at block (60 or 80 bytes, as the
    // command code says). data is the full address of the execute request's
    // data buffer (null for none or for an adapter inquiry); the block itself
    // holds only its low 32 bits. The library reports through the block's
    // status byte, possibly later and from another thread; the return value
    // is the library's and tells nothing the status byte does not.
    virtual uint32_t SendCommand(uint8_t* block, void* data) = 0;
};

#ifdef _WIN32
// The platform's "wnaspi32.dll", loaded with the Windows loader. In a 64-bit
// process it refuses (status SS_ERR, nothing sent) a request whose data
// address does not fit the block's 32-bit field.
std::unique_ptr<AspiLibrary> CreateWin32AspiLibrary();
// Milliseconds since the system started (wraps after 49 days).
uint32_t Win32Milliseconds();
#endif

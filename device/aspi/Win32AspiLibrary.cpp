#include <windows.h>

#include <cstdint>

#include "device/aspi/AspiLibrary.h"
#include "device/aspi/AspiRequests.h"

namespace {

// Both entry points use the C calling convention.
using GetSupportInfoEntry = DWORD(__cdecl*)(void);
using SendCommandEntry = DWORD(__cdecl*)(void*);

constexpr char LibraryName[] = "wnaspi32.dll";

template <typename Entry>
Entry FindEntry(HMODULE module, const char* name) {
    // Through the generic function pointer type, which the compiler accepts
    // as a cast between unrelated function types.
    return reinterpret_cast<Entry>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

class Win32AspiLibrary : public AspiLibrary {
  public:
    ~Win32AspiLibrary() override { Unload(); }

    bool Load() override {
        Unload();
        module_ = LoadLibraryA(LibraryName);
        if (module_ == nullptr) return false;
        getSupportInfo_ = FindEntry<GetSupportInfoEntry>(module_, "GetASPI32SupportInfo");
        sendCommand_ = FindEntry<SendCommandEntry>(module_, "SendASPI32Command");
        if (getSupportInfo_ == nullptr || sendCommand_ == nullptr) {
            Unload();
            return false;
        }
        return true;
    }

    void Unload() override {
        if (module_ != nullptr) FreeLibrary(module_);
        module_ = nullptr;
        getSupportInfo_ = nullptr;
        sendCommand_ = nullptr;
    }

    uint32_t GetSupportInfo() override {
        if (getSupportInfo_ == nullptr) return static_cast<uint32_t>(SS_NO_ADAPTERS) << 8;
        return getSupportInfo_();
    }

    uint32_t SendCommand(uint8_t* block, void* data) override {
        // The library reads a 32-bit data address; a buffer above 4 GB cannot
        // be reached through it, so the request fails without being sent.
        if (sendCommand_ == nullptr || (reinterpret_cast<uintptr_t>(data) >> 16 >> 16) != 0) {
            block[SrbStatusOffset] = SS_ERR;
            return SS_ERR;
        }
        return sendCommand_(block);
    }

  private:
    HMODULE module_ = nullptr;
    GetSupportInfoEntry getSupportInfo_ = nullptr;
    SendCommandEntry sendCommand_ = nullptr;
};

}  // namespace

std::unique_ptr<AspiLibrary> CreateWin32AspiLibrary() {
    return std::make_unique<Win32AspiLibrary>();
}

uint32_t Win32Milliseconds() {
    return GetTickCount();
}

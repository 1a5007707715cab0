// The simulated ASPI manager as a Windows "wnaspi32.dll": the program loads
// it like the real library. The set-up comes from the file named in the
// environment variable FLASH_SIM_CONFIG (docs/simulator.md), read on the
// first call into the library.
#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "device/ByteOrder.h"
#include "sim/aspi/SimAspiConfig.h"

namespace {

HMODULE ThisModule = nullptr;
SimAspiRig* Rig = nullptr;
bool SetUpTried = false;

// Delivers a late completion from a thread of its own. The thread holds a
// reference on this library so that an unload cannot pull its code away
// while it still runs.
class ThreadScheduler : public CompletionScheduler {
  public:
    void Schedule(unsigned delayMs, std::function<void()> work) override {
        auto* job = new Job{delayMs, std::move(work)};
        char path[MAX_PATH];
        HMODULE reference = nullptr;
        if (GetModuleFileNameA(ThisModule, path, sizeof path) != 0) reference = LoadLibraryA(path);
        DWORD id = 0;
        HANDLE thread =
            reference != nullptr ? CreateThread(nullptr, 0, &Run, job, 0, &id) : nullptr;
        if (thread == nullptr) {
            // No thread: complete late on the caller's own time.
            if (reference != nullptr) FreeLibrary(reference);
            Sleep(job->delayMs);
            job->work();
            delete job;
            return;
        }
        CloseHandle(thread);
    }

  private:
    struct Job {
        unsigned delayMs;
        std::function<void()> work;
    };

    static DWORD WINAPI Run(void* argument) {
        Job* job = static_cast<Job*>(argument);
        Sleep(job->delayMs);
        job->work();
        delete job;
        FreeLibraryAndExitThread(ThisModule, 0);
        return 0;
    }
};

ThreadScheduler Scheduler;

std::string ConfigPath() {
    char path[MAX_PATH];
    DWORD length = GetEnvironmentVariableA("FLASH_SIM_CONFIG", path, sizeof path);
    if (length == 0 || length >= sizeof path) return std::string();
    return std::string(path, length);
}

void SetUp() {
    if (SetUpTried) return;
    SetUpTried = true;
    std::vector<uint8_t> text;
    std::string path = ConfigPath();
    if (path.empty() || !ReadWholeFile(path, text)) return;
    SimAspiSetup setup;
    std::string error;
    if (!ParseSimAspiSetup(std::string(text.begin(), text.end()), setup, error)) {
        OutputDebugStringA(("wnaspi32 simulator: " + error + "\n").c_str());
        return;
    }
    auto rig = std::make_unique<SimAspiRig>(setup);
    if (!rig->LoadFlashFiles(error)) {
        OutputDebugStringA(("wnaspi32 simulator: " + error + "\n").c_str());
        return;
    }
    rig->Host().SetScheduler(&Scheduler);
    Rig = rig.release();
}

}  // namespace

extern "C" {

DWORD __cdecl GetASPI32SupportInfo(void) {
    SetUp();
    // Without a usable set-up the manager reports no host adapters.
    if (Rig == nullptr) return static_cast<DWORD>(SS_NO_ADAPTERS) << 8;
    return Rig->Host().SupportInfo();
}

DWORD __cdecl SendASPI32Command(void* request) {
    SetUp();
    if (request == nullptr) return SS_INVALID_SRB;
    auto* block = static_cast<uint8_t*>(request);
    if (Rig == nullptr) {
        block[SrbStatusOffset] = SS_INVALID_HA;
        return SS_INVALID_HA;
    }
    // The block carries a 32-bit address, as the 32-bit library reads it.
    void* data = nullptr;
    if (block[SrbCommandOffset] == SC_EXEC_SCSI_CMD)
        data = reinterpret_cast<void*>(
            static_cast<uintptr_t>(ReadLe32(block + ExecDataPointerOffset)));
    return Rig->Host().Send(block, data);
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        ThisModule = instance;
        DisableThreadLibraryCalls(instance);
    } else if (reason == DLL_PROCESS_DETACH && Rig != nullptr) {
        Rig->SaveAll();
        // At process exit the other threads are gone already; only an
        // unload frees the drives.
        if (reserved == nullptr) {
            delete Rig;
            Rig = nullptr;
        }
    }
    return TRUE;
}

}  // extern "C"

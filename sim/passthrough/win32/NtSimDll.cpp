// ntsimfwd.dll: the simulated drives behind the pass-through calls of the
// NT family, for a test copy of the program whose import table names this
// library in place of KERNEL32.dll and ADVAPI32.dll (make-test-program.py
// writes that copy and this library's export list). Every function the
// program imports is forwarded to the real library, except those defined
// here as Sim<name>:
//   - CreateFileA on "\\.\X:", DeviceIoControl and CloseHandle on such a
//     handle, and the SCSI device map key of the registry, which the
//     simulated drives of the set-up answer (SimPassThroughCarrier);
//   - the token calls of the restart, which are recorded and carried out;
//   - GetProcAddress of GetSystemPowerStatus, which the program looks up at
//     run time: it gets this library's own, which answers from the set-up's
//     power key (without the key, the real function answers); and of
//     SetThreadExecutionState, whose calls are recorded and carried out (or
//     which is not found, with "execution-state = missing");
//   - Sleep (the pause after the commit), recorded and carried out;
//   - the file steps of a backup (CreateFileA of a new file, FlushFileBuffers,
//     MoveFileA, DeleteFileA), carried out and counted for kill-after.
// kill-after ends the process (TerminateProcess, exit code 137) right after
// the drive command or file step it names, as a kill or a power loss would:
// nothing of the library runs after it.
// The set-up file is the simulator's (docs/simulator.md), named by the
// environment variable FLASH_SIM_CONFIG; its [letter X] sections are the
// drives, and the log it names receives every call and drive command as it
// happens.
// clang-format off
#include <windows.h>
#include <ntddscsi.h>
// clang-format on

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <type_traits>
#include <vector>

#include "device/ByteOrder.h"
#include "device/passthrough/PassThroughRequest.h"
#include "sim/aspi/SimAspiConfig.h"
#include "sim/passthrough/SimPassThroughCarrier.h"

namespace {

const char ScsiDeviceMapKey[] = "Hardware\\DeviceMap\\Scsi";

struct Letter {
    SimDriveSetup setup;
    SimulatedDrive* drive;
    int savedCommits;
    size_t loggedChars;
};

SimAspiSetup Setup;
SimPassThroughCarrier* Carrier = nullptr;
std::vector<Letter> Letters;
// Each drive handle handed out is an event of its own, so that it can never
// equal a handle the system hands out.
std::map<HANDLE, PassThroughPlatform::Handle> DriveHandles;
std::vector<HKEY> DeviceMapKeys;
HANDLE OpenedToken = nullptr;
LUID LookedUp = {};

// A line to the log file and to the standard error, where Wine's traces
// (the relay trace of the restart) go too: there the two come in the order
// of the calls.
void Log(const char* format, ...) {
    char line[512] = "ntsimfwd: ";
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(line + 10, sizeof line - 11, format, arguments);
    va_end(arguments);
    std::strcat(line, "\n");
    DWORD written;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), line, std::strlen(line), &written, nullptr);
    if (std::FILE* file = std::fopen(Setup.logFile.c_str(), "ab")) {
        std::fputs(line + 10, file);
        std::fclose(file);
    }
}

void SetUp() {
    static bool tried = false;
    if (tried) return;
    tried = true;
    Carrier = new SimPassThroughCarrier;
    char path[MAX_PATH];
    DWORD length = GetEnvironmentVariableA("FLASH_SIM_CONFIG", path, sizeof path);
    std::vector<uint8_t> text;
    std::string error = "no set-up file in FLASH_SIM_CONFIG";
    if (length == 0 || length >= sizeof path || !ReadWholeFile(path, text) ||
        !ParseSimAspiSetup(std::string(text.begin(), text.end()), Setup, error)) {
        OutputDebugStringA(("ntsimfwd: " + error + "\n").c_str());
        Setup.scsiMapMissing = true;
        return;
    }
    for (const SimDriveSetup& setup : Setup.letters) {
        if (!setup.passThrough) {
            Carrier->RefusePassThrough(setup.letter);
            continue;
        }
        SimulatedDrive& drive = Carrier->AddDrive(setup.letter, setup.identity);
        ApplyDriveSetup(setup, drive);
        if (!LoadFlashFile(setup, drive, error)) Log("%s", error.c_str());
        Letters.push_back(Letter{setup, &drive, 0, 0});
    }
}

// A drive command or file step is done: ends the process when the set-up
// says so.
void Step(bool fileStep, const std::string& line) {
    if (NextProcessEvent(Setup.processEvents, fileStep, line) == 0) return;
    Log("kill-after: the process ends after %s", line.c_str());
    TerminateProcess(GetCurrentProcess(), 137);
}

void SaveFlash(Letter& letter) {
    if (letter.setup.saveFile.empty()) return;
    const std::vector<uint8_t>& flash = letter.drive->Flash();
    WriteWholeFile(letter.setup.saveFile, flash.data(), flash.size());
}

// Brings the log up to the drives' latest commands; saves a flash after a
// commit.
void AfterControl() {
    for (Letter& letter : Letters) {
        std::string text = letter.drive->LogText();
        size_t start = letter.loggedChars;
        std::vector<std::string> lines;
        for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
            lines.push_back(std::string(1, letter.setup.letter) + ": " +
                            text.substr(start, end - start));
            Log("%s", lines.back().c_str());
        }
        letter.loggedChars = start;
        if (letter.drive->CommitCount() != letter.savedCommits) {
            letter.savedCommits = letter.drive->CommitCount();
            SaveFlash(letter);
        }
        for (const std::string& line : lines) Step(false, line);
    }
}

bool IsDrivePath(const char* path) {
    return path != nullptr && std::strlen(path) == 6 && std::strncmp(path, "\\\\.\\", 4) == 0 &&
           path[5] == ':';
}

// Hands the carrier the request as the 32-bit byte image it reads, taken
// field by field from the system's structure (Header), which is wider in a
// 64-bit process; the answer goes back the same way.
template <typename Header>
BOOL Carry(PassThroughPlatform::Handle device, DWORD code, const void* in, DWORD inSize, void* out,
           DWORD outSize, DWORD* returned) {
    const DWORD shift = sizeof(Header) - PassThroughHeaderSize;
    Header header;
    if (in == nullptr || out == nullptr || inSize < sizeof header || outSize < sizeof header) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::vector<uint8_t> wide(std::max(inSize, outSize));
    std::memcpy(wide.data(), in, inSize);
    std::memcpy(&header, wide.data(), sizeof header);
    std::vector<uint8_t> block(wide.size() - shift);
    // A header whose length is not the system's own is carried as malformed.
    WriteLe16(&block[LengthField], header.Length == sizeof header ? PassThroughHeaderSize : 0);
    block[PathIdField] = header.PathId;
    block[TargetIdField] = header.TargetId;
    block[LunField] = header.Lun;
    block[CdbLengthField] = header.CdbLength;
    block[SenseInfoLengthField] = header.SenseInfoLength;
    block[DataInField] = header.DataIn;
    WriteLe32(&block[DataTransferLengthField], header.DataTransferLength);
    WriteLe32(&block[TimeOutValueField], header.TimeOutValue);
    WriteLe32(&block[SenseInfoOffsetField], header.SenseInfoOffset - shift);
    std::memcpy(&block[CdbField], header.Cdb, CdbFieldSize);
    std::memcpy(&block[PassThroughHeaderSize], &wide[sizeof header],
                block.size() - PassThroughHeaderSize);
    uint8_t* directData = nullptr;
    if constexpr (std::is_same<Header, SCSI_PASS_THROUGH_DIRECT>::value) {
        directData = static_cast<uint8_t*>(header.DataBuffer);
        WriteLe32(&block[DataLocationField],
                  static_cast<uint32_t>(reinterpret_cast<uintptr_t>(directData)));
    } else {
        WriteLe32(&block[DataLocationField],
                  static_cast<uint32_t>(header.DataBufferOffset - shift));
    }
    bool carried = Carrier->DeviceControl(device, code, block.data(), inSize - shift,
                                          outSize - shift, directData);
    AfterControl();
    if (!carried) {
        SetLastError(ERROR_INVALID_FUNCTION);
        return FALSE;
    }
    header.ScsiStatus = block[ScsiStatusField];
    header.SenseInfoLength = block[SenseInfoLengthField];
    header.DataTransferLength = ReadLe32(&block[DataTransferLengthField]);
    std::memcpy(wide.data(), &header, sizeof header);
    std::memcpy(&wide[sizeof header], &block[PassThroughHeaderSize],
                block.size() - PassThroughHeaderSize);
    std::memcpy(out, wide.data(), outSize);
    if (returned != nullptr) *returned = outSize;
    return TRUE;
}

template <typename T>
bool Holds(const std::vector<T>& list, T item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

}  // namespace

extern "C" {

HANDLE WINAPI SimCreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                             DWORD disposition, DWORD flags, HANDLE model) {
    if (!IsDrivePath(path)) {
        HANDLE file = CreateFileA(path, access, share, security, disposition, flags, model);
        const DWORD error = GetLastError();
        if (disposition == CREATE_NEW) {
            SetUp();
            Step(true, std::string("CreateFileA ") + path + " CREATE_NEW");
        }
        SetLastError(error);
        return file;
    }
    SetUp();
    PassThroughPlatform::Handle device = Carrier->OpenDevice(path, access, share);
    HANDLE handle = device != nullptr ? CreateEventA(nullptr, TRUE, FALSE, nullptr) : nullptr;
    Log("CreateFileA %s access 0x%08lX share 0x%lX: %s", path, access, share,
        handle != nullptr ? "opened" : "no such device");
    if (handle == nullptr) {
        if (device != nullptr) Carrier->CloseDevice(device);
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    DriveHandles[handle] = device;
    return handle;
}

BOOL WINAPI SimDeviceIoControl(HANDLE handle, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                               DWORD outSize, LPDWORD returned, LPOVERLAPPED overlapped) {
    auto found = DriveHandles.find(handle);
    if (found == DriveHandles.end())
        return DeviceIoControl(handle, code, in, inSize, out, outSize, returned, overlapped);
    if (code == IOCTL_SCSI_PASS_THROUGH)
        return Carry<SCSI_PASS_THROUGH>(found->second, code, in, inSize, out, outSize, returned);
    if (code == IOCTL_SCSI_PASS_THROUGH_DIRECT)
        return Carry<SCSI_PASS_THROUGH_DIRECT>(found->second, code, in, inSize, out, outSize,
                                               returned);
    Log("DeviceIoControl code 0x%lX: not a pass-through request", code);
    SetLastError(ERROR_INVALID_FUNCTION);
    return FALSE;
}

BOOL WINAPI SimCloseHandle(HANDLE handle) {
    auto found = DriveHandles.find(handle);
    if (found != DriveHandles.end()) {
        Carrier->CloseDevice(found->second);
        Log("CloseHandle %c:", Carrier->Closes().back());
        DriveHandles.erase(found);
    }
    return CloseHandle(handle);
}

LONG WINAPI SimRegOpenKeyExA(HKEY parent, LPCSTR name, DWORD options, REGSAM access, PHKEY result) {
    if (parent != HKEY_LOCAL_MACHINE || name == nullptr || lstrcmpiA(name, ScsiDeviceMapKey) != 0)
        return RegOpenKeyExA(parent, name, options, access, result);
    SetUp();
    Log("RegOpenKeyExA %s: %s", name, Setup.scsiMapMissing ? "missing" : "opened");
    if (Setup.scsiMapMissing) return ERROR_FILE_NOT_FOUND;
    // Another key stands in for it: its handle is a real one.
    LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_READ, result);
    if (status == ERROR_SUCCESS) DeviceMapKeys.push_back(*result);
    return status;
}

LONG WINAPI SimRegQueryInfoKeyA(HKEY key, LPSTR className, LPDWORD classLength, LPDWORD reserved,
                                LPDWORD subKeys, LPDWORD maxSubKeyLength, LPDWORD maxClassLength,
                                LPDWORD values, LPDWORD maxValueNameLength, LPDWORD maxValueLength,
                                LPDWORD securityLength, PFILETIME lastWrite) {
    if (!Holds(DeviceMapKeys, key))
        return RegQueryInfoKeyA(key, className, classLength, reserved, subKeys, maxSubKeyLength,
                                maxClassLength, values, maxValueNameLength, maxValueLength,
                                securityLength, lastWrite);
    uint32_t ports = 0;
    Carrier->ScsiSubkeyCount(ports);
    Log("RegQueryInfoKeyA %s: %u subkeys", ScsiDeviceMapKey, ports);
    for (LPDWORD field : {maxSubKeyLength, maxClassLength, values, maxValueNameLength,
                          maxValueLength, securityLength})
        if (field != nullptr) *field = 0;
    if (subKeys != nullptr) *subKeys = ports;
    if (classLength != nullptr) *classLength = 0;
    if (lastWrite != nullptr) *lastWrite = FILETIME{};
    return ERROR_SUCCESS;
}

LONG WINAPI SimRegCloseKey(HKEY key) {
    auto found = std::find(DeviceMapKeys.begin(), DeviceMapKeys.end(), key);
    if (found != DeviceMapKeys.end()) {
        Log("RegCloseKey %s", ScsiDeviceMapKey);
        DeviceMapKeys.erase(found);
    }
    return RegCloseKey(key);
}

BOOL WINAPI SimOpenProcessToken(HANDLE process, DWORD access, PHANDLE token) {
    SetUp();
    BOOL done = OpenProcessToken(process, access, token);
    OpenedToken = done ? *token : nullptr;
    Log("OpenProcessToken access 0x%lX: %s", access, done ? "done" : "failed");
    return done;
}

BOOL WINAPI SimLookupPrivilegeValueA(LPCSTR system, LPCSTR name, PLUID luid) {
    SetUp();
    BOOL done = LookupPrivilegeValueA(system, name, luid);
    if (done) LookedUp = *luid;
    Log("LookupPrivilegeValueA %s on %s: %s", name != nullptr ? name : "(null)",
        system != nullptr ? system : "this system", done ? "done" : "failed");
    return done;
}

BOOL WINAPI SimAdjustTokenPrivileges(HANDLE token, BOOL disableAll, PTOKEN_PRIVILEGES state,
                                     DWORD length, PTOKEN_PRIVILEGES previous, PDWORD returned) {
    SetUp();
    BOOL done = AdjustTokenPrivileges(token, disableAll, state, length, previous, returned);
    DWORD error = GetLastError();
    bool looked = state != nullptr && state->PrivilegeCount == 1 &&
                  state->Privileges[0].Luid.LowPart == LookedUp.LowPart &&
                  state->Privileges[0].Luid.HighPart == LookedUp.HighPart;
    Log("AdjustTokenPrivileges %s token, disable all %d, %lu privilege(s)%s, attributes 0x%lX: "
        "last error %lu",
        token == OpenedToken ? "the opened" : "another", disableAll,
        state != nullptr ? state->PrivilegeCount : 0, looked ? " (the one looked up)" : "",
        state != nullptr && state->PrivilegeCount > 0 ? state->Privileges[0].Attributes : 0, error);
    SetLastError(error);
    return done;
}

BOOL WINAPI SimGetSystemPowerStatus(LPSYSTEM_POWER_STATUS status) {
    SetUp();
    const std::string& power = Setup.power;
    if (power.empty()) return GetSystemPowerStatus(status);
    Log("GetSystemPowerStatus: %s", power.c_str());
    if (power == "unknown") {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    *status = SYSTEM_POWER_STATUS{};
    status->ACLineStatus = power == "battery" ? 0 : 1;
    status->BatteryFlag = power == "none" ? 128 : power == "battery" ? 2 : 8;
    status->BatteryLifePercent = power == "none" ? 255 : 30;
    return TRUE;
}

EXECUTION_STATE WINAPI SimSetThreadExecutionState(EXECUTION_STATE state) {
    typedef EXECUTION_STATE(WINAPI * SetState)(EXECUTION_STATE);
    const SetState set = reinterpret_cast<SetState>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetThreadExecutionState")));
    const EXECUTION_STATE previous = set(state);
    Log("SetThreadExecutionState 0x%08lX: previous state 0x%08lX", state, previous);
    return previous;
}

void WINAPI SimSleep(DWORD milliseconds) {
    SetUp();
    Log("Sleep %lu", milliseconds);
    Sleep(milliseconds);
}

// The steps of a file written whole before it is named.
BOOL WINAPI SimFlushFileBuffers(HANDLE file) {
    const BOOL done = FlushFileBuffers(file);
    Step(true, "FlushFileBuffers");
    return done;
}

BOOL WINAPI SimMoveFileA(LPCSTR from, LPCSTR to) {
    const BOOL done = MoveFileA(from, to);
    const DWORD error = GetLastError();
    Step(true, std::string("MoveFileA ") + from + " " + to);
    SetLastError(error);
    return done;
}

BOOL WINAPI SimDeleteFileA(LPCSTR path) {
    const BOOL done = DeleteFileA(path);
    Step(true, std::string("DeleteFileA ") + path);
    return done;
}

FARPROC WINAPI SimGetProcAddress(HMODULE module, LPCSTR name) {
    // A name, not an ordinal (below 0x10000).
    const bool named = reinterpret_cast<uintptr_t>(name) > 0xFFFF;
    if (named && std::strcmp(name, "GetSystemPowerStatus") == 0)
        return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&SimGetSystemPowerStatus));
    if (named && std::strcmp(name, "SetThreadExecutionState") == 0) {
        SetUp();
        if (!Setup.noExecutionState)
            return reinterpret_cast<FARPROC>(
                reinterpret_cast<void (*)()>(&SimSetThreadExecutionState));
        Log("GetProcAddress SetThreadExecutionState: missing");
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return GetProcAddress(module, name);
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
    if (reason == DLL_PROCESS_DETACH) {
        for (Letter& letter : Letters) SaveFlash(letter);
    }
    return TRUE;
}

}  // extern "C"

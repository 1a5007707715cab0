#include "app/Win32ProgramStart.h"

#include <windows.h>

#include <memory>
#include <new>
#include <string>

#include "app/StartupLogic.h"
#include "app/Win32Backends.h"
#include "app/Win32Power.h"
#include "app/Win32Restart.h"
#include "app/Win32SourceFiles.h"
#include "device/OsVersionInfo.h"
#include "flash/FormatText.h"
#include "flash/win32/Win32StayAwake.h"
#include "ui/DialogLogic.h"
#include "unattended/BackupName.h"
#include "unattended/ProgramStart.h"
#include "unattended/RunOutcome.h"

namespace {

// A log file kept open for the run. Every line goes to the end of the file
// as it is then, so two copies that share a log (a refused second copy)
// never write over each other's lines.
class Win32LogFile : public LogSink {
  public:
    explicit Win32LogFile(HANDLE file) : file_(file) {}
    ~Win32LogFile() override { CloseHandle(file_); }
    Win32LogFile(const Win32LogFile&) = delete;
    Win32LogFile& operator=(const Win32LogFile&) = delete;

    void WriteLine(const std::string& line) override {
        const std::string text = line + "\r\n";
        DWORD written = 0;
        SetFilePointer(file_, 0, nullptr, FILE_END);
        WriteFile(file_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    }

  private:
    HANDLE file_;
};

class Win32Clock : public LogClock {
  public:
    LogTime Now() override {
        SYSTEMTIME t;
        GetLocalTime(&t);
        return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
    }
};

// A backup begun under a temporary name; deleted unless it was named.
class Win32StagedFile : public StagedFile {
  public:
    Win32StagedFile(const std::string& folder, const std::string& temporary, HANDLE file)
        : folder_(folder), temporary_(PathInFolder(folder, temporary)), file_(file) {}
    ~Win32StagedFile() override {
        if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
        if (!named_) DeleteFileA(temporary_.c_str());
    }
    Win32StagedFile(const Win32StagedFile&) = delete;
    Win32StagedFile& operator=(const Win32StagedFile&) = delete;

    bool Write(const uint8_t* data, uint32_t length) override {
        DWORD written = 0;
        return WriteFile(file_, data, length, &written, nullptr) != 0 && written == length;
    }
    bool Flush() override {
        const bool flushed = FlushFileBuffers(file_) != 0;
        const bool closed = CloseHandle(file_) != 0;
        file_ = INVALID_HANDLE_VALUE;
        return flushed && closed;
    }
    // MoveFileA never replaces a file that exists (only MoveFileExA, which
    // Windows 95 lacks, can be told to); it fails on a link of that name too.
    Named Name(const std::string& name) override {
        if (MoveFileA(temporary_.c_str(), PathInFolder(folder_, name).c_str())) {
            named_ = true;
            final_ = PathInFolder(folder_, name);
            return Named::Yes;
        }
        const DWORD error = GetLastError();
        return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS ? Named::NameTaken
                                                                           : Named::Failed;
    }
    bool Unname() override {
        if (!named_ || !MoveFileA(final_.c_str(), temporary_.c_str())) return false;
        named_ = false;
        return true;
    }

  private:
    std::string folder_, temporary_, final_;
    HANDLE file_;
    bool named_ = false;
};

// Files are only ever created anew (CREATE_NEW): an existing file is never
// opened, let alone overwritten.
class Win32BackupFolder : public BackupFolder {
  public:
    void SetFolder(const std::string& folder) { folder_ = folder; }

    bool Exists() override {
        const DWORD attributes = GetFileAttributesA(folder_.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    }
    std::string PathOf(const std::string& name) override { return PathInFolder(folder_, name); }
    std::vector<std::string> Leftovers() override {
        std::vector<std::string> names;
        WIN32_FIND_DATAA found;
        const HANDLE search = FindFirstFileA(PathOf("unfinished-backup-*.tmp").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) return names;
        // The pattern matches short names too: the long name decides.
        do {
            if (IsBackupTemporary(found.cFileName)) names.push_back(found.cFileName);
        } while (FindNextFileA(search, &found));
        FindClose(search);
        return names;
    }
    bool Taken(const std::string& name) override {
        return GetFileAttributesA(PathOf(name).c_str()) != INVALID_FILE_ATTRIBUTES;
    }
    std::unique_ptr<StagedFile> Stage(std::string& temporary) override {
        for (int attempt = 1; attempt <= MaxBackupCandidates; ++attempt) {
            temporary = BackupTemporaryName(attempt);
            const HANDLE file = CreateFileA(PathOf(temporary).c_str(), GENERIC_WRITE, 0, nullptr,
                                            CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (file != INVALID_HANDLE_VALUE)
                return std::unique_ptr<StagedFile>(new Win32StagedFile(folder_, temporary, file));
            const DWORD error = GetLastError();
            if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
        }
        return nullptr;
    }

  private:
    std::string folder_;
};

// The back-end of the platform family, as the window would use it.
class Win32DriveBackend : public DriveBackend {
  public:
    explicit Win32DriveBackend(const FlashUpgradeApp& app) : app_(app) {}

    std::string Description() override {
        if (app_.PlatformSupported == 0) return "Win32s, or the version query failed";
        return FormatText("Windows %lu.%lu, %s", OsVersionInfo.dwMajorVersion,
                          OsVersionInfo.dwMinorVersion,
                          Kind() == BackendKind::PassThrough ? "NT family, SCSI pass-through"
                                                             : "95/98 family, ASPI for Win32");
    }
    std::unique_ptr<DeviceAccess> Create() override {
        if (app_.PlatformSupported == 0) return nullptr;
        return Kind() == BackendKind::PassThrough ? CreatePassThroughBackend()
                                                  : CreateAspiBackend();
    }
    std::string FailureText() override {
        return app_.PlatformSupported == 0 ? PlatformFailedText : BackendFailedText(Kind());
    }

  private:
    static BackendKind Kind() { return BackendFor(OsVersionInfo.dwPlatformId); }
    const FlashUpgradeApp& app_;
};

void SleepPause(unsigned milliseconds) {
    Sleep(milliseconds);
}

class Win32ProgramStart : public ProgramStartPlatform {
  public:
    explicit Win32ProgramStart(FlashUpgradeApp& app) : app_(app), backend_(app) {}
    ~Win32ProgramStart() override {
        if (mark_ != nullptr) CloseHandle(mark_);
    }
    Win32ProgramStart(const Win32ProgramStart&) = delete;
    Win32ProgramStart& operator=(const Win32ProgramStart&) = delete;

    void ShowMessage(const char* text, const char* caption) override {
        MessageBoxA(nullptr, text, caption, MB_OK);
    }
    void QuietSystemErrors() override {
        SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    }
    std::string TempFolder() override {
        char folder[MAX_PATH + 1];
        const DWORD length = GetTempPathA(sizeof folder, folder);
        return length == 0 || length >= sizeof folder ? std::string() : std::string(folder, length);
    }
    bool FilesMayBeLinks() override {
        return BackendFor(OsVersionInfo.dwPlatformId) == BackendKind::PassThrough;
    }
    // On the NT family a new file is created with CREATE_NEW, which creates
    // nothing where any link stands, a dangling one too; an existing one is
    // opened with OPEN_EXISTING. FILE_FLAG_OPEN_REPARSE_POINT opens a
    // reparse point itself instead of what it leads to; it is then closed
    // unwritten, and so is a file with more than one hard link. Windows
    // 95/98 open as they always did (OPEN_ALWAYS).
    LogOpening OpenLog(const std::string& path, bool existing) override {
        LogOpening opening;
        HANDLE file = INVALID_HANDLE_VALUE;
        if (!FilesMayBeLinks()) {
            file = Open(path, existing ? OPEN_ALWAYS : CREATE_NEW, 0);
        } else {
            file = Open(path, CREATE_NEW, FILE_FLAG_OPEN_REPARSE_POINT);
            const DWORD error = GetLastError();
            if (file == INVALID_HANDLE_VALUE && existing &&
                (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS)) {
                file = Open(path, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT);
            }
            BY_HANDLE_FILE_INFORMATION info;
            if (file != INVALID_HANDLE_VALUE) {
                if (!GetFileInformationByHandle(file, &info)) {
                    opening.count = GetLastError();
                } else if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
                    opening.outcome = LogOpening::Outcome::ReparsePoint;
                } else if (info.nNumberOfLinks > 1) {
                    opening.outcome = LogOpening::Outcome::HardLinks;
                    opening.count = info.nNumberOfLinks;
                } else {
                    opening.outcome = LogOpening::Outcome::Opened;
                }
                if (opening.outcome != LogOpening::Outcome::Opened) {
                    CloseHandle(file);
                    return opening;
                }
            }
        }
        if (file == INVALID_HANDLE_VALUE) {
            opening.outcome = LogOpening::Outcome::Failed;
            opening.count = GetLastError();
            return opening;
        }
        opening.sink.reset(new (std::nothrow) Win32LogFile(file));
        if (opening.sink == nullptr) {
            CloseHandle(file);
            opening.outcome = LogOpening::Outcome::Failed;
            return opening;
        }
        opening.outcome = LogOpening::Outcome::Opened;
        return opening;
    }
    // A mutex that exists already opens with ERROR_ALREADY_EXISTS. A name
    // the system refuses (a backslash on NT 4.0: ERROR_PATH_NOT_FOUND; a
    // global name without the privilege to create one: access denied) gives
    // no handle. The handle is closed as the program ends.
    Mark CreateMark(const char* name) override {
        SetLastError(NO_ERROR);
        HANDLE mark = CreateMutexA(nullptr, FALSE, name);
        if (mark == nullptr) return Mark::NotAccepted;
        const bool exists = GetLastError() == ERROR_ALREADY_EXISTS;
        if (mark_ != nullptr) CloseHandle(mark_);
        mark_ = mark;
        return exists ? Mark::HeldByAnother : Mark::Taken;
    }
    int RunDialog() override { return app_.RunStartup(); }
    RunSeams Seams(const UnattendedPlan& plan, LogSink& log) override {
        backup_.SetFolder(plan.backupFolder);
        // The version the window's title shows, without its leading blank.
        RunSeams seams{backend_,
                       log,
                       clock_,
                       &backup_,
                       &restart_,
                       OsVersionInfo.dwPlatformId,
                       OsVersionInfo.dwMajorVersion,
                       SleepPause,
                       WindowsExitCode,
                       TitleVersionSuffix + 1,
                       nullptr};
        seams.power = &power_;
        seams.awake = &awake_;
        seams.files = &files_;
        return seams;
    }

  private:
    static HANDLE Open(const std::string& path, DWORD disposition, DWORD flags) {
        return CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           disposition, FILE_ATTRIBUTE_NORMAL | flags, nullptr);
    }

    FlashUpgradeApp& app_;
    Win32DriveBackend backend_;
    Win32Clock clock_;
    Win32BackupFolder backup_;
    Win32RestartPlatform restart_;
    Win32PowerProbe power_;
    Win32StayAwake awake_;
    Win32SourceFiles files_;
    HANDLE mark_ = nullptr;
};

}  // namespace

int RunProgram(FlashUpgradeApp& app) {
    Win32ProgramStart platform(app);
    return StartProgram(GetCommandLineA(), FirmwarePayload::Program(), platform);
}

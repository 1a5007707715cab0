#pragma once

#include <sys/types.h>

#include <cstdio>
#include <string>

#include "device/sgio/SgIoDeviceAccess.h"
#include "unattended/UnattendedRun.h"

// The seams of a run on Linux: the SG_IO back-end, the log file, the local
// clock, the backup folder, the file --save writes, and the one-copy lock.

class SgIoBackend : public DriveBackend {
  public:
    // The system calls of the back-ends it creates: the real ones, or a
    // substitute's.
    using PlatformMaker = std::unique_ptr<SgIoPlatform> (*)();
    explicit SgIoBackend(PlatformMaker platform = CreateLinuxSgIoPlatform) : platform_(platform) {}
    std::string Description() override;
    std::unique_ptr<DeviceAccess> Create() override;
    std::string FailureText() override { return "the SG_IO back-end cannot start"; }
    std::string AddressOf(const DeviceRecord& drive) override { return SgIoDevicePath(drive); }
    DriveFailure ExplainLastFailure() override;
    std::string WriteRefusal() override;
    std::string LastCommandDetail() override;
    std::vector<std::string> EnumerationRemarks() override;

  private:
    PlatformMaker platform_;
    SgIoDeviceAccess* device_ = nullptr;  // owned by the run
};

// Opens name in folder (a descriptor, or AT_FDCWD) for writing with access
// (O_RDONLY, O_WRONLY | O_APPEND, ...), the way every file a run writes on its
// own is opened: created anew with O_EXCL, or, when it exists, opened without
// O_CREAT; a link at that name is never followed, and a file that is not a
// regular one or that has a second hard link is refused. Returns the
// descriptor (O_CLOEXEC), or -1 with refusal saying why ("it is a symbolic
// link", "it has 2 hard links (...)", or the system's words).
int OpenOwnFile(int folder, const std::string& name, int access, mode_t mode, std::string& refusal);

// Appends lines to the --log file, LF-terminated; without one, drops them.
// A byte that is no printable ASCII is escaped ("\x1b"), as on the terminal.
class FileLogSink : public LogSink {
  public:
    FileLogSink() : LogSink(EscapedText) {}
    ~FileLogSink() override;
    // Opens path for appending as OpenOwnFile does; false when it cannot,
    // with Refusal() saying why.
    bool Open(const std::string& path);
    const std::string& Refusal() const { return refusal_; }
    void WriteLine(const std::string& line) override;

  private:
    std::FILE* file_ = nullptr;
    std::string refusal_;
};

class LocalClock : public LogClock {
  public:
    LogTime Now() override;
};

// The --backup folder, opened once: every file is made, named and listed
// relative to that descriptor, so the folder checked is the folder written.
// A backup is created as a new temporary (O_EXCL, never through a link),
// written, synced, then named with renameat2(RENAME_NOREPLACE) (or, where
// the file system lacks the flag, link and unlink), and the folder synced.
class DirectoryBackupFolder : public BackupFolder {
  public:
    explicit DirectoryBackupFolder(std::string folder) : folder_(std::move(folder)) {}
    ~DirectoryBackupFolder() override;
    bool Exists() override;
    std::string PathOf(const std::string& name) override;
    std::vector<std::string> Leftovers() override;
    bool Taken(const std::string& name) override;
    std::unique_ptr<StagedFile> Stage(std::string& temporary) override;

  private:
    std::string folder_;
    int fd_ = -1;
};

// The file --save writes. The flash goes into a new file beside it, which
// takes the file's name only once it is complete and on disk: on any failure
// the old file stays as it was, and no half-written file is left.
class ReplacingSaveFile : public SaveTarget {
  public:
    ~ReplacingSaveFile() override { Close(); }
    bool Exists(const std::string& path) override;
    bool Open(const std::string& path) override;
    bool Length(uint64_t& length) override;
    bool Truncate() override;
    // The whole flash in one write: written, synced, then renamed into place.
    bool Write(const uint8_t* data, uint32_t length) override;
    void Close() override;
    // The record the same way: a new file beside path, renamed into place.
    bool WriteBeside(const std::string& path, const std::string& text) override;
    void RemoveBeside(const std::string& path) override;

  private:
    std::string path_;
    std::string temporary_;  // while it exists
    int fd_ = -1;
};

// One copy of the program at a time: an flock on /run/flash-upgrade.lock,
// held until the process ends. Only root takes it, and only a lock nobody
// else can open counts: the file is root's, mode 0600, one hard link, in a
// /run that root owns and nobody else may write to. Anything else found
// there (a link, another user's file, a world-writable /run) is ignored
// and the run goes on without the lock (Notice() says what and why): a lock
// another user could open could be held by that user to block every run.
class OneCopyLock {
  public:
    ~OneCopyLock();
    enum class Result {
        Held,           // this copy holds it
        HeldElsewhere,  // another copy of root's holds it
        NotRoot,        // a run without root takes no lock
        Unusable,       // the run goes on without it: Notice() says why
    };
    // Never waits.
    Result Take();
    const std::string& Path() const { return path_; }
    const std::string& Notice() const { return notice_; }

  private:
    std::string path_ = "/run/flash-upgrade.lock";
    std::string notice_;
    int fd_ = -1;
};

// SIGINT, SIGQUIT, SIGTERM, SIGHUP and SIGPIPE blocked from Hold() to the
// end of the process: they stay pending, interrupt no system call (a handler
// would: the sg driver's SG_IO gives up its wait, and is sent again) and end
// nothing. Arrived() takes the pending ones and words the first.
class BlockedSignals : public SignalHold {
  public:
    void Hold() override;
    std::string Arrived() override;

  private:
    bool said_ = false;
};

// The pause after the commit.
void PauseMilliseconds(unsigned milliseconds);

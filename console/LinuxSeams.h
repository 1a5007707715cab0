#pragma once

#include <cstdio>
#include <string>

#include "device/sgio/SgIoDeviceAccess.h"
#include "unattended/UnattendedRun.h"

// The seams of a run on Linux: the SG_IO back-end, the log file, the local
// clock, the backup folder, the file --save writes, and the one-copy lock.

class SgIoBackend : public DriveBackend {
  public:
    std::string Description() override;
    std::unique_ptr<DeviceAccess> Create() override;
    std::string FailureText() override { return "the SG_IO back-end cannot start"; }
    std::string AddressOf(const DeviceRecord& drive) override { return SgIoDevicePath(drive); }
    DriveFailure ExplainLastFailure() override;
    std::string WriteRefusal() override;
    std::string LastCommandDetail() override;
    std::vector<std::string> EnumerationRemarks() override;

  private:
    SgIoDeviceAccess* device_ = nullptr;  // owned by the run
};

// Appends lines to the --log file, LF-terminated; without one, drops them.
class FileLogSink : public LogSink {
  public:
    ~FileLogSink() override;
    // Opens path for appending; false (with errno set) when it cannot.
    bool Open(const std::string& path);
    void WriteLine(const std::string& line) override;

  private:
    std::FILE* file_ = nullptr;
};

class LocalClock : public LogClock {
  public:
    LogTime Now() override;
};

class DirectoryBackupFolder : public BackupFolder {
  public:
    explicit DirectoryBackupFolder(std::string folder) : folder_(std::move(folder)) {}
    ~DirectoryBackupFolder() override;
    bool Exists() override;
    std::string PathOf(const std::string& name) override;
    Created CreateNew(const std::string& name) override;
    bool Write(const uint8_t* data, uint32_t length) override;
    bool Close() override;
    void Remove() override;

  private:
    std::string folder_;
    std::string path_;  // of the file created last
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

  private:
    std::string path_;
    std::string temporary_;  // while it exists
    int fd_ = -1;
};

// One copy of the program at a time: an flock on a lock file, held until
// the process ends.
class OneCopyLock {
  public:
    ~OneCopyLock();
    enum class Result { Held, HeldElsewhere, Failed };
    // Tries /run/lock/flash-upgrade.lock, or /tmp/flash-upgrade.lock when
    // /run/lock does not exist; never waits.
    Result Take();
    const std::string& Path() const { return path_; }

  private:
    std::string path_;
    int fd_ = -1;
};

// The pause after the commit.
void PauseMilliseconds(unsigned milliseconds);

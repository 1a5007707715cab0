#include "console/LinuxSeams.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "flash/FormatText.h"

namespace {

bool WriteAll(int fd, const uint8_t* data, size_t length) {
    while (length > 0) {
        const ssize_t written = ::write(fd, data, length);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        data += written;
        length -= static_cast<size_t>(written);
    }
    return true;
}

int OpenLock(const std::string& path) {
    // An existing file is opened without O_CREAT: in a sticky folder such as
    // /run/lock the kernel may refuse O_CREAT on another user's file
    // (fs.protected_regular). flock needs no write access.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0 || errno != ENOENT) return fd;
    return ::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
}

}  // namespace

std::string SgIoBackend::Description() {
    return "Linux, SG_IO on the SCSI device nodes";
}

std::unique_ptr<DeviceAccess> SgIoBackend::Create() {
    auto device = std::make_unique<SgIoDeviceAccess>(CreateLinuxSgIoPlatform());
    device_ = device.get();
    return device;
}

DriveFailure SgIoBackend::ExplainLastFailure() {
    if (device_ == nullptr) return {};
    const std::string path = SgIoDevicePath(device_->CurrentDevice);
    switch (device_->LastOpenError()) {
        case SgIoOpenError::None:
            // Opened, but the kernel kept the commands from the drive.
            if (device_->LastOutcome().ioctlError == EPERM) {
                return {false, "the system refused to pass the command to " + path +
                                   " (no permission): run flash-upgrade as root"};
            }
            return {};
        case SgIoOpenError::Busy:
            return {true, path +
                              " is in use: a disc in it is mounted, or another program has "
                              "it open. Unmount it (umount " +
                              path + ") or close that program, then try again"};
        case SgIoOpenError::NoPermission:
            return {false, "no permission to open " + path +
                               " for reading and writing: run flash-upgrade as root"};
        case SgIoOpenError::NoSuchNode:
        case SgIoOpenError::NotSameDrive:
            return {false, path +
                               " no longer leads to the drive that was listed: list the "
                               "drives again (--list)"};
        default:
            return {false, "cannot open " + path + ": " + std::strerror(device_->LastOpenErrno())};
    }
}

std::string SgIoBackend::WriteRefusal() {
    if (device_ == nullptr || device_->MaySendMicrocode()) return "";
    return "writing firmware needs root (the kernel passes WRITE BUFFER only with the "
           "CAP_SYS_RAWIO capability): run flash-upgrade as root, for example with sudo. "
           "Nothing was sent to any drive";
}

std::string SgIoBackend::LastCommandDetail() {
    return device_ ? DescribeSgIoOutcome(device_->LastOutcome()) : "";
}

std::vector<std::string> SgIoBackend::EnumerationRemarks() {
    std::vector<std::string> remarks;
    if (device_ == nullptr) return remarks;
    for (const SgIoRefusedNode& node : device_->RefusedNodes()) {
        std::string remark = node.path + " could not be opened (" + std::strerror(node.error) + ")";
        if (node.reason == SgIoOpenError::NoPermission) remark += ": run as root to reach it";
        remarks.push_back(remark);
    }
    return remarks;
}

FileLogSink::~FileLogSink() {
    if (file_) std::fclose(file_);
}

bool FileLogSink::Open(const std::string& path) {
    file_ = std::fopen(path.c_str(), "ae");
    return file_ != nullptr;
}

void FileLogSink::WriteLine(const std::string& line) {
    if (!file_) return;
    std::fprintf(file_, "%s\n", line.c_str());
    std::fflush(file_);
}

LogTime LocalClock::Now() {
    const std::time_t now = std::time(nullptr);
    std::tm t{};
    localtime_r(&now, &t);
    return {t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec};
}

DirectoryBackupFolder::~DirectoryBackupFolder() {
    Close();
}

bool DirectoryBackupFolder::Exists() {
    struct stat info;
    return ::stat(folder_.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string DirectoryBackupFolder::PathOf(const std::string& name) {
    return folder_ + (folder_.back() == '/' ? "" : "/") + name;
}

BackupFolder::Created DirectoryBackupFolder::CreateNew(const std::string& name) {
    Close();
    path_ = PathOf(name);
    fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd_ >= 0) return Created::Yes;
    return errno == EEXIST ? Created::NameTaken : Created::Failed;
}

bool DirectoryBackupFolder::Write(const uint8_t* data, uint32_t length) {
    return fd_ >= 0 && WriteAll(fd_, data, length);
}

bool DirectoryBackupFolder::Close() {
    if (fd_ < 0) return true;
    // The backup is what the drive held before: it must be on disk before
    // the first chunk goes to the drive.
    const bool synced = ::fsync(fd_) == 0;
    const bool closed = ::close(fd_) == 0;
    fd_ = -1;
    return synced && closed;
}

void DirectoryBackupFolder::Remove() {
    Close();
    ::unlink(path_.c_str());
}

bool ReplacingSaveFile::Exists(const std::string& path) {
    struct stat info;
    return ::lstat(path.c_str(), &info) == 0;
}

bool ReplacingSaveFile::Open(const std::string& path) {
    Close();
    path_ = path;
    std::string pattern = path + ".XXXXXX";
    fd_ = ::mkostemp(&pattern[0], O_CLOEXEC);
    if (fd_ < 0) return false;
    temporary_ = pattern;
    // mkostemp makes the file 0600; a saved flash gets the mode any new
    // file of the user gets.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd_, 0666 & ~mask);
    return true;
}

bool ReplacingSaveFile::Length(uint64_t& length) {
    struct stat info;
    length = ::stat(path_.c_str(), &info) == 0 ? static_cast<uint64_t>(info.st_size) : 0;
    return true;
}

bool ReplacingSaveFile::Truncate() {
    return fd_ >= 0 && ::ftruncate(fd_, 0) == 0;
}

bool ReplacingSaveFile::Write(const uint8_t* data, uint32_t length) {
    if (fd_ < 0 || !WriteAll(fd_, data, length) || ::fsync(fd_) != 0) return false;
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0 || ::rename(temporary_.c_str(), path_.c_str()) != 0) return false;
    temporary_.clear();
    return true;
}

void ReplacingSaveFile::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (!temporary_.empty()) ::unlink(temporary_.c_str());
    temporary_.clear();
}

OneCopyLock::~OneCopyLock() {
    if (fd_ >= 0) ::close(fd_);
}

OneCopyLock::Result OneCopyLock::Take() {
    path_ = "/run/lock/flash-upgrade.lock";
    fd_ = OpenLock(path_);
    if (fd_ < 0 && errno == ENOENT) {
        // No /run/lock (a chroot, a small container): every copy falls back
        // to the same file in /tmp, so they still keep out one another.
        path_ = "/tmp/flash-upgrade.lock";
        fd_ = OpenLock(path_);
    }
    if (fd_ < 0) return Result::Failed;
    if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) return Result::Held;
    return errno == EWOULDBLOCK ? Result::HeldElsewhere : Result::Failed;
}

void PauseMilliseconds(unsigned milliseconds) {
    timespec rest{static_cast<time_t>(milliseconds / 1000),
                  static_cast<long>(milliseconds % 1000) * 1000000L};
    while (::nanosleep(&rest, &rest) != 0 && errno == EINTR) {
    }
}

#include "console/LinuxSeams.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "flash/FormatText.h"
#include "unattended/BackupName.h"

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

// The stat of a file a run writes on its own, judged: empty when the run may
// use it, else why not. A second hard link is another name of the same file,
// anywhere in the file system: writing through it would change that file.
std::string OwnFileRefusal(const struct stat& info) {
    if (!S_ISREG(info.st_mode)) return "it is not a regular file";
    if (info.st_nlink != 1) {
        return FormatText("it has %lu hard links (another name leads to the same file)",
                          static_cast<unsigned long>(info.st_nlink));
    }
    return "";
}

std::string OpenRefusal(int error) {
    // ENXIO: a FIFO without a reader, a socket, a device node without its
    // device.
    if (error == ENXIO) return "it is not a regular file";
    return error == ELOOP ? "it is a symbolic link" : std::strerror(error);
}

}  // namespace

int OpenOwnFile(int folder, const std::string& name, int access, mode_t mode,
                std::string& refusal) {
    // A new file only with O_EXCL, which fails on any link, dangling ones
    // too; an existing file is opened without O_CREAT (in a sticky folder
    // the kernel may refuse O_CREAT on another user's file) and without
    // following a link. O_NONBLOCK keeps a planted FIFO from holding the
    // run; it changes nothing for a regular file.
    const int common = O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC;
    int fd = ::openat(folder, name.c_str(), access | O_CREAT | O_EXCL | common, mode);
    if (fd < 0 && errno == EEXIST) fd = ::openat(folder, name.c_str(), access | common);
    if (fd < 0) {
        refusal = OpenRefusal(errno);
        return -1;
    }
    struct stat info;
    refusal = ::fstat(fd, &info) != 0 ? std::strerror(errno) : OwnFileRefusal(info);
    if (!refusal.empty()) {
        ::close(fd);
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

std::string SgIoBackend::Description() {
    return "Linux, SG_IO on the SCSI device nodes";
}

std::unique_ptr<DeviceAccess> SgIoBackend::Create() {
    auto device = std::make_unique<SgIoDeviceAccess>(platform_());
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
    const int fd = OpenOwnFile(AT_FDCWD, path, O_WRONLY | O_APPEND, 0644, refusal_);
    if (fd < 0) return false;
    file_ = ::fdopen(fd, "a");
    if (file_ == nullptr) {
        refusal_ = std::strerror(errno);
        ::close(fd);
    }
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

namespace {

// A backup begun in a folder under a temporary name; removed unless named.
class FolderStagedFile : public StagedFile {
  public:
    FolderStagedFile(int folder, std::string name, int fd)
        : folder_(folder), name_(std::move(name)), fd_(fd) {}
    ~FolderStagedFile() override {
        if (fd_ >= 0) ::close(fd_);
        if (!named_) ::unlinkat(folder_, name_.c_str(), 0);
    }
    bool Write(const uint8_t* data, uint32_t length) override {
        return fd_ >= 0 && WriteAll(fd_, data, length);
    }
    bool Flush() override {
        if (fd_ < 0) return false;
        const bool synced = ::fsync(fd_) == 0;
        const bool closed = ::close(fd_) == 0;
        fd_ = -1;
        return synced && closed;
    }
    Named Name(const std::string& name) override {
        if (Move(name_, name) != 0) return errno == EEXIST ? Named::NameTaken : Named::Failed;
        named_ = true;
        final_ = name;
        // The folder's entries on the disk: the name is there after a power loss.
        return ::fsync(folder_) == 0 ? Named::Yes : Named::Failed;
    }
    bool Unname() override {
        if (!named_ || Move(final_, name_) != 0) return false;
        named_ = false;
        return true;
    }

  private:
    // Both ways fail on any entry of that name, a dangling link too. A stop
    // between the link and the unlink leaves the file under both names.
    int Move(const std::string& from, const std::string& to) {
        int result = ::renameat2(folder_, from.c_str(), folder_, to.c_str(), RENAME_NOREPLACE);
        if (result != 0 && (errno == EINVAL || errno == ENOSYS)) {
            result = ::linkat(folder_, from.c_str(), folder_, to.c_str(), 0);
            const int error = errno;
            if (result == 0) ::unlinkat(folder_, from.c_str(), 0);
            errno = error;
        }
        return result;
    }

    int folder_;
    std::string name_;   // the temporary
    std::string final_;  // while named
    int fd_;
    bool named_ = false;
};

}  // namespace

DirectoryBackupFolder::~DirectoryBackupFolder() {
    if (fd_ >= 0) ::close(fd_);
}

bool DirectoryBackupFolder::Exists() {
    if (fd_ < 0) fd_ = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    return fd_ >= 0;
}

std::string DirectoryBackupFolder::PathOf(const std::string& name) {
    return folder_ + (folder_.back() == '/' ? "" : "/") + name;
}

std::vector<std::string> DirectoryBackupFolder::Leftovers() {
    std::vector<std::string> names;
    const int fd = fd_ < 0 ? -1 : ::openat(fd_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* listing = fd < 0 ? nullptr : ::fdopendir(fd);
    if (listing == nullptr) {
        if (fd >= 0) ::close(fd);
        return names;
    }
    while (const dirent* entry = ::readdir(listing))
        if (IsBackupTemporary(entry->d_name)) names.push_back(entry->d_name);
    ::closedir(listing);
    std::sort(names.begin(), names.end());
    return names;
}

bool DirectoryBackupFolder::Taken(const std::string& name) {
    struct stat info;
    return fd_ < 0 || ::fstatat(fd_, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 ||
           errno != ENOENT;
}

std::unique_ptr<StagedFile> DirectoryBackupFolder::Stage(std::string& temporary) {
    for (int attempt = 1; fd_ >= 0 && attempt <= MaxBackupCandidates; ++attempt) {
        temporary = BackupTemporaryName(attempt);
        // O_EXCL creates the file itself, never one a planted link leads to.
        const int fd = ::openat(fd_, temporary.c_str(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd >= 0) return std::make_unique<FolderStagedFile>(fd_, temporary, fd);
        if (errno != EEXIST) break;
    }
    return nullptr;
}

bool ReplacingSaveFile::Exists(const std::string& path) {
    struct stat info;
    return ::lstat(path.c_str(), &info) == 0;
}

bool ReplacingSaveFile::Open(const std::string& path) {
    Close();
    path_ = path;
    // The rename replaces the name, never writes through it: a link there
    // (symbolic or hard) is replaced and what it leads to stays as it was.
    // A folder, device node, FIFO or socket at the name is refused, as the
    // rename would put the flash in its place (or fail only at the end).
    struct stat info;
    if (::lstat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode) && !S_ISLNK(info.st_mode)) {
        errno = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
        return false;
    }
    // mkostemp creates with O_EXCL: a name another user planted (a link
    // included) is never opened, another name is drawn.
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
    length = ::lstat(path_.c_str(), &info) == 0 ? static_cast<uint64_t>(info.st_size) : 0;
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

bool ReplacingSaveFile::WriteBeside(const std::string& path, const std::string& text) {
    ReplacingSaveFile beside;
    return beside.Open(path) && beside.Write(reinterpret_cast<const uint8_t*>(text.data()),
                                             static_cast<uint32_t>(text.size()));
}

void ReplacingSaveFile::RemoveBeside(const std::string& path) {
    ::unlink(path.c_str());
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
    // Without root the run cannot create a file in /run, and may not open
    // root's lock; what it can send the kernel lets it send with any other
    // tool, and the flash operations take the drive's exclusive open.
    if (::geteuid() != 0) return Result::NotRoot;
    // The folder is checked through its descriptor and the file opened
    // relative to it: the folder checked is the one the file is in.
    const int folder = ::open("/run", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    struct stat info;
    if (folder < 0 || ::fstat(folder, &info) != 0) {
        notice_ = std::string("/run cannot be opened: ") + std::strerror(errno);
    } else if (info.st_uid != 0 || (info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        notice_ = FormatText("/run is not a folder only root may write to (owner %lu, mode %04o)",
                             static_cast<unsigned long>(info.st_uid),
                             static_cast<unsigned>(info.st_mode & 07777));
    } else {
        std::string refusal;
        fd_ = OpenOwnFile(folder, "flash-upgrade.lock", O_RDONLY, 0600, refusal);
        if (fd_ >= 0 && ::fstat(fd_, &info) == 0) {
            if (info.st_uid != 0) {
                refusal = FormatText("it belongs to user %lu, not to root",
                                     static_cast<unsigned long>(info.st_uid));
            } else if ((info.st_mode & 077) != 0) {
                refusal = FormatText("other users may open it (mode %04o)",
                                     static_cast<unsigned>(info.st_mode & 07777));
            }
        }
        if (!refusal.empty()) notice_ = path_ + " is ignored: " + refusal + "; remove it";
    }
    if (folder >= 0) ::close(folder);
    if (!notice_.empty()) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
        notice_ = "running without the one-copy lock: " + notice_;
        return Result::Unusable;
    }
    if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) return Result::Held;
    if (errno == EWOULDBLOCK) return Result::HeldElsewhere;
    notice_ =
        "running without the one-copy lock: cannot lock " + path_ + ": " + std::strerror(errno);
    return Result::Unusable;
}

namespace {

const struct {
    int number;
    const char* name;
} HeldSignals[] = {{SIGINT, "SIGINT"},
                   {SIGQUIT, "SIGQUIT"},
                   {SIGTERM, "SIGTERM"},
                   {SIGHUP, "SIGHUP"},
                   {SIGPIPE, "SIGPIPE"}};

}  // namespace

void BlockedSignals::Hold() {
    sigset_t set;
    sigemptyset(&set);
    for (const auto& signal : HeldSignals) sigaddset(&set, signal.number);
    ::sigprocmask(SIG_BLOCK, &set, nullptr);
}

std::string BlockedSignals::Arrived() {
    sigset_t pending;
    std::string text;
    if (::sigpending(&pending) != 0) return text;
    for (const auto& signal : HeldSignals) {
        if (!sigismember(&pending, signal.number)) continue;
        // Taken, so that the next one is seen (a pending signal counts once).
        sigset_t one;
        sigemptyset(&one);
        sigaddset(&one, signal.number);
        const timespec now{0, 0};
        ::sigtimedwait(&one, nullptr, &now);
        if (said_) continue;
        text = std::string(signal.name) + " arrived: it is held, and the write goes on to its end";
        said_ = true;
    }
    return text;
}

void PauseMilliseconds(unsigned milliseconds) {
    timespec rest{static_cast<time_t>(milliseconds / 1000),
                  static_cast<long>(milliseconds % 1000) * 1000000L};
    while (::nanosleep(&rest, &rest) != 0 && errno == EINTR) {
    }
}

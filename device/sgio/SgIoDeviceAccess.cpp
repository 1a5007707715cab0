#include "device/sgio/SgIoDeviceAccess.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>

#include "device/EnumerationProbe.h"

namespace {

// Probing only reads: INQUIRY, TEST UNIT READY and READ BUFFER are on the
// kernel's list of commands a read-only descriptor may send, so a user with
// read access to the nodes can list the drives, and a mounted drive is
// listed too. O_NONBLOCK opens a CD node without a disc in the tray (and
// without waiting for one).
constexpr int ProbeFlags = O_RDONLY | O_NONBLOCK | O_CLOEXEC;
// The flash operations want the drive to themselves. On a CD node O_EXCL
// asks the block layer for an exclusive claim, which it refuses with EBUSY
// while the drive is mounted or claimed by another program; O_NONBLOCK again
// lets the open through without a disc (and without the read-only check a
// blocking open of a CD node makes).
constexpr int FlashFlags = O_RDWR | O_EXCL | O_NONBLOCK | O_CLOEXEC;

// The peripheral device type of a CD/DVD device.
constexpr int CdDeviceType = 5;

// The allocation length of INQUIRY and the identification: the pass-through
// one (192). On Linux as on the NT family the command travels through the
// operating system's SCSI layer to the drive, and the kernel is told exactly
// the length the CDB asks for, so data phase and buffer agree.
constexpr uint8_t AllocationLength = PassThroughAllocationLength;

}  // namespace

SgIoOpenError ClassifyOpenError(int error) {
    switch (error) {
        case 0:
            return SgIoOpenError::None;
        case ENOENT:
        case ENXIO:
        case ENODEV:
            return SgIoOpenError::NoSuchNode;
        case EBUSY:
            return SgIoOpenError::Busy;
        case EACCES:
        case EPERM:
            return SgIoOpenError::NoPermission;
        default:
            return SgIoOpenError::Other;
    }
}

SgIoDeviceAccess::SgIoDeviceAccess(std::unique_ptr<SgIoPlatform> platform)
    : platform_(std::move(platform)) {
    Initialized = 1;
    AdapterCount = 0;
    CurrentDevice = ZeroDeviceRecord();
}

SgIoDeviceAccess::~SgIoDeviceAccess() {
    CloseNode();
}

void SgIoDeviceAccess::CloseNode() {
    if (fd_ >= 0) platform_->Close(fd_);
    fd_ = -1;
}

void SgIoDeviceAccess::EnumerateDevices(DeviceList& list) {
    CloseNode();
    refused_.clear();
    // A drive has a CD node and, with the sg driver loaded, a generic twin
    // at the same SCSI address. The CD node goes first and wins: only there
    // does the exclusive open of the flash operations keep out a mounted
    // drive (the generic node's O_EXCL only keeps out other users of that
    // very node), and it exists without the sg driver too.
    std::vector<ScsiAddress> probed;
    for (int n = 0; n < SgIoCdNodeCount; ++n)
        ProbeNode(SgIoNode{SgIoNodeKind::Cd, static_cast<uint8_t>(n)}, probed, list);
    for (int n = 0; n < SgIoGenericNodeCount; ++n)
        ProbeNode(SgIoNode{SgIoNodeKind::Generic, static_cast<uint8_t>(n)}, probed, list);
    CurrentDevice = ZeroDeviceRecord();
}

void SgIoDeviceAccess::ProbeNode(SgIoNode node, std::vector<ScsiAddress>& probed,
                                 DeviceList& list) {
    const std::string path = SgIoNodePath(node);
    const int fd = platform_->Open(path.c_str(), ProbeFlags);
    if (fd < 0) {
        const SgIoOpenError reason = ClassifyOpenError(-fd);
        if (reason != SgIoOpenError::NoSuchNode) refused_.push_back({path, reason, -fd});
        return;
    }
    fd_ = fd;
    ScsiAddress address{};
    const bool known = platform_->ReadScsiAddress(fd, address) == 0;
    // A generic node may lead to a disk, a tape or an enclosure: those get
    // no command at all, and neither does the twin of a drive probed
    // already. A generic node that cannot name its address (the sg driver
    // always can) cannot be told from a twin, so it is left alone; a CD
    // node is a CD device by its driver and is probed in any case.
    bool probe = true;
    if (node.kind == SgIoNodeKind::Generic) {
        probe = known && (address.type < 0 || address.type == CdDeviceType);
    }
    if (probe && known) {
        probe = std::find(probed.begin(), probed.end(), address) == probed.end();
        if (probe) probed.push_back(address);
    }
    if (probe) {
        CurrentDevice = ZeroDeviceRecord();
        if (known) {
            CurrentDevice.AdapterId = address.host;
            CurrentDevice.TargetId = address.target;
        }
        StoreSgIoNode(CurrentDevice, node);
        ProbeAddress(*this, list);
    }
    CloseNode();
}

int SgIoDeviceAccess::Execute(const CommandDescription& command, uint8_t* data, unsigned timeoutMs,
                              uint32_t needed) {
    LastSense = SenseData();
    SgIoExchange exchange;
    PrepareSgIo(exchange, command, data, timeoutMs);
    if (fd_ < 0) {
        lastOutcome_ = ReadSgIoOutcome(EBADF, exchange);
        return 0;
    }
    const int error = platform_->SendSgIo(fd_, exchange.header);
    lastOutcome_ = ReadSgIoOutcome(error, exchange);
    // The kernel writes sense bytes only for a command that has some: a
    // CHECK CONDITION, or a recovered error that went with GOOD.
    LastSense = DecodeSense(lastOutcome_.sense.data(), lastOutcome_.sense.size());
    return SgIoCommandDone(lastOutcome_) && lastOutcome_.Transferred() >= needed ? 1 : 0;
}

int SgIoDeviceAccess::InquireDevice() {
    uint8_t answer[AllocationLength] = {};
    if (!Execute(InquiryCommand(AllocationLength), answer, SgIoProbeTimeoutMs, 0)) return 0;
    return JudgeInquiry(answer, CurrentDevice) ? 1 : 0;
}

int SgIoDeviceAccess::TestUnitReady() {
    return Execute(TestUnitReadyCommand(), nullptr, SgIoProbeTimeoutMs, 0);
}

int SgIoDeviceAccess::IdentifyController() {
    uint8_t answer[AllocationLength] = {};
    Execute(IdentifyCommand(AllocationLength), answer, SgIoProbeTimeoutMs, 0);
    // As on the pass-through back-end the block alone decides, whatever
    // status came with it; the answer buffer starts zeroed, so bytes that
    // never arrived cannot pass.
    if (lastOutcome_.ioctlError != 0) return 0;
    return JudgeIdentification(answer, CurrentDevice) ? 1 : 0;
}

int SgIoDeviceAccess::FailOpen(SgIoOpenError reason, int error) {
    lastOpenError_ = reason;
    lastOpenErrno_ = error;
    return 0;
}

int SgIoDeviceAccess::OpenDevice(const DeviceRecord& record) {
    CurrentDevice = record;
    CloseNode();
    const std::string path = SgIoDevicePath(record);
    if (path.empty()) return FailOpen(SgIoOpenError::NoSuchNode, ENODEV);
    const int fd = platform_->Open(path.c_str(), FlashFlags);
    if (fd < 0) return FailOpen(ClassifyOpenError(-fd), -fd);
    // Node numbers follow the order in which devices appear; a drive
    // unplugged and another plugged in can take over a number. Firmware
    // goes only to the address that was listed.
    ScsiAddress address{};
    if (platform_->ReadScsiAddress(fd, address) == 0 &&
        (address.host != record.AdapterId || address.target != record.TargetId)) {
        platform_->Close(fd);
        return FailOpen(SgIoOpenError::NotSameDrive, 0);
    }
    fd_ = fd;
    lastOpenError_ = SgIoOpenError::None;
    lastOpenErrno_ = 0;
    return 1;
}

void SgIoDeviceAccess::CloseDevice() {
    CloseNode();
}

int SgIoDeviceAccess::ReadBufferData(uint8_t* destination, uint8_t bufferId, uint16_t offset,
                                     uint16_t length) {
    // A short read would leave old bytes in the caller's buffer: it fails.
    return Execute(ReadBufferDataCommand(bufferId, offset, length), destination, SgIoFlashTimeoutMs,
                   length);
}

int SgIoDeviceAccess::ReadFlashData(uint8_t* destination, uint8_t bufferId, uint16_t offset,
                                    uint16_t length) {
    return Execute(ReadFlashDataCommand(bufferId, offset, length), destination, SgIoFlashTimeoutMs,
                   length);
}

int SgIoDeviceAccess::WriteBufferSave(const uint8_t* source, uint8_t bufferId, uint16_t offset,
                                      uint16_t length) {
    // The header names one data pointer for both directions; the kernel only
    // reads from it on the way to the drive.
    return Execute(WriteBufferSaveCommand(bufferId, offset, length), const_cast<uint8_t*>(source),
                   SgIoFlashTimeoutMs, 0);
}

int SgIoDeviceAccess::CommitMicrocode() {
    return Execute(CommitMicrocodeCommand(), nullptr, SgIoFlashTimeoutMs, 0);
}

bool SgIoDeviceAccess::MaySendMicrocode() {
    return platform_->HoldsRawIoCapability();
}

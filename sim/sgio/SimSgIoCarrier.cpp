#include "sim/sgio/SimSgIoCarrier.h"

#include <fcntl.h>
#include <scsi/scsi.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace {

constexpr uint8_t CheckConditionStatus = 0x02;
constexpr uint16_t DidNoConnect = 0x01;
constexpr uint16_t DriverSense = 0x08;

// The commands the kernel lets any process send that may open the node
// (a short list; WRITE BUFFER is not on it).
bool OnSafeList(uint8_t opcode) {
    return opcode == OpTestUnitReady || opcode == OpInquiry || opcode == OpReadBuffer ||
           opcode == 0x03;  // REQUEST SENSE
}

std::string FlagsText(int flags) {
    std::string text = (flags & O_ACCMODE) == O_RDONLY ? "read-only" : "read-write";
    if (flags & O_EXCL) text += " exclusive";
    return text;
}

}  // namespace

void SimSgIoCarrier::AddNode(const std::string& path, SimulatedDrive& drive, uint8_t host,
                             uint8_t target, SimNodeOptions options) {
    Node node{&drive, ScsiAddress{host, 0, target, 0, drive.Identity().deviceType}, options,
              path.compare(0, 7, "/dev/sr") == 0};
    nodes_[path] = node;
}

std::string SimSgIoCarrier::EventText() const {
    std::string text;
    for (const std::string& event : events_) text += event + "\n";
    return text;
}

int SimSgIoCarrier::Refuse(const std::string& what, int error) {
    events_.push_back(what + ": " +
                      (error == EBUSY    ? "EBUSY"
                       : error == EACCES ? "EACCES"
                                         : "EPERM"));
    return -error;
}

int SimSgIoCarrier::Open(const char* path, int flags) {
    const std::string what = std::string("open ") + path + " " + FlagsText(flags);
    auto found = nodes_.find(path);
    if (found == nodes_.end()) return -ENOENT;  // the many names nobody set up go unrecorded
    Node& node = found->second;
    if (node.options.denied) return Refuse(what, EACCES);
    const bool exclusive = (flags & O_EXCL) != 0;
    // A mounted drive, or one another program claimed, refuses a second
    // exclusive claim; plain opens go through.
    if (exclusive && (node.options.busy || node.exclusiveHolders > 0)) return Refuse(what, EBUSY);
    if (exclusive) ++node.exclusiveHolders;
    const int fd = nextFd_++;
    open_[fd] = Handle{path, exclusive};
    events_.push_back(what);
    return fd;
}

void SimSgIoCarrier::Close(int fd) {
    auto found = open_.find(fd);
    if (found == open_.end()) return;
    if (found->second.exclusive) --nodes_[found->second.path].exclusiveHolders;
    events_.push_back("close " + found->second.path);
    open_.erase(found);
}

SimSgIoCarrier::Node* SimSgIoCarrier::NodeOf(int fd, std::string* path) {
    auto found = open_.find(fd);
    if (found == open_.end()) return nullptr;
    if (path != nullptr) *path = found->second.path;
    return &nodes_[found->second.path];
}

int SimSgIoCarrier::ReadScsiAddress(int fd, ScsiAddress& address) {
    Node* node = NodeOf(fd);
    if (node == nullptr) return EBADF;
    address = node->address;
    // Only the generic driver tells the device type.
    if (node->cd) address.type = -1;
    return 0;
}

int SimSgIoCarrier::SendSgIo(int fd, sg_io_hdr& h) {
    std::string path;
    Node* node = NodeOf(fd, &path);
    if (node == nullptr) return EBADF;
    if (h.interface_id != 'S' || h.iovec_count != 0) return EINVAL;
    if (h.cmdp == nullptr || h.cmd_len < 6 || h.cmd_len > 16) return EINVAL;
    DataDirection direction;
    switch (h.dxfer_direction) {
        case SG_DXFER_NONE:
            direction = DataDirection::None;
            break;
        case SG_DXFER_FROM_DEV:
            direction = DataDirection::In;
            break;
        case SG_DXFER_TO_DEV:
            direction = DataDirection::Out;
            break;
        default:
            return EINVAL;
    }
    const uint32_t length = direction == DataDirection::None ? 0 : h.dxfer_len;
    if (length != 0 && h.dxferp == nullptr) return EFAULT;
    if (!rawIo_ && !OnSafeList(h.cmdp[0])) {
        Refuse("SG_IO " + path + " opcode " + std::to_string(h.cmdp[0]), EPERM);
        return EPERM;
    }
    sent_.push_back(SentCommand{path, h, std::vector<uint8_t>(h.cmdp, h.cmdp + h.cmd_len)});

    SimulatedDrive& drive = *node->drive;
    if (drive.CompletionDelayMs() != 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(drive.CompletionDelayMs()));
    const SimOutcome outcome =
        drive.Execute(h.cmdp, h.cmd_len, direction,
                      length != 0 ? static_cast<uint8_t*>(h.dxferp) : nullptr, length);
    if (afterCommand_) afterCommand_(drive);

    h.status = h.masked_status = h.msg_status = 0;
    h.host_status = h.driver_status = 0;
    h.sb_len_wr = 0;
    h.resid = 0;
    h.duration = 0;
    h.info = SG_INFO_OK;
    if (outcome == SimOutcome::Good) return 0;
    h.info = SG_INFO_CHECK;
    h.resid = static_cast<int>(length);
    if (outcome == SimOutcome::NoDevice) {
        h.host_status = DidNoConnect;
        return 0;
    }
    h.status = CheckConditionStatus;
    h.masked_status = CheckConditionStatus >> 1;
    h.driver_status = DriverSense;
    if (h.sbp != nullptr && h.mx_sb_len > 0) {
        h.sb_len_wr = h.mx_sb_len < SimSenseLength ? h.mx_sb_len : SimSenseLength;
        std::memcpy(h.sbp, drive.Sense(), h.sb_len_wr);
    }
    return 0;
}

int SimSgIoCarrier::Ioctl(int fd, unsigned long request, void* argument) {
    Node* node = NodeOf(fd);
    if (node == nullptr) return EBADF;
    if (argument == nullptr) return EFAULT;
    if (request == SG_IO) return SendSgIo(fd, *static_cast<sg_io_hdr*>(argument));
    if (request == SG_GET_SCSI_ID) {
        // The generic driver's own request; a CD node does not know it.
        if (node->cd) return ENOTTY;
        sg_scsi_id id;
        std::memset(&id, 0, sizeof id);
        id.host_no = node->address.host;
        id.channel = node->address.channel;
        id.scsi_id = node->address.target;
        id.lun = node->address.lun;
        id.scsi_type = node->address.type;
        std::memcpy(argument, &id, sizeof id);
        return 0;
    }
    if (request == SCSI_IOCTL_GET_IDLUN) {
        const ScsiAddress& a = node->address;
        const int idlun[2] = {
            static_cast<int>(static_cast<unsigned>(a.target) | a.lun << 8 | a.channel << 16 |
                             static_cast<unsigned>(a.host) << 24),
            a.host};
        std::memcpy(argument, idlun, sizeof idlun);
        return 0;
    }
    return ENOTTY;
}

#include "sim/tcmu/TcmuCarrier.h"

#include <linux/target_core_user.h>

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

namespace {

constexpr uint8_t GoodStatus = 0x00;
constexpr uint8_t CheckConditionStatus = 0x02;
constexpr uint8_t NotReady = 0x02;
constexpr uint8_t IllegalRequest = 0x05;
constexpr uint8_t MediumNotPresent = 0x3A;
constexpr uint8_t InvalidOperationCode = 0x20;

// The CDB's length from its group code (the top three bits).
size_t CdbLength(uint8_t opcode) {
    switch (opcode >> 5) {
        case 0:
            return 6;
        case 4:
            return 16;
        case 5:
            return 12;
        default:
            return 10;
    }
}

void FixedSense(uint8_t* sense, uint8_t key, uint8_t asc) {
    std::memset(sense, 0, 18);
    sense[0] = 0x70;
    sense[2] = key;
    sense[7] = 10;
    sense[12] = asc;
}

struct KernelAnswer {
    const char* name;
    bool notReady;  // a drive without a disc cannot do it: NOT READY, MEDIUM NOT PRESENT
};

// What a drive without a disc answers to the commands the kernel's sr and
// cdrom drivers send (the scan, the media polling, an open). Anything else
// outside the drive's own set is an invalid operation code.
const std::map<uint8_t, KernelAnswer>& KernelCommands() {
    static const std::map<uint8_t, KernelAnswer> commands = {
        {0x00, {"TEST UNIT READY", true}},
        {0x03, {"REQUEST SENSE", false}},
        {0x1A, {"MODE SENSE(6)", false}},
        {0x1B, {"START STOP UNIT", false}},
        {0x1E, {"PREVENT ALLOW MEDIUM REMOVAL", false}},
        {0x25, {"READ CAPACITY", true}},
        {0x43, {"READ TOC", true}},
        {0x46, {"GET CONFIGURATION", false}},
        {0x4A, {"GET EVENT STATUS NOTIFICATION", false}},
        {0x51, {"READ DISC INFORMATION", true}},
        {0x5A, {"MODE SENSE(10)", false}},
    };
    return commands;
}

}  // namespace

int TcmuCarrier::ServeRing() {
    auto* mailbox = reinterpret_cast<tcmu_mailbox*>(map_);
    const uint32_t size = mailbox->cmdr_size;
    uint8_t* ring = map_ + mailbox->cmdr_off;
    uint32_t tail = __atomic_load_n(&mailbox->cmd_tail, __ATOMIC_ACQUIRE);
    const uint32_t head = __atomic_load_n(&mailbox->cmd_head, __ATOMIC_ACQUIRE);
    int answered = 0;
    while (tail != head) {
        uint8_t* entry = ring + tail;
        auto* header = reinterpret_cast<tcmu_cmd_entry_hdr*>(entry);
        const uint32_t length = tcmu_hdr_get_len(header->len_op);
        if (tcmu_hdr_get_op(header->len_op) == TCMU_OP_CMD) {
            Answer(entry);
            ++answered;
        }
        // Padding at the ring's end and task management notes need no answer.
        tail = (tail + length) % size;
        __atomic_store_n(&mailbox->cmd_tail, tail, __ATOMIC_RELEASE);
    }
    return answered;
}

void TcmuCarrier::Answer(uint8_t* entryBytes) {
    auto* entry = reinterpret_cast<tcmu_cmd_entry*>(entryBytes);
    // Everything of the request first: the response overwrites it.
    bool inMap = entry->req.cdb_off + 16 <= mapSize_;
    const uint8_t* cdbInMap = map_ + (inMap ? entry->req.cdb_off : 0);
    const std::vector<uint8_t> cdb(cdbInMap, cdbInMap + CdbLength(cdbInMap[0]));
    std::vector<iovec> iovecs(entry->req.iov_cnt);
    if (!iovecs.empty())
        std::memcpy(iovecs.data(), entryBytes + offsetof(tcmu_cmd_entry, req.iov),
                    iovecs.size() * sizeof(iovec));
    size_t total = 0;
    for (const iovec& v : iovecs) {
        total += v.iov_len;
        const uintptr_t base = reinterpret_cast<uintptr_t>(v.iov_base);
        inMap = inMap && base <= mapSize_ && v.iov_len <= mapSize_ - base;
    }
    if (!inMap) {  // never from a sound kernel
        std::memset(&entry->rsp, 0, sizeof entry->rsp);
        entry->rsp.scsi_status = CheckConditionStatus;
        FixedSense(reinterpret_cast<uint8_t*>(entry->rsp.sense_buffer), IllegalRequest, 0x24);
        return;
    }
    const uint8_t opcode = cdb[0];

    // The data of an outbound command, gathered; an inbound one starts zeroed.
    std::vector<uint8_t> data(total, 0);
    DataDirection direction = total == 0 ? DataDirection::None : DataDirection::In;
    if (opcode == OpWriteBuffer && total != 0) {
        direction = DataDirection::Out;
        size_t at = 0;
        for (const iovec& v : iovecs) {
            std::memcpy(data.data() + at, map_ + reinterpret_cast<uintptr_t>(v.iov_base),
                        v.iov_len);
            at += v.iov_len;
        }
    }

    uint8_t status = GoodStatus;
    uint8_t sense[SimSenseLength] = {};
    const auto kernel = KernelCommands().find(opcode);
    // A drive that was reset tells the first command after it that takes a
    // unit attention, whoever sent it: a TEST UNIT READY of the kernel's (an
    // open of the node sends one) learns of it before the program.
    if (opcode == OpInquiry || opcode == OpReadBuffer || opcode == OpWriteBuffer ||
        (drive_.UnitAttentionPending() && ReportsUnitAttention(opcode))) {
        if (drive_.CompletionDelayMs() != 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(drive_.CompletionDelayMs()));
        const SimOutcome outcome =
            drive_.Execute(cdb.data(), cdb.size(), direction, total != 0 ? data.data() : nullptr,
                           static_cast<uint32_t>(total));
        if (outcome == SimOutcome::CheckCondition) {
            status = CheckConditionStatus;
            std::memcpy(sense, drive_.Sense(), SimSenseLength);
        } else if (outcome == SimOutcome::NoDevice) {
            // A target cannot vanish from behind its own LUN: it stops being ready.
            status = CheckConditionStatus;
            FixedSense(sense, NotReady, 0x04);
        }
    } else if (kernel != KernelCommands().end()) {
        ++kernelCommands_[opcode];
        if (kernel->second.notReady) {
            status = CheckConditionStatus;
            FixedSense(sense, NotReady, MediumNotPresent);
        } else if (opcode == 0x03 && total >= 18) {
            FixedSense(data.data(), NotReady, MediumNotPresent);
        } else if (opcode == 0x4A && total >= 8) {
            // Media class, no event, no disc, door closed.
            data[1] = 6;
            data[2] = 0x04;
            data[3] = 0x10;
        } else if (opcode == 0x46 || opcode == 0x1A || opcode == 0x5A) {
            status = CheckConditionStatus;  // no feature list, no mode pages
            FixedSense(sense, IllegalRequest, 0x24);
        }
    } else {
        ++kernelCommands_[opcode];
        status = CheckConditionStatus;
        FixedSense(sense, IllegalRequest, InvalidOperationCode);
    }

    if (direction == DataDirection::In && status == GoodStatus) {
        size_t at = 0;
        for (const iovec& v : iovecs) {
            std::memcpy(map_ + reinterpret_cast<uintptr_t>(v.iov_base), data.data() + at,
                        v.iov_len);
            at += v.iov_len;
        }
    }
    std::memset(&entry->rsp, 0, sizeof entry->rsp);
    entry->rsp.scsi_status = status;
    if (status != GoodStatus) std::memcpy(entry->rsp.sense_buffer, sense, sizeof sense);
}

std::string TcmuCarrier::KernelCommandText() const {
    std::string text;
    for (const auto& [opcode, count] : kernelCommands_) {
        const auto known = KernelCommands().find(opcode);
        char line[96];
        std::snprintf(line, sizeof line, "%02Xh %s: %d\n", opcode,
                      known != KernelCommands().end() ? known->second.name : "(not known)", count);
        text += line;
    }
    return text;
}

#include "device/sgio/SgIoNode.h"

namespace {

constexpr size_t KindByte = 0;    // of Reserved137
constexpr size_t NumberByte = 1;  // of Reserved137

}  // namespace

std::string SgIoNodePath(SgIoNode node) {
    switch (node.kind) {
        case SgIoNodeKind::Cd:
            return "/dev/sr" + std::to_string(node.number);
        case SgIoNodeKind::Generic:
            return "/dev/sg" + std::to_string(node.number);
        case SgIoNodeKind::None:
            break;
    }
    return std::string();
}

void StoreSgIoNode(DeviceRecord& record, SgIoNode node) {
    record.Reserved137[KindByte] = static_cast<uint8_t>(node.kind);
    record.Reserved137[NumberByte] = node.number;
}

SgIoNode SgIoNodeOf(const DeviceRecord& record) {
    const uint8_t kind = record.Reserved137[KindByte];
    if (kind != static_cast<uint8_t>(SgIoNodeKind::Cd) &&
        kind != static_cast<uint8_t>(SgIoNodeKind::Generic)) {
        return SgIoNode{SgIoNodeKind::None, 0};
    }
    return SgIoNode{static_cast<SgIoNodeKind>(kind), record.Reserved137[NumberByte]};
}

std::string SgIoDevicePath(const DeviceRecord& record) {
    return SgIoNodePath(SgIoNodeOf(record));
}

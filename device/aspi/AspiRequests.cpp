#include "device/aspi/AspiRequests.h"

#include <cstring>

#include "device/ByteOrder.h"

SrbHaInquiry BuildHaInquiry(uint8_t adapter) {
    SrbHaInquiry request;
    std::memset(request.bytes, 0, sizeof request.bytes);
    request.bytes[SrbCommandOffset] = SC_HA_INQUIRY;
    request.bytes[SrbAdapterOffset] = adapter;
    return request;
}

void BuildExecRequest(SrbExecScsiCmd& request, const DeviceRecord& device,
                      const CommandDescription& command, uint8_t directionFlag, uint32_t dataLength,
                      uint8_t* data) {
    uint8_t* block = request.bytes;
    std::memset(block, 0, sizeof request.bytes);
    if (dataLength == 0) data = nullptr;
    request.data = data;

    block[SrbCommandOffset] = SC_EXEC_SCSI_CMD;
    block[SrbAdapterOffset] = device.AdapterId;
    block[SrbFlagsOffset] = directionFlag;
    block[ExecTargetOffset] = device.TargetId;
    block[ExecLunOffset] = device.Lun;
    WriteLe32(block + ExecDataLengthOffset, dataLength);
    // The 32-bit library takes a 32-bit address; a 64-bit process keeps the
    // low half here and the whole pointer in request.data.
    WriteLe32(block + ExecDataPointerOffset,
              static_cast<uint32_t>(reinterpret_cast<uintptr_t>(data)));
    block[ExecSenseLengthOffset] = ExecSenseLength;
    uint8_t cdbLength = command.cdbLength;
    if (cdbLength > ExecCdbSpace) cdbLength = ExecCdbSpace;
    block[ExecCdbLengthOffset] = cdbLength;
    std::memcpy(block + ExecCdbOffset, command.cdb, cdbLength);
}

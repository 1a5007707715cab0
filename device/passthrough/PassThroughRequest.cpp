#include "device/passthrough/PassThroughRequest.h"

#include <cstring>

#include "device/ByteOrder.h"

namespace {

void WriteHeader(uint8_t* header, const DeviceRecord& device, const CommandDescription& command,
                 uint8_t dataIn, uint32_t dataTransferLength, uint32_t dataLocation) {
    WriteLe16(header + LengthField, static_cast<uint16_t>(PassThroughHeaderSize));
    header[PathIdField] = device.AdapterId;
    header[TargetIdField] = device.TargetId;
    header[LunField] = device.Lun;
    header[CdbLengthField] = command.cdbLength;
    header[SenseInfoLengthField] = SenseInfoAnnounced;
    header[DataInField] = dataIn;
    WriteLe32(header + DataTransferLengthField, dataTransferLength);
    WriteLe32(header + TimeOutValueField, PassThroughTimeOutSeconds);
    WriteLe32(header + DataLocationField, dataLocation);
    WriteLe32(header + SenseInfoOffsetField, static_cast<uint32_t>(SenseAreaOffset));
    size_t cdbLength = command.cdbLength < CdbFieldSize ? command.cdbLength : CdbFieldSize;
    std::memcpy(header + CdbField, command.cdb, cdbLength);
}

}  // namespace

BufferedRequest MakeBufferedRequest(const DeviceRecord& device, const CommandDescription& command,
                                    uint8_t dataIn, uint32_t dataTransferLength) {
    BufferedRequest request;
    std::memset(request.bytes, 0, sizeof request.bytes);
    WriteHeader(request.bytes, device, command, dataIn, dataTransferLength,
                static_cast<uint32_t>(DataAreaOffset));
    return request;
}

DirectRequest MakeDirectRequest(const DeviceRecord& device, const CommandDescription& command,
                                uint8_t dataIn, uint32_t dataTransferLength, uint8_t* dataBuffer) {
    DirectRequest request;
    std::memset(request.bytes, 0, sizeof request.bytes);
    request.dataBuffer = dataBuffer;
    // On the 32-bit platform this is the whole address.
    uint32_t address = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(dataBuffer));
    WriteHeader(request.bytes, device, command, dataIn, dataTransferLength, address);
    return request;
}

SenseData ReadRequestSense(const uint8_t* block) {
    if (block[ScsiStatusField] != ScsiStatusCheckCondition) return SenseData();
    const uint8_t returned = block[SenseInfoLengthField];
    return DecodeSense(block + SenseAreaOffset,
                       returned < SenseInfoAnnounced ? returned : SenseInfoAnnounced);
}

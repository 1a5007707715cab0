#include "device/passthrough/PassThroughDeviceAccess.h"

#include "device/ByteOrder.h"
#include "device/DriveCommands.h"
#include "device/EnumerationProbe.h"

namespace {

// The carriage of the buffered requests: the INQUIRY announces the whole
// data area while its CDB asks for 192 bytes; the identification announces
// what it asks for. The output always reaches to the end of the announced
// data.
constexpr uint32_t InquiryTransferLength = DataAreaSize;
constexpr uint32_t IdentifyTransferLength = PassThroughAllocationLength;
constexpr uint32_t HeaderOnlyInput = PassThroughHeaderSize;
constexpr uint32_t HeaderAndSenseInput = DataAreaOffset;

constexpr char FirstDriveLetter = 'C';
constexpr char LastDriveLetter = 'Z';

// NT 4 carries pass-through requests on a handle opened for reading; from
// Windows 2000 on the control codes demand read and write access, and a
// read-only handle gets "access denied".
constexpr uint32_t FirstReadWriteMajorVersion = 5;

}  // namespace

PassThroughDeviceAccess::PassThroughDeviceAccess(std::unique_ptr<PassThroughPlatform> platform)
    : platform_(std::move(platform)), device_(*platform_) {
    uint32_t count = 0;
    if (platform_->ScsiSubkeyCount(count)) {
        AdapterCount = count;
        Initialized = 1;
    } else {
        Initialized = 0;
    }
    CurrentDevice = ZeroDeviceRecord();
}

PassThroughDeviceAccess::~PassThroughDeviceAccess() = default;

bool PassThroughDeviceAccess::OpenLetter(char letter) {
    // "\\.\E:", the device file of the drive letter.
    const char path[] = {'\\', '\\', '.', '\\', letter, ':', '\0'};
    uint32_t access = GenericReadAccess;
    uint32_t share = FileShareRead;
    if (platform_->MajorVersion() >= FirstReadWriteMajorVersion) {
        access |= GenericWriteAccess;
        share |= FileShareWrite;
    }
    device_.Reset(platform_->OpenDevice(path, access, share));
    return device_.Valid();
}

void PassThroughDeviceAccess::EnumerateDevices(DeviceList& list) {
    for (char letter = FirstDriveLetter; letter <= LastDriveLetter; ++letter) {
        if (!OpenLetter(letter)) continue;
        // The letter goes into the scratch record first, so that the copy the
        // probe appends names the drive.
        CurrentDevice.DriveLetter = letter;
        ProbeAddress(*this, list);
        device_.Close();
    }
    CurrentDevice = ZeroDeviceRecord();
}

bool PassThroughDeviceAccess::SendBuffered(BufferedRequest& request, uint32_t inputSize) {
    LastSense = SenseData();
    if (!device_.Valid()) return false;
    uint32_t outputSize =
        static_cast<uint32_t>(DataAreaOffset) + ReadLe32(request.bytes + DataTransferLengthField);
    if (!platform_->DeviceControl(device_.Get(), IoctlScsiPassThrough, request.bytes, inputSize,
                                  outputSize, nullptr)) {
        return false;
    }
    LastSense = request.Sense();
    return true;
}

int PassThroughDeviceAccess::InquireDevice() {
    BufferedRequest request =
        MakeBufferedRequest(CurrentDevice, InquiryCommand(PassThroughAllocationLength),
                            ScsiIoctlDataIn, InquiryTransferLength);
    if (!SendBuffered(request, HeaderOnlyInput)) return 0;
    if (request.ScsiStatus() != 0) return 0;
    return JudgeInquiry(request.Data(), CurrentDevice) ? 1 : 0;
}

int PassThroughDeviceAccess::TestUnitReady() {
    BufferedRequest request =
        MakeBufferedRequest(CurrentDevice, TestUnitReadyCommand(), ScsiIoctlDataIn, 0);
    if (!SendBuffered(request, HeaderOnlyInput)) return 0;
    return request.ScsiStatus() == 0 ? 1 : 0;
}

int PassThroughDeviceAccess::IdentifyController() {
    BufferedRequest request =
        MakeBufferedRequest(CurrentDevice, IdentifyCommand(PassThroughAllocationLength),
                            ScsiIoctlDataIn, IdentifyTransferLength);
    // The block alone decides; the SCSI status is not examined.
    if (!SendBuffered(request, HeaderAndSenseInput)) return 0;
    return JudgeIdentification(request.Data(), CurrentDevice) ? 1 : 0;
}

int PassThroughDeviceAccess::OpenDevice(const DeviceRecord& record) {
    CurrentDevice = record;
    return OpenLetter(CurrentDevice.DriveLetter) ? 1 : 0;
}

void PassThroughDeviceAccess::CloseDevice() {
    device_.Close();
}

int PassThroughDeviceAccess::SendDirect(const CommandDescription& command, uint8_t dataIn,
                                        uint8_t* data, uint32_t length) {
    LastSense = SenseData();
    if (!device_.Valid()) return 0;
    DirectRequest request = MakeDirectRequest(CurrentDevice, command, dataIn, length, data);
    if (!platform_->DeviceControl(device_.Get(), IoctlScsiPassThroughDirect, request.bytes,
                                  static_cast<uint32_t>(DirectRequestSize),
                                  static_cast<uint32_t>(DirectRequestSize), request.dataBuffer)) {
        return 0;
    }
    LastSense = request.Sense();
    if (request.ScsiStatus() != 0) return 0;
    // The port driver writes back how many bytes arrived. A read that
    // brought fewer than asked leaves older bytes in the caller's buffer,
    // where a read-back would compare them as the drive's: it fails.
    return dataIn == ScsiIoctlDataIn && ReadLe32(request.bytes + DataTransferLengthField) < length
               ? 0
               : 1;
}

int PassThroughDeviceAccess::ReadBufferData(uint8_t* destination, uint8_t bufferId, uint16_t offset,
                                            uint16_t length) {
    return SendDirect(ReadBufferDataCommand(bufferId, offset, length), ScsiIoctlDataIn, destination,
                      length);
}

int PassThroughDeviceAccess::ReadFlashData(uint8_t* destination, uint8_t bufferId, uint16_t offset,
                                           uint16_t length) {
    return SendDirect(ReadFlashDataCommand(bufferId, offset, length), ScsiIoctlDataIn, destination,
                      length);
}

int PassThroughDeviceAccess::WriteBufferSave(const uint8_t* source, uint8_t bufferId,
                                             uint16_t offset, uint16_t length) {
    // The request names one buffer for both directions; the drive only reads
    // this one.
    return SendDirect(WriteBufferSaveCommand(bufferId, offset, length), ScsiIoctlDataOut,
                      const_cast<uint8_t*>(source), length);
}

int PassThroughDeviceAccess::CommitMicrocode() {
    return SendDirect(CommitMicrocodeCommand(), ScsiIoctlDataOut, nullptr, 0);
}

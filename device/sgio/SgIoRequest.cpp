#include "device/sgio/SgIoRequest.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr uint8_t StatusMask = 0x7E;   // the status byte's reserved bits 0 and 7 aside
constexpr uint16_t DriverMask = 0x0F;  // the suggestion bits above say what to do, not what went on
constexpr uint16_t DriverSense = 0x08;
constexpr uint8_t NoSenseKey = 0;
constexpr uint8_t RecoveredErrorKey = 1;

const char* const SenseKeyNames[16] = {
    "NO SENSE",       "RECOVERED ERROR", "NOT READY",      "MEDIUM ERROR",
    "HARDWARE ERROR", "ILLEGAL REQUEST", "UNIT ATTENTION", "DATA PROTECT",
    "BLANK CHECK",    "VENDOR SPECIFIC", "COPY ABORTED",   "ABORTED COMMAND",
    "OBSOLETE",       "VOLUME OVERFLOW", "MISCOMPARE",     "COMPLETED",
};

int DirectionOf(const CommandDescription& command) {
    if (command.dataLength == 0) return SG_DXFER_NONE;
    return command.direction == DataDirection::Out ? SG_DXFER_TO_DEV : SG_DXFER_FROM_DEV;
}

std::string Hex(const char* format, unsigned value) {
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

void Append(std::string& text, const std::string& part) {
    if (!text.empty()) text += ", ";
    text += part;
}

}  // namespace

void PrepareSgIo(SgIoExchange& exchange, const CommandDescription& command, uint8_t* data,
                 unsigned timeoutMs) {
    // Every field not set below, flags among them, is 0.
    std::memset(&exchange.header, 0, sizeof exchange.header);
    std::memcpy(exchange.cdb, command.cdb, sizeof exchange.cdb);
    sg_io_hdr& h = exchange.header;
    h.interface_id = 'S';
    h.dxfer_direction = DirectionOf(command);
    h.cmd_len = command.cdbLength;
    h.mx_sb_len = SgIoSenseCapacity;
    h.dxfer_len = command.dataLength;
    h.dxferp = command.dataLength != 0 ? data : nullptr;
    h.cmdp = exchange.cdb;
    h.sbp = exchange.sense;
    h.timeout = timeoutMs;
}

uint32_t SgIoOutcome::Transferred() const {
    if (resid <= 0) return requested;
    const uint32_t missing = static_cast<uint32_t>(resid);
    return missing >= requested ? 0 : requested - missing;
}

SgIoOutcome ReadSgIoOutcome(int ioctlError, const SgIoExchange& exchange) {
    SgIoOutcome outcome;
    const sg_io_hdr& h = exchange.header;
    outcome.requested = h.dxfer_len;
    if (ioctlError != 0) {
        outcome.ioctlError = ioctlError;
        return outcome;
    }
    outcome.status = h.status;
    outcome.hostStatus = h.host_status;
    outcome.driverStatus = h.driver_status;
    outcome.resid = h.resid;
    const size_t written = h.sb_len_wr < SgIoSenseCapacity ? h.sb_len_wr : SgIoSenseCapacity;
    outcome.sense.assign(exchange.sense, exchange.sense + written);
    return outcome;
}

bool SgIoCommandDone(const SgIoOutcome& outcome) {
    if (outcome.ioctlError != 0) return false;
    if ((outcome.status & StatusMask) != 0) return false;
    if (outcome.hostStatus != 0) return false;
    const uint16_t driver = outcome.driverStatus & DriverMask;
    if (driver == 0) return true;
    if (driver != DriverSense) return false;
    const SenseData sense = DecodeSense(outcome.sense.data(), outcome.sense.size());
    return sense.Present && !sense.Deferred &&
           (sense.SenseKey == NoSenseKey || sense.SenseKey == RecoveredErrorKey);
}

std::string DescribeSense(const SenseData& f) {
    if (!f.Present) return "no sense data";
    char text[96];
    std::snprintf(text, sizeof text, "sense key %X (%s), ASC %02Xh ASCQ %02Xh%s", f.SenseKey,
                  SenseKeyNames[f.SenseKey], f.Asc, f.Ascq, f.Deferred ? ", deferred" : "");
    return text;
}

std::string DescribeSgIoOutcome(const SgIoOutcome& outcome) {
    if (outcome.ioctlError != 0) {
        return "SG_IO failed: errno " + std::to_string(outcome.ioctlError) + " (" +
               std::strerror(outcome.ioctlError) + ")";
    }
    std::string text;
    if (outcome.status != 0) Append(text, Hex("SCSI status %02Xh", outcome.status));
    if (outcome.hostStatus != 0) Append(text, Hex("host status %04Xh", outcome.hostStatus));
    if (outcome.driverStatus != 0) Append(text, Hex("driver status %02Xh", outcome.driverStatus));
    if (!outcome.sense.empty())
        Append(text, DescribeSense(DecodeSense(outcome.sense.data(), outcome.sense.size())));
    if (outcome.Transferred() != outcome.requested) {
        Append(text, std::to_string(outcome.Transferred()) + " of " +
                         std::to_string(outcome.requested) + " bytes transferred");
    }
    return text.empty() ? "completed" : text;
}

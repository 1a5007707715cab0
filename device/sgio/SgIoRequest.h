#pragma once

#include <scsi/sg.h>

#include <cstdint>
#include <string>
#include <vector>

#include "device/DriveCommands.h"
#include "device/SenseData.h"

// One packet command as the kernel's SG_IO ioctl takes it: an sg_io_hdr that
// points at the CDB, the caller's data and a sense buffer, and the judgement
// of what the kernel wrote back. Plain code: only the platform file hands
// the header to the kernel.

// Time limits in milliseconds. When one runs out the kernel aborts the
// command and resets the drive, which in the middle of programming its
// flash could leave it without firmware. So the flash commands get as long
// as the pass-through back-end gives them; the probes of the enumeration,
// which a drive answers from its controller, get less, so that a drive that
// hangs does not hold up the listing for minutes.
constexpr unsigned SgIoProbeTimeoutMs = 20 * 1000;
constexpr unsigned SgIoFlashTimeoutMs = 256 * 1000;

// Sense bytes the kernel may return: a fixed-format block is 18 bytes, a
// descriptor one rarely longer than 32.
constexpr unsigned char SgIoSenseCapacity = 32;

// The header and the buffers it points at. Not copyable: the header holds
// their addresses.
struct SgIoExchange {
    SgIoExchange() = default;
    SgIoExchange(const SgIoExchange&) = delete;
    SgIoExchange& operator=(const SgIoExchange&) = delete;

    sg_io_hdr header;
    uint8_t cdb[16];
    uint8_t sense[SgIoSenseCapacity];
};

// Fills exchange for command: interface 'S', direction from the command
// (none when it carries no data), CDB, data (command.dataLength bytes at
// data), sense buffer, timeout, flags 0; every other field 0.
void PrepareSgIo(SgIoExchange& exchange, const CommandDescription& command, uint8_t* data,
                 unsigned timeoutMs);

// What became of one command.
struct SgIoOutcome {
    int ioctlError = 0;  // errno of a failed ioctl; the fields below are then 0
    uint8_t status = 0;  // SCSI status byte
    uint16_t hostStatus = 0;
    uint16_t driverStatus = 0;
    uint32_t requested = 0;      // dxfer_len
    int32_t resid = 0;           // bytes that did not arrive
    std::vector<uint8_t> sense;  // the sense bytes the kernel wrote
    uint32_t Transferred() const;
};

// Reads the outcome of exchange after the ioctl returned ioctlError (0:
// success).
SgIoOutcome ReadSgIoOutcome(int ioctlError, const SgIoExchange& exchange);

// A command is done only when the ioctl succeeded, the SCSI status is GOOD,
// the host adapter reports no error and the driver reports nothing, or
// reports sense data (DRIVER_SENSE) that goes with a GOOD status and only
// says "no sense" or "recovered error" about this command itself. Any other
// driver status (time-out, error, a deferred error of an earlier command)
// fails it: a failed attempt is retried or reported, a wrong success would
// let a bad chunk through.
bool SgIoCommandDone(const SgIoOutcome& outcome);

// "sense key 5 (ILLEGAL REQUEST), ASC 24h ASCQ 00h"; "no sense data" when
// there is none to read.
std::string DescribeSense(const SenseData& sense);

// Everything unusual about a command's end, for the log of a failed attempt:
// "SCSI status 02h, driver status 08h, sense key 3 (MEDIUM ERROR), ASC 0Ch
// ASCQ 00h", "SG_IO failed: errno 1 (Operation not permitted)", "host status
// 0003h", "64 of 16384 bytes transferred".
std::string DescribeSgIoOutcome(const SgIoOutcome& outcome);

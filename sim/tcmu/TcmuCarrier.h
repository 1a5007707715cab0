#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

#include "sim/SimulatedDrive.h"

// The simulated drive behind the kernel's SCSI target: one target_core_user
// device, whose command ring (mapped from /dev/uioN) this carrier walks.
// Every entry from cmd_tail to cmd_head is answered in place: the CDB and
// the iovec list are copied out first, since the response overlays the
// request in the same entry; iovec bases are offsets into the mapping. The
// commands of the program's set (INQUIRY, READ BUFFER, WRITE BUFFER) go to
// the drive; the ones the kernel sends on its own (TEST UNIT READY, GET
// EVENT STATUS NOTIFICATION, MODE SENSE, READ CAPACITY, ...) are answered
// here as a drive without a disc answers them.
class TcmuCarrier {
  public:
    TcmuCarrier(SimulatedDrive& drive, uint8_t* map, size_t mapSize)
        : drive_(drive), map_(map), mapSize_(mapSize) {}

    // Answers every entry the kernel has queued; returns how many commands
    // were answered (the caller then tells the kernel, by a write to the
    // uio node).
    int ServeRing();

    // How often each command the carrier answered itself came, for the log
    // ("TEST UNIT READY: 12, medium not present").
    std::string KernelCommandText() const;

  private:
    void Answer(uint8_t* entry);

    SimulatedDrive& drive_;
    uint8_t* map_;
    size_t mapSize_;
    std::map<uint8_t, int> kernelCommands_;
};

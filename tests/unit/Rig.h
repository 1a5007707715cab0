#pragma once

// What the unit tests share: a simulated drive reached through either
// back-end exactly as the program reaches a real one, an operator that keeps
// a journal of what it was shown, a filled payload block and an output file
// held in memory.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "device/aspi/AspiDeviceAccess.h"
#include "device/passthrough/PassThroughDeviceAccess.h"
#include "flash/FlashBuffer.h"
#include "flash/OperatorFeedback.h"
#include "flash/OutputFile.h"
#include "payload/FirmwarePayload.h"
#include "sim/aspi/SimAspiHost.h"
#include "sim/passthrough/SimPassThroughCarrier.h"

// Every entry starts with two digits: the drive device files open and the
// flash buffers handed out at that moment, so a journal shows what was
// released before the operator was told.
class Feedback : public OperatorFeedback {
  public:
    std::string journal;  // entries separated by "; "
    std::vector<std::string> status;
    std::vector<int> progress;
    int answer = AnswerYes;
    std::function<int()> openFiles = [] { return 0; };

    std::string Status() const { return status.empty() ? "" : status.back(); }
    void Note(const std::string& what) {
        journal += (journal.empty() ? "" : "; ") + std::to_string(openFiles()) +
                   std::to_string(LiveFlashBuffers()) + " " + what;
    }
    void SetStatusText(const std::string& text) override {
        status.push_back(text);
        Note("status " + text);
    }
    void SetProgress(int position) override {
        progress.push_back(position);
        Note("progress " + std::to_string(position));
    }
    void EnableControl(int id, bool on) override {
        Note((on ? "enable " : "disable ") + std::to_string(id));
    }
    int ShowMessageBox(const std::string& text, const char* caption,
                       MessageButtons buttons) override {
        Note("box " + text + (caption ? " | caption" : "") +
             (buttons == MessageButtons::YesNo ? " | yes/no" : ""));
        return answer;
    }
};

// A filled payload block: a patterned image, its checksum text, version
// "1.58" and model digit '4'.
inline std::vector<uint8_t> PayloadBlock() {
    std::vector<uint8_t> block(PayloadBlockSize, 0);
    uint8_t* image = block.data() + PayloadImageOffset;
    for (uint32_t i = 0; i < ImageSize; ++i) image[i] = static_cast<uint8_t>(i * 31 + (i >> 9));
    image[1] = 0xF3;  // the pattern alone sums to 0
    char header[16];
    std::snprintf(header, sizeof header, "1.58%c%04X", 0, ImageChecksum(image, ImageSize));
    std::memcpy(block.data(), header, 9);
    block[PayloadModelOffset] = '4';
    return block;
}

// One simulated drive behind the pass-through carrier at letter E, or on
// target 1 of the one ASPI host adapter.
struct Rig {
    enum Kind { PassThrough, Aspi };

    explicit Rig(Kind kind = PassThrough, const SimDriveIdentity& identity = {}) {
        if (kind == PassThrough) {
            auto owned = std::make_unique<SimPassThroughCarrier>();
            carrier = owned.get();
            drive = &carrier->AddDrive('E', identity);
            access = std::make_unique<PassThroughDeviceAccess>(std::move(owned));
            feedback.openFiles = [this] { return carrier->OpenHandleCount(); };
        } else {
            aspiDrive = std::make_unique<SimulatedDrive>(identity);
            drive = aspiDrive.get();
            host.AddAdapter(SS_COMP, 2);
            host.AttachDrive(0, 1, *drive);
            access = std::make_unique<AspiDeviceAccess>(std::make_unique<SimAspiLibrary>(host),
                                                        [this] { return clock++; });
        }
    }

    // The drive's record as the enumeration found it.
    DeviceRecord Found() {
        DeviceList list;
        access->EnumerateDevices(list);
        EXPECT_EQ(list.Count(), 1);
        return list.Count() ? *list.At(0) : ZeroDeviceRecord();
    }
    // Commands the drive received whose CDB starts with these bytes.
    int Sent(std::vector<uint8_t> start) const {
        int count = 0;
        for (const SimLogEntry& entry : drive->Log())
            count += entry.cdb.size() >= start.size() &&
                     std::equal(start.begin(), start.end(), entry.cdb.begin());
        return count;
    }

    SimPassThroughCarrier* carrier = nullptr;
    SimAspiHost host;
    std::unique_ptr<SimulatedDrive> aspiDrive;
    SimulatedDrive* drive = nullptr;
    uint32_t clock = 0;
    std::unique_ptr<DeviceAccess> access;
    Feedback feedback;
};

// An output file in memory whose refusals are scriptable.
struct MemoryFile : OutputFile {
    Feedback& feedback;  // shares its journal
    std::vector<uint8_t> contents;
    bool failOpen = false, failLength = false, failTruncate = false, failWrite = false;
    bool open = false;
    int closes = 0;

    explicit MemoryFile(Feedback& f) : feedback(f) {}
    bool Open(const std::string& path) override {
        feedback.Note("file open " + path);
        return open = !failOpen;
    }
    bool Length(uint64_t& length) override {
        length = contents.size();
        return open && !failLength;
    }
    bool Truncate() override {
        if (!open || failTruncate) return false;
        contents.clear();
        return true;
    }
    bool Write(const uint8_t* data, uint32_t length) override {
        feedback.Note("file write " + std::to_string(length));
        if (!open || failWrite) return false;
        if (contents.size() < length) contents.resize(length);
        std::copy(data, data + length, contents.begin());
        return true;
    }
    void Close() override {
        if (open) feedback.Note("file close");
        open = false;
        ++closes;
    }
};

#pragma once

// What the unit tests share: simulated drives reached through any back-end
// exactly as the program reaches a real one, an operator that keeps a
// journal of what it was shown, a filled payload block and an output file
// held in memory.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "device/ByteOrder.h"
#include "device/aspi/AspiDeviceAccess.h"
#include "device/passthrough/PassThroughDeviceAccess.h"
#include "flash/FlashBuffer.h"
#include "flash/FormatText.h"
#include "flash/OperatorFeedback.h"
#include "flash/OutputFile.h"
#include "payload/FirmwarePayload.h"
#include "sim/aspi/SimAspiHost.h"
#include "sim/passthrough/SimPassThroughCarrier.h"
#ifndef _WIN32
#include "device/sgio/SgIoDeviceAccess.h"
#include "sim/sgio/SimSgIoCarrier.h"
#endif

// Every entry starts with two digits: the drive device files open and the
// flash buffers handed out at that moment, so a journal shows what was
// released before the operator was told.
class Feedback : public OperatorFeedback {
  public:
    std::string journal;  // entries separated by "; "
    std::vector<std::string> status;
    std::vector<int> progress;
    std::vector<std::string> notices;
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
    void Notice(const std::string& text) override { notices.push_back(text); }
};

// A filled payload block: a patterned image, its checksum text, the version
// and the model digit.
inline std::vector<uint8_t> PayloadBlock(char model = '4', const char* version = "1.58") {
    std::vector<uint8_t> block(PayloadBlockSize, 0);
    uint8_t* image = block.data() + PayloadImageOffset;
    for (uint32_t i = 0; i < ImageSize; ++i) image[i] = static_cast<uint8_t>(i * 31 + (i >> 9));
    image[1] = 0xF3;  // the pattern alone sums to 0: now to 00D4
    std::snprintf(reinterpret_cast<char*>(block.data()), 10, "%.4s%c%04X", version, 0,
                  ImageChecksum(image, ImageSize));
    block[PayloadModelOffset] = static_cast<uint8_t>(model);
    return block;
}

// A record as the inquiry fills it: the texts copied byte for byte.
inline DeviceRecord Inquired(const char* vendor, const char* product, const char* revision,
                             uint16_t major = 0, uint16_t minor = 0) {
    DeviceRecord record = ZeroDeviceRecord();
    std::strncpy(record.Vendor, vendor, 8);
    std::strncpy(record.Product, product, 16);
    std::strncpy(record.Revision, revision, 4);
    std::memcpy(record.VendorProduct, record.Vendor, 8);
    std::memcpy(record.VendorProduct + 8, record.Product, 16);
    record.VersionMajor = major;
    record.VersionMinor = minor;
    return record;
}

inline bool Same(const DeviceRecord& a, const DeviceRecord& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// What an enumeration lists.
inline DeviceList Listed(DeviceAccess& access) {
    DeviceList list;
    access.EnumerateDevices(list);
    return list;
}

// A request as text: bytes in hex, the data address the carrier was handed
// as PTR, four or more zero bytes as 0*N, trailing zeros left out.
inline std::string Dump(const uint8_t* bytes, size_t size, size_t dataField, const void* data) {
    std::string text;
    size_t zeros = 0;
    auto flush = [&] {
        for (; zeros > 0 && zeros < 4; --zeros) text += " 00";
        if (zeros) text += FormatText(" 0*%u", static_cast<unsigned>(zeros));
        zeros = 0;
    };
    for (size_t i = 0; i < size; ++i) {
        if (data && i == dataField &&
            ReadLe32(bytes + i) == static_cast<uint32_t>(reinterpret_cast<uintptr_t>(data))) {
            flush();
            text += " PTR";
            i += 3;
        } else if (bytes[i] == 0) {
            ++zeros;
        } else {
            flush();
            text += FormatText(" %02X", bytes[i]);
        }
    }
    return text.empty() ? text : text.substr(1);
}

template <class Access>
std::vector<int> SendEveryCommand(Access& a, uint8_t* buffer) {
    return {a.InquireDevice(),
            a.TestUnitReady(),
            a.IdentifyController(),
            a.ReadBufferData(buffer, 1, 0xC000, 0x4000),
            a.ReadFlashData(buffer, 0, 0x4000, 0x4000),
            a.WriteBufferSave(buffer, 1, 0x1234, 0x4000),
            a.CommitMicrocode()};
}

// Lend the test's carriers to the back-ends, which would otherwise own them:
// the drives outlive every back-end made over them.
struct LentCarrier : PassThroughPlatform {
    SimPassThroughCarrier& c;
    explicit LentCarrier(SimPassThroughCarrier& carrier) : c(carrier) {}
    bool ScsiSubkeyCount(uint32_t& count) override { return c.ScsiSubkeyCount(count); }
    uint32_t MajorVersion() override { return c.MajorVersion(); }
    Handle OpenDevice(const char* path, uint32_t access, uint32_t share) override {
        return c.OpenDevice(path, access, share);
    }
    bool DeviceControl(Handle h, uint32_t code, uint8_t* block, uint32_t in, uint32_t out,
                       uint8_t* direct) override {
        return c.DeviceControl(h, code, block, in, out, direct);
    }
    void CloseDevice(Handle h) override { c.CloseDevice(h); }
};
#ifndef _WIN32
struct LentNodes : SgIoPlatform {
    SimSgIoCarrier& c;
    explicit LentNodes(SimSgIoCarrier& carrier) : c(carrier) {}
    int Open(const char* path, int flags) override { return c.Open(path, flags); }
    void Close(int fd) override { c.Close(fd); }
    int SendSgIo(int fd, sg_io_hdr& h) override { return c.SendSgIo(fd, h); }
    int ReadScsiAddress(int fd, ScsiAddress& a) override { return c.ReadScsiAddress(fd, a); }
    bool HoldsRawIoCapability() override { return c.HoldsRawIoCapability(); }
};
#endif

// Simulated drives behind one back-end: letters from E on for pass-through,
// targets from 1 on of the one ASPI host adapter, CD nodes from /dev/sr0 on
// (host 0, targets from 0) for SG_IO.
struct Rig {
    enum Kind { PassThrough, Aspi, SgIo };

    explicit Rig(Kind k = PassThrough, const SimDriveIdentity& identity = {}) : kind(k) {
        host.AddAdapter(SS_COMP, 2);
        drive = &Add(identity);
        access = NewAccess();
        feedback.openFiles = [this] {  // device files or nodes open now
#ifndef _WIN32
            if (kind == SgIo) return nodes.OpenCount();
#endif
            return carrier.OpenHandleCount();
        };
    }
    SimulatedDrive& Add(const SimDriveIdentity& identity = {}) {
        const int n = count++;
        if (kind == PassThrough) return carrier.AddDrive(static_cast<char>('E' + n), identity);
        drives.push_back(std::make_unique<SimulatedDrive>(identity));
        if (kind == Aspi) host.AttachDrive(0, static_cast<uint8_t>(n + 1), *drives.back());
#ifndef _WIN32
        if (kind == SgIo)
            nodes.AddNode("/dev/sr" + std::to_string(n), *drives.back(), 0,
                          static_cast<uint8_t>(n));
#endif
        return *drives.back();
    }
    std::unique_ptr<DeviceAccess> NewAccess() {
        if (kind == Aspi) {
            return std::make_unique<AspiDeviceAccess>(std::make_unique<SimAspiLibrary>(host),
                                                      [this] { return clock++; });
        }
#ifndef _WIN32
        if (kind == SgIo)
            return std::make_unique<SgIoDeviceAccess>(std::make_unique<LentNodes>(nodes));
#endif
        return std::make_unique<PassThroughDeviceAccess>(std::make_unique<LentCarrier>(carrier));
    }
    // The first drive's record as the enumeration found it.
    DeviceRecord Found() {
        const DeviceList list = Listed(*access);
        EXPECT_EQ(list.Count(), count);
        return list.Count() ? *list.At(0) : ZeroDeviceRecord();
    }
    // Commands the first drive received whose CDB starts with these bytes.
    int Sent(std::vector<uint8_t> start) const {
        int sent = 0;
        for (const SimLogEntry& entry : drive->Log())
            sent += entry.cdb.size() >= start.size() &&
                    std::equal(start.begin(), start.end(), entry.cdb.begin());
        return sent;
    }

    Kind kind;
    int count = 0;
    SimPassThroughCarrier carrier;
    SimAspiHost host;
    std::vector<std::unique_ptr<SimulatedDrive>> drives;
#ifndef _WIN32
    SimSgIoCarrier nodes;
#endif
    SimulatedDrive* drive = nullptr;
    uint32_t clock = 0;
    std::unique_ptr<DeviceAccess> access;
    Feedback feedback;
};

#ifndef _WIN32
const Rig::Kind AllKinds[] = {Rig::PassThrough, Rig::Aspi, Rig::SgIo};
#else
const Rig::Kind AllKinds[] = {Rig::PassThrough, Rig::Aspi};
#endif

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

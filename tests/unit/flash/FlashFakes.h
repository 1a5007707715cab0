#pragma once

// Scriptable stand-ins for what the flash operations talk to: a drive held in
// memory, an operator that records everything shown to it, and an output file
// held in memory. All three write into one shared journal, so a test can
// check the order of what the user saw against what the drive received.

#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "device/DeviceAccess.h"
#include "flash/FlashBuffer.h"
#include "flash/FormatText.h"
#include "flash/OperatorFeedback.h"
#include "flash/OutputFile.h"

using Journal = std::vector<std::string>;

inline size_t IndexOf(const Journal& journal, const std::string& entry) {
    for (size_t i = 0; i < journal.size(); ++i)
        if (journal[i] == entry) return i;
    return journal.size();
}

inline size_t CountOf(const Journal& journal, const std::string& entry) {
    size_t count = 0;
    for (const std::string& e : journal) count += e == entry;
    return count;
}

// A drive whose flash and download buffer live in memory. Faults are
// scripted per byte position (buffer id << 16 | offset): the next N commands
// of that kind at that position fail.
class FakeDrive : public DeviceAccess {
    Journal& journal_;

  public:
    FakeDrive(Journal& journal, uint32_t flashSize)
        : journal_(journal), flash(flashSize, 0), downloaded(flashSize, 0) {}

    std::vector<uint8_t> flash;       // what READ BUFFER (flash contents) returns
    std::vector<uint8_t> downloaded;  // what WRITE BUFFER stored
    bool openSucceeds = true;
    bool commitSucceeds = true;
    uint32_t reportedFlashSize = 0;  // when set, the size OpenDevice reports
    std::map<uint32_t, int> failWrite, failReadBack, corruptReadBack, failFlashRead;
    int openCount = 0, closeCount = 0;

    void EnumerateDevices(DeviceList&) override {}
    int InquireDevice() override { return 1; }
    int IdentifyController() override { return 1; }

    int OpenDevice(const DeviceRecord& record) override {
        CurrentDevice = record;
        if (reportedFlashSize) CurrentDevice.FlashSize = reportedFlashSize;
        ++openCount;
        journal_.push_back(openSucceeds ? "open" : "open failed");
        return openSucceeds ? 1 : 0;
    }
    void CloseDevice() override {
        ++closeCount;
        journal_.push_back("close");
    }
    int ReadBufferData(uint8_t* destination, uint8_t bufferId, uint16_t offset,
                       uint16_t length) override {
        const uint32_t position = Position(bufferId, offset);
        journal_.push_back(Entry("read", bufferId, offset, length));
        if (Take(failReadBack, position) || !Fits(position, length, downloaded)) return 0;
        std::memcpy(destination, downloaded.data() + position, length);
        if (Take(corruptReadBack, position)) destination[length / 2] ^= 0x01;
        return 1;
    }
    int ReadFlashData(uint8_t* destination, uint8_t bufferId, uint16_t offset,
                      uint16_t length) override {
        const uint32_t position = Position(bufferId, offset);
        journal_.push_back(Entry("flash read", bufferId, offset, length));
        if (Take(failFlashRead, position) || !Fits(position, length, flash)) return 0;
        std::memcpy(destination, flash.data() + position, length);
        return 1;
    }
    int WriteBufferSave(const uint8_t* source, uint8_t bufferId, uint16_t offset,
                        uint16_t length) override {
        const uint32_t position = Position(bufferId, offset);
        journal_.push_back(Entry("write", bufferId, offset, length));
        if (Take(failWrite, position) || !Fits(position, length, downloaded)) return 0;
        std::memcpy(downloaded.data() + position, source, length);
        return 1;
    }
    int CommitMicrocode() override {
        journal_.push_back("commit");
        return commitSucceeds ? 1 : 0;
    }

    static std::string Entry(const char* what, unsigned bufferId, unsigned offset,
                             unsigned length) {
        return FormatText("%s %u 0x%04X 0x%X", what, bufferId, offset, length);
    }

  private:
    static uint32_t Position(uint8_t bufferId, uint16_t offset) {
        return (uint32_t{bufferId} << 16) | offset;
    }
    static bool Take(std::map<uint32_t, int>& faults, uint32_t position) {
        auto it = faults.find(position);
        if (it == faults.end() || it->second == 0) return false;
        --it->second;
        return true;
    }
    static bool Fits(uint32_t position, uint16_t length, const std::vector<uint8_t>& memory) {
        return uint64_t{position} + length <= memory.size();
    }
};

// An operator that records every call and answers message boxes as told.
class RecordingFeedback : public OperatorFeedback {
  public:
    explicit RecordingFeedback(Journal& journal) : journal_(journal) {}

    struct Box {
        std::string text;
        bool hasCaption;
        MessageButtons buttons;
    };

    std::vector<std::string> statusTexts;
    std::vector<int> progress;
    std::vector<Box> boxes;
    int answer = AnswerYes;
    // Last state of each control; controls start enabled.
    std::map<int, bool> enabled{
        {BrowseButtonId, true}, {UpgradeButtonId, true}, {ExitButtonId, true}};

    std::string Status() const { return statusTexts.empty() ? "" : statusTexts.back(); }

    void SetStatusText(const std::string& text) override {
        statusTexts.push_back(text);
        journal_.push_back("status " + text);
    }
    void SetProgress(int position) override {
        progress.push_back(position);
        journal_.push_back("progress " + std::to_string(position));
    }
    void EnableControl(int controlId, bool on) override {
        enabled[controlId] = on;
        journal_.push_back((on ? "enable " : "disable ") + std::to_string(controlId));
    }
    int ShowMessageBox(const std::string& text, const char* caption,
                       MessageButtons buttons) override {
        boxes.push_back({text, caption != nullptr, buttons});
        journal_.push_back("box " + text);
        return answer;
    }

  private:
    Journal& journal_;
};

// An output file held in memory, with the file system's refusals scriptable.
class MemoryFile : public OutputFile {
  public:
    explicit MemoryFile(Journal& journal) : journal_(journal) {}

    bool exists = false;
    std::vector<uint8_t> contents;
    bool failOpen = false, failLength = false, failTruncate = false, failWrite = false;
    bool open = false;
    int closeCount = 0;

    bool Open(const std::string& path) override {
        journal_.push_back("file open " + path);
        if (path.empty() || failOpen) return false;
        exists = open = true;
        return true;
    }
    bool Length(uint64_t& length) override {
        if (!open || failLength) return false;
        length = contents.size();
        return true;
    }
    bool Truncate() override {
        journal_.push_back("file truncate");
        if (!open || failTruncate) return false;
        contents.clear();
        return true;
    }
    bool Write(const uint8_t* data, uint32_t length) override {
        journal_.push_back("file write " + std::to_string(length));
        if (!open || failWrite) return false;
        if (contents.size() < length) contents.resize(length);
        std::memcpy(contents.data(), data, length);
        return true;
    }
    void Close() override {
        if (open) journal_.push_back("file close");
        open = false;
        ++closeCount;
    }

  private:
    Journal& journal_;
};

// Allocates like the program but can refuse the n-th request (counted from 1)
// and remembers every size asked for.
struct ScriptedAllocator {
    int refuse = 0;
    std::vector<size_t> sizes;

    BufferAllocator Get() {
        return [this](size_t size) -> FlashBuffer {
            sizes.push_back(size);
            if (static_cast<int>(sizes.size()) == refuse) return nullptr;
            return AllocateFlashBuffer(size);
        };
    }
};

inline DeviceRecord TestRecord(uint32_t flashSize) {
    DeviceRecord record = ZeroDeviceRecord();
    record.AdapterId = 1;
    record.TargetId = 2;
    std::strcpy(record.Vendor, "SIMDRIVE");
    std::strcpy(record.Product, "DVD-ROM SIM16X");
    record.FlashSize = flashSize;
    return record;
}

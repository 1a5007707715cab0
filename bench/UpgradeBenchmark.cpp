// The upgrade of a whole image against a drive held in memory that answers
// at once, beside what the work fundamentally costs: one copy, one byte-sum
// and one compare of the image. The upgrade should stay within three times
// that baseline: everything above it is the operation's own overhead.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "flash/UpgradeFirmware.h"

namespace {

// A drive with no latency: a write stores the chunk, a read-back returns it.
class InstantDrive : public DeviceAccess {
  public:
    InstantDrive() : buffer_(ImageSize) {}
    void EnumerateDevices(DeviceList&) override {}
    int InquireDevice() override { return 1; }
    int IdentifyController() override { return 1; }
    int OpenDevice(const DeviceRecord& record) override {
        CurrentDevice = record;
        return 1;
    }
    void CloseDevice() override {}
    int ReadBufferData(uint8_t* destination, uint8_t bufferId, uint16_t offset,
                       uint16_t length) override {
        std::memcpy(destination, buffer_.data() + Position(bufferId, offset), length);
        return 1;
    }
    int ReadFlashData(uint8_t*, uint8_t, uint16_t, uint16_t) override { return 0; }
    int WriteBufferSave(const uint8_t* source, uint8_t bufferId, uint16_t offset,
                        uint16_t length) override {
        std::memcpy(buffer_.data() + Position(bufferId, offset), source, length);
        return 1;
    }
    int CommitMicrocode() override { return 1; }

  private:
    static size_t Position(uint8_t bufferId, uint16_t offset) {
        return (size_t{bufferId} << 16) | offset;
    }
    std::vector<uint8_t> buffer_;
};

class SilentFeedback : public OperatorFeedback {
  public:
    void SetStatusText(const std::string&) override {}
    void SetProgress(int) override {}
    void EnableControl(int, bool) override {}
    int ShowMessageBox(const std::string&, const char*, MessageButtons) override { return 0; }
};

std::vector<uint8_t> FilledBlock() {
    std::vector<uint8_t> block(PayloadBlockSize, 0);
    std::memcpy(block.data(), "1.58", 4);
    for (uint32_t i = 0; i < ImageSize; ++i)
        block[PayloadImageOffset + i] = static_cast<uint8_t>(i * 31 + (i >> 11));
    char text[5];
    std::snprintf(
        text, sizeof text, "%04X",
        static_cast<unsigned>(ImageChecksum(block.data() + PayloadImageOffset, ImageSize)));
    std::memcpy(block.data() + PayloadChecksumOffset, text, 4);
    block[PayloadModelOffset] = '4';
    return block;
}

DeviceRecord Record() {
    DeviceRecord record = ZeroDeviceRecord();
    record.FlashSize = ImageSize;
    return record;
}

void BM_Baseline(benchmark::State& state) {
    const std::vector<uint8_t> block = FilledBlock();
    const uint8_t* image = block.data() + PayloadImageOffset;
    std::vector<uint8_t> copy(ImageSize);
    for (auto _ : state) {
        std::memcpy(copy.data(), image, ImageSize);
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
        benchmark::DoNotOptimize(ImageChecksum(copy.data(), ImageSize));
        benchmark::DoNotOptimize(std::memcmp(copy.data(), image, ImageSize));
    }
    state.SetBytesProcessed(int64_t{state.iterations()} * ImageSize);
}
BENCHMARK(BM_Baseline);

void BM_UpgradeFirmware(benchmark::State& state) {
    const std::vector<uint8_t> block = FilledBlock();
    const FirmwarePayload payload(block.data());
    const DeviceRecord record = Record();
    InstantDrive drive;
    SilentFeedback feedback;
    const PauseFunction noPause = [](unsigned) {};
    for (auto _ : state) {
        if (!UpgradeFirmware(record, drive, payload, feedback, noPause)) {
            state.SkipWithError("upgrade failed");
            break;
        }
    }
    state.SetBytesProcessed(int64_t{state.iterations()} * ImageSize);
}
BENCHMARK(BM_UpgradeFirmware);

}  // namespace

BENCHMARK_MAIN();

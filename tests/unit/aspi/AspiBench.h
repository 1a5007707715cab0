#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "device/aspi/AspiDeviceAccess.h"
#include "sim/SimulatedDrive.h"
#include "sim/aspi/SimAspiHost.h"

// Simulated host adapters with drives on them, and the ASPI back-end over
// them.
struct AspiBench {
    SimAspiHost host;
    std::vector<std::unique_ptr<SimulatedDrive>> drives;

    SimulatedDrive& AddDrive(uint8_t adapter, uint8_t target, SimDriveIdentity identity = {}) {
        drives.push_back(std::make_unique<SimulatedDrive>(identity));
        host.AttachDrive(adapter, target, *drives.back());
        return *drives.back();
    }

    std::unique_ptr<AspiDeviceAccess> Open(AspiClock clock = SteadyMilliseconds) {
        return std::make_unique<AspiDeviceAccess>(std::make_unique<SimAspiLibrary>(host),
                                                  std::move(clock));
    }

    static uint32_t SteadyMilliseconds() {
        return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                         std::chrono::steady_clock::now().time_since_epoch())
                                         .count());
    }
};

// Completes each delayed request from a thread of its own, as the library
// would.
class ThreadScheduler : public CompletionScheduler {
  public:
    ~ThreadScheduler() override {
        for (std::thread& thread : threads_) thread.join();
    }
    void Schedule(unsigned delayMs, std::function<void()> work) override {
        threads_.emplace_back([delayMs, work] {
            std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
            work();
        });
    }

  private:
    std::vector<std::thread> threads_;
};

// Keeps delayed requests pending until the test lets them end.
class HeldScheduler : public CompletionScheduler {
  public:
    void Schedule(unsigned, std::function<void()> work) override {
        held_.push_back(std::move(work));
    }
    size_t Held() const { return held_.size(); }
    void CompleteAll() {
        std::vector<std::function<void()>> works;
        works.swap(held_);
        for (auto& work : works) work();
    }

  private:
    std::vector<std::function<void()>> held_;
};

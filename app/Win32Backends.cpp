#include "app/Win32Backends.h"

#include <new>

#include "device/aspi/AspiDeviceAccess.h"
#include "device/aspi/AspiLibrary.h"
#include "device/passthrough/PassThroughDeviceAccess.h"
#include "device/passthrough/Win32PassThroughPlatform.h"

std::unique_ptr<DeviceAccess> CreatePassThroughBackend() {
    std::unique_ptr<PassThroughPlatform> platform(new (std::nothrow) Win32PassThroughPlatform);
    if (platform == nullptr) return nullptr;
    return std::unique_ptr<DeviceAccess>(new (std::nothrow)
                                             PassThroughDeviceAccess(std::move(platform)));
}

std::unique_ptr<DeviceAccess> CreateAspiBackend() {
    std::unique_ptr<AspiLibrary> library = CreateWin32AspiLibrary();
    if (library == nullptr) return nullptr;
    return std::unique_ptr<DeviceAccess>(
        new (std::nothrow) AspiDeviceAccess(std::move(library), Win32Milliseconds));
}

#include "console/LogindStayAwake.h"

#include <fcntl.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "device/sgio/SgIoDeviceAccess.h"
#include "flash/FormatText.h"

namespace {

const char Unheld[] = "the machine cannot be kept awake: ";
const char GoesOn[] = "; the write goes on";

}  // namespace

std::string LogindStayAwake::Hold(const DeviceRecord& drive) {
    Release();
    sd_bus* bus = nullptr;
    // DBUS_SYSTEM_BUS_ADDRESS, else the system bus's usual socket.
    int result = sd_bus_open_system(&bus);
    if (result < 0)
        return Unheld + FormatText("no system bus (%s)", std::strerror(-result)) + GoesOn;
    const std::string why =
        FormatText("writing firmware to %s (%s %s)", SgIoDevicePath(drive).c_str(),
                   TrimmedFieldText(drive.Vendor, sizeof drive.Vendor - 1).c_str(),
                   TrimmedFieldText(drive.Product, sizeof drive.Product - 1).c_str());
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    result = sd_bus_call_method(bus, "org.freedesktop.login1", "/org/freedesktop/login1",
                                "org.freedesktop.login1.Manager", "Inhibit", &error, &reply, "ssss",
                                "sleep:shutdown:idle", "flash-upgrade", why.c_str(), "block");
    std::string line;
    int fd = -1;
    if (result < 0) {
        line = Unheld +
               FormatText("logind does not answer (%s)",
                          error.message ? error.message : std::strerror(-result)) +
               GoesOn;
    } else if ((result = sd_bus_message_read(reply, "h", &fd)) < 0) {
        line = Unheld +
               FormatText("logind's answer holds no descriptor (%s)", std::strerror(-result)) +
               GoesOn;
    } else {
        // The descriptor belongs to the message: a copy of it is kept.
        fd_ = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
        line = fd_ >= 0 ? "the machine is kept awake while the drive is written (logind "
                          "inhibitor: sleep:shutdown:idle)"
                        : Unheld + FormatText("%s", std::strerror(errno)) + GoesOn;
    }
    sd_bus_error_free(&error);
    sd_bus_message_unref(reply);
    sd_bus_flush_close_unref(bus);
    return line;
}

void LogindStayAwake::Release() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

#include "console/LinuxPower.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

namespace {

// The folder is opened once and every file is opened relative to it
// (openat), so the whole reading sees one folder. The tests present a
// folder of their own there: the simulated nodes' library maps the open of
// this one path (docs/simulator.md), and the program has no switch for it.
const char PowerSupplyFolder[] = "/sys/class/power_supply";

// The first line of a small attribute file, or empty when it cannot be
// read (a supply that lacks the attribute).
std::string ReadAttribute(int folder, const std::string& name) {
    const int fd = ::openat(folder, name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return "";
    char text[64];
    const ssize_t length = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    if (length <= 0) return "";
    std::string value(text, static_cast<size_t>(length));
    return value.substr(0, value.find('\n'));
}

int ReadFlag(int folder, const std::string& name) {
    const std::string value = ReadAttribute(folder, name);
    if (value.empty() || value.find_first_not_of("0123456789") != std::string::npos) return -1;
    return std::atoi(value.c_str());
}

}  // namespace

std::vector<PowerSupplyReading> ReadPowerSupplies() {
    std::vector<PowerSupplyReading> supplies;
    const int fd = ::open(PowerSupplyFolder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return supplies;
    DIR* folder = ::fdopendir(fd);  // owns fd from here
    if (folder == nullptr) {
        ::close(fd);
        return supplies;
    }
    while (const dirent* entry = ::readdir(folder)) {
        const std::string name = entry->d_name;
        if (name.empty() || name[0] == '.') continue;
        PowerSupplyReading supply;
        supply.name = name;
        supply.type = ReadAttribute(fd, name + "/type");
        supply.scope = ReadAttribute(fd, name + "/scope");
        supply.online = ReadFlag(fd, name + "/online");
        supply.present = ReadFlag(fd, name + "/present");
        supplies.push_back(supply);
    }
    ::closedir(folder);
    // In name order, so the verdict names the same supply every time.
    std::sort(supplies.begin(), supplies.end(),
              [](const auto& a, const auto& b) { return a.name < b.name; });
    return supplies;
}

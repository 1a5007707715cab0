#include "console/LinuxPower.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <climits>

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

}  // namespace

int PowerFlagValue(const std::string& line) {
    if (line.empty()) return -1;
    int value = 0;
    for (const char c : line) {
        if (c < '0' || c > '9') return -1;
        // A number that does not fit is no value: read modulo 2^32 it could
        // turn into any flag at all.
        if (value > (INT_MAX - (c - '0')) / 10) return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

std::vector<PowerSupplyReading> ReadPowerSupplies() {
    return ReadPowerSupplies(PowerSupplyFolder);
}

std::vector<PowerSupplyReading> ReadPowerSupplies(const char* folderPath) {
    std::vector<PowerSupplyReading> supplies;
    const int fd = ::open(folderPath, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
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
        supply.online = PowerFlagValue(ReadAttribute(fd, name + "/online"));
        supply.present = PowerFlagValue(ReadAttribute(fd, name + "/present"));
        supplies.push_back(supply);
    }
    ::closedir(folder);
    // In name order, so the verdict names the same supply every time.
    std::sort(supplies.begin(), supplies.end(),
              [](const auto& a, const auto& b) { return a.name < b.name; });
    return supplies;
}

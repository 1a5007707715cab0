// The power-supply files: a folder laid out as /sys/class/power_supply with the input's
// supplies, read as the real one is and judged against rules written out here (docs/fuzz.md).
#include <climits>
#include <map>

#include "FuzzInput.h"
#include "console/LinuxPower.h"

namespace {

namespace fs = std::filesystem;

char pattern[] = "/tmp/fuzz-power-XXXXXX";
const fs::path folder = mkdtemp(pattern);  // the run's own

int Flag(const std::string& line) {
    if (line.empty() || line.find_first_not_of("0123456789") != std::string::npos) return -1;
    const std::string digits =
        "0" + line.substr(std::min(line.find_first_not_of('0'), line.size()));
    return digits.size() > 11 || std::stoll(digits) > INT_MAX ? -1 : int(std::stoll(digits));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    fs::remove_all(folder);
    fs::create_directory(folder);
    std::map<std::string, std::vector<std::string>> supplies;  // first lines; none: ""
    for (int n = in.Byte() % 5; n > 0; --n) {
        std::string name = in.Bytes(16);
        for (char& c : name) c = (c == '/' || c == '\0') ? '_' : c;
        if (name.empty() || name[0] == '.' || supplies.count(name)) continue;
        fs::create_directory(folder / name);
        std::vector<std::string>& lines = supplies[name];
        for (const char* file : {"type", "scope", "online", "present"}) {
            const uint8_t kind = in.Byte();
            const char* const given[4] = {"", "Battery\n", "Mains\n", "1\n"};
            const std::string contents = kind < 4 ? given[kind] : in.Bytes(80);
            if (kind != 0) std::ofstream(folder / name / file, std::ios::binary) << contents;
            lines.push_back(contents.substr(0, std::min<size_t>(63, contents.find('\n'))));
        }
    }
    const std::vector<PowerSupplyReading> read = ReadPowerSupplies(folder.c_str());
    FUZZ_CHECK(read.size() == supplies.size());
    bool battery = false, online = false;
    auto supply = supplies.begin();
    for (const PowerSupplyReading& r : read) {
        FUZZ_CHECK(r.name == supply->first);
        const std::vector<std::string>& lines = (supply++)->second;
        FUZZ_CHECK(r.type == lines[0] && r.scope == lines[1]);
        FUZZ_CHECK(r.online == Flag(lines[2]) && r.present == Flag(lines[3]));
        if (r.scope == "Device" || r.type == "UPS") continue;
        battery |= r.type == "Battery" && r.present != 0;
        online |= r.type != "Battery" && r.online > 0;
    }
    const PowerVerdict verdict = JudgeLinuxPower(read);
    FUZZ_CHECK(verdict.onBattery == (battery && !online));
    return 0;
}

#include "sim/aspi/SimAspiConfig.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

std::string Trim(const std::string& text) {
    const char* space = " \t\r\n";
    size_t first = text.find_first_not_of(space);
    if (first == std::string::npos) return std::string();
    size_t last = text.find_last_not_of(space);
    return text.substr(first, last - first + 1);
}

bool ParseNumber(const std::string& text, unsigned long limit, unsigned long& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtoul(text.c_str(), &end, 0);
    return errno == 0 && *end == '\0' && text[0] != '-' && value <= limit;
}

template <typename T>
bool ParseInto(const std::string& text, unsigned long limit, T& out) {
    unsigned long value;
    if (!ParseNumber(text, limit, value)) return false;
    out = static_cast<T>(value);
    return true;
}

bool ParseFault(const std::string& text, SimFault& fault) {
    char kind[32];
    char position[32];
    char times[32];
    if (std::sscanf(text.c_str(), "%31s %31s %31s", kind, position, times) != 3) return false;
    std::string name = kind;
    if (name == "write")
        fault.kind = SimFault::FailWrite;
    else if (name == "readback")
        fault.kind = SimFault::FailReadBack;
    else if (name == "corrupt")
        fault.kind = SimFault::CorruptReadBack;
    else if (name == "flashread")
        fault.kind = SimFault::FailFlashRead;
    else if (name == "reset")
        fault.kind = SimFault::Reset;
    else if (name == "silent-reset")
        fault.kind = SimFault::SilentReset;
    else
        return false;
    if (std::string(times) == "always") {
        fault.times = -1;
        return ParseInto(position, 0xFFFFFFFFul, fault.position);
    }
    return ParseInto(position, 0xFFFFFFFFul, fault.position) &&
           ParseInto(times, 0x7FFFFFFFul, fault.times);
}

// "[SIGNAL] command|file N [TEXT]"; the signal only when withSignal.
bool ParseProcessEvent(const std::string& text, bool withSignal, SimProcessEvent& event) {
    char signal[32] = "9", kind[32], count[32];
    int used = 0;
    const int wanted = withSignal ? 3 : 2;
    const int got = withSignal
                        ? std::sscanf(text.c_str(), "%31s %31s %31s%n", signal, kind, count, &used)
                        : std::sscanf(text.c_str(), "%31s %31s%n", kind, count, &used);
    event.fileStep = std::string(kind) == "file";
    event.text = Trim(text.substr(static_cast<size_t>(used)));
    return got == wanted && (event.fileStep || std::string(kind) == "command") &&
           ParseInto(signal, 64, event.signal) && ParseInto(count, 0xFFFFFFFFul, event.count) &&
           event.count > 0;
}

bool ParseFlag(const std::string& text, bool& flag) {
    if (text == "yes" || text == "1") {
        flag = true;
        return true;
    }
    if (text == "no" || text == "0") {
        flag = false;
        return true;
    }
    return false;
}

// The blank-separated words of text. (No string streams: the same code goes
// into the Windows DLL, which keeps to a few imports.)
std::vector<std::string> Words(const std::string& text) {
    std::vector<std::string> words;
    size_t at = 0;
    while ((at = text.find_first_not_of(" \t", at)) != std::string::npos) {
        const size_t end = text.find_first_of(" \t", at);
        words.push_back(text.substr(at, end - at));
        at = end;
    }
    return words;
}

// "PATH [busy] [denied]"
bool ParseNode(const std::string& text, SimNodeSetup& node) {
    const std::vector<std::string> words = Words(text);
    if (words.empty() || words[0][0] != '/') return false;
    node.path = words[0];
    for (size_t i = 1; i < words.size(); ++i) {
        if (words[i] == "busy")
            node.busy = true;
        else if (words[i] == "denied")
            node.denied = true;
        else
            return false;
    }
    return true;
}

// "FROM TO", two absolute paths.
bool ParsePathMap(const std::string& text, std::pair<std::string, std::string>& map) {
    const std::vector<std::string> words = Words(text);
    if (words.size() != 2 || words[0][0] != '/' || words[1][0] != '/') return false;
    map = {words[0], words[1]};
    return true;
}

bool SetText(std::string& field, const std::string& value, size_t longest) {
    field = value;
    return value.size() <= longest;
}

// An inquiry text: "\xNN" stands for the byte NN (a NUL, a control
// character, a byte that is no text), "\\" for a backslash.
bool SetInquiryText(std::string& field, const std::string& value, size_t longest) {
    std::string bytes;
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\') {
            bytes += value[i];
        } else if (value.compare(i, 2, "\\\\") == 0) {
            bytes += value[++i];
        } else {
            unsigned long byte;
            if (value.compare(i, 2, "\\x") != 0 || i + 4 > value.size() ||
                !ParseNumber("0x" + value.substr(i + 2, 2), 0xFF, byte))
                return false;
            bytes += static_cast<char>(byte);
            i += 3;
        }
    }
    return SetText(field, bytes, longest);
}

bool ApplyDriveKey(const std::string& key, const std::string& value, SimDriveSetup& drive) {
    SimDriveIdentity& id = drive.identity;
    if (key == "target") return ParseInto(value, 0xFF, drive.target);
    if (key == "type") return ParseInto(value, 0xFF, id.deviceType);
    if (key == "vendor") return SetInquiryText(id.vendor, value, 8);
    if (key == "product") return SetInquiryText(id.product, value, 16);
    if (key == "revision") return SetInquiryText(id.revision, value, 4);
    if (key == "revision-at") return ParseInto(value, 0x7FFFFFFF, id.revisionAt);
    if (key == "signature") return ParseInto(value, 0xFFFF, id.signature);
    if (key == "chip") return ParseInto(value, 0xFFFF, id.chipCode);
    if (key == "major") return ParseInto(value, 0xFFFF, id.versionMajor);
    if (key == "minor") return ParseInto(value, 0xFFFF, id.versionMinor);
    if (key == "flash-kb") return ParseInto(value, 0xFFFF, id.flashSizeKb);
    if (key == "flash-fill") return ParseInto(value, 0xFF, id.flashFill);
    if (key == "flash-file") return SetText(drive.flashFile, value, value.size()) && !value.empty();
    if (key == "save-flash") return SetText(drive.saveFile, value, value.size()) && !value.empty();
    if (key == "delay-ms") return ParseInto(value, 600000, drive.delayMs);
    if (key == "commit-fails") return ParseFlag(value, drive.commitFails);
    if (key == "vanished") return ParseFlag(value, drive.vanished);
    if (key == "node") {
        drive.nodes.emplace_back();
        return ParseNode(value, drive.nodes.back());
    }
    if (key == "fault") {
        SimFault fault{};
        if (!ParseFault(value, fault)) return false;
        drive.faults.push_back(fault);
        return true;
    }
    return false;
}

// "[letter E]": the letter, or 0.
char LetterSection(const std::string& line) {
    if (line.size() != 10 || line.compare(0, 8, "[letter ") != 0 || line[9] != ']') return 0;
    return line[8] >= 'A' && line[8] <= 'Z' ? line[8] : 0;
}

}  // namespace

bool ParseSimAspiSetup(const std::string& text, SimAspiSetup& setup, std::string& error) {
    enum Section { Global, Adapter, Drive, Letter } section = Global;
    setup = SimAspiSetup();
    size_t start = 0;
    int lineNumber = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        ++lineNumber;
        size_t comment = line.find('#');
        if (comment != std::string::npos) line.erase(comment);
        line = Trim(line);
        if (line.empty()) continue;

        auto fail = [&](const char* what) {
            error = "line " + std::to_string(lineNumber) + ": " + what + ": " + line;
            return false;
        };

        if (line == "[adapter]") {
            setup.adapters.push_back(SimAdapterSetup());
            section = Adapter;
            continue;
        }
        if (line == "[drive]") {
            if (setup.adapters.empty()) return fail("a drive needs an adapter before it");
            setup.adapters.back().drives.push_back(SimDriveSetup());
            section = Drive;
            continue;
        }
        if (char letter = LetterSection(line)) {
            setup.letters.push_back(SimDriveSetup());
            setup.letters.back().letter = letter;
            section = Letter;
            continue;
        }
        size_t equals = line.find('=');
        if (equals == std::string::npos) return fail("expected key = value");
        std::string key = Trim(line.substr(0, equals));
        std::string value = Trim(line.substr(equals + 1));
        bool ok = false;
        switch (section) {
            case Global:
                if (key == "support-info") {
                    setup.supportInfoSet = true;
                    ok = ParseInto(value, 0xFFFFFFFFul, setup.supportInfo);
                } else if (key == "log") {
                    setup.logFile = value;
                    ok = !value.empty();
                } else if (key == "scsi-map") {
                    setup.scsiMapMissing = value == "missing";
                    ok = setup.scsiMapMissing || value == "present";
                } else if (key == "map-path") {
                    setup.pathMaps.emplace_back();
                    ok = ParsePathMap(value, setup.pathMaps.back());
                } else if (key == "raw-io") {
                    ok = ParseFlag(value, setup.rawIo);
                } else if (key == "kill-after" || key == "signal-after") {
                    setup.processEvents.emplace_back();
                    ok =
                        ParseProcessEvent(value, key == "signal-after", setup.processEvents.back());
                } else if (key == "execution-state") {
                    setup.noExecutionState = value == "missing";
                    ok = setup.noExecutionState || value == "present";
                } else if (key == "trace") {
                    setup.traceFile = value;
                    ok = !value.empty();
                } else if (key == "power") {
                    setup.power = value;
                    ok = value == "battery" || value == "mains" || value == "unknown" ||
                         value == "none";
                }
                break;
            case Adapter:
                if (key == "status")
                    ok = ParseInto(value, 0xFF, setup.adapters.back().inquiryStatus);
                else if (key == "targets")
                    ok = ParseInto(value, 0xFF, setup.adapters.back().maxTargets);
                break;
            case Drive:
                ok = ApplyDriveKey(key, value, setup.adapters.back().drives.back());
                break;
            case Letter:
                if (key == "pass-through")
                    ok = ParseFlag(value, setup.letters.back().passThrough);
                else
                    ok = key != "target" && key != "node" &&
                         ApplyDriveKey(key, value, setup.letters.back());
                break;
        }
        if (!ok) return fail("unknown key or bad value");
    }
    return true;
}

int NextProcessEvent(std::vector<SimProcessEvent>& events, bool fileStep, const std::string& line) {
    int signal = 0;
    for (SimProcessEvent& event : events) {
        if (event.count == 0 || event.fileStep != fileStep ||
            line.find(event.text) == std::string::npos)
            continue;
        if (--event.count == 0 && signal == 0) signal = event.signal;
    }
    return signal;
}

SimAspiRig::SimAspiRig(const SimAspiSetup& setup) : setup_(setup) {
    if (setup_.supportInfoSet) host_.OverrideSupportInfo(setup_.supportInfo);
    for (const SimAdapterSetup& adapter : setup_.adapters) {
        uint8_t number = host_.AddAdapter(adapter.inquiryStatus, adapter.maxTargets);
        for (const SimDriveSetup& driveSetup : adapter.drives) {
            auto drive = std::make_unique<SimulatedDrive>(driveSetup.identity);
            ApplyDriveSetup(driveSetup, *drive);
            host_.AttachDrive(number, driveSetup.target, *drive);
            drives_.push_back(Placed{std::move(drive), driveSetup, number, 0});
        }
    }
    host_.SetAfterCommand([this](SimulatedDrive& drive) { AfterCommand(drive); });
}

void ApplyDriveSetup(const SimDriveSetup& setup, SimulatedDrive& drive) {
    for (const SimFault& fault : setup.faults) drive.AddFault(fault);
    drive.SetCommitFails(setup.commitFails);
    drive.SetVanished(setup.vanished);
    drive.SetCompletionDelayMs(setup.delayMs);
}

bool LoadFlashFile(const SimDriveSetup& setup, SimulatedDrive& drive, std::string& error) {
    if (setup.flashFile.empty()) return true;
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(setup.flashFile, bytes)) {
        error = "cannot read flash file " + setup.flashFile;
        return false;
    }
    std::vector<uint8_t>& flash = drive.Flash();
    std::memcpy(flash.data(), bytes.data(), std::min(bytes.size(), flash.size()));
    return true;
}

bool SimAspiRig::LoadFlashFiles(std::string& error) {
    for (Placed& placed : drives_) {
        if (!LoadFlashFile(placed.setup, *placed.drive, error)) return false;
    }
    return true;
}

void SimAspiRig::AfterCommand(SimulatedDrive& drive) {
    for (Placed& placed : drives_) {
        if (placed.drive.get() != &drive) continue;
        if (drive.CommitCount() != placed.savedCommits) {
            placed.savedCommits = drive.CommitCount();
            SaveFlash(placed);
        }
    }
}

void SimAspiRig::SaveFlash(Placed& placed) {
    if (placed.setup.saveFile.empty()) return;
    const std::vector<uint8_t>& flash = placed.drive->Flash();
    WriteWholeFile(placed.setup.saveFile, flash.data(), flash.size());
}

void SimAspiRig::SaveAll(const std::string& preamble) {
    std::string log = preamble;
    for (Placed& placed : drives_) {
        SaveFlash(placed);
        log += "adapter " + std::to_string(placed.adapter) + " target " +
               std::to_string(placed.setup.target) + ":\n" + placed.drive->LogText() + "\n";
    }
    if (!setup_.logFile.empty())
        WriteWholeFile(setup_.logFile, reinterpret_cast<const uint8_t*>(log.data()), log.size());
}

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    bytes.clear();
    uint8_t chunk[4096];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        bytes.insert(bytes.end(), chunk, chunk + got);
    bool ok = std::ferror(file) == 0;
    std::fclose(file);
    return ok;
}

bool WriteWholeFile(const std::string& path, const uint8_t* bytes, size_t length) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    bool ok = std::fwrite(bytes, 1, length, file) == length;
    ok = std::fclose(file) == 0 && ok;
    return ok;
}

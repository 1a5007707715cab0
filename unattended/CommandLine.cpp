#include "unattended/CommandLine.h"

#include <cstring>

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

char Upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool SameName(const std::string& name, const char* expected) {
    if (name.size() != std::strlen(expected)) return false;
    for (size_t i = 0; i < name.size(); ++i) {
        if (Upper(name[i]) != expected[i]) return false;
    }
    return true;
}

// A decimal number of at most `limit`; false for anything else, and before
// an overflow can happen.
bool ReadNumber(const std::string& text, size_t begin, size_t end, int limit, int& value) {
    if (begin >= end) return false;
    value = 0;
    for (size_t i = begin; i < end; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + (text[i] - '0');
        if (value > limit) return false;
    }
    return true;
}

// Drive positions, ASPI adapters and targets: far more than any machine has.
constexpr int MaxPosition = 9999;
constexpr int MaxAddressPart = 255;

bool ReadDriveChoice(const std::string& value, DriveChoice& choice) {
    const size_t colon = value.find(':');
    if (colon == std::string::npos) {
        choice.kind = DriveChoice::Position;
        return ReadNumber(value, 0, value.size(), MaxPosition, choice.position);
    }
    const char letter = Upper(value[0]);
    if (value.size() == 2 && colon == 1 && letter >= 'A' && letter <= 'Z') {
        choice.kind = DriveChoice::Letter;
        choice.letter = letter;
        return true;
    }
    int adapter = 0;
    int target = 0;
    if (!ReadNumber(value, 0, colon, MaxAddressPart, adapter) ||
        !ReadNumber(value, colon + 1, value.size(), MaxAddressPart, target)) {
        return false;
    }
    choice.kind = DriveChoice::AdapterTarget;
    choice.adapter = static_cast<uint8_t>(adapter);
    choice.target = static_cast<uint8_t>(target);
    return true;
}

enum SwitchId {
    Silent,
    List,
    Check,
    Drive,
    Log,
    Backup,
    Reboot,
    Force,
    Reinstall,
    IgnorePower,
    Verify,
    Restore,
    Help,
    Help2,
    SwitchCount
};

struct SwitchSpec {
    const char* name;
    bool takesValue;
};

constexpr SwitchSpec Switches[SwitchCount] = {
    {"S", false},         {"LIST", false},        {"CHECK", false},  {"DRIVE", true},
    {"LOG", true},        {"BACKUP", true},       {"REBOOT", false}, {"FORCE", false},
    {"REINSTALL", false}, {"IGNOREPOWER", false}, {"VERIFY", false}, {"RESTORE", true},
    {"?", false},         {"HELP", false},
};

SwitchParse Refuse(const std::string& reason) {
    SwitchParse parse;
    parse.refused = true;
    parse.reason = reason;
    return parse;
}

}  // namespace

std::vector<std::string> SplitCommandLine(const std::string& commandLine) {
    std::vector<std::string> args;
    const char* p = commandLine.c_str();
    const char* const end = p + commandLine.size();

    std::string program;
    bool quoted = false;
    for (; p < end && (quoted || !IsBlank(*p)); ++p) {
        if (*p == '"') {
            quoted = !quoted;
        } else {
            program += *p;
        }
    }
    args.push_back(program);

    for (;;) {
        while (p < end && IsBlank(*p)) ++p;
        if (p >= end) break;
        std::string arg;
        quoted = false;
        while (p < end && (quoted || !IsBlank(*p))) {
            size_t backslashes = 0;
            while (p < end && *p == '\\') ++backslashes, ++p;
            if (p < end && *p == '"') {
                arg.append(backslashes / 2, '\\');
                if (backslashes % 2 == 1) {
                    arg += '"';
                } else if (quoted && p + 1 < end && p[1] == '"') {
                    arg += '"';
                    ++p;
                } else {
                    quoted = !quoted;
                }
                ++p;
            } else {
                arg.append(backslashes, '\\');
                if (p < end && (quoted || !IsBlank(*p))) arg += *p++;
            }
        }
        args.push_back(arg);
    }
    return args;
}

SwitchParse ParseSwitches(const std::vector<std::string>& args) {
    SwitchParse parse;
    UnattendedPlan& plan = parse.plan;
    bool seen[SwitchCount] = {};
    std::string refusal;

    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (i > 1) plan.switchText += ' ';
        plan.switchText += arg;
        const bool isSwitch = !arg.empty() && (arg[0] == '/' || arg[0] == '-');
        const size_t separator = arg.find_first_of("=:", 1);
        const std::string name =
            isSwitch ? arg.substr(1, separator == std::string::npos ? separator : separator - 1)
                     : std::string();
        int id = 0;
        while (isSwitch && id < SwitchCount && !SameName(name, Switches[id].name)) ++id;
        if (isSwitch && (id == Help || id == Help2)) {
            seen[Help] = true;
            continue;
        }
        if (!refusal.empty()) continue;  // only a later /? can still win

        if (!isSwitch) {
            refusal = "not a switch: " + arg;
        } else if (id == SwitchCount) {
            refusal = "unknown switch: " + arg;
        } else if (seen[id]) {
            refusal = "switch given twice: " + arg;
        } else if (Switches[id].takesValue &&
                   (separator == std::string::npos || separator + 1 == arg.size())) {
            refusal = "switch needs a value: " + arg;
        } else if (!Switches[id].takesValue && separator != std::string::npos) {
            refusal = "switch takes no value: " + arg;
        }
        if (!refusal.empty()) continue;
        seen[id] = true;

        const std::string value = Switches[id].takesValue ? arg.substr(separator + 1) : "";
        switch (id) {
            case Drive: {
                DriveChoice choice;  // a bad value leaves nothing half read in the plan
                if (ReadDriveChoice(value, choice)) {
                    plan.drive = choice;
                } else {
                    refusal = "bad drive: " + arg;
                }
                break;
            }
            case Log:
                plan.hasLog = true;
                plan.logPath = value;
                break;
            case Backup:
                plan.hasBackup = true;
                plan.backupFolder = value;
                break;
            case Reboot:
                plan.reboot = true;
                break;
            case Force:
                plan.force = true;
                break;
            case Reinstall:
                plan.reinstall = true;
                break;
            case IgnorePower:
                plan.ignorePower = true;
                break;
            case Restore:
                plan.hasRestore = true;
                plan.restorePath = value;
                break;
            default:
                break;
        }
    }

    if (seen[Help]) {  // the usage, and nothing of what else was asked
        SwitchParse help;
        help.plan.action = PlanAction::Help;
        help.plan.switchText = plan.switchText;
        return help;
    }
    if (args.size() <= 1) return parse;  // the dialog
    if (refusal.empty()) {
        // The check writes nothing: what only a write uses does nothing with
        // it, and it asks no power status. /REINSTALL changes what it finds.
        // /VERIFY reads and compares, with the payload or /RESTORE's file.
        const int actions = seen[Silent] + seen[List] + seen[Check];
        if (seen[Verify] && actions > 0) {
            refusal = "/VERIFY excludes /S, /LIST and /CHECK";
        } else if (actions > 1) {
            refusal = "/S, /LIST and /CHECK exclude each other";
        } else if (plan.hasRestore && !seen[Silent] && !seen[Verify]) {
            refusal = "/RESTORE needs /S or /VERIFY";
        } else if (seen[Verify]) {
            if (plan.hasBackup || plan.reboot || plan.reinstall || plan.ignorePower)
                refusal = "/BACKUP, /REBOOT, /REINSTALL and /IGNOREPOWER do nothing with /VERIFY";
        } else if (actions == 0) {
            refusal = "switches without /S, /LIST or /CHECK";
        } else if (!seen[Silent] && (plan.hasBackup || plan.reboot)) {
            refusal = std::string("/BACKUP and /REBOOT do nothing with ") +
                      (seen[List] ? "/LIST" : "/CHECK");
        } else if (seen[List] && plan.reinstall) {
            refusal = "/REINSTALL needs /S or /CHECK";
        } else if (!seen[Silent] && plan.ignorePower) {
            refusal = "/IGNOREPOWER needs /S";
        }
    }
    if (!refusal.empty()) {
        SwitchParse refused = Refuse(refusal);
        refused.plan.switchText = plan.switchText;
        // The refusal goes into the log that was asked for, when /LOG was
        // read before the bad switch.
        refused.plan.hasLog = plan.hasLog;
        refused.plan.logPath = plan.logPath;
        return refused;
    }
    plan.action = seen[List]     ? PlanAction::List
                  : seen[Check]  ? PlanAction::Check
                  : seen[Verify] ? PlanAction::Verify
                                 : PlanAction::Upgrade;
    return parse;
}

const char UsageText[] =
    "FlashUpgrade [/S | /LIST | /CHECK | /VERIFY] [/DRIVE=N|E:|A:T] [/LOG=FILE] [/BACKUP=DIR]\r\n"
    "\t[/REBOOT] [/FORCE] [/REINSTALL] [/IGNOREPOWER] [/RESTORE=FILE]\r\n"
    "\r\n"
    "Without switches the program opens its window.\r\n"
    "/S\tsilent: upgrades every found drive this firmware is for, no window;\r\n"
    "\ta drive that carries this firmware already is left alone\r\n"
    "/LIST\twrites the found drives to the log, writes nothing to them\r\n"
    "/CHECK\twrites nothing; the exit code says whether /S would write a drive\r\n"
    "/VERIFY\twrites nothing; reads each drive's whole flash and compares it with\r\n"
    "\tthe firmware (or FILE of /RESTORE): the strictest check of all\r\n"
    "/DRIVE=N\tonly the drive at list position N (from 0), or at drive letter E:\r\n"
    "\t(Windows NT/2000 and later), or at adapter:target A:T (Windows 95/98)\r\n"
    "/LOG=FILE\tappends the log to FILE (default: FlashUpgrade.log in the TEMP folder)\r\n"
    "/BACKUP=DIR\tsaves each drive's old firmware into a new file in DIR first\r\n"
    "/REBOOT\trestarts Windows after the upgrade\r\n"
    "/FORCE\talso writes drives of another model\r\n"
    "/REINSTALL\talso writes drives that carry this firmware already (/S, /CHECK)\r\n"
    "/IGNOREPOWER\twrites on battery power too (/S)\r\n"
    "/RESTORE=FILE\twith /S: writes FILE, a backup, instead of the firmware, to the\r\n"
    "\tdrives its record (FILE.txt beside it) names; with /VERIFY: compares with it\r\n"
    "/?, /HELP\tthis text\r\n"
    "Switches also start with '-'; a value follows '=' or ':'.\r\n"
    "\r\n"
    "Exit codes:\r\n"
    "0\tlisted, this text, or every drive carries this firmware already\r\n"
    "1\t/CHECK: at least one drive would be written\r\n"
    "\t/VERIFY: a drive's flash differs (0: every drive holds exactly the image)\r\n"
    "3010\tupgraded; restart Windows to load the new firmware\r\n"
    "1641\tupgraded; the restart has been started\r\n"
    "1603\ta drive or the restart failed (see the log)\r\n"
    "1237\ton battery power: nothing written; try again later on mains power\r\n"
    "2\tno drive that this firmware is for\r\n"
    "13\tthe firmware inside the program is missing or damaged\r\n"
    "\t/RESTORE: FILE refused (unreadable, not 128 KB, damaged, no record)\r\n"
    "87\tunknown switch or bad value\r\n"
    "1618\tanother copy of the program is running";

// The Windows program's command line, split as the C runtime splits it and
// read as switches; what is checked: docs/fuzz.md.
#include "unattended/CommandLine.h"

#include "FuzzInput.h"

namespace {

std::string Quoted(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (const char c : arg) {  // backslashes before a quote and at the end doubled
        if (c == '"') quoted.append(backslashes + 1, '\\');
        backslashes = c == '\\' ? backslashes + 1 : 0;
        quoted += c;
    }
    return quoted.append(backslashes, '\\') + "\"";
}

std::vector<std::string> Written(const UnattendedPlan& u) {
    std::vector<std::string> args = {"p", u.action == PlanAction::List     ? "/LIST"
                                          : u.action == PlanAction::Check  ? "/CHECK"
                                          : u.action == PlanAction::Verify ? "/VERIFY"
                                                                           : "/S"};
    const DriveChoice& d = u.drive;
    if (d.kind == DriveChoice::Position) args.push_back("/DRIVE=" + std::to_string(d.position));
    if (d.kind == DriveChoice::Letter) args.push_back(std::string("/DRIVE=") + d.letter + ":");
    if (d.kind == DriveChoice::AdapterTarget)
        args.push_back("/DRIVE=" + std::to_string(d.adapter) + ":" + std::to_string(d.target));
    if (u.hasLog) args.push_back("/LOG=" + u.logPath);
    if (u.hasBackup) args.push_back("/BACKUP=" + u.backupFolder);
    if (u.hasRestore) args.push_back("/RESTORE=" + u.restorePath);
    if (u.reboot) args.push_back("/REBOOT");
    if (u.force) args.push_back("/FORCE");
    if (u.reinstall) args.push_back("/REINSTALL");
    if (u.ignorePower) args.push_back("/IGNOREPOWER");
    return args;
}

// What a parse says, written as switches.
std::string Plan(const SwitchParse& p) {
    return std::to_string(p.refused) + std::to_string(int(p.plan.action)) + "|" +
           Joined(Written(p.plan), "|");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> args =
        SplitCommandLine(std::string(reinterpret_cast<const char*>(data), size));
    std::string joined = "p";
    for (size_t i = 1; i < args.size(); ++i) joined += " " + Quoted(args[i]);
    std::vector<std::string> again = SplitCommandLine(joined);
    again[0] = args[0];
    FUZZ_CHECK(again == args);

    const SwitchParse parse = ParseSwitches(args);
    FUZZ_CHECK(parse.plan.switchText == Joined(args, " ", 1) &&
               parse.refused == !parse.reason.empty());
    FUZZ_CHECK(!parse.refused || parse.plan.action == PlanAction::Dialog);
    for (std::string& arg : again) {
        const size_t name = arg.find_first_of("=:", 1);
        if (arg.empty() || (arg[0] != '/' && arg[0] != '-')) continue;
        arg[0] = arg[0] == '/' ? '-' : '/';
        for (size_t i = 1; i < std::min(name, arg.size()); ++i)
            if (std::isalpha(static_cast<unsigned char>(arg[i]))) arg[i] ^= 0x20;
    }
    FUZZ_CHECK(Plan(ParseSwitches(again)) == Plan(parse));
    const PlanAction action = parse.plan.action;
    if (!parse.refused && action != PlanAction::Dialog && action != PlanAction::Help)
        FUZZ_CHECK(Plan(ParseSwitches(Written(parse.plan))) == Plan(parse));
    return 0;
}

// The Windows program's command line, split and read as switches; what is
// checked: docs/fuzz.md.
#include "unattended/CommandLine.h"

#include "FuzzInput.h"

namespace {

std::vector<std::string> Written(const UnattendedPlan& u) {
    std::vector<std::string> args = {"p", u.action == PlanAction::List     ? "-list"
                                          : u.action == PlanAction::Check  ? "-check"
                                          : u.action == PlanAction::Verify ? "-verify"
                                                                           : "-s"};
    const DriveChoice& d = u.drive;
    if (d.kind == DriveChoice::Position) args.push_back("-drive=" + std::to_string(d.position));
    if (d.kind == DriveChoice::Letter) args.push_back(std::string("-drive=") + d.letter + ":");
    if (d.kind == DriveChoice::AdapterTarget)
        args.push_back("-drive=" + std::to_string(d.adapter) + ":" + std::to_string(d.target));
    if (u.hasLog) args.push_back("-log=" + u.logPath);
    if (u.hasBackup) args.push_back("-backup=" + u.backupFolder);
    if (u.hasRestore) args.push_back("-restore=" + u.restorePath);
    if (u.reboot) args.push_back("-reboot");
    if (u.force) args.push_back("-force");
    if (u.reinstall) args.push_back("-reinstall");
    if (u.ignorePower) args.push_back("-ignorepower");
    return args;
}

// What a parse says, written as switches (with '-' and in lower case: read alike).
std::string Plan(const SwitchParse& p) {
    return std::to_string(p.refused) + std::to_string(int(p.plan.action)) + "|" +
           Joined(Written(p.plan), "|");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<std::string> args =
        SplitCommandLine(std::string(reinterpret_cast<const char*>(data), size));
    const SwitchParse parse = ParseSwitches(args);
    FUZZ_CHECK(parse.plan.switchText == Joined(args, " ", 1) &&
               parse.refused == !parse.reason.empty());
    FUZZ_CHECK(!parse.refused || parse.plan.action == PlanAction::Dialog);
    if (parse.plan.action != PlanAction::Dialog && parse.plan.action != PlanAction::Help)
        FUZZ_CHECK(Plan(ParseSwitches(Written(parse.plan))) == Plan(parse));
    return 0;
}

// The console program's own decisions: its refusals of options and the
// fields of the --json document (the power flags: the power_supply fuzz target).
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "../Rig.h"
#include "console/ConsoleJson.h"
#include "console/ConsoleOptions.h"
#include "unattended/ModelGuard.h"

namespace {

// Why the options are refused. (The plans they make: the console scenarios,
// and the console_options fuzz target writes each back as the same plan.)
std::string Refusal(std::vector<std::string> words) {
    words.insert(words.begin(), "flash-upgrade");
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(&word[0]);
    const ConsoleOptions o = ParseConsoleOptions(static_cast<int>(argv.size()), argv.data());
    return o.refused ? o.error : "accepted";
}

TEST(Console, Refusals) {
    const struct {
        std::vector<std::string> args;
        const char* error;
    } cases[] = {
        {{"--list", "--reinstall"}, "--reinstall goes with --upgrade, --restore or --check"},
        {{"--check", "--ignore-power"}, "--ignore-power goes with --upgrade or --restore"},
        {{"--check", "--backup", "d"}, "--backup goes with --upgrade or --restore"},
        {{"--check", "--upgrade"},
         "choose one of --list, --check, --upgrade, --restore, --verify and --save"},
        {{"--list", "--json", "--json"}, "--json given twice"},
        {{"--save", "x"}, "--save needs --drive"},
        {{"--list", "--drive", "10000"},
         "--drive takes a list position (0 to 9999) or a device path: 10000"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Refusal(c.args), c.error) << c.args[0] << " " << c.args.size();
}

// The --json words the console scenarios do not reach (a drive not chosen, a
// failed backup with its notice, the status of an upgrade as its result,
// seen by the human view too), and a notice that is no UTF-8 (the parser
// refuses invalid UTF-8, so a document it reads is valid).
TEST(Console, JsonFieldsOfTheSteps) {
    const std::vector<uint8_t> block = PayloadBlock('4', "5.1V");
    const FirmwarePayload payload(block.data());
    UnattendedPlan plan;
    plan.action = PlanAction::Upgrade;
    Feedback echo;
    RunObserver quiet;
    JsonReport report(payload, plan, echo, quiet);
    const DeviceRecord r = Inquired("DVD-ROM ", "16X             ", "5.0V", 1, 58);
    std::vector<FoundDrive> drives;
    for (int n = 0; n < 3; ++n)
        drives.push_back({n, FormatText("/dev/sr%d", n), r, JudgeDrive(4, r), n > 0,
                          JudgeUpToDate(4, "5.1V", r), n > 0});
    report.DrivesFound(drives);
    report.StepStarted(drives[1], RunStep::Backup);
    report.Notice("Drive 1: backup: cannot create b/x.bin");
    report.StepEnded(drives[1], RunStep::Backup, false);
    report.StepStarted(drives[2], RunStep::Upgrade);
    report.SetStatusText("Upgrade Firmware Successful!!");
    report.StepEnded(drives[2], RunStep::Upgrade, true);
    report.Notice("a path \xFF that is no UTF-8");

    const auto doc = nlohmann::json::parse(report.Document(RunOutcome::Failed, 1));
    std::string fields;
    for (const auto& d : doc["drives"])
        fields += d["done"].get<std::string>() + ": " + d["result"].get<std::string>() + "|";
    EXPECT_EQ(fields,
              "none: not chosen|backup failed: backup: cannot create b/x.bin|"
              "upgraded: Upgrade Firmware Successful!!|");
    EXPECT_EQ(doc["notices"][1], "a path \uFFFD that is no UTF-8");
    EXPECT_EQ(doc["outcome"], "failed");
    EXPECT_EQ(echo.Status(), "Upgrade Firmware Successful!!");
}

}  // namespace

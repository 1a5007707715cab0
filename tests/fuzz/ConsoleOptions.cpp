// The console program's options: words, NUL between them; what is checked: docs/fuzz.md. A bad
// option is named on the standard error: run with -close_fd_mask=2 (scripts/fuzz does).
#include "console/ConsoleOptions.h"

#include "FuzzInput.h"

namespace {

ConsoleOptions Parse(std::vector<std::string> words) {
    words.insert(words.begin(), "flash-upgrade");
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(&word[0]);
    argv.push_back(nullptr);
    return ParseConsoleOptions(static_cast<int>(words.size()), argv.data());
}

std::vector<std::string> Written(const ConsoleOptions& o) {
    const UnattendedPlan& u = o.plan;
    std::vector<std::string> words = {u.action == PlanAction::List     ? "--list"
                                      : u.action == PlanAction::Check  ? "--check"
                                      : u.action == PlanAction::Save   ? "--save=" + u.savePath
                                      : u.action == PlanAction::Verify ? "--verify"
                                      : u.hasRestore ? "--restore=" + u.restorePath
                                                     : "--upgrade"};
    if (u.hasRestore && u.action == PlanAction::Verify)
        words.push_back("--restore=" + u.restorePath);
    if (u.drive.kind == DriveChoice::Position)
        words.push_back("--drive=" + std::to_string(u.drive.position));
    if (u.drive.kind == DriveChoice::Path) words.push_back("--drive=" + u.drive.path);
    if (u.hasLog) words.push_back("--log=" + u.logPath);
    if (u.hasBackup) words.push_back("--backup=" + u.backupFolder);
    if (u.force) words.push_back("--force");
    if (u.reinstall) words.push_back("--reinstall");
    if (u.ignorePower) words.push_back("--ignore-power");
    if (u.overwrite) words.push_back("--overwrite");
    if (o.yes) words.push_back("--yes");
    if (o.json) words.push_back("--json");
    return words;
}

// What a parse says, written as options.
std::string Options(const ConsoleOptions& o) {
    return std::to_string(o.refused) + std::to_string(int(o.plan.action)) +
           std::to_string(o.version) + "|" + Joined(Written(o), "|");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> words(1);
    for (size_t i = 0; i < size; ++i)
        data[i] ? void(words.back() += char(data[i])) : void(words.emplace_back());
    const ConsoleOptions options = Parse(words);
    FUZZ_CHECK(options.plan.switchText == Joined(words, " "));
    if (!options.refused && options.plan.action != PlanAction::Help && !options.version)
        FUZZ_CHECK(Options(Parse(Written(options))) == Options(options));
    return 0;
}

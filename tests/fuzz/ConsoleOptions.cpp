// The console program's options: the words of a command line, NUL between
// them; what is checked: docs/fuzz.md. getopt_long names a bad option on the
// standard error: run with -close_fd_mask=2 (scripts/fuzz does).
#include "console/ConsoleOptions.h"

#include "FuzzInput.h"
#include "flash/FormatText.h"

namespace {

ConsoleOptions Parse(std::vector<std::string> words) {
    words.insert(words.begin(), "flash-upgrade");
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(&word[0]);
    argv.push_back(nullptr);
    return ParseConsoleOptions(static_cast<int>(words.size()), argv.data());
}

std::string Options(const ConsoleOptions& o) {
    const UnattendedPlan& u = o.plan;
    return FormatText("%d %d %d %d %d%d%d %d%d%d%d%d ", o.refused, int(u.action), int(u.drive.kind),
                      u.drive.position, o.version, o.yes, o.json, u.force, u.reinstall,
                      u.ignorePower, u.overwrite, u.hasLog) +
           u.drive.path + "|" + u.savePath + "|" + u.logPath + "|" + std::to_string(u.hasBackup) +
           u.backupFolder;
}

std::vector<std::string> Written(const ConsoleOptions& o) {
    const UnattendedPlan& u = o.plan;
    std::vector<std::string> words = {u.action == PlanAction::List    ? "--list"
                                      : u.action == PlanAction::Check ? "--check"
                                      : u.action == PlanAction::Save  ? "--save=" + u.savePath
                                                                      : "--upgrade"};
    if (u.drive.kind == DriveChoice::Position)
        words.push_back("--drive=" + std::to_string(u.drive.position));
    if (u.drive.kind == DriveChoice::Path) words.push_back("--drive=" + u.drive.path);
    if (u.hasLog) words.push_back("--log=" + u.logPath);
    if (u.hasBackup) words.push_back("--backup=" + u.backupFolder);
    for (auto [on, word] : {std::pair{u.force, "--force"},
                            {u.reinstall, "--reinstall"},
                            {u.ignorePower, "--ignore-power"},
                            {u.overwrite, "--overwrite"},
                            {o.yes, "--yes"},
                            {o.json, "--json"}})
        if (on) words.push_back(word);
    return words;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> words(1);
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0)
            words.emplace_back();
        else
            words.back() += char(data[i]);
    }
    const ConsoleOptions options = Parse(words);
    std::string given = words[0];
    for (size_t i = 1; i < words.size(); ++i) given += " " + words[i];
    FUZZ_CHECK(options.plan.switchText == given);
    for (const char* first : {"--help", "-V"}) {
        words.insert(words.begin(), first);  // first: no option before it can take it as its value
        const ConsoleOptions wins = Parse(words);
        FUZZ_CHECK(!wins.refused && (wins.plan.action == PlanAction::Help || wins.version));
    }
    if (!options.refused && options.plan.action != PlanAction::Help && !options.version)
        FUZZ_CHECK(Options(Parse(Written(options))) == Options(options));
    return 0;
}

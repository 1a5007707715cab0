// The command line of the Windows program: split as its runtime splits it,
// then read as switches.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "flash/FormatText.h"
#include "unattended/CommandLine.h"

namespace {

using Args = std::vector<std::string>;

// A plan in one line, or "87 <reason>" for a refusal.
std::string Describe(const SwitchParse& parse) {
    if (parse.refused)
        return "87 " + parse.reason + (parse.plan.hasLog ? " log=" + parse.plan.logPath : "");
    const UnattendedPlan& p = parse.plan;
    const DriveChoice& d = p.drive;
    std::string text = std::vector<std::string>{"dialog", "upgrade", "list",  "help",
                                                "save",   "check",   "verify"}[int(p.action)];
    if (d.kind == DriveChoice::Position) text += FormatText(" drive #%d", d.position);
    if (d.kind == DriveChoice::Letter) text += FormatText(" drive %c:", d.letter);
    if (d.kind == DriveChoice::AdapterTarget)
        text += FormatText(" drive %d:%d", d.adapter, d.target);
    if (p.hasLog) text += " log=" + p.logPath;
    return text;
}

std::string Parse(const std::string& line) {
    return Describe(ParseSwitches(SplitCommandLine(line)));
}

TEST(CommandLine, SplitAsTheRuntimeSplitsIt) {
    const struct {
        const char* line;
        Args args;
    } cases[] = {
        {"", {""}},
        {"\"C:\\Program Files\\x.exe\" /S", {"C:\\Program Files\\x.exe", "/S"}},
        // The program name knows no backslash rule.
        {"C:\\x\\\"y z\".exe /S", {"C:\\x\\y z.exe", "/S"}},
        {"x \t /S\t-list  ", {"x", "/S", "-list"}},
        {"x a\\\\\\b d\"e f\"g h", {"x", "a\\\\\\b", "de fg", "h"}},
        {"x a\\\\\\\\\"b c\" d e", {"x", "a\\\\b c", "d", "e"}},
        {"x \"a\"\"b\" c", {"x", "a\"b", "c"}},
        {"x a\"\"b", {"x", "ab"}},
        {"x \"\" \"", {"x", "", ""}},
    };
    for (const auto& c : cases) EXPECT_EQ(SplitCommandLine(c.line), c.args) << c.line;
}

// (The plans Runs and ProgramStart read, and the switches in either case
// and with either sign: there and in the command_line fuzz target.)
TEST(CommandLine, PlansAndRefusals) {
    const struct {
        const char* line;
        const char* expected;
    } cases[] = {
        {"x", "dialog"},
        {"x /S /log:C:\\fw.log", "upgrade log=C:\\fw.log"},
        {"x /S /DRIVE=0009999", "upgrade drive #9999"},
        {"x /S /drive=z:", "upgrade drive Z:"},
        {"x -S -DRIVE:1:0", "upgrade drive 1:0"},
        {"x /VERIFY /S", "87 /VERIFY excludes /S, /LIST and /CHECK"},
        {"x /RESTORE=b.bin", "87 /RESTORE needs /S or /VERIFY"},
        {"x /VERIFY /REINSTALL",
         "87 /BACKUP, /REBOOT, /REINSTALL and /IGNOREPOWER do nothing with /VERIFY"},
        {"x /bogus /S /S -?", "help"},
        {"x /LOG=a", "87 switches without /S, /LIST or /CHECK log=a"},
        {"x /S /LIST", "87 /S, /LIST and /CHECK exclude each other"},
        {"x /CHECK /BACKUP=C:\\", "87 /BACKUP and /REBOOT do nothing with /CHECK"},
        {"x /LIST /REINSTALL", "87 /REINSTALL needs /S or /CHECK"},
        {"x /CHECK /IGNOREPOWER", "87 /IGNOREPOWER needs /S"},
        {"x /S /s", "87 switch given twice: /s"},
        {"x /LOG=l /X /LOG=m", "87 unknown switch: /X log=l"},
        {"x /S /LOG", "87 switch needs a value: /LOG"},
        {"x /S /REBOOT=1", "87 switch takes no value: /REBOOT=1"},
        {"x /S /DRIVE=10000", "87 bad drive: /DRIVE=10000"},
        {"x /S /DRIVE=1:256", "87 bad drive: /DRIVE=1:256"},
        {"x /S file", "87 not a switch: file"},
    };
    for (const auto& c : cases) EXPECT_EQ(Parse(c.line), c.expected) << c.line;
}

}  // namespace

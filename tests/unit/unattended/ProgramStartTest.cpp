// The start of the Windows program over a fake platform: which path the
// command line takes, where its log goes, and the mark of the running copy.
#include <gtest/gtest.h>

#include <map>

#include "unattended/ProgramStart.h"

namespace {

struct FakeStart : ProgramStartPlatform, LogClock, DriveBackend {
    struct Sink : LogSink {
        std::string& text;
        explicit Sink(std::string& t) : text(t) {}
        void WriteLine(const std::string& line) override { text += line.substr(20) + "\n"; }
    };
    std::string events, marks;  // the answers to the mutex, in turn: Taken, Held, Not accepted
    std::map<std::string, std::string> logs;  // by path
    std::string unopenable;

    void ShowMessage(const char* text, const char*) override { events += text, events += ";"; }
    void QuietSystemErrors() override { events += "quiet;"; }
    std::string TempFolder() override { return "C:\\TEMP\\"; }
    std::unique_ptr<LogSink> OpenLog(const std::string& path) override {
        return std::unique_ptr<LogSink>(path == unopenable ? nullptr : new Sink(logs[path]));
    }
    Mark CreateMark(const char* name) override {
        events += name + std::string(";");
        const char answer = marks[0];
        marks.erase(0, 1);
        return answer == 'T'   ? Mark::Taken
               : answer == 'H' ? Mark::HeldByAnother
                               : Mark::NotAccepted;
    }
    int RunDialog() override { return events += "dialog;", 0; }
    RunSeams Seams(const UnattendedPlan&, LogSink& log) override {
        return {*this, log,     *this,           nullptr, nullptr, 2,
                5,     nullptr, WindowsExitCode, "1.58",  nullptr};
    }
    LogTime Now() override { return {2024, 5, 1, 13, 45, 7}; }
    std::string Description() override { return "test"; }
    std::unique_ptr<DeviceAccess> Create() override { return events += "backend;", nullptr; }
    std::string FailureText() override { return "no back-end"; }
};

const char Temp[] = "C:\\TEMP\\FlashUpgrade.log";
const std::string Global = "Global\\FlashUpgradeProgram;", Plain = "FlashUpgradeProgram;";
const std::string Another = "Another copy of the Flash Upgrade Program is already running.";

TEST(ProgramStartTest, PathsLogsAndTheRunningCopy) {
    const struct {
        const char *line, *marks, *unopenable;
        int code;
        std::string events;
        const char* logPath;  // where the reason lands, with the exit code last
        std::string logged;
    } cases[] = {
        // The global name refused, the plain one held: the window's second copy.
        {"x", "NH", "", 1618, Global + Plain + Another + ";", "", ""},
        {"x /S /X", "", "", 87, "quiet;", Temp, "Command line refused: unknown switch: /X"},
        {"x /S /LOG=C:\\ro.log", "", "C:\\ro.log", 87, "quiet;", Temp,
         "Cannot open the log C:\\ro.log"},
        {"x /S", "NN", "", 13, "quiet;" + Global + Plain, Temp,
         "Payload: unfilled (Need Combine firmware first !!)"},
        {"x /LIST /LOG=C:\\fw.log", "NT", "", 1603, "quiet;" + Global + Plain + "backend;",
         "C:\\fw.log", "Back-end failed: no back-end"},
        {"x /LIST", "T", Temp, 1603, "quiet;" + Global + "backend;", "", ""},  // no log
    };
    for (const auto& c : cases) {
        FakeStart start;
        start.marks = c.marks;
        start.unopenable = c.unopenable;
        EXPECT_EQ(StartProgram(c.line, FirmwarePayload::Program(), start), c.code) << c.line;
        EXPECT_EQ(start.events, c.events) << c.line;
        EXPECT_EQ(start.logs.size(), *c.logPath ? 1u : 0u) << c.line;
        const std::string& log = start.logs[c.logPath];
        const std::string last = ", exit code " + std::to_string(c.code) + "\n";
        EXPECT_EQ(log.empty() ? "" : log.substr(log.size() - last.size()), *c.logPath ? last : "");
        EXPECT_NE(log.find(c.logged + (c.logged.empty() ? "" : "\n")), std::string::npos) << log;
    }
}

TEST(ProgramStartTest, PathInFolder) {
    const char* paths[][2] = {{"C:\\t\\", "C:\\t\\a"},
                              {"C:\\t", "C:\\t\\a"},
                              {"C:", "C:a"},
                              {"", "a"},
                              {"t/", "t/a"},
                              {"db", "db\\a"},
                              {"\\\\pc\\c:", "\\\\pc\\c:\\a"}};
    for (auto& p : paths) EXPECT_EQ(PathInFolder(p[0], "a"), p[1]) << p[0];
}

}  // namespace

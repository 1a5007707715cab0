// The start of the Windows program over a fake platform: which path the
// command line takes, where its log goes, and the mark of the running copy.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "unattended/ProgramStart.h"

namespace {

struct Sink : LogSink {
    std::string& text;
    explicit Sink(std::string& t) : text(t) {}
    void WriteLine(const std::string& line) override { text += line.substr(20) + "\n"; }
};

struct FailingBackend : DriveBackend {
    std::string& events;
    explicit FailingBackend(std::string& e) : events(e) {}
    std::string Description() override { return "test"; }
    std::unique_ptr<DeviceAccess> Create() override { return events += "backend;", nullptr; }
    std::string FailureText() override { return "no back-end"; }
};

struct Clock : LogClock {
    LogTime Now() override { return {2024, 5, 1, 13, 45, 7}; }
};

struct FakeStart : ProgramStartPlatform {
    std::string events;
    std::map<std::string, std::string> logs;  // by path
    std::set<std::string> unopenable;
    bool anotherCopy = false;
    std::set<std::string> refusedNames;
    FailingBackend backend{events};
    Clock clock;

    void ShowMessage(const char* text, const char*) override { events += text, events += ";"; }
    void QuietSystemErrors() override { events += "quiet;"; }
    std::string TempFolder() override { return "C:\\TEMP\\"; }
    std::unique_ptr<LogSink> OpenLog(const std::string& path) override {
        if (unopenable.count(path)) return nullptr;
        return std::unique_ptr<LogSink>(new Sink(logs[path]));
    }
    Mark CreateMark(const char* name) override {
        events += "take;";
        if (refusedNames.count(name)) return Mark::NotAccepted;
        return anotherCopy ? Mark::HeldByAnother : Mark::Taken;
    }
    int RunDialog() override { return events += "dialog;", 0; }
    RunSeams Seams(const UnattendedPlan&, LogSink& log) override {
        return {backend, log,     clock,           nullptr, nullptr, 2,
                5,       nullptr, WindowsExitCode, "1.58",  nullptr};
    }
};

const char Temp[] = "C:\\TEMP\\FlashUpgrade.log";

TEST(ProgramStartTest, PathsLogsAndTheRunningCopy) {
    const struct {
        const char* line;
        bool anotherCopy;
        const char* unopenable;
        int code;
        const char* events;
        const char* logPath;  // where the reason lands, with the last line's exit code
        const char* logged;
    } cases[] = {
        {"x", false, "", 0, "take;dialog;", "", ""},
        {"x", true, "", 1618, "take;Another copy of the Flash Upgrade Program is already running.;",
         "", ""},
        {"x /S /? /X", true, "", 0, "FlashUpgrade [/S | /LIST]", "", ""},
        {"x /LOG=C:\\fw.log /S /X", false, "", 87, "quiet;", "C:\\fw.log",
         "Command line refused: unknown switch: /X"},
        {"x /S /X", false, "", 87, "quiet;", Temp, "Command line refused: unknown switch: /X"},
        {"x /S /LOG=C:\\ro.log", false, "C:\\ro.log", 87, "quiet;", Temp,
         "Cannot open the log C:\\ro.log"},
        {"x /S", true, "", 1618, "quiet;take;", Temp,
         "Another copy of the Flash Upgrade Program is already running."},
        {"x /LIST /LOG=C:\\fw.log", false, "", 1603, "quiet;take;backend;", "C:\\fw.log",
         "Back-end failed: no back-end"},
        // The run goes on without a log.
        {"x /LIST", false, Temp, 1603, "quiet;take;backend;", "", ""},
    };
    for (const auto& c : cases) {
        FakeStart start;
        start.anotherCopy = c.anotherCopy;
        start.unopenable.insert(c.unopenable);
        EXPECT_EQ(StartProgram(c.line, FirmwarePayload::Program(), start), c.code) << c.line;
        EXPECT_EQ(start.events.find(c.events), 0u) << c.line << ": " << start.events;
        EXPECT_EQ(start.logs.size(), *c.logPath ? 1u : 0u) << c.line;
        const std::string& log = start.logs[c.logPath];
        const std::string last = ", exit code " + std::to_string(c.code) + "\n";
        EXPECT_EQ(log.empty() ? "" : log.substr(log.size() - last.size()), *c.logPath ? last : "");
        EXPECT_NE(log.find(std::string(c.logged) + (*c.logged ? "\n" : "")), std::string::npos);
    }
}

TEST(ProgramStartTest, MarkUnderTheFirstNameAccepted) {
    const struct {
        std::set<std::string> refused;
        bool anotherCopy, first;
        const char* events;
    } cases[] = {
        {{}, false, true, "take;"},
        {{}, true, false, "take;"},
        {{"Global\\FlashUpgradeProgram"}, true, false, "take;take;"},
        {{"Global\\FlashUpgradeProgram"}, false, true, "take;take;"},
        {{"Global\\FlashUpgradeProgram", "FlashUpgradeProgram"}, true, true, "take;take;"},
    };
    for (const auto& c : cases) {
        FakeStart start;
        start.refusedNames = c.refused;
        start.anotherCopy = c.anotherCopy;
        EXPECT_EQ(TakeSingleCopy(start), c.first);
        EXPECT_EQ(start.events, c.events);
    }
}

TEST(ProgramStartTest, LogPaths) {
    const char* paths[][2] = {{"C:\\TEMP\\", "C:\\TEMP\\a.log"},
                              {"C:\\TEMP", "C:\\TEMP\\a.log"},
                              {"C:", "C:a.log"},
                              {"", "a.log"},
                              {"tmp/", "tmp/a.log"},
                              {"\\\\pc\\c:", "\\\\pc\\c:\\a.log"}};
    for (auto& p : paths) EXPECT_EQ(PathInFolder(p[0], "a.log"), p[1]) << p[0];
}

}  // namespace

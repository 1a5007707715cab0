#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "app/StartupLogic.h"

namespace {

using ::testing::_;
using ::testing::InSequence;
using ::testing::Return;
using ::testing::StrEq;
using ::testing::StrictMock;

class MockStartupPlatform : public StartupPlatform {
  public:
    MOCK_METHOD(void, ShowMessage, (const char* text, const char* caption), (override));
    MOCK_METHOD(std::unique_ptr<DeviceAccess>, CreateBackend, (BackendKind kind), (override));
};

// Records what start-up did to it, in one shared log, so the order of
// creation, enumeration, the modal run and deletion can be checked.
struct Log {
    std::string text;
};

class FakeBackend : public DeviceAccess {
  public:
    FakeBackend(Log& log, int initialized, int drives) : log_(log), drives_(drives) {
        Initialized = initialized;
    }
    ~FakeBackend() override { log_.text += "delete-backend;"; }
    void EnumerateDevices(DeviceList& list) override {
        log_.text += "enumerate;";
        for (int i = 0; i < drives_; ++i) list.Append(ZeroDeviceRecord());
    }
    int InquireDevice() override { return 0; }
    int IdentifyController() override { return 0; }
    int OpenDevice(const DeviceRecord&) override { return 0; }
    void CloseDevice() override {}
    int ReadBufferData(uint8_t*, uint8_t, uint16_t, uint16_t) override { return 0; }
    int ReadFlashData(uint8_t*, uint8_t, uint16_t, uint16_t) override { return 0; }
    int WriteBufferSave(const uint8_t*, uint8_t, uint16_t, uint16_t) override { return 0; }
    int CommitMicrocode() override { return 0; }

  private:
    Log& log_;
    int drives_;
};

class FakeDialog : public StartupDialog {
  public:
    FakeDialog(Log& log, int answer) : log_(log), answer_(answer) { log_.text += "create-dialog;"; }
    ~FakeDialog() override { log_.text += "destroy-dialog;"; }
    DeviceList& Devices() override { return devices_; }
    void RunModal(DeviceAccess& device) override {
        log_.text += "run-dialog(" + std::to_string(devices_.Count()) + ");";
        EXPECT_NE(device.Initialized, 0);
    }
    int RestartRequested() const override { return answer_; }

  private:
    Log& log_;
    int answer_;
    DeviceList devices_;
};

struct StartupRun {
    Log log;
    StrictMock<MockStartupPlatform> platform;
    int restartRequested = -1;

    int Run(int supported, uint32_t platformId, uint8_t modelId, int dialogAnswer = 0) {
        return RunStartupSequence(
            supported, platformId, modelId, platform,
            [this, dialogAnswer] {
                return std::unique_ptr<StartupDialog>(new FakeDialog(log, dialogAnswer));
            },
            restartRequested);
    }
    void ExpectBackend(BackendKind kind, int initialized, int drives) {
        EXPECT_CALL(platform, CreateBackend(kind)).WillOnce([=](BackendKind) {
            log.text += "create-backend;";
            return std::unique_ptr<DeviceAccess>(new FakeBackend(log, initialized, drives));
        });
    }
};

TEST(PlatformSupportedTest, RefusesAFailedQueryAndWin32s) {
    EXPECT_EQ(PlatformSupportedFrom(0, 2), 0);
    EXPECT_EQ(PlatformSupportedFrom(0, 1), 0);
    EXPECT_EQ(PlatformSupportedFrom(1, 0), 0);
    EXPECT_EQ(PlatformSupportedFrom(1, 1), 1);
    EXPECT_EQ(PlatformSupportedFrom(1, 2), 1);
    EXPECT_EQ(PlatformSupportedFrom(1, 3), 1);
}

TEST(BackendForTest, PassThroughOnlyOnTheNtFamily) {
    EXPECT_EQ(BackendFor(2), BackendKind::PassThrough);
    for (uint32_t id : {0u, 1u, 3u, 0xFFFFFFFFu}) EXPECT_EQ(BackendFor(id), BackendKind::Aspi);
}

TEST(NoDeviceMessageTest, RowsByModelId) {
    struct Case {
        uint8_t model;
        const char* text;
    } cases[] = {
        {1,
         "This program is only for ARDENTA DVD-ROM RVX-418 , \r\nfirmware version 1.** "
         "models."},
        {2, "QX-204RA was not detected.\r\nThe program is exited."},
        {3,
         "This program is only for         DVD-ROM         , \r\nfirmware version 1.** "
         "models."},
        {4,
         "This program is only for DVD-ROM 16X             , \r\nfirmware version 5.*V "
         "models."},
        {5,
         "This program is only for QUORALI HK-3100LS       , \r\nfirmware version 5.*VA "
         "models."},
        {6,
         "This program is only for BRELLIX KRAV7420        , \r\nfirmware version P*.* "
         "models."},
        {7,
         "This program is only for IDE-DVD ROM 16x         , \r\nfirmware version HD** "
         "models."},
    };
    for (const Case& c : cases) EXPECT_STREQ(NoDeviceMessage(c.model), c.text) << int(c.model);
    for (int model : {0, 8, 9, 208, 255}) {
        EXPECT_STREQ(NoDeviceMessage(static_cast<uint8_t>(model)), "No support device Found!!")
            << model;
    }
}

TEST(NoDeviceMessageTest, ModelFieldsAreInquiryWide) {
    const std::string prefix = "This program is only for ";
    for (uint8_t model : {1, 3, 4, 5, 6, 7}) {
        std::string text = NoDeviceMessage(model);
        ASSERT_EQ(text.compare(0, prefix.size(), prefix), 0) << int(model);
        // Vendor (8) and product (16), then ", \r\n".
        EXPECT_EQ(text.substr(prefix.size() + 24, 4), ", \r\n") << int(model);
        EXPECT_EQ(text.size(), model == 5 ? 83u : 82u) << int(model);
    }
}

TEST(RunStartupSequenceTest, UnsupportedPlatformShowsOnlyItsMessage) {
    StartupRun run;
    EXPECT_CALL(run.platform, ShowMessage(StrEq("Flash ROM Upgrade Program Initialized Failed!!"),
                                          StrEq("DVD Firmware Upgrade Program")));
    EXPECT_EQ(run.Run(0, 2, 4), 0);
    EXPECT_EQ(run.log.text, "");
    EXPECT_EQ(run.restartRequested, 0);
}

TEST(RunStartupSequenceTest, UnusableBackendShowsItsFamilysMessage) {
    struct Case {
        uint32_t platformId;
        BackendKind kind;
        const char* text;
    } cases[] = {
        {2, BackendKind::PassThrough,
         "Flash ROM Upgrade Program Initialized Failed (Windows NT/2000)!!"},
        {1, BackendKind::Aspi,
         "Flash ROM Upgrade Program Initialized Failed (Windows 95/98)!!\nASPI for Win32 is not "
         "initialized!!"},
    };
    for (const Case& c : cases) {
        StartupRun run;
        run.ExpectBackend(c.kind, 0, 2);
        EXPECT_CALL(run.platform,
                    ShowMessage(StrEq(c.text), StrEq("DVD Firmware Upgrade Program")));
        EXPECT_EQ(run.Run(1, c.platformId, 4), 0);
        // No enumeration, no window; the dialog object existed and is gone.
        EXPECT_EQ(run.log.text, "create-dialog;create-backend;delete-backend;destroy-dialog;");
        EXPECT_EQ(run.restartRequested, 0);
    }
}

TEST(RunStartupSequenceTest, BackendWithoutMemoryCountsAsUnusable) {
    StartupRun run;
    EXPECT_CALL(run.platform, CreateBackend(BackendKind::Aspi)).WillOnce([](BackendKind) {
        return std::unique_ptr<DeviceAccess>();
    });
    EXPECT_CALL(run.platform,
                ShowMessage(StrEq(AspiFailedText), StrEq("DVD Firmware Upgrade Program")));
    EXPECT_EQ(run.Run(1, 1, 4), 0);
    EXPECT_EQ(run.log.text, "create-dialog;destroy-dialog;");
}

TEST(RunStartupSequenceTest, NoDriveShowsTheModelsMessageAndNoWindow) {
    StartupRun run;
    run.ExpectBackend(BackendKind::PassThrough, 1, 0);
    EXPECT_CALL(run.platform, ShowMessage(StrEq("This program is only for DVD-ROM 16X             "
                                                ", \r\nfirmware version 5.*V models."),
                                          StrEq("Firmware Upgrade Program")));
    EXPECT_EQ(run.Run(1, 2, 4, 1), 0);
    EXPECT_EQ(run.log.text,
              "create-dialog;create-backend;enumerate;delete-backend;destroy-dialog;");
    EXPECT_EQ(run.restartRequested, 0);
}

TEST(RunStartupSequenceTest, DrivesFoundRunTheWindowAndTakeItsAnswer) {
    for (int answer : {0, 1}) {
        StartupRun run;
        run.ExpectBackend(BackendKind::Aspi, 1, 3);
        EXPECT_EQ(run.Run(1, 1, 4, answer), 0);
        EXPECT_EQ(run.log.text,
                  "create-dialog;create-backend;enumerate;run-dialog(3);delete-backend;"
                  "destroy-dialog;");
        EXPECT_EQ(run.restartRequested, answer);
    }
}

class MockRestartPlatform : public RestartPlatform {
  public:
    MOCK_METHOD(int, OpenProcessToken, (), (override));
    MOCK_METHOD(void, LookupShutdownPrivilege, (), (override));
    MOCK_METHOD(unsigned long, EnableShutdownPrivilege, (), (override));
    MOCK_METHOD(int, RequestRestart, (unsigned flags), (override));
    MOCK_METHOD(void, ShowMessage, (const char* text, const char* caption), (override));
};

TEST(RestartFlagsTest, ForceIfHungOnlyFromWindows2000On) {
    struct Case {
        uint32_t platformId, major;
        unsigned flags;
    } cases[] = {
        {2, 5, 0x12}, {2, 6, 0x12}, {2, 10, 0x12}, {2, 4, 0x02},
        {2, 3, 0x02}, {1, 4, 0x02}, {1, 5, 0x02},  {0, 6, 0x02},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(RestartFlags(c.platformId, c.major), c.flags) << c.platformId << "/" << c.major;
    }
}

TEST(RestartWindowsTest, NtFamilyEnablesThePrivilegeThenRestarts) {
    StrictMock<MockRestartPlatform> platform;
    InSequence order;
    EXPECT_CALL(platform, OpenProcessToken()).WillOnce(Return(1));
    EXPECT_CALL(platform, LookupShutdownPrivilege());
    EXPECT_CALL(platform, EnableShutdownPrivilege()).WillOnce(Return(0));
    EXPECT_CALL(platform, RequestRestart(0x12u)).WillOnce(Return(1));
    RestartWindowsWith(2, 5, platform);
}

TEST(RestartWindowsTest, EveryFailedStepIsReportedAndTheSequenceGoesOn) {
    StrictMock<MockRestartPlatform> platform;
    InSequence order;
    EXPECT_CALL(platform, OpenProcessToken()).WillOnce(Return(0));
    EXPECT_CALL(platform, ShowMessage(StrEq("Reboot : OpenProcessToken Fail!!"),
                                      StrEq("DVD Firmware Upgrade Program")));
    EXPECT_CALL(platform, LookupShutdownPrivilege());
    EXPECT_CALL(platform, EnableShutdownPrivilege()).WillOnce(Return(6));
    EXPECT_CALL(platform, ShowMessage(StrEq("Reboot : AdjustTokenPrivileges Fail!!"),
                                      StrEq("DVD Firmware Upgrade Program")));
    EXPECT_CALL(platform, RequestRestart(0x02u)).WillOnce(Return(0));
    EXPECT_CALL(platform, ShowMessage(StrEq("Reboot : ExitWindowsEx Fail!!"),
                                      StrEq("DVD Firmware Upgrade Program")));
    RestartWindowsWith(2, 4, platform);
}

TEST(RestartWindowsTest, PrivilegeNotHeldIsReportedByItsLastError) {
    // ERROR_NOT_ALL_ASSIGNED: the call itself succeeded.
    StrictMock<MockRestartPlatform> platform;
    InSequence order;
    EXPECT_CALL(platform, OpenProcessToken()).WillOnce(Return(1));
    EXPECT_CALL(platform, LookupShutdownPrivilege());
    EXPECT_CALL(platform, EnableShutdownPrivilege()).WillOnce(Return(1300));
    EXPECT_CALL(platform, ShowMessage(StrEq("Reboot : AdjustTokenPrivileges Fail!!"), _));
    EXPECT_CALL(platform, RequestRestart(0x12u)).WillOnce(Return(1));
    RestartWindowsWith(2, 6, platform);
}

TEST(RestartWindowsTest, Windows9xFamilyRunsNoTokenStep) {
    for (uint32_t id : {0u, 1u, 3u}) {
        StrictMock<MockRestartPlatform> platform;
        InSequence order;
        EXPECT_CALL(platform, RequestRestart(0x02u)).WillOnce(Return(0));
        EXPECT_CALL(platform, ShowMessage(StrEq("Reboot : ExitWindowsEx Fail!!"),
                                          StrEq("DVD Firmware Upgrade Program")));
        RestartWindowsWith(id, 4, platform);
    }
}

}  // namespace

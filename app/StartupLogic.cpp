#include "app/StartupLogic.h"

int PlatformSupportedFrom(int queryResult, uint32_t platformId) {
    if (queryResult != 0 && platformId == PlatformWin32s) return 0;
    return queryResult;
}

BackendKind BackendFor(uint32_t platformId) {
    return platformId == PlatformWin32Nt ? BackendKind::PassThrough : BackendKind::Aspi;
}

const char* NoDeviceMessage(uint8_t modelId) {
    // Each model field is a drive's inquiry vendor (8) and product (16), both
    // padded with blanks.
    static const char* const rows[] = {
        "No support device Found!!",
        "This program is only for ARDENTA DVD-ROM RVX-418 , \r\nfirmware version 1.** models.",
        "QX-204RA was not detected.\r\nThe program is exited.",
        "This program is only for         DVD-ROM         , \r\nfirmware version 1.** models.",
        "This program is only for DVD-ROM 16X             , \r\nfirmware version 5.*V models.",
        "This program is only for QUORALI HK-3100LS       , \r\nfirmware version 5.*VA models.",
        "This program is only for BRELLIX KRAV7420        , \r\nfirmware version P*.* models.",
        "This program is only for IDE-DVD ROM 16x         , \r\nfirmware version HD** models.",
    };
    if (modelId >= 1 && modelId <= 7) return rows[modelId];
    return rows[0];
}

int RunStartupSequence(int platformSupported, uint32_t platformId, uint8_t modelId,
                       StartupPlatform& platform, const DialogFactory& createDialog,
                       int& restartRequested) {
    restartRequested = 0;
    if (platformSupported == 0) {
        platform.ShowMessage(PlatformFailedText, StartupCaption);
        return 0;
    }

    std::unique_ptr<StartupDialog> dialog = createDialog();
    BackendKind kind = BackendFor(platformId);
    std::unique_ptr<DeviceAccess> backend = platform.CreateBackend(kind);
    if (backend == nullptr || backend->Initialized == 0) {
        platform.ShowMessage(
            kind == BackendKind::PassThrough ? PassThroughFailedText : AspiFailedText,
            StartupCaption);
        backend.reset();
        return 0;
    }

    backend->EnumerateDevices(dialog->Devices());
    if (dialog->Devices().Count() != 0) {
        dialog->RunModal(*backend);
        restartRequested = dialog->RestartRequested();
    } else {
        platform.ShowMessage(NoDeviceMessage(modelId), NoDeviceCaption);
    }
    // The back-end goes first, then the window with its list.
    backend.reset();
    dialog.reset();
    return 0;
}

unsigned RestartFlags(uint32_t platformId, uint32_t majorVersion) {
    if (platformId == PlatformWin32Nt && majorVersion >= 5) {
        return RestartFlagReboot | RestartFlagForceIfHung;
    }
    return RestartFlagReboot;
}

void RestartWindowsWith(uint32_t platformId, uint32_t majorVersion, RestartPlatform& platform) {
    if (platformId == PlatformWin32Nt) {
        if (platform.OpenProcessToken() == 0) {
            platform.ShowMessage(OpenTokenFailedText, StartupCaption);
        }
        platform.LookupShutdownPrivilege();
        // The call's own result says nothing about whether the privilege is
        // now held; the last-error code does.
        if (platform.EnableShutdownPrivilege() != 0) {
            platform.ShowMessage(AdjustPrivilegeFailedText, StartupCaption);
        }
    }
    if (platform.RequestRestart(RestartFlags(platformId, majorVersion)) == 0) {
        platform.ShowMessage(ExitWindowsFailedText, StartupCaption);
    }
}

#include "unattended/RestartSequence.h"

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

#include "app/StartupLogic.h"

#include "payload/DriveModels.h"

int PlatformSupportedFrom(int queryResult, uint32_t platformId) {
    if (queryResult != 0 && platformId == PlatformWin32s) return 0;
    return queryResult;
}

BackendKind BackendFor(uint32_t platformId) {
    return platformId == PlatformWin32Nt ? BackendKind::PassThrough : BackendKind::Aspi;
}

const char* BackendFailedText(BackendKind kind) {
    return kind == BackendKind::PassThrough ? PassThroughFailedText : AspiFailedText;
}

const char* NoDeviceMessage(uint8_t modelId) {
    if (const DriveModel* model = DriveModelFor(modelId)) return model->noDeviceText;
    if (modelId == 2) return "QX-204RA was not detected.\r\nThe program is exited.";
    return "No support device Found!!";
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
        platform.ShowMessage(BackendFailedText(kind), StartupCaption);
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

#include "unattended/UpToDate.h"

#include "flash/FormatText.h"
#include "payload/DriveModels.h"

namespace {

// The text without the blanks and NULs that pad it at the end.
std::string WithoutPadding(std::string text) {
    const size_t end = text.find_last_not_of(std::string(" \0", 2));
    text.erase(end == std::string::npos ? 0 : end + 1);
    return text;
}

}  // namespace

UpToDateVerdict JudgeUpToDate(uint8_t modelId, const std::string& version,
                              const DeviceRecord& drive) {
    const std::string carried = WithoutPadding(version);
    const std::string revision = WithoutPadding(std::string(drive.Revision, RevisionFieldLength));
    if (!VersionFitsModel(modelId, carried)) {
        const DriveModel* model = DriveModelFor(modelId);
        return {UpToDateVerdict::CannotJudge,
                model == nullptr
                    ? FormatText("up to date cannot be judged: the firmware's model digit %u "
                                 "names no drive model",
                                 static_cast<unsigned>(modelId))
                    : FormatText("up to date cannot be judged: the firmware's version \"%s\" "
                                 "is no revision of this model (\"%s\")",
                                 carried.c_str(), model->versionPattern)};
    }
    if (revision == carried) {
        return {UpToDateVerdict::Current,
                FormatText("up to date: the drive's firmware \"%s\" is this firmware \"%s\"",
                           revision.c_str(), carried.c_str())};
    }
    return {UpToDateVerdict::Differs,
            FormatText("not up to date: the drive's firmware \"%s\", this firmware \"%s\"",
                       revision.c_str(), carried.c_str())};
}

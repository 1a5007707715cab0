#include "unattended/FirmwareSource.h"

#include "flash/FormatText.h"
#include "payload/DriveModels.h"
#include "unattended/Sha256.h"

namespace {

// A field as the log shows it: without the blanks and NULs that pad it.
std::string Shown(std::string text) {
    const size_t end = text.find_last_not_of(std::string(" \0", 2));
    text.erase(end == std::string::npos ? 0 : end + 1);
    return text;
}

}  // namespace

std::string PayloadSource::Problem() const {
    if (payload_.IsPlaceholder()) return "Payload: unfilled (Need Combine firmware first !!)";
    const unsigned computed = ImageChecksum(payload_.Image(), ImageSize);
    const unsigned stored = payload_.StoredChecksum();
    if (computed == stored) return "";
    return FormatText("Payload: checksum does not match (%04X / %04X)", computed, stored);
}

std::string PayloadSource::Description() const {
    return FormatText("Payload: firmware %s for model %u, checksum %04X",
                      payload_.Version().c_str(), static_cast<unsigned>(payload_.ModelId()),
                      static_cast<unsigned>(payload_.StoredChecksum()));
}

GuardVerdict PayloadSource::Judge(const DeviceRecord& drive) const {
    return JudgeDrive(payload_.ModelId(), drive);
}

UpToDateVerdict PayloadSource::UpToDate(const DeviceRecord& drive) const {
    return JudgeUpToDate(payload_.ModelId(), payload_.Version(), drive);
}

void RestoreSource::Load(const std::string& path, bool force, SourceFiles& files) {
    path_ = path;
    hasRecord_ = false;
    problem_.clear();
    image_.clear();
    std::string why;
    auto refuse = [&](const std::string& text) { problem_ = "Restore: " + text; };
    if (files.Read(path, ImageSize, image_, why) != SourceFiles::Result::Read)
        return refuse("cannot read " + path + ": " + why);
    if (image_.size() != ImageSize) {
        return refuse(
            FormatText("%s holds %s%u bytes, a drive's flash 131072 (0x20000)", path.c_str(),
                       image_.size() > ImageSize ? "more than " : "",
                       static_cast<unsigned>(std::min<size_t>(image_.size(), ImageSize))));
    }
    sha256_ = Sha256Hex(Sha256(Image(), ImageSize));

    const std::string recordPath = RecordPathFor(path);
    std::string text;
    const SourceFiles::Result read = files.Read(recordPath, MaxRecordBytes, text, why);
    if (read == SourceFiles::Result::Missing) {
        if (!force) refuse(std::string(NoRecordText) + " (" + recordPath + ": " + why + ")");
        return;
    }
    if (read != SourceFiles::Result::Read)
        return refuse("cannot read the record " + recordPath + ": " + why);
    if (!ParseBackupRecord(text, record_, why))
        return refuse("the record " + recordPath + " is malformed: " + why);
    if (record_.flashSize != ImageSize) {
        return refuse(FormatText("the record %s is of a flash of %u bytes", recordPath.c_str(),
                                 static_cast<unsigned>(record_.flashSize)));
    }
    if (record_.sha256 != sha256_) {
        return refuse(path + " is damaged: its SHA-256 is " + sha256_ + ", its record's " +
                      record_.sha256);
    }
    hasRecord_ = true;
}

std::string RestoreSource::Description() const {
    const std::string start =
        FormatText("Restore: %s, 131072 bytes, SHA-256 %s", path_.c_str(), sha256_.c_str());
    if (!hasRecord_) return start + "; " + NoRecordText + " (forced)";
    const BackupRecord& r = record_;
    return start + FormatText(
                       " as its record says: vendor \"%s\", product \"%s\", revision "
                       "\"%s\", chip code 0x%04X, version %u.%u, read on %s by %s",
                       r.vendor.c_str(), r.product.c_str(), r.revision.c_str(),
                       static_cast<unsigned>(r.chipCode), static_cast<unsigned>(r.versionMajor),
                       static_cast<unsigned>(r.versionMinor), r.date.c_str(), r.program.c_str());
}

uint16_t RestoreSource::Checksum() const {
    return ImageChecksum(Image(), image_.size());
}

GuardVerdict RestoreSource::Judge(const DeviceRecord& drive) const {
    if (!hasRecord_) return {false, NoRecordText};
    const std::string identity = FieldText(drive.VendorProduct, ModelFieldLength);
    const std::string recorded = record_.vendor + record_.product;
    if (RecordFitsDrive(record_, drive)) {
        return {true, FormatText("\"%s\" with chip code 0x%04X, as the backup's drive",
                                 identity.c_str(), static_cast<unsigned>(drive.ChipCode))};
    }
    return {false, FormatText("the drive is \"%s\" with chip code 0x%04X, the backup is of \"%s\" "
                              "with chip code 0x%04X",
                              identity.c_str(), static_cast<unsigned>(drive.ChipCode),
                              recorded.c_str(), static_cast<unsigned>(record_.chipCode))};
}

UpToDateVerdict RestoreSource::UpToDate(const DeviceRecord& drive) const {
    if (!hasRecord_)
        return {UpToDateVerdict::CannotJudge,
                std::string("up to date cannot be judged: ") + NoRecordText};
    const std::string revision(drive.Revision, RevisionFieldLength);
    const std::string drives = Shown(revision), backups = Shown(record_.revision);
    if (revision == record_.revision) {
        return {UpToDateVerdict::Current,
                FormatText("up to date: the drive's firmware \"%s\" is the backup's \"%s\"",
                           drives.c_str(), backups.c_str())};
    }
    return {UpToDateVerdict::Differs,
            FormatText("not up to date: the drive's firmware \"%s\", the backup's \"%s\"",
                       drives.c_str(), backups.c_str())};
}

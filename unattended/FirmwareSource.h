#pragma once

#include <cstdint>
#include <string>

#include "device/DeviceRecord.h"
#include "payload/FirmwarePayload.h"
#include "unattended/BackupRecord.h"
#include "unattended/ModelGuard.h"
#include "unattended/UpToDate.h"

// What a run writes to the drives, or holds their flash against: the
// firmware the program carries, or a backup put back. Each knows which
// drives it is for and when a drive carries it already; the run asks it and
// knows no case of either.
class FirmwareSource {
  public:
    virtual ~FirmwareSource() = default;
    // Empty when the image may go to a drive; otherwise the log's line on
    // why not (the run then reaches no drive).
    virtual std::string Problem() const = 0;
    // The log's line on it, when it has no problem.
    virtual std::string Description() const = 0;
    // ImageSize bytes, and the 16-bit sum the write checks them against.
    virtual const uint8_t* Image() const = 0;
    virtual uint16_t Checksum() const = 0;
    // Whether the image is for this drive (a forced run writes it anyway).
    virtual GuardVerdict Judge(const DeviceRecord& drive) const = 0;
    // Whether the drive carries it already.
    virtual UpToDateVerdict UpToDate(const DeviceRecord& drive) const = 0;
    // The record of a backup, when the source is one that has it.
    virtual const BackupRecord* Record() const { return nullptr; }
};

// The payload block: the model guard of its model digit, up to date by its
// version text.
class PayloadSource : public FirmwareSource {
  public:
    explicit PayloadSource(const FirmwarePayload& payload) : payload_(payload) {}
    std::string Problem() const override;
    std::string Description() const override;
    const uint8_t* Image() const override { return payload_.Image(); }
    uint16_t Checksum() const override { return payload_.StoredChecksum(); }
    GuardVerdict Judge(const DeviceRecord& drive) const override;
    UpToDateVerdict UpToDate(const DeviceRecord& drive) const override;

  private:
    FirmwarePayload payload_;
};

// Reads the files a restore names.
class SourceFiles {
  public:
    enum class Result { Read, Missing, Failed };
    virtual ~SourceFiles() = default;
    // The bytes of the file at path into data, at most limit + 1 of them (a
    // longer file shows as one byte too many); why holds the system's words
    // when the file is missing or cannot be read.
    virtual Result Read(const std::string& path, size_t limit, std::string& data,
                        std::string& why) = 0;
};

// A backup file put back, checked against its record (RecordPathFor(path)):
// for the drives of the record's vendor, product and chip code, up to date
// on a drive that reports the record's revision. Refused, for every drive
// and forced or not: a file that cannot be read or is not ImageSize bytes;
// a record that cannot be read or is malformed, or that is of another flash
// size; a file whose SHA-256 is not the record's. A missing record is
// refused unless forced; the image is then for no drive (a forced run
// writes it to the chosen ones) and no drive can be judged up to date.
class RestoreSource : public FirmwareSource {
  public:
    // Nothing read: Load comes first.
    RestoreSource() = default;
    void Load(const std::string& path, bool force, SourceFiles& files);

    std::string Problem() const override { return problem_; }
    std::string Description() const override;
    const uint8_t* Image() const override {
        return reinterpret_cast<const uint8_t*>(image_.data());
    }
    uint16_t Checksum() const override;
    GuardVerdict Judge(const DeviceRecord& drive) const override;
    UpToDateVerdict UpToDate(const DeviceRecord& drive) const override;
    const BackupRecord* Record() const override { return hasRecord_ ? &record_ : nullptr; }

  private:
    std::string path_;
    std::string problem_ = "Restore: nothing read";
    std::string image_;
    bool hasRecord_ = false;
    BackupRecord record_;
    std::string sha256_;  // of the file as read
};

// What a restore says when the file has no record.
constexpr char NoRecordText[] = "no record: the backup's origin cannot be checked";

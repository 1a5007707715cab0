// The payload block and the model guard: a block header and a drive's inquiry texts from the
// input, judged against rules written out here (docs/fuzz.md).
#include <cstdio>

#include "FuzzInput.h"
#include "payload/DriveModels.h"
#include "payload/FirmwarePayload.h"
#include "unattended/ModelGuard.h"
#include "unattended/UpToDate.h"

namespace {

std::string Unpadded(const std::string& text) {
    return text.substr(0, text.find_last_not_of(std::string(" \0", 2)) + 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    static std::vector<uint8_t> block(PayloadBlockSize);
    const std::string header = in.Bytes(PayloadHeaderSize) + std::string(PayloadHeaderSize, '\0');
    std::copy_n(header.begin(), PayloadHeaderSize, block.begin());
    const FirmwarePayload payload(block.data());
    // An inquiry: the model's texts with some bytes of the input over them.
    const DriveModel* model = DriveModelFor(in.Byte() % 8);
    std::string inquiry =
        std::string(model ? model->vendorProduct : "") + (model ? model->versionPattern : "");
    inquiry.resize(28);
    for (uint8_t at = in.Byte(), n = in.Byte(); n > 0 && at < 28; --n, at = in.Byte())
        inquiry[at] = char(in.Byte());
    const DeviceRecord drive = RecordOf(inquiry);

    char checksum[PayloadChecksumLength + 1] = {};
    std::memcpy(checksum, block.data() + PayloadChecksumOffset, PayloadChecksumLength);
    unsigned value = 0;
    FUZZ_CHECK(payload.StoredChecksum() ==
               (std::sscanf(checksum, "%X", &value) == 1 ? uint16_t(value) : 0));

    const uint8_t id = payload.ModelId();
    const DriveModel* mine = DriveModelFor(id);
    const std::string revision(drive.Revision, strnlen(drive.Revision, 4));
    const GuardVerdict guard = JudgeDrive(id, drive);
    FUZZ_CHECK(guard.passes == (mine && inquiry.compare(0, 24, mine->vendorProduct) == 0 &&
                                Matches(mine->versionPattern, revision)));
    const std::string version = payload.Version();
    const bool fits = mine && version.size() <= 4 &&
                      Matches(mine->versionPattern, (version + "    ").substr(0, 4));
    const UpToDateVerdict upToDate = JudgeUpToDate(id, version, drive);
    FUZZ_CHECK((upToDate.state == UpToDateVerdict::CannotJudge) == !fits);
    FUZZ_CHECK(!fits || (upToDate.state == UpToDateVerdict::Current) ==
                            (Unpadded(inquiry.substr(24)) == Unpadded(version)));
    return 0;
}

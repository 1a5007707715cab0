// The record beside a backup and the restore file: the input's first byte says how the files
// read, the rest is the record's text; what is checked: docs/fuzz.md.
#include "FuzzInput.h"
#include "unattended/FirmwareSource.h"
#include "unattended/Sha256.h"

namespace {

const std::string file(ImageSize + 1, 'f');  // a backup whole, and one byte more
const std::string fileHash = Sha256Hex(Sha256((const uint8_t*)file.data(), ImageSize));

// The input's first byte, form (bits 0-1: the file whole, one byte longer, of one byte, empty;
// bit 2 it is missing, bit 3 it fails; bit 4 the record is missing, bit 5 it fails; bit 6 forced).
uint8_t form;
std::string text;

struct Files : SourceFiles {
    Result Read(const std::string& path, size_t limit, std::string& data,
                std::string& why) override {
        const int fails = (path == "b.txt" ? form >> 4 : form >> 2) & 3;
        why = "gone";
        if (fails) return fails == 1 ? Result::Missing : Result::Failed;
        const size_t sizes[4] = {ImageSize, ImageSize + 1, 1, 0};
        data = path == "b.txt" ? text : file.substr(0, sizes[form & 3]);
        return data.resize(std::min(data.size(), limit + 1)), Result::Read;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    form = data[0];
    text.assign(reinterpret_cast<const char*>(data) + 1, size - 1);
    // The strict reader takes printable lines that write back (either line end) as read.
    BackupRecord read, again;
    std::string error, why;
    const bool parsed = ParseBackupRecord(text, read, error);
    FUZZ_CHECK(parsed == error.empty());
    FUZZ_CHECK(!parsed || (ShownSafely(text, "\r\n") && text.size() <= MaxRecordBytes));
    for (const char* end : {"\n", "\r\n"}) {
        const std::string written = FormatBackupRecord(read, end);
        FUZZ_CHECK(!parsed || (ParseBackupRecord(written, again, why) &&
                               FormatBackupRecord(again, end) == written));
    }

    // A restore is refused exactly when the file is not whole or its record is unreadable, missing
    // (unless forced) or not of the file; otherwise it is the file's bytes.
    Files files;
    RestoreSource source;
    source.Load("b.bin", form & 64, files);
    const bool fits =
        !(form & 48) && parsed && read.flashSize == ImageSize && read.sha256 == fileHash;
    const bool usable = !(form & 15) && (fits || ((form & 48) == 16 && form & 64));
    FUZZ_CHECK(source.Problem().empty() == usable);
    FUZZ_CHECK(!usable || (std::memcmp(source.Image(), file.data(), ImageSize) == 0 &&
                           (source.Record() != nullptr) == fits));
    return 0;
}

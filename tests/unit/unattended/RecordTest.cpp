// The record beside a backup: its SHA-256, its text written and read back,
// and every form of it the reader refuses.
#include <gtest/gtest.h>

#include <cstring>

#include "unattended/BackupRecord.h"
#include "unattended/Sha256.h"

namespace {

std::string Hex(Sha256Digest (*digest)(const uint8_t*, size_t), const std::string& message) {
    return Sha256Hex(digest(reinterpret_cast<const uint8_t*>(message.data()), message.size()));
}

// Known digests, through the build's digest and this program's own; natively
// the two agree on every length of the padding's tail and beyond.
TEST(Record, Sha256) {
    const struct {
        std::string message;
        const char* digest;
    } cases[] = {
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Hex(Sha256, c.message), c.digest) << c.message.size();
        EXPECT_EQ(Hex(PortableSha256, c.message), c.digest) << c.message.size();
    }
#ifndef _WIN32
    std::string bytes;
    for (int i = 0; i < 300; ++i) bytes += static_cast<char>(i * 7 + 3);
    for (size_t n = 0; n <= bytes.size(); ++n)
        EXPECT_EQ(Hex(PortableSha256, bytes.substr(0, n)), Hex(Sha256, bytes.substr(0, n))) << n;
#endif
}

const uint8_t Flash[4] = {1, 2, 3, 4};
const std::string FlashSha = "9f64a747e1b97f131fabb6b447296c9b6f0201e79fb3c5356e6c77e89b6a806a";
const char Written[] =
    "vendor=A\\\\B\\x1b\\x00\\xe9 \\x20\n"
    "product=16X            \\x20\n"
    "revision=5.0V\n"
    "chip_code=0x3120\n"
    "version_major=1\n"
    "version_minor=58\n"
    "flash_size=4\n"
    "date=2024-05-01 03:04:07\n"
    "program=flash-upgrade 1.58\n"
    "sha256=9f64a747e1b97f131fabb6b447296c9b6f0201e79fb3c5356e6c77e89b6a806a\n";

BackupRecord Recorded() {
    DeviceRecord drive = ZeroDeviceRecord();
    std::memcpy(drive.Vendor, "A\\B\x1b\0\xe9  ", 8);
    std::memcpy(drive.Product, "16X             ", 16);
    std::memcpy(drive.Revision, "5.0V", 4);
    drive.ChipCode = 0x3120;
    drive.VersionMajor = 1;
    drive.VersionMinor = 58;
    return RecordOfBackup(drive, Flash, sizeof Flash, {2024, 5, 1, 3, 4, 7}, "flash-upgrade 1.58");
}

// Written with every byte that would break the line escaped, read back
// whole, in each accepted form.
TEST(Record, WrittenAndReadBack) {
    const BackupRecord record = Recorded();
    EXPECT_EQ(record.sha256, FlashSha);
    EXPECT_EQ(FormatBackupRecord(record, "\n"), Written);
    std::string reordered = Written;
    reordered = reordered.substr(reordered.find("revision")) +
                reordered.substr(0, reordered.find("revision"));
    std::string upper = Written;
    for (size_t at = upper.find("9f64"); at < upper.size() - 1; ++at)
        upper[at] = static_cast<char>(std::toupper(upper[at]));
    const std::string forms[] = {
        Written, FormatBackupRecord(record, "\r\n"),
        std::string(Written, sizeof Written - 2),  // no line end after the last line
        reordered, upper};
    for (const std::string& text : forms) {
        BackupRecord read;
        std::string error;
        EXPECT_TRUE(ParseBackupRecord(text, read, error)) << error << "\n" << text;
        EXPECT_EQ(FormatBackupRecord(read, "|"), FormatBackupRecord(record, "|"));
    }
}

TEST(Record, RefusedForms) {
    const struct {
        std::string from, to;
        const char* error;
    } cases[] = {
        {"chip_code=0x3120\n", "", "no chip_code line"},
        {"revision=5.0V\n", "revision=5.0V\nrevision=5.0V\n", "line 4: revision given twice"},
        {"date=", "color=blue\ndate=", "line 8: unknown key \"color\""},
        {"\\x1b", "\\q1b", "line 1: vendor: bad escape \"\\q1b\""},
        {"\\x1b", "\\x1g", "line 1: vendor: bad escape \"\\x1g\""},
        {"=2024", "=\t2024", "line 8: date: byte 0x09 not written as \\x09"},
        {"\\x20\nproduct", " \nproduct", "line 1: vendor: ends in a blank"},
        {"\\x20\nproduct", "\\x20\\x20\nproduct", "line 1: vendor: 9 bytes, a drive reports 8"},
        {"5.0V", "5.0", "line 3: revision: 3 bytes, a drive reports 4"},
        {"0x3120", "3120", "line 4: chip_code: bad hex \"3120\" (0x and 1 to 4 hex digits)"},
        {"minor=58", "minor=65536", "line 6: version_minor: bad number \"65536\""},
        {"size=4", "size=4294967296", "line 7: flash_size: bad number"},
        {"=9f64", "=9f6", "line 10: sha256: bad hex"},
        {"1.58\n", std::string(57, 'x') + "\n", "line 9: program: longer than 64 bytes"},
        {"major=1\n", "major=1\r\r\n", "line 5: a carriage return inside the line"},
        {"major=1\n", "major=1\n\n", "line 6: not key=value"},
    };
    for (const auto& c : cases) {
        std::string text = Written;
        const size_t at = text.find(c.from);
        ASSERT_NE(at, std::string::npos) << c.from;
        text.replace(at, c.from.size(), c.to);
        BackupRecord read;
        std::string error;
        EXPECT_FALSE(ParseBackupRecord(text, read, error)) << c.error;
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
}

// Beside it: its extension replaced, a dot in a folder's name no extension.
TEST(Record, PathBesideTheBackup) {
    EXPECT_EQ(RecordPathFor("C:\\b.x\\fw") + "|" + RecordPathFor("a.b/c.tar.gz"),
              "C:\\b.x\\fw.txt|a.b/c.tar.txt");
}

}  // namespace

#include "unattended/BackupRecord.h"

#include "flash/FormatText.h"
#include "unattended/Sha256.h"

namespace {

enum Key { Vendor, Product, Revision, Chip, Major, Minor, Size, Date, Program, Sha, KeyCount };
constexpr const char* Keys[KeyCount] = {"vendor",        "product",       "revision",   "chip_code",
                                        "version_major", "version_minor", "flash_size", "date",
                                        "program",       "sha256"};
// The inquiry fields' widths; the other texts' longest.
constexpr size_t FieldWidth[] = {8, 16, 4};
constexpr size_t MaxDateBytes = 32;
constexpr size_t MaxProgramBytes = 64;

constexpr char HexDigits[] = "0123456789abcdef";

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool IsHex(const std::string& text) {
    for (const char c : text)
        if (HexValue(c) < 0) return false;
    return true;
}

std::string Escaped(const std::string& value) {
    std::string text;
    for (size_t i = 0; i < value.size(); ++i) {
        const auto byte = static_cast<unsigned char>(value[i]);
        if (byte == '\\') {
            text += "\\\\";
        } else if (byte < 0x20 || byte > 0x7E || (byte == ' ' && i + 1 == value.size())) {
            text += "\\x";
            text += HexDigits[byte >> 4];
            text += HexDigits[byte & 15];
        } else {
            text += value[i];
        }
    }
    return text;
}

// The bytes a value's text stands for; false with why.
bool Unescape(const std::string& text, std::string& value, std::string& why) {
    if (!text.empty() && text.back() == ' ') {
        why = "ends in a blank (a last blank is written \\x20)";
        return false;
    }
    for (size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x20 || byte > 0x7E) {
            why = FormatText("byte 0x%02X not written as \\x%02x", byte, byte);
            return false;
        }
        if (byte != '\\') {
            value += text[i];
        } else if (i + 1 < text.size() && text[i + 1] == '\\') {
            value += '\\';
            ++i;
        } else if (i + 3 < text.size() && text[i + 1] == 'x' && HexValue(text[i + 2]) >= 0 &&
                   HexValue(text[i + 3]) >= 0) {
            value += static_cast<char>(HexValue(text[i + 2]) << 4 | HexValue(text[i + 3]));
            i += 3;
        } else {
            why = "bad escape \"" + text.substr(i, 4) + "\" (only \\\\ and \\xHH)";
            return false;
        }
    }
    return true;
}

// A decimal number of 1 to 10 digits, at most limit.
bool ReadDecimal(const std::string& text, uint32_t limit, uint32_t& number) {
    if (text.empty() || text.size() > 10) return false;
    uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    number = static_cast<uint32_t>(value);
    return value <= limit;
}

// value into the field of key; false with why.
bool Store(int key, const std::string& value, BackupRecord& record, std::string& why) {
    uint32_t number = 0;
    switch (key) {
        case Vendor:
        case Product:
        case Revision:
            if (value.size() != FieldWidth[key]) {
                why =
                    FormatText("%u bytes, a drive reports %u", static_cast<unsigned>(value.size()),
                               static_cast<unsigned>(FieldWidth[key]));
                return false;
            }
            (key == Vendor    ? record.vendor
             : key == Product ? record.product
                              : record.revision) = value;
            return true;
        case Chip:
            if (value.size() < 3 || value.size() > 6 || value.compare(0, 2, "0x") != 0 ||
                !IsHex(value.substr(2))) {
                why = "bad hex \"" + value + "\" (0x and 1 to 4 hex digits)";
                return false;
            }
            for (size_t i = 2; i < value.size(); ++i)
                record.chipCode = static_cast<uint16_t>(record.chipCode << 4 | HexValue(value[i]));
            return true;
        case Major:
        case Minor:
        case Size:
            if (!ReadDecimal(value, key == Size ? 0xFFFFFFFFu : 0xFFFFu, number)) {
                why = "bad number \"" + value + "\"";
                return false;
            }
            if (key == Size) {
                record.flashSize = number;
            } else {
                (key == Major ? record.versionMajor : record.versionMinor) =
                    static_cast<uint16_t>(number);
            }
            return true;
        case Date:
        case Program:
            if (value.size() > (key == Date ? MaxDateBytes : MaxProgramBytes)) {
                why =
                    FormatText("longer than %u bytes",
                               static_cast<unsigned>(key == Date ? MaxDateBytes : MaxProgramBytes));
                return false;
            }
            (key == Date ? record.date : record.program) = value;
            return true;
        default:
            if (value.size() != 64 || !IsHex(value)) {
                why = "bad hex: not 64 hex digits";
                return false;
            }
            record.sha256 = value;
            for (char& c : record.sha256) c = HexDigits[HexValue(c)];
            return true;
    }
}

}  // namespace

BackupRecord RecordOfBackup(const DeviceRecord& drive, const uint8_t* flash, uint32_t flashSize,
                            const LogTime& when, const std::string& program) {
    BackupRecord record;
    record.vendor.assign(drive.Vendor, FieldWidth[Vendor]);
    record.product.assign(drive.Product, FieldWidth[Product]);
    record.revision.assign(drive.Revision, FieldWidth[Revision]);
    record.chipCode = drive.ChipCode;
    record.versionMajor = drive.VersionMajor;
    record.versionMinor = drive.VersionMinor;
    record.flashSize = flashSize;
    record.date = LogTimeText(when);
    record.program = program;
    record.sha256 = Sha256Hex(Sha256(flash, flashSize));
    return record;
}

std::string FormatBackupRecord(const BackupRecord& record, const char* lineEnd) {
    const std::string values[KeyCount] = {Escaped(record.vendor),
                                          Escaped(record.product),
                                          Escaped(record.revision),
                                          FormatText("0x%04X", record.chipCode),
                                          std::to_string(record.versionMajor),
                                          std::to_string(record.versionMinor),
                                          std::to_string(record.flashSize),
                                          Escaped(record.date),
                                          Escaped(record.program),
                                          record.sha256};
    std::string text;
    for (int key = 0; key < KeyCount; ++key) text += Keys[key] + ("=" + values[key]) + lineEnd;
    return text;
}

bool ParseBackupRecord(const std::string& text, BackupRecord& record, std::string& error) {
    if (text.size() > MaxRecordBytes) {
        error = FormatText("longer than %u bytes", static_cast<unsigned>(MaxRecordBytes));
        return false;
    }
    BackupRecord read;
    bool seen[KeyCount] = {};
    int number = 0;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        at = end + 1;
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const size_t equals = line.find('=');
        std::string why, value;
        int key = 0;
        if (line.find('\r') != std::string::npos) {
            why = "a carriage return inside the line";
        } else if (equals == std::string::npos) {
            why = "not key=value";
        } else {
            const std::string name = line.substr(0, equals);
            while (key < KeyCount && name != Keys[key]) ++key;
            if (key == KeyCount) {
                why = "unknown key \"" + name + "\"";
            } else if (seen[key]) {
                why = name + " given twice";
            } else if (!Unescape(line.substr(equals + 1), value, why) ||
                       !Store(key, value, read, why)) {
                why = name + ": " + why;
            }
        }
        if (!why.empty()) {
            error = FormatText("line %d: ", number) + why;
            return false;
        }
        seen[key] = true;
    }
    for (int key = 0; key < KeyCount; ++key) {
        if (!seen[key]) {
            error = std::string("no ") + Keys[key] + " line";
            return false;
        }
    }
    record = read;
    return true;
}

bool RecordFitsDrive(const BackupRecord& record, const DeviceRecord& drive) {
    return record.vendor == std::string(drive.Vendor, FieldWidth[Vendor]) &&
           record.product == std::string(drive.Product, FieldWidth[Product]) &&
           record.chipCode == drive.ChipCode;
}

std::string RecordPathFor(const std::string& path) {
    const size_t part = path.find_last_of("/\\:");
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos || (part != std::string::npos && dot < part)) return path + ".txt";
    return path.substr(0, dot) + ".txt";
}

#include "unattended/BackupName.h"

#include <cstring>

namespace {

const char TemporaryStart[] = "unfinished-backup-";
const char TemporaryEnd[] = ".tmp";

bool AllowedInName(unsigned char c) {
    return c > ' ' && c <= 0x7E && std::strchr("\\/:*?\"<>|", c) == nullptr;
}

char Upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool IsDeviceName(const std::string& name) {
    std::string stem = name.substr(0, name.find('.'));
    for (char& c : stem) c = Upper(c);
    if (stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL" || stem == "CLOCK$") {
        return true;
    }
    return stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0) &&
           stem[3] >= '1' && stem[3] <= '9';
}

}  // namespace

std::string BackupFileName(const DeviceRecord& drive, int attempt) {
    std::string name;
    for (const std::string& part : {TrimmedFieldText(drive.Vendor, sizeof drive.Vendor - 1),
                                    TrimmedFieldText(drive.Product, sizeof drive.Product - 1),
                                    TrimmedFieldText(drive.Revision, sizeof drive.Revision - 1)}) {
        if (part.empty()) continue;
        if (!name.empty()) name += '_';
        name += part;
    }
    if (name.empty()) name = "drive";
    for (char& c : name) {
        if (!AllowedInName(static_cast<unsigned char>(c))) c = '_';
    }
    if (IsDeviceName(name)) name.insert(0, 1, '_');
    if (attempt > 1) name += '-' + std::to_string(attempt);
    return name + ".bin";
}

std::string BackupTemporaryName(int attempt) {
    return TemporaryStart + std::to_string(attempt) + TemporaryEnd;
}

bool IsBackupTemporary(const std::string& name) {
    const size_t start = sizeof TemporaryStart - 1, end = sizeof TemporaryEnd - 1;
    if (name.size() <= start + end || name.compare(0, start, TemporaryStart) != 0 ||
        name.compare(name.size() - end, end, TemporaryEnd) != 0)
        return false;
    return name.find_first_not_of("0123456789", start) == name.size() - end;
}

#include "unattended/RunLog.h"

#include <cstring>

#include "flash/FormatText.h"

std::string AsciiLogText(const std::string& text) {
    std::string ascii = text;
    for (char& c : ascii) {
        if (c == '\t' || c == '\r' || c == '\n') {
            c = ' ';
        } else if (c < ' ' || c > '~') {
            c = '?';
        }
    }
    return ascii;
}

std::string EscapedText(const std::string& text) {
    std::string shown;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= ' ' && byte <= '~') {
            shown += c;
        } else {
            shown += FormatText("\\x%02x", byte);
        }
    }
    return shown;
}

std::string LogTimeText(const LogTime& t) {
    return FormatText("%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                      t.second);
}

void RunLog::Line(const std::string& text) {
    sink_.WriteLine(LogTimeText(clock_.Now()) + " " + sink_.Printable(text));
}

std::string DriveLogText(int position, const std::string& address, const DeviceRecord& drive) {
    return FormatText(
        "Drive %d at %s, vendor \"%.*s\", product \"%.*s\", revision \"%.*s\", version %u.%u, "
        "flash 0x%X bytes",
        position, address.c_str(), static_cast<int>(strnlen(drive.Vendor, 8)), drive.Vendor,
        static_cast<int>(strnlen(drive.Product, 16)), drive.Product,
        static_cast<int>(strnlen(drive.Revision, 4)), drive.Revision,
        static_cast<unsigned>(drive.VersionMajor), static_cast<unsigned>(drive.VersionMinor),
        static_cast<unsigned>(drive.FlashSize));
}

std::string WindowsDriveAddress(const DeviceRecord& drive) {
    if (drive.DriveLetter != 0) return FormatText("%c:", drive.DriveLetter);
    return FormatText("%u:%u", static_cast<unsigned>(drive.AdapterId),
                      static_cast<unsigned>(drive.TargetId));
}

#pragma once

#include <string>

#include "device/DeviceRecord.h"

// The log of an unattended run: plain ASCII, one event a line, each line
// opened by the local date and time.

struct LogTime {
    int year, month, day, hour, minute, second;
};

// The platform's clock.
class LogClock {
  public:
    virtual ~LogClock() = default;
    virtual LogTime Now() = 0;
};

// text with every byte outside the printable ASCII range replaced: tab, CR
// and LF by a blank (a line holds one event), anything else by '?'.
std::string AsciiLogText(const std::string& text);

// text with every control byte (below 0x20, and 0x7F) and every byte above
// 0x7E written as a backslash, 'x' and two lower-case hex digits ("\x1b"),
// as lsblk shows a name. A drive's texts are whatever it sends: on a
// terminal an escape sequence among them would be obeyed.
std::string EscapedText(const std::string& text);

// Where the lines go: a file opened for appending. The sink adds the line
// end of its platform (CR LF on Windows).
class LogSink {
  public:
    explicit LogSink(std::string (*printable)(const std::string&) = AsciiLogText)
        : Printable(printable) {}
    virtual ~LogSink() = default;
    virtual void WriteLine(const std::string& line) = 0;
    // How a line's text shows the bytes outside printable ASCII: the Windows
    // log as '?' (AsciiLogText), the Linux log escaped (EscapedText).
    std::string (*Printable)(const std::string& text);
};

// "2024-05-01 13:45:07": the local date and time as the log writes them.
std::string LogTimeText(const LogTime& time);

class RunLog {
  public:
    RunLog(LogSink& sink, LogClock& clock) : sink_(sink), clock_(clock) {}
    // "2024-05-01 13:45:07 text"
    void Line(const std::string& text);

  private:
    LogSink& sink_;
    LogClock& clock_;
};

// "Drive 0 at E:, vendor "...", product "...", revision "...", version 1.0,
// flash 0x20000 bytes"; the texts exactly as the drive gave them.
std::string DriveLogText(int position, const std::string& address, const DeviceRecord& drive);

// How the Windows back-ends address a drive: "E:" on the NT family,
// "adapter:target" on Windows 95/98.
std::string WindowsDriveAddress(const DeviceRecord& drive);

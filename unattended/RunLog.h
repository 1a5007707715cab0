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

// Where the lines go: a file opened for appending. The sink adds the line
// end of its platform (CR LF on Windows).
class LogSink {
  public:
    virtual ~LogSink() = default;
    virtual void WriteLine(const std::string& line) = 0;
};

// "2024-05-01 13:45:07": the local date and time as the log writes them.
std::string LogTimeText(const LogTime& time);

// text with every byte outside the printable ASCII range replaced: tab, CR
// and LF by a blank (a line holds one event), anything else by '?'.
std::string AsciiLogText(const std::string& text);

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

#pragma once

#include <cstdint>
#include <string>

#include "device/DeviceRecord.h"

// Whether a drive already carries the firmware the program holds: its
// inquiry revision and the firmware's version text are the same text, the
// blanks and NULs that pad either at the end not counted ("1.5" is "1.5 ").
// A repeated run leaves such a drive alone: writing it again only wears the
// flash and asks for a restart nobody needs.
struct UpToDateVerdict {
    enum State {
        Current,      // the drive carries this firmware
        Differs,      // another revision: the drive is written
        CannotJudge,  // the version text is no revision of this model: written as ever
    } state;
    std::string reason;  // for the log and the console: both texts
};

// The version text can only be compared with a revision when it could be one
// of this model's (its pattern matches it); otherwise, and for a digit that
// names no model, the verdict is CannotJudge.
UpToDateVerdict JudgeUpToDate(uint8_t modelId, const std::string& version,
                              const DeviceRecord& drive);

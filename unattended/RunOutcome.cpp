#include "unattended/RunOutcome.h"

namespace {

struct OutcomeRow {
    int windows;
    int console;
    const char* text;
    const char* linuxText = nullptr;  // null: the same
};

// In the order of RunOutcome.
constexpr OutcomeRow Rows[] = {
    {0, 0, "listed"},
    {0, 0, "usage shown"},
    {3010, 0, "upgraded, restart needed",
     "upgraded, the drive loads the new firmware after a power cycle"},
    {1641, 0, "upgraded, restart started"},
    {1603, 1, "failed"},
    {2, 3, "no drive that this firmware is for"},
    {13, 4, "bad payload, nothing sent"},
    {87, 2, "bad usage, nothing touched"},
    {1618, 5, "another copy is running"},
    {0, 0, "saved"},
    {1603, 5, "drive in use, nothing sent to it"},
    {1602, 1, "not confirmed, nothing written"},
    {0, 0, "up to date, nothing written"},
    {1, 1, "a drive would be written"},
    {1237, 75, "on battery, nothing written; try again on mains power"},
    {0, 0, "every drive holds exactly the image"},
    {1, 1, "a drive's flash differs from the image"},
    {13, 4, "backup file refused, nothing sent"},
};
static_assert(sizeof Rows / sizeof Rows[0] == static_cast<int>(RunOutcome::BadRestoreFile) + 1,
              "one row per outcome");

}  // namespace

int WindowsExitCode(RunOutcome outcome) {
    return Rows[static_cast<int>(outcome)].windows;
}

int LinuxExitCode(RunOutcome outcome) {
    return Rows[static_cast<int>(outcome)].console;
}

const char* OutcomeText(RunOutcome outcome) {
    return Rows[static_cast<int>(outcome)].text;
}

const char* LinuxOutcomeText(RunOutcome outcome) {
    const OutcomeRow& row = Rows[static_cast<int>(outcome)];
    return row.linuxText != nullptr ? row.linuxText : row.text;
}

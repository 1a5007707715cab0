#include "unattended/RunOutcome.h"

namespace {

struct OutcomeRow {
    int windows;
    int console;
    const char* text;
};

// In the order of RunOutcome.
constexpr OutcomeRow Rows[] = {
    {0, 0, "listed"},
    {0, 0, "usage shown"},
    {3010, 0, "upgraded, restart needed"},
    {1641, 0, "upgraded, restart started"},
    {1603, 1, "failed"},
    {2, 3, "no drive that this firmware is for"},
    {13, 4, "bad payload, nothing sent"},
    {87, 2, "bad usage, nothing touched"},
    {1618, 5, "another copy is running"},
    {0, 0, "saved"},
    {1603, 5, "drive in use, nothing sent to it"},
    {1602, 1, "not confirmed, nothing written"},
};
static_assert(sizeof Rows / sizeof Rows[0] == static_cast<int>(RunOutcome::Declined) + 1,
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

// libFuzzer harness for the command line of the unattended mode: any bytes
// as a command line must end in a plan or a refusal with a reason, without a
// crash or a sanitizer report. Not part of the default build; with clang and
// its fuzzer runtime (Debian: clang, libclang-rt-14-dev):
//   cmake -S tests/fuzz -B build/fuzz -DCMAKE_CXX_COMPILER=clang++
//   cmake --build build/fuzz && build/fuzz/command_line_fuzzer -max_total_time=60
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "unattended/CommandLine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string line(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> args = SplitCommandLine(line);
    const SwitchParse parse = ParseSwitches(args);
    const UnattendedPlan& plan = parse.plan;
    if (args.empty()) __builtin_trap();
    if (parse.refused && (parse.reason.empty() || plan.action != PlanAction::Dialog)) {
        __builtin_trap();
    }
    if ((plan.hasLog && plan.logPath.empty()) || (plan.hasBackup && plan.backupFolder.empty())) {
        __builtin_trap();
    }
    if (plan.drive.position < 0 || plan.drive.position > 9999) __builtin_trap();
    return 0;
}

#pragma once

#include <ostream>
#include <string>
#include <vector>

// The combine-firmware command line, args without the program name. Normal
// output goes to out, refusals to err. Returns the process exit code: 0 on
// success, 1 when the inputs are refused or a file cannot be read or
// written, 2 for a malformed command line.
int RunCombineTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

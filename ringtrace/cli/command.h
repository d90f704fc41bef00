// The program as a command: what a run with arguments does.
#pragma once

#include <string>
#include <vector>

namespace ringtrace::cli {

// Carries out the command line `args` (the arguments after the program name) and returns
// the exit status. Usage errors are reported on standard error and give EXIT_USAGE before
// anything is touched.
int runCommand(const std::vector<std::string>& args);

}  // namespace ringtrace::cli

#pragma once

#include <string>
#include <vector>

namespace fixtures {

struct RunResult {
    bool started = false;  // false: the program could not be started (see spawnError)
    int exitCode = -1;     // exit status when the program exited normally
    int termSignal = 0;    // signal number when the program was killed by a signal
    std::string out;
    std::string err;
    std::string spawnError;
};

// Runs program with args (no shell involved) in workDir (empty: the current directory),
// with standard input from /dev/null, and captures standard output and standard error.
// A program path containing '/' is taken relative to the caller's current directory,
// one without '/' is searched in PATH.
RunResult runProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::string& workDir = "");

}  // namespace fixtures

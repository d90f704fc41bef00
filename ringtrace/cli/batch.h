// Tracing many folders: each folder's pair is traced by a child process of its own, started
// with the folder as its working directory, so every trace is the plain run, unchanged
// (libtiff's messages, relative file names, signal handling), and a trace that fails or
// crashes cannot disturb another.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "cli/memory_plan.h"

namespace ringtrace::cli {

// Status of a folder whose process was killed by a signal or could not be started.
inline constexpr int EXIT_ABNORMAL = 4;

struct batchSettings {
    std::vector<std::string> folders;
    int jobs = 1;              // processes at a time, at least 1
    uint64_t memoryLimit = 0;  // see admits(); 0 admits one folder at a time
    // Expected peak memory of a folder's trace, asked just before the folder starts.
    std::function<uint64_t(const std::string&)> peakOf = folderPeakBytes;
    int resultFd = STDOUT_FILENO;   // one line per folder: "DIR: RESULT"
    int messageFd = STDERR_FILENO;  // the folders' own output, each line as "DIR: LINE"
};

// Runs `traceHere` once per folder, in a child process whose working directory is the
// folder and whose standard output and error lead to `messageFd` line by line. Folders are
// started in the order given, while fewer than `jobs` run and admits() allows; their result
// lines appear as they finish. Returns the highest status of the folders.
//
// SIGINT, SIGTERM, SIGHUP and SIGQUIT are passed on to the running children; no further
// folder is started, and once the children have ended the process dies of the same signal.
int runBatch(const batchSettings& settings, const std::function<int()>& traceHere);

// The result line's text for a folder that ended with `waitStatus` (as from waitpid).
std::string folderResult(int waitStatus, int& exitStatus);

}  // namespace ringtrace::cli

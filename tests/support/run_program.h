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

// The words that start `program` ahead of its arguments: the program itself, or, for a
// program built for the emulated processor of a cross build, the emulator's command
// that runs it. For tests that hand the program to a wrapper (a shell, setpriv).
std::vector<std::string> programWords(const std::string& program);

// A program and its arguments, ready to replace a forked child. In a cross build whose
// tests run under an emulator, programs built for the emulated processor (the project's
// own) are started through that emulator; others (sh, printf) run as they are. Build it
// before fork(): exec() only makes the system call.
class Command {
  public:
    Command(const std::string& program, const std::vector<std::string>& args);
    Command(const Command&) = delete;
    Command& operator=(const Command&) = delete;

    // The file exec() starts, with the same path rules as runProgram; empty when a
    // program without '/' is not found in PATH.
    const std::string& file() const { return file_; }

    // Replaces the calling process; returns only when that fails, with errno set.
    void exec() const;

  private:
    std::string file_;
    std::vector<std::string> words_;
    std::vector<char*> argv_;
};

}  // namespace fixtures

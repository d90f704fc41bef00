// The command line: parse, then check everything that can be checked before any work.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ringtrace::cli {

// Exit status of a command line that cannot be carried out (nothing was touched).
inline constexpr int EXIT_USAGE = 64;

struct settings {
    bool help = false;
    bool version = false;
    // The folders to trace; empty: the current directory, exactly as a run without arguments.
    std::vector<std::string> folders;
    int jobs = 0;              // folders traced at a time; 0: one per core
    uint64_t memoryLimit = 0;  // bytes the running folders may need together; 0: half the physical memory
    std::string summaryPath;   // JSON summary; empty: none
    std::string csvPath;       // the contour as CSV; empty: none
};

// Parses the arguments after the program name into `out`. On a usage error returns false
// with `error` set to a one-line message.
bool parseArguments(const std::vector<std::string>& args, settings& out, std::string& error);

// Checks the parsed settings against the file system before anything is started: every
// folder exists, is a directory, can be entered and is named once; the summary and CSV
// names are usable. Returns false with `error` set otherwise.
bool checkSettings(const settings& s, std::string& error);

// Parses a memory size: a whole number of bytes, optionally followed by K, M, G or T
// (powers of 1024, either case). False on anything else, zero included.
bool parseMemorySize(const std::string& text, uint64_t& bytes);

// The --help text, with the defaults of this machine filled in.
std::string helpText();

// "ringtrace VERSION".
std::string versionText();

}  // namespace ringtrace::cli

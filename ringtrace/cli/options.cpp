#include "cli/options.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <utility>

#include "cli/memory_plan.h"

#ifndef RINGTRACE_VERSION
#error "RINGTRACE_VERSION must be defined by the build"
#endif

namespace ringtrace::cli {

namespace {

constexpr int kMaxJobs = 1024;

// The files a traced folder already holds: a summary or CSV of the same name would destroy them.
constexpr const char* kReservedNames[] = {"outx.tif", "outx1.tif", "new.tif"};

bool parseJobs(const std::string& text, int& jobs) {
    if (text.empty() || text.size() > 4) return false;
    int n = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        n = n * 10 + (c - '0');
    }
    if (n < 1 || n > kMaxJobs) return false;
    jobs = n;
    return true;
}

std::string quoted(const std::string& s) { return "'" + s + "'"; }

std::string baseName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string folderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool sameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

bool checkOutputName(const std::string& option, const std::string& path, bool batch, std::string& error) {
    if (path.empty()) {
        error = option + " needs a file name";
        return false;
    }
    const std::string name = baseName(path);
    if (batch && path.find('/') != std::string::npos) {
        error = option + " " + quoted(path) + ": with folders, give a file name without '/'; it is written into each folder";
        return false;
    }
    if (name.empty() || name == "." || name == "..") {
        error = option + " " + quoted(path) + " does not name a file";
        return false;
    }
    if (batch) {
        for (const char* reserved : kReservedNames) {
            if (name == reserved) {
                error = option + " " + quoted(path) + " would replace a folder's " + reserved;
                return false;
            }
        }
        return true;
    }
    struct stat folder {};
    if (stat(folderOf(path).c_str(), &folder) != 0 || !S_ISDIR(folder.st_mode)) {
        error = option + " " + quoted(path) + ": no folder " + quoted(folderOf(path));
        return false;
    }
    struct stat here {};
    if (stat(".", &here) == 0 && sameFile(here, folder)) {
        for (const char* reserved : kReservedNames) {
            if (name == reserved) {
                error = option + " " + quoted(path) + " would replace " + reserved;
                return false;
            }
        }
    }
    return true;
}

}  // namespace

bool parseMemorySize(const std::string& text, uint64_t& bytes) {
    size_t digits = 0;
    uint64_t n = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') {
        if (n > (UINT64_MAX - 9) / 10) return false;
        n = n * 10 + static_cast<uint64_t>(text[digits] - '0');
        ++digits;
    }
    if (digits == 0 || n == 0) return false;
    const std::string unit = text.substr(digits);
    int shift = 0;
    if (unit.empty()) {
        shift = 0;
    } else if (unit.size() == 1) {
        switch (unit[0]) {
            case 'k': case 'K': shift = 10; break;
            case 'm': case 'M': shift = 20; break;
            case 'g': case 'G': shift = 30; break;
            case 't': case 'T': shift = 40; break;
            default: return false;
        }
    } else {
        return false;
    }
    if (shift > 0 && n > (UINT64_MAX >> shift)) return false;
    bytes = n << shift;
    return true;
}

bool parseArguments(const std::vector<std::string>& args, settings& out, std::string& error) {
    out = settings{};
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
            out.folders.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        // The option's name, and its value when given as --name=value or -jN.
        std::string name = arg, value;
        bool haveValue = false;
        if (arg.rfind("--", 0) == 0) {
            const size_t eq = arg.find('=');
            if (eq != std::string::npos) {
                name = arg.substr(0, eq);
                value = arg.substr(eq + 1);
                haveValue = true;
            }
        } else if (arg.size() > 2 && arg.rfind("-j", 0) == 0) {
            name = "-j";
            value = arg.substr(2);
            haveValue = true;
        }
        const bool takesValue = name == "-j" || name == "--jobs" || name == "--memory" || name == "--summary" ||
                                name == "--csv";
        if (name == "-h" || name == "--help" || name == "--version") {
            if (haveValue) {
                error = "option " + quoted(name) + " takes no value";
                return false;
            }
            (name == "--version" ? out.version : out.help) = true;
            continue;
        }
        if (!takesValue) {
            error = "unknown option " + quoted(arg);
            return false;
        }
        if (!haveValue) {
            if (i + 1 == args.size()) {
                error = "option " + quoted(name) + " needs a value";
                return false;
            }
            value = args[++i];
        }
        if (name == "-j" || name == "--jobs") {
            if (!parseJobs(value, out.jobs)) {
                error = "option " + quoted(name) + " needs a whole number from 1 to " + std::to_string(kMaxJobs) +
                        ", not " + quoted(value);
                return false;
            }
        } else if (name == "--memory") {
            if (!parseMemorySize(value, out.memoryLimit)) {
                error = "option '--memory' needs a size such as 4096M or 8G, not " + quoted(value);
                return false;
            }
        } else if (name == "--summary") {
            out.summaryPath = value;
            if (value.empty()) {
                error = "option '--summary' needs a file name";
                return false;
            }
        } else {
            out.csvPath = value;
            if (value.empty()) {
                error = "option '--csv' needs a file name";
                return false;
            }
        }
    }
    return true;
}

bool checkSettings(const settings& s, std::string& error) {
    const bool batch = !s.folders.empty();
    if (!s.summaryPath.empty() && !checkOutputName("--summary", s.summaryPath, batch, error)) return false;
    if (!s.csvPath.empty() && !checkOutputName("--csv", s.csvPath, batch, error)) return false;
    if (!s.summaryPath.empty() && s.summaryPath == s.csvPath) {
        error = "--summary and --csv name the same file " + quoted(s.summaryPath);
        return false;
    }
    std::map<std::pair<dev_t, ino_t>, const std::string*> seen;
    for (const std::string& folder : s.folders) {
        struct stat st {};
        if (folder.empty()) {
            error = "empty folder name";
            return false;
        }
        if (stat(folder.c_str(), &st) != 0) {
            error = "no folder " + quoted(folder) + ": " + std::strerror(errno);
            return false;
        }
        if (!S_ISDIR(st.st_mode)) {
            error = quoted(folder) + " is not a folder";
            return false;
        }
        if (access(folder.c_str(), X_OK) != 0) {
            error = "cannot enter folder " + quoted(folder) + ": " + std::strerror(errno);
            return false;
        }
        const auto [earlier, isNew] = seen.emplace(std::make_pair(st.st_dev, st.st_ino), &folder);
        if (!isNew) {
            error = "folder " + quoted(folder) + " is named twice (also as " + quoted(*earlier->second) + ")";
            return false;
        }
    }
    return true;
}

std::string versionText() { return std::string("ringtrace ") + RINGTRACE_VERSION; }

std::string helpText() {
    const std::string cores = std::to_string(defaultJobs());
    const std::string memory = describeBytes(defaultMemoryLimit());
    return "usage: ringtrace [OPTION]... [DIR]...\n"
           "Traces one closed contour through the image pair outx.tif (primary) and outx1.tif\n"
           "(secondary) and writes it to new.tif: contour pixels 160, all others 120.\n"
           "\n"
           "Without DIR it works in the current folder; run without any argument it prints\n"
           "nothing but \"error image not read\" (when an input cannot be read) on standard output.\n"
           "With DIR... it traces each folder's pair into that folder's new.tif, several folders at\n"
           "a time, each in its own process: one line \"DIR: RESULT\" per folder on standard output\n"
           "as the folders finish, and each folder's messages on standard error as \"DIR: MESSAGE\".\n"
           "\n"
           "Options:\n"
           "  -j, --jobs N        trace up to N folders at a time\n"
           "                      (default: the number of cores, " + cores + ")\n"
           "      --memory SIZE   start a folder only while the expected peak memory of the\n"
           "                      folders running, this one included, fits in SIZE: bytes, or\n"
           "                      a number with K, M, G or T (default: half the physical\n"
           "                      memory, " + memory + "). A folder is expected to need 64 bytes\n"
           "                      per pixel plus 16 MiB; one that needs more than SIZE alone\n"
           "                      runs when nothing else does\n"
           "      --summary FILE  also write a JSON summary of the run (size, status, search\n"
           "                      outcome and counts, the contour and its figures) to FILE;\n"
           "                      with DIR..., FILE is a file name written into each folder\n"
           "      --csv FILE      also write the contour as \"column,row\" lines (after that\n"
           "                      header line; rows counted from the top of the inputs) to\n"
           "                      FILE; with DIR..., as for --summary\n"
           "  -h, --help          show this help and exit\n"
           "      --version       show the version and exit\n"
           "      --              end of options: every later argument is a folder\n"
           "\n"
           "new.tif, the summary and the CSV are written to temporary files and renamed into place\n"
           "together, only when all of them are complete.\n"
           "\n"
           "Exit status:\n"
           "  0   traced: new.tif written, with or without a contour\n"
           "  1   error image not read: an input could not be read; new.tif is still written when\n"
           "      the primary image's size is known\n"
           "  2   output not written: new.tif, the summary or the CSV could not be written\n"
           "  3   refused: the image is too large (more than 2^25 pixels) or too narrow, or memory\n"
           "      ran out\n"
           "  4   ended abnormally: with DIR..., a folder's process was killed by a signal or could\n"
           "      not be started\n"
           "  64  usage error: an unknown option, a bad value, or a folder that does not exist;\n"
           "      nothing was traced or written\n"
           "With DIR..., the status is the highest of the folders' statuses.\n";
}

}  // namespace ringtrace::cli

#include "cli/command.h"

#include <cstdio>

#include "cli/batch.h"
#include "cli/contour_csv.h"
#include "cli/memory_plan.h"
#include "cli/options.h"
#include "cli/summary_json.h"
#include "driver.h"

namespace ringtrace::cli {

namespace {

int usageError(const std::string& message) {
    std::fprintf(stderr, "ringtrace: %s\nTry 'ringtrace --help' for more information.\n", message.c_str());
    return EXIT_USAGE;
}

std::vector<companionFile> companionsOf(const settings& s) {
    std::vector<companionFile> files;
    if (!s.summaryPath.empty()) files.push_back({s.summaryPath, summaryJson});
    if (!s.csvPath.empty()) files.push_back({s.csvPath, contourCsv});
    return files;
}

}  // namespace

int runCommand(const std::vector<std::string>& args) {
    settings s;
    std::string error;
    if (!parseArguments(args, s, error)) return usageError(error);
    if (s.help) {
        std::fputs(helpText().c_str(), stdout);
        return 0;
    }
    if (s.version) {
        std::printf("%s\n", versionText().c_str());
        return 0;
    }
    if (!checkSettings(s, error)) return usageError(error);

    const std::vector<companionFile> companions = companionsOf(s);
    if (s.folders.empty()) return runTracer(tracerPaths{}, nullptr, companions);

    batchSettings batch;
    batch.folders = s.folders;
    batch.jobs = s.jobs > 0 ? s.jobs : defaultJobs();
    batch.memoryLimit = s.memoryLimit > 0 ? s.memoryLimit : defaultMemoryLimit();
    return runBatch(batch, [&companions] { return runTracer(tracerPaths{}, nullptr, companions); });
}

}  // namespace ringtrace::cli

#include "cli/summary_json.h"

#include <nlohmann/json.hpp>

namespace ringtrace::cli {

const char* outcomeName(const searchResult& search) {
    if (search.searchOutcome != SEARCH_EXHAUSTED) return "accepted";
    return search.cutShort ? "cut short" : "exhausted";
}

std::string summaryJson(const tracerReport& report) {
    using nlohmann::ordered_json;
    const searchResult& search = report.search;
    const bool accepted = search.searchOutcome != SEARCH_EXHAUSTED;

    ordered_json summary;
    summary["version"] = RINGTRACE_VERSION;
    summary["width"] = report.width;
    summary["height"] = report.height;
    summary["status"] = report.status;
    summary["meaning"] = statusMeaning(report.status);
    summary["outcome"] = outcomeName(search);
    summary["iterations"] = search.iterations;
    summary["evaluations"] = search.evaluations;
    summary["shortestPathRuns"] = search.shortestPathRuns;
    if (accepted) {
        summary["interval"] = {search.accepted.lo, search.accepted.hi};
        summary["pathCost"] = search.accepted.pathCost;
        summary["rowSum"] = search.accepted.rowSum;
        summary["entryRow"] = report.entryRow;
        summary["exitRow"] = report.exitRow;
        // Single-precision values, printed so that they read back exactly.
        summary["dispersion"] = search.acceptedStats.dispersion;
        summary["secondaryMean"] = search.acceptedStats.secondaryMean;
    } else {
        for (const char* key : {"interval", "pathCost", "rowSum", "entryRow", "exitRow", "dispersion", "secondaryMean"}) {
            summary[key] = nullptr;
        }
    }
    summary["markedPixels"] = report.marked;
    ordered_json contour = ordered_json::array();
    for (const contourPixel& p : report.contour) contour.push_back({p.x, p.y});
    summary["contour"] = std::move(contour);

    // One member a line: readable, and still one short line per figure for line tools.
    std::string text = "{\n";
    bool first = true;
    for (const auto& [key, value] : summary.items()) {
        if (!first) text += ",\n";
        first = false;
        text += "  " + ordered_json(key).dump() + ": " + value.dump();
    }
    text += "\n}\n";
    return text;
}

}  // namespace ringtrace::cli

#include "cli/contour_csv.h"

namespace ringtrace::cli {

std::string contourCsv(const tracerReport& report) {
    std::string text = "column,row\n";
    text.reserve(text.size() + report.contour.size() * 10);
    for (const contourPixel& p : report.contour) {
        text += std::to_string(p.x);
        text += ',';
        text += std::to_string(p.y);
        text += '\n';
    }
    return text;
}

}  // namespace ringtrace::cli

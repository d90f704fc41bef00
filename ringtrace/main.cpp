// ringtrace: traces one closed contour through "outx.tif" / "outx1.tif" in the current
// directory and writes it to "new.tif". Run without arguments it does exactly that and
// nothing else; options and folders (see --help) are handled by cli/.
#include <string>
#include <vector>

#include "cli/command.h"
#include "driver.h"

int main(int argc, char** argv) {
    if (argc <= 1) return ringtrace::runTracer(ringtrace::tracerPaths{});
    return ringtrace::cli::runCommand(std::vector<std::string>(argv + 1, argv + argc));
}

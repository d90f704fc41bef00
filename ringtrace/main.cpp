// ringtrace: traces one closed contour through "outx.tif" / "outx1.tif" in the current
// directory and writes it to "new.tif". Run without arguments it does exactly that and
// nothing else; options and folders (see --help) are handled by cli/.
#include <malloc.h>

#include <string>
#include <vector>

#include "cli/command.h"
#include "driver.h"

int main(int argc, char** argv) {
    // The heap is not handed back each time its top comes free: a trace frees its search's
    // paths and records in bursts, and giving the pages back and faulting them in again
    // cost about 0.3 ms at 720 x 400 (a fifth of a millisecond of system calls alone). Up
    // to 16 MiB of freed heap may stay mapped; the per-pixel arrays are not on the heap.
    // Setting the trim threshold fixes the mapping threshold too (the C library otherwise
    // raises it as large blocks come and go): it is set to where that rise would stop, or
    // every block from 128 KiB up would be mapped afresh each time it is taken (a thousand
    // more page faults at 5792 x 5792).
    mallopt(M_TRIM_THRESHOLD, 16 << 20);
    mallopt(M_TOP_PAD, 1 << 20);
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    if (argc <= 1) return ringtrace::runTracer(ringtrace::tracerPaths{});
    return ringtrace::cli::runCommand(std::vector<std::string>(argv + 1, argv + argc));
}

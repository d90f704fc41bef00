// ringtrace: traces one closed contour through "outx.tif" / "outx1.tif" in the current
// directory and writes it to "new.tif". Takes no arguments.
#include "driver.h"

int main() { return ringtrace::runTracer(ringtrace::tracerPaths{}); }

#include "grid_graph.h"

#include <cassert>

namespace ringtrace {

int64_t gridEdgeCount(int32_t width, int32_t height) {
    return width >= 5 && height >= 7 ? 9 * int64_t{width - 4} * (height - 6) : 0;
}

int64_t terminalEdgeCount(int32_t /*width*/, int32_t height) {
    return height >= 7 ? 2 * int64_t{height - 6} : 0;
}

void buildGrid(pixelGrid& grid, int32_t width, int32_t height) {
    assert(width >= 3 || height < 7);
    grid.width = width;
    grid.height = height;
    grid.G.reset(width, height);
    grid.nodess.count = int64_t{width} * height + 2;
    grid.sourceTerminal = grid.G.source_terminal();
    grid.sinkTerminal = grid.G.sink_terminal();
    grid.cost.init(grid.G, 1);
}

}  // namespace ringtrace

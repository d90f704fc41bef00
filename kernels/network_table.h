#pragma once

// The comparator networks the kernels compile in, as tables. Working them
// out is slow in constant expressions, and the kernels are compiled once per
// instruction set, so network_tables_generator.cpp works them out once, at
// run time, from selection_network.h and sorted_column_network.h and writes
// compiled_networks.h, which specializes the templates below, and
// selection_steps.h and sorted_column_steps.h, the same networks written out
// as code for the vector kernels. A test builds them again and compares.

#include "selection_network.h"
#include "sorted_column_network.h"

namespace mediankernels {

struct NetworkTable {
    const Comparator* comparators = nullptr;
    int size = 0;
};

// A SortedColumnNetwork with its comparators in tables.
struct SortedColumnTable {
    int maskWidth = 0, maskHeight = 0;
    const Comparator* columnSort = nullptr;
    int columnSortSize = 0;
    bool rankUsed[kMaxSortedColumnExtent]{};
    const Comparator* comparators = nullptr;
    int size = 0;
    int output = 0;
};

// Left empty (no comparators) for sizes that are not compiled in.
template <int Count>
inline constexpr NetworkTable kSelectionNetwork{};
template <int MaskWidth, int MaskHeight>
inline constexpr SortedColumnTable kSortedColumnNetwork{};

}  // namespace mediankernels

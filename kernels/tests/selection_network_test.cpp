#include "selection_network.h"

#include <gtest/gtest.h>

#include <bit>
#include <vector>

namespace {

using mediankernels::Comparator;
using mediankernels::CompareKind;

// Runs a network on 0/1 inputs given as bits; returns the value at the median slot.
int runOnBits(const Comparator* network, int size, int count, unsigned bits) {
    std::vector<int> v(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) v[i] = (bits >> i) & 1;
    for (int c = 0; c < size; ++c) {
        int& low = v[network[c].low];
        int& high = v[network[c].high];
        const int min = std::min(low, high), max = std::max(low, high);
        if (network[c].kind != CompareKind::kMaxOnly) low = min;
        if (network[c].kind != CompareKind::kMinOnly) high = max;
    }
    return v[count / 2];
}

// The kernels' tables are checked against the same builder by the test
// MedianNetworkTablesAreCurrent.
// By the 0-1 principle a comparator network selects rank k / 2 of every input
// once it does so for every input of zeros and ones.
TEST(SelectionNetwork, SelectsTheMedianOfEveryZeroOneInput) {
    for (int count = 1; count <= 18; ++count) {
        const int capacity = mediankernels::sortingComparatorCount(count);
        std::vector<Comparator> network(capacity + 1), scratch(capacity + 1);
        std::vector<unsigned char> needed(count);
        const int size = mediankernels::buildSelectionNetwork(
            count, network.data(), scratch.data(), reinterpret_cast<bool*>(needed.data()));
        ASSERT_LE(size, capacity);
        for (unsigned bits = 0; bits < (1u << count); ++bits) {
            const int zeros = count - std::popcount(bits);
            const int expected = count / 2 >= zeros ? 1 : 0;
            ASSERT_EQ(runOnBits(network.data(), size, count, bits), expected)
                << "count " << count << " input " << bits;
        }
    }
}

}  // namespace

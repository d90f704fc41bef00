// The sorted-column networks select rank k / 2 of every window whose columns
// are sorted. By the 0-1 principle it is enough to check every such window of
// zeros and ones: a sorted column of them is told by its count of ones, so
// there are (height + 1)^width windows, run 64 at a time, one per bit.

#include "sorted_column_network.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "sorted_column_median.h"

namespace {

using mediankernels::Comparator;
using mediankernels::CompareKind;
using mediankernels::SortedColumnNetwork;

void apply(const Comparator* list, int size, uint64_t* v) {
    for (int c = 0; c < size; ++c) {
        const Comparator cmp = list[c];
        const uint64_t min = v[cmp.low] & v[cmp.high], max = v[cmp.low] | v[cmp.high];
        if (cmp.kind != CompareKind::kMaxOnly) v[cmp.low] = min;
        if (cmp.kind != CompareKind::kMinOnly) v[cmp.high] = max;
    }
}

// Checks the network on 64 windows, window b given by ones[b][j], the number
// of ones in column j. The column sort runs on unsorted columns (the ones at
// the top), so it is checked too.
void checkBatch(const SortedColumnNetwork& net, const std::vector<std::vector<int>>& ones) {
    const int mw = net.maskWidth, mh = net.maskHeight, count = mw * mh;
    std::vector<uint64_t> wires(static_cast<size_t>(count), 0);
    uint64_t expected = 0;
    for (size_t b = 0; b < ones.size(); ++b) {
        int total = 0;
        for (int j = 0; j < mw; ++j) {
            total += ones[b][j];
            for (int i = 0; i < ones[b][j]; ++i) wires[i * mw + j] |= uint64_t{1} << b;
        }
        // Rank k / 2 is a one when at most k / 2 values are zeros.
        if (count - total <= count / 2) expected |= uint64_t{1} << b;
    }
    for (int j = 0; j < mw; ++j) {
        std::vector<uint64_t> column(static_cast<size_t>(mh));
        for (int i = 0; i < mh; ++i) column[i] = wires[i * mw + j];
        apply(net.columnSort, net.columnSortSize, column.data());
        for (int i = 0; i < mh; ++i) wires[i * mw + j] = net.rankUsed[i] ? column[i] : ~uint64_t{0};
    }
    apply(net.comparators, net.size, wires.data());
    const uint64_t valid = ones.size() == 64 ? ~uint64_t{0} : (uint64_t{1} << ones.size()) - 1;
    ASSERT_EQ(wires[net.output] & valid, expected)
        << mw << "x" << mh << " first window " << ones[0][0];
}

// The networks are built here at run time: the kernels' tables are checked
// against the same builder by the test MedianNetworkTablesAreCurrent.
std::unique_ptr<SortedColumnNetwork> network(int mw, int mh) {
    return std::make_unique<SortedColumnNetwork>(mediankernels::makeSortedColumnNetwork(mw, mh));
}

void checkEveryWindow(int mw, int mh) {
    const std::unique_ptr<SortedColumnNetwork> net = network(mw, mh);
    std::vector<int> digits(static_cast<size_t>(mw), 0);
    std::vector<std::vector<int>> batch;
    for (;;) {
        batch.push_back(digits);
        if (batch.size() == 64) {
            checkBatch(*net, batch);
            batch.clear();
        }
        int j = 0;
        while (j < mw && ++digits[j] > mh) digits[j++] = 0;
        if (j == mw) break;
    }
    if (!batch.empty()) checkBatch(*net, batch);
}

TEST(SortedColumnNetwork, SelectsTheMedianOfEverySortedZeroOneWindow) {
    checkEveryWindow(3, 3);
    checkEveryWindow(5, 5);
    checkEveryWindow(7, 7);
    // Shapes the kernels do not compile in: rectangles, even counts, one line.
    checkEveryWindow(4, 4);
    checkEveryWindow(3, 5);
    checkEveryWindow(6, 3);
    checkEveryWindow(2, 6);
    checkEveryWindow(5, 1);
}

void checkSampledWindows(int mw, int mh, int rounds) {
    const std::unique_ptr<SortedColumnNetwork> net = network(mw, mh);
    std::mt19937 random(31);
    std::binomial_distribution<int> middle(mh, 0.5);
    std::uniform_int_distribution<int> any(0, mh);
    for (int round = 0; round < rounds; ++round) {
        std::vector<std::vector<int>> batch(64, std::vector<int>(static_cast<size_t>(mw)));
        for (auto& window : batch) {
            for (int& ones : window) ones = round % 2 ? middle(random) : any(random);
        }
        checkBatch(*net, batch);
    }
}

TEST(SortedColumnNetwork, SelectsTheMedianOfSampledLargeWindows) {
    // 10^9 windows for 9 x 9 and 12^11 for 11 x 11: samples, half of them
    // weighted towards the middle counts where the median is decided.
    checkSampledWindows(9, 9, 20000);
    checkSampledWindows(11, 11, 20000);
}

}  // namespace

#pragma once

// An independent median for checking kernels: sort the whole block and take
// the element of rank k / 2.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace testing_median {

// Column-major input of `rows` x `columns`; returns the (rows - m + 1) x
// (columns - n + 1) column-major valid-region median.
template <typename T>
std::vector<T> bruteForceMedian(const std::vector<T>& input, std::size_t rows, std::size_t columns,
                                std::size_t m, std::size_t n) {
    const std::size_t outRows = rows - m + 1;
    const std::size_t outColumns = columns - n + 1;
    std::vector<T> output(outRows * outColumns);
    std::vector<T> block;
    for (std::size_t j = 0; j < outColumns; ++j) {
        for (std::size_t i = 0; i < outRows; ++i) {
            block.clear();
            for (std::size_t jj = j; jj < j + n; ++jj) {
                for (std::size_t ii = i; ii < i + m; ++ii) block.push_back(input[ii + jj * rows]);
            }
            std::sort(block.begin(), block.end());
            output[i + j * outRows] = block[block.size() / 2];
        }
    }
    return output;
}

}  // namespace testing_median

#pragma once

// The running-histogram median for large windows: the window slides one
// step at a time along the direction in which a step changes fewest
// elements, and a histogram of value buckets, kept with coarse totals, follows
// it. The median bucket moves little between neighbours, so it is tracked
// by walking from the previous one.
//
// 8- and 16-bit values have one bucket per value. Floats are bucketed by the
// upper 16 bits of their ordered key; the median bucket's members are then
// gathered from the window and the exact one selected among them.

#include "median_job.h"

namespace mediankernels {

template <typename T>
void histogramMedian(const MedianJob& job);

}  // namespace mediankernels

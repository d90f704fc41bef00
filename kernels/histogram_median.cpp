#include "histogram_median.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "ordered_key.h"

namespace mediankernels {

namespace {

// Unsigned keys in the median order; `bucketBits` of them are histogrammed.
template <typename T>
struct BucketKey : OrderedKey<T> {
    static constexpr int kKeyBits = OrderedKey<T>::kBits;
    // Floats are bucketed by the upper 16 bits of their key.
    static constexpr int kBucketBits = kKeyBits < 16 ? kKeyBits : 16;
};

// Histogram of bucket indices with totals for groups of 16 and of 256
// buckets, and the bucket holding the element of rank `target`:
// below <= target < below + count[current]. Walking between neighbouring
// medians then takes at most a few dozen steps at any bucket count.
class RankTracker {
  public:
    RankTracker(int bucketBits, uint32_t target)
        : level_{std::vector<uint32_t>(std::size_t{1} << bucketBits),
                 std::vector<uint32_t>((std::size_t{1} << bucketBits) / 16 + 1),
                 std::vector<uint32_t>((std::size_t{1} << bucketBits) / 256 + 1)},
          target_(target) {}

    void add(uint32_t bucket) {
        ++level_[0][bucket];
        ++level_[1][bucket >> 4];
        ++level_[2][bucket >> 8];
        if (bucket < current_) ++below_;
    }
    void remove(uint32_t bucket) {
        --level_[0][bucket];
        --level_[1][bucket >> 4];
        --level_[2][bucket >> 8];
        if (bucket < current_) --below_;
    }

    // Moves `current` to the bucket of rank `target`, stepping over the
    // largest aligned group that lies wholly on the near side of it.
    void settle() {
        while (below_ > target_) {
            int l = 2;
            while (l > 0 &&
                   !(aligned(l) && below_ - level_[l][(current_ >> shift(l)) - 1] > target_))
                --l;
            current_ -= 1u << shift(l);
            below_ -= level_[l][current_ >> shift(l)];
        }
        while (below_ + level_[0][current_] <= target_) {
            int l = 2;
            while (l > 0 && !(aligned(l) && below_ + level_[l][current_ >> shift(l)] <= target_))
                --l;
            below_ += level_[l][current_ >> shift(l)];
            current_ += 1u << shift(l);
        }
    }

    uint32_t current() const { return current_; }
    // Rank of the target among the elements of the current bucket.
    uint32_t rankInBucket() const { return target_ - below_; }

  private:
    static int shift(int level) { return 4 * level; }
    bool aligned(int level) const { return (current_ & ((1u << shift(level)) - 1)) == 0; }

    std::vector<uint32_t> level_[3];
    uint32_t target_;
    uint32_t current_ = 0;
    uint32_t below_ = 0;
};

// The window as a run of equal "sets" of elements (a column of the mask
// when sliding along a line, a row of it when sliding across lines); one
// step drops the first set and appends the next.
struct Geometry {
    int outer, inner;                                   // output count across and along the slide
    int setSize, setsPerWindow;                         // elements per set, sets per window
    std::ptrdiff_t setStride, stepStride, outerStride;  // source bytes
    std::ptrdiff_t dstStepStride, dstOuterStride;       // destination bytes
};

Geometry geometryFor(const MedianJob& job, std::ptrdiff_t size) {
    if (job.maskHeight <= job.maskWidth) {
        return {job.height, job.width,   job.maskHeight, job.maskWidth, job.srcStep,
                size,       job.srcStep, size,           job.dstStep};
    }
    return {job.width, job.height,  job.maskWidth, job.maskHeight, size, job.srcStep,
            size,      job.dstStep, size};
}

template <typename T>
class SlidingMedian {
  public:
    using Key = BucketKey<T>;
    static constexpr int kDrop = Key::kKeyBits - Key::kBucketBits;

    SlidingMedian(const MedianJob& job, const Geometry& g)
        : job_(job),
          g_(g),
          tracker_(Key::kBucketBits, static_cast<uint32_t>(g.setSize * g.setsPerWindow / 2)) {}

    void run() {
        for (int o = 0; o < g_.outer; ++o) {
            const unsigned char* base = job_.origin + o * g_.outerStride;
            unsigned char* out = job_.dst + o * g_.dstOuterStride;
            for (int s = 0; s < g_.setsPerWindow; ++s) addSet(base, s);
            for (int i = 0; i < g_.inner; ++i) {
                if (i > 0) {
                    removeSet(base, i - 1);
                    addSet(base, i - 1 + g_.setsPerWindow);
                }
                tracker_.settle();
                const T median = Key::value(medianKey(base, i));
                std::memcpy(out + i * g_.dstStepStride, &median, sizeof(T));
            }
            // Emptying the histogram costs a window, clearing it all a full table.
            for (int s = g_.inner - 1; s < g_.inner - 1 + g_.setsPerWindow; ++s) removeSet(base, s);
        }
    }

  private:
    uint32_t keyAt(const unsigned char* base, int set, int e) const {
        T v;
        std::memcpy(&v, base + set * g_.stepStride + e * g_.setStride, sizeof(T));
        return Key::key(v);
    }
    void addSet(const unsigned char* base, int set) {
        for (int e = 0; e < g_.setSize; ++e) tracker_.add(keyAt(base, set, e) >> kDrop);
    }
    void removeSet(const unsigned char* base, int set) {
        for (int e = 0; e < g_.setSize; ++e) tracker_.remove(keyAt(base, set, e) >> kDrop);
    }

    uint32_t medianKey(const unsigned char* base, int first) {
        const uint32_t bucket = tracker_.current();
        if constexpr (kDrop == 0) {
            return bucket;
        } else {
            members_.clear();
            for (int s = first; s < first + g_.setsPerWindow; ++s) {
                for (int e = 0; e < g_.setSize; ++e) {
                    const uint32_t key = keyAt(base, s, e);
                    if ((key >> kDrop) == bucket) members_.push_back(key);
                }
            }
            const auto nth = members_.begin() + tracker_.rankInBucket();
            std::nth_element(members_.begin(), nth, members_.end());
            return *nth;
        }
    }

    const MedianJob& job_;
    Geometry g_;
    RankTracker tracker_;
    std::vector<uint32_t> members_;
};

}  // namespace

template <typename T>
void histogramMedian(const MedianJob& job) {
    SlidingMedian<T>(job, geometryFor(job, sizeof(T))).run();
}

template void histogramMedian<uint8_t>(const MedianJob&);
template void histogramMedian<uint16_t>(const MedianJob&);
template void histogramMedian<int16_t>(const MedianJob&);
template void histogramMedian<float>(const MedianJob&);

}  // namespace mediankernels

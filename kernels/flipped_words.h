#pragma once

// Unsigned 16-bit pictures through the signed 16-bit kernels, for vector
// sets without unsigned 16-bit min / max (x86-64 before SSE4.1 emulates each
// in several instructions). Flipping the top bit maps the unsigned order
// onto the signed one, so the median of the flipped words, flipped back, is
// the median itself, bit for bit. The source is flipped a strip of lines at
// a time into a buffer that stays in cache, and each strip's output lines are
// flipped back in place: two cheap passes that make these kernels two to four
// times as fast there and save compiling every network a second time. The
// smallest kernels (3 x 3, networks of up to four words) do without them.
//
// Included by the per-instruction-set files, inside their MK_ISA_NS.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>

#include "median_job.h"
#include "network_median.h"

#ifndef MK_ISA_NS
#error "MK_ISA_NS must name the instruction-set namespace"
#endif

namespace mediankernels::MK_ISA_NS {

// Whether this build filters uint16_t as flipped int16_t.
inline constexpr bool kWordsAsSigned =
#if defined(__x86_64__) && !defined(__SSE4_1__)
    MK_VECTOR_BYTES > 0;
#else
    false;
#endif

// Unsigned words that a kernel flips itself on loading and storing (the
// 3 x 3 one, whose two passes over memory would cost more than its work).
struct FlippedWord {
    uint16_t bits;
};
template <>
struct KeyOf<FlippedWord> {
    using Key = int16_t;
};

// Flips the top bit of `count` words from `from` into `to` (which may be
// `from`), a whole vector at a time. (Written as a loop over a small array
// of words, it compiled to vector stores reloaded as 64-bit halves, each
// reload stalling.)
inline void flipWords(const unsigned char* from, int count, unsigned char* to) {
    using W = VectorOf<uint16_t, MK_VECTOR_BYTES>;
    int i = 0;
    for (; i + W::kLanes <= count; i += W::kLanes) {
        typename W::Type words;
        std::memcpy(&words, from + 2 * i, sizeof words);
        words ^= 0x8000;
        std::memcpy(to + 2 * i, &words, sizeof words);
    }
    for (; i < count; ++i) {
        uint16_t w;
        std::memcpy(&w, from + 2 * i, sizeof w);
        w ^= 0x8000;
        std::memcpy(to + 2 * i, &w, sizeof w);
    }
}

// Storage for the flipped strips and the window offsets into them, freed on
// every way out (a plain allocation: <vector> would cost every kernel file
// that reads this header a noticeable part of its build time). Lines start
// on cache-line boundaries as the source's usually do: a 32- or 64-byte load
// across two lines costs nearly two.
class FlippedStrips {
public:
    FlippedStrips(std::size_t words, std::size_t offsets)
        : storage_(::operator new(offsetBytes(offsets) + words * sizeof(uint16_t), kAlignment)) {}
    ~FlippedStrips() { ::operator delete(storage_, kAlignment); }
    FlippedStrips(const FlippedStrips&) = delete;
    FlippedStrips& operator=(const FlippedStrips&) = delete;

    // The offsets first (they need the stricter alignment), the words from
    // the next 64-byte boundary of the block.
    std::ptrdiff_t* offsets() const { return static_cast<std::ptrdiff_t*>(storage_); }
    unsigned char* words(std::size_t offsetCount) const {
        return static_cast<unsigned char*>(storage_) + offsetBytes(offsetCount);
    }

private:
    static constexpr std::align_val_t kAlignment{64};
    static std::size_t offsetBytes(std::size_t count) {
        return (count * sizeof(std::ptrdiff_t) + 63) / 64 * 64;
    }
    void* storage_;
};

// Runs `signedKernel(part, offsets)` over `job` (uint16_t), each part a few
// output lines whose source lines are flipped copies `part.srcStep` bytes
// apart in a strip buffer, `offsets` the window offsets of the part's 16-bit
// elements; the part's output lines are the job's, flipped back afterwards.
// Source lines are flipped just before the first part that reads them, so
// that they are still in cache there; each strip starts by flipping the
// mask's extra lines again.
template <typename SignedKernel>
void flippedWordMedian(const MedianJob& job, SignedKernel signedKernel) {
    // Elements of one strip's source: 128 KB, well within the second-level
    // cache, or more for tall masks, whose lines flipped again at each strip
    // would otherwise cost more than those it filters (1 x 49: 85 lines
    // flipped for 37 outputs).
    constexpr int kStripElements = 64 * 1024;
    // Output lines per kernel call: a few, so that the kernels still fetch
    // each next source line ahead as they go through a call's lines.
    constexpr int kBatchLines = 8;
    const int columns = job.width + job.maskWidth - 1;
    // Whole cache lines and one more: lines a power of two apart (or
    // nearly) would all fall in the same few sets of the first-level cache,
    // which tall windows read at once.
    const std::ptrdiff_t stride = (static_cast<std::ptrdiff_t>(columns) * 2 + 63) / 64 * 64 + 64;
    const int extra = job.maskHeight - 1;
    const int fitting = kStripElements / columns - extra;
    int strip = fitting > 16 ? fitting : 16;
    if (strip < 4 * extra) strip = 4 * extra;
    const auto offsetCount = static_cast<std::size_t>(job.maskWidth) * job.maskHeight;
    const FlippedStrips strips(
        static_cast<std::size_t>(stride / 2) * ((strip < job.height ? strip : job.height) + extra),
        offsetCount);
    unsigned char* buffer = strips.words(offsetCount);
    MedianJob part = job;
    part.origin = buffer;
    part.srcStep = stride;
    windowOffsets(part, 2, strips.offsets());
    for (int first = 0; first < job.height; first += strip) {
        const int lines = strip < job.height - first ? strip : job.height - first;
        for (int r = 0; r < extra; ++r) {
            flipWords(job.origin + (first + r) * job.srcStep, columns, buffer + r * stride);
        }
        for (int r = 0; r < lines; r += kBatchLines) {
            part.height = kBatchLines < lines - r ? kBatchLines : lines - r;
            for (int i = r; i < r + part.height; ++i) {
                flipWords(job.origin + (first + i + extra) * job.srcStep, columns,
                          buffer + (i + extra) * stride);
            }
            part.origin = buffer + r * stride;
            part.dst = job.dst + (first + r) * job.dstStep;
            signedKernel(part, static_cast<const std::ptrdiff_t*>(strips.offsets()));
            for (int i = 0; i < part.height; ++i) {
                unsigned char* out = part.dst + i * job.dstStep;
                flipWords(out, job.width, out);
            }
        }
    }
}

}  // namespace mediankernels::MK_ISA_NS

// Kept huge pages: what a block relies on (zeros, or nothing) holds whichever pages it gets,
// kept pages are really reused, and nothing stays kept when fresh pages are taken.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "graph/large_allocator.h"
#include "graph/page_reuse.h"

using namespace ringgraph;

namespace {

constexpr std::size_t kPage = kHugePage;

bool allZero(const unsigned char* p, std::size_t n) {
    return std::all_of(p, p + n, [](unsigned char c) { return c == 0; });
}

// A populated block of `pages` huge pages, every byte at `fill`.
unsigned char* writtenBlock(std::size_t pages, unsigned char fill) {
    auto* p = static_cast<unsigned char*>(take_block(pages * kPage, false));
    EXPECT_NE(p, nullptr);
    if (p != nullptr) std::memset(p, fill, pages * kPage);
    return p;
}

}  // namespace

TEST(PageReuse, KeptPagesAreReusedAndClearedWhereZerosAreRelied) {
    page_reuse scope;
    ASSERT_EQ(page_reuse::current(), &scope);
    unsigned char* a = writtenBlock(1, 0xab);
    give_block(a, kPage);
    EXPECT_EQ(scope.held(), kPage);

    // Storage for overwrite gets the kept page as it is.
    {
        overwrite_vector<unsigned char> v(kPage - 100);
        EXPECT_EQ(v.data(), a);
        EXPECT_EQ(v[0], 0xab);
        EXPECT_EQ(scope.held(), 0u);
        std::memset(v.data(), 0xcd, v.size());
    }
    EXPECT_EQ(scope.held(), kPage);
    // Storage relied on to read as zero gets it cleared, to the last element.
    {
        large_vector<uint32_t> v(kPage / 4);
        EXPECT_EQ(static_cast<void*>(v.data()), a);
        EXPECT_TRUE(allZero(reinterpret_cast<unsigned char*>(v.data()), kPage));
    }
    // So does a small sparse array (populated like a dense one).
    {
        sparse_vector<uint64_t> v(kPage / 8);
        EXPECT_TRUE(allZero(reinterpret_cast<unsigned char*>(v.data()), kPage));
    }
}

// Several kept blocks are moved together into one larger block, with fresh pages after
// them; the whole block is usable and, where relied on, zero.
TEST(PageReuse, KeptBlocksMakeUpALargerOne) {
    page_reuse scope;
    unsigned char* a = writtenBlock(1, 0x11);
    unsigned char* b = writtenBlock(2, 0x22);
    give_block(a, kPage);
    give_block(b, 2 * kPage);
    ASSERT_EQ(scope.held(), 3 * kPage);

    const std::size_t bytes = 5 * kPage - 12345;
    auto* p = static_cast<unsigned char*>(take_block(bytes, true));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % kPage, 0u);
    EXPECT_EQ(scope.held(), 0u);
    EXPECT_TRUE(allZero(p, bytes));
    std::memset(p, 0x33, mapped_size(bytes));
    EXPECT_EQ(p[mapped_size(bytes) - 1], 0x33);
    give_block(p, bytes);
    EXPECT_EQ(scope.held(), 5 * kPage);

    // A smaller block takes the front of a larger kept one; the rest stays kept.
    auto* q = static_cast<unsigned char*>(take_block(2 * kPage, false));
    EXPECT_EQ(q, p);
    EXPECT_EQ(q[0], 0x33);
    EXPECT_EQ(scope.held(), 3 * kPage);
    give_block(q, 2 * kPage);
}

// Storage left to fault in as touched, and blocks too large to be populated, never sit
// beside kept pages: the pages are given back first. Without a scope nothing is kept.
TEST(PageReuse, NothingKeptBesideFreshUnpopulatedStorageOrWithoutAScope) {
    {
        page_reuse scope;
        give_block(writtenBlock(2, 1), 2 * kPage);
        ASSERT_EQ(scope.held(), 2 * kPage);
        sparse_vector<uint64_t> v(large_allocator<uint64_t, block_use::sparse>::kPopulateSparseUpTo / 8 + 1);
        EXPECT_EQ(scope.held(), 0u);
        EXPECT_EQ(v[v.size() - 1], 0u);

        // Not populated: unmapped when given back, not kept.
        const std::size_t large = kPopulateHugeUpTo + 1;
        void* big = take_block(large, true);
        ASSERT_NE(big, nullptr);
        give_block(big, large);
        EXPECT_EQ(scope.held(), 0u);

        // A nested scope leaves the outer one in charge.
        page_reuse inner;
        EXPECT_EQ(page_reuse::current(), &scope);
    }
    EXPECT_EQ(page_reuse::current(), nullptr);
    unsigned char* a = writtenBlock(1, 7);
    give_block(a, kPage);  // unmapped
    large_vector<unsigned char> v(kPage);
    EXPECT_TRUE(allZero(v.data(), v.size()));
}

// A block that cannot be had is refused cleanly, and what was kept stays usable.
TEST(PageReuse, RefusedBlockLeavesKeptPagesUsable) {
    page_reuse scope;
    give_block(writtenBlock(1, 9), kPage);
    EXPECT_EQ(take_block(SIZE_MAX - kPage, true), nullptr);
    auto* p = static_cast<unsigned char*>(take_block(kPage, true));
    ASSERT_NE(p, nullptr);
    EXPECT_TRUE(allZero(p, kPage));
    give_block(p, kPage);
}

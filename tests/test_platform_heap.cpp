// SPDX-License-Identifier: MIT
// The library's heap: blocks come back from its per-thread cache zeroed when
// asked, the failure seam still fails with cached blocks at hand, and blocks
// may be released on another thread than the one that took them (the
// sanitizer builds catch a leaked cache or an overrun of a reused block).
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/heap.h"

namespace heap = qelrpc::heap;

namespace {

// Sizes at and beside the cache's class edges, and past its largest class.
constexpr std::size_t kSizes[] = {0, 1, 15, 16, 17, 100, 1023, 1024, 1025, 65536};

TEST(Heap, ReusedBlocksAreWholeAndZeroedWhenAsked) {
    for (std::size_t n : kSizes) {
        SCOPED_TRACE(n);
        // Dirty a block of this size (and its whole class) and give it back,
        // so the next request of the size is served from the cache.
        auto* dirty = static_cast<uint8_t*>(heap::raw(n));
        ASSERT_NE(dirty, nullptr);
        std::memset(dirty, 0xAB, n);
        heap::release(dirty);

        auto* z = static_cast<uint8_t*>(heap::zeroed(n));
        ASSERT_NE(z, nullptr);
        for (std::size_t i = 0; i < n; ++i) ASSERT_EQ(z[i], 0) << "byte " << i;
        std::memset(z, 0xCD, n);  // every asked-for byte is writable
        heap::release(z);
    }
    heap::release(nullptr);
}

TEST(Heap, FailureSeamFailsEvenWithCachedBlocks) {
    for (int i = 0; i < 4; ++i) heap::release(heap::raw(32));  // the cache holds a 32-byte block
    heap::failAfter(1);
    void* first = heap::raw(32);
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(heap::raw(32), nullptr);
    EXPECT_EQ(heap::zeroed(8), nullptr);
    heap::failAfter(-1);
    heap::release(first);
    void* again = heap::zeroed(32);
    EXPECT_NE(again, nullptr);
    heap::release(again);
}

TEST(Heap, BlocksReleasedOnOtherThreadsAndThreadsEnding) {
    // More blocks than any per-thread cache keeps, of cached and uncached sizes.
    constexpr int kBlocks = 200;
    std::vector<void*> blocks(kBlocks, nullptr);
    std::thread taker([&] {
        for (int i = 0; i < kBlocks; ++i) blocks[i] = heap::zeroed(kSizes[i % std::size(kSizes)]);
    });
    taker.join();
    for (void* b : blocks) ASSERT_NE(b, nullptr);

    // Two threads release half each and end: their caches must be emptied.
    std::thread a([&] { for (int i = 0; i < kBlocks; i += 2) heap::release(blocks[i]); });
    std::thread b([&] { for (int i = 1; i < kBlocks; i += 2) heap::release(blocks[i]); });
    a.join();
    b.join();

    // Several threads taking and releasing at once share nothing but malloc.
    std::vector<std::thread> busy;
    for (int t = 0; t < 4; ++t) {
        busy.emplace_back([t] {
            for (int i = 0; i < 2000; ++i) {
                auto* p = static_cast<uint8_t*>(heap::raw(static_cast<std::size_t>(1 + (i * 7 + t) % 700)));
                if (p == nullptr) return;
                p[0] = static_cast<uint8_t>(t);
                heap::release(p);
            }
        });
    }
    for (auto& th : busy) th.join();
}

#if defined(__SANITIZE_ADDRESS__)
// A released block waits in the cache for reuse; AddressSanitizer must still
// report a read of it.
TEST(HeapDeathTest, UseAfterReleaseOfACachedBlockIsReported) {
    EXPECT_DEATH(
        {
            auto* p = static_cast<volatile uint8_t*>(heap::raw(40));
            p[0] = 1;
            heap::release(const_cast<uint8_t*>(p));
            std::printf("%d\n", p[0]);
        },
        "use-after-poison|use-after-free");
}
#endif

}  // namespace

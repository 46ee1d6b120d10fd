#include <gtest/gtest.h>

#include <sys/mman.h>
#include <time.h>

#include <cstring>
#include <thread>

#include "common/ResourceUsage.h"

using namespace kestrel;

namespace {

double threadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// Keeps a core busy for about `seconds` of CPU time of the calling thread.
void spin(double seconds) {
    const double until = threadCpuSeconds() + seconds;
    volatile unsigned sink = 0;
    while (threadCpuSeconds() < until)
        for (int i = 0; i < 100000; ++i) sink = sink + static_cast<unsigned>(i);
}

}  // namespace

TEST(ResourceUsage, StageCostCountsTheCpuTimeOfEveryThread) {
    StageCost cost;
    std::thread worker([] { spin(0.15); });
    spin(0.15);
    worker.join();
    const StageCost::Figures figures = cost.lap();
    // Both threads' time counts, however the machine scheduled them.
    EXPECT_GE(figures.cpuSeconds, 0.29);
    EXPECT_GT(figures.wallSeconds, 0);
    EXPECT_NEAR(figures.cores(), figures.cpuSeconds / figures.wallSeconds, 1e-9);
    // The next lap starts afresh.
    EXPECT_LT(cost.lap().cpuSeconds, 0.1);
}

TEST(ResourceUsage, PeakMemoryIsThatOfTheStage) {
    constexpr size_t kBig = 96u << 20;
    StageCost cost;
    {
        // Mapped directly, so that unmapping surely gives it back (an
        // allocator may keep freed memory).
        void* block = mmap(nullptr, kBig, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        ASSERT_NE(block, MAP_FAILED);
        std::memset(block, 1, kBig);  // resident only once touched
        munmap(block, kBig);
    }
    const StageCost::Figures big = cost.lap();
    ASSERT_GT(big.peakBytes, 0u) << "no VmHWM in /proc/self/status";
    EXPECT_GE(big.peakBytes, kBig);
    const StageCost::Figures small = cost.lap();
    if (!small.peakOfStage) GTEST_SKIP() << "the kernel does not let the peak be reset";
    // The block was given back before this stage began.
    EXPECT_LT(small.peakBytes + kBig / 2, big.peakBytes);
    // The process's own peak, which /usr/bin/time reports, still holds it.
    EXPECT_GE(peakResidentBytes(), kBig);
}

TEST(ResourceUsage, DescribesAStage) {
    StageCost::Figures figures;
    figures.wallSeconds = 2;
    figures.cpuSeconds = 3.5;
    figures.peakBytes = 123'450'000;
    EXPECT_EQ(describeStageCost(figures), "2.000 s cpu 3.500 s (1.75 cores) peak 123.5 MB");
    figures.peakOfStage = false;
    EXPECT_EQ(describeStageCost(figures), "2.000 s cpu 3.500 s (1.75 cores) process peak 123.5 MB");
    figures.peakBytes = 0;
    EXPECT_EQ(describeStageCost(figures), "2.000 s cpu 3.500 s (1.75 cores)");
}

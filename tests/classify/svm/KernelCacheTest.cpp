// The kernel row cache gives the same values as direct evaluation, through
// evictions and column shrinking.
#include "SvmTestUtil.h"
#include "classify/svm/SvmKernel.h"
#include "classify/svm/KernelCache.h"

namespace kestrel {
namespace {

TEST(KernelCache, RowsMatchDirectKernelThroughEvictionAndShrinking) {
    std::vector<SvmDoc> docs;
    for (int i = 0; i < 40; ++i)
        docs.push_back(test::makeDoc({{1 + i % 5, 0.1 * (i + 1)}, {7 + i % 3, 1.0 - 0.02 * i}, {20, 0.5}}));
    KernelParams kp;
    kp.kernelType = KernelType::RadialBasis;
    kp.gamma = 0.7;
    // 0 MiB would cache nothing; a tiny budget holds only a few rows.
    KernelCache cache(docs, kp, 0);
    EXPECT_EQ(cache.capacity(), 0);
    std::vector<int32_t> all(40);
    for (int i = 0; i < 40; ++i) all[size_t(i)] = i;
    std::vector<float> row(40);
    cache.cacheRow(3);   // no slot: nothing happens
    EXPECT_FALSE(cache.isCached(3));
    cache.getRow(3, all, row.data());
    for (int j = 0; j < 40; ++j) EXPECT_EQ(row[size_t(j)], float(kernelValue(kp, docs[3], docs[size_t(j)])));

    KernelCache big(docs, kp, 1);
    EXPECT_EQ(big.capacity(), 40);
    for (int t = 0; t < 40; ++t) {
        big.time = t;
        big.cacheRow(t);
        ASSERT_TRUE(big.isCached(t));
    }
    std::vector<int32_t> active(40, 1);
    for (int i = 0; i < 40; i += 3) active[size_t(i)] = 0;
    big.shrink(10, active);
    EXPECT_EQ(big.activeColumns(), 30);
    for (int i : {0, 5, 39}) {
        big.getRow(i, all, row.data());
        for (int j = 0; j < 40; ++j)
            EXPECT_EQ(row[size_t(j)], float(kernelValue(kp, docs[size_t(i)], docs[size_t(j)]))) << i << " " << j;
    }
}

}  // namespace
}  // namespace kestrel

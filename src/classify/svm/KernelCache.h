#pragma once
// Least-recently-used cache of kernel matrix rows for training with a
// non-linear kernel. A row of example i holds K(x_i, x_k) for every example
// k that still has a column; columns of examples shrunk away can be squeezed
// out so that more rows fit.
#include <cstdint>
#include <memory>
#include <vector>

#include "classify/svm/SvmTypes.h"

namespace kestrel {

class KernelCache {
public:
    // A cache for the n documents with a buffer of `megabytes` MiB (never
    // more than the n x n values it can use).
    KernelCache(const std::vector<DocumentVector>& docs, const KernelParams& params, int32_t megabytes);

    int32_t time = 0;  // current time for the LRU order

    // Subtracts the largest last-use time from every slot's last-use time.
    void resetLru();
    // Marks i's row as used now, if it is cached.
    void touch(int32_t i);
    bool isCached(int32_t i) const { return slotOf_[size_t(i)] >= 0; }
    // Makes sure i's row is cached (when a slot can be had).
    void cacheRow(int32_t i);
    // out[j] = K(x_i, x_j) for every j of list; from the cache when i's row is
    // there, computed otherwise. Nothing is stored.
    void getRow(int32_t i, const std::vector<int32_t>& list, float* out);
    // Drops up to `count` columns of examples that are no longer active.
    void shrink(int32_t count, const std::vector<int32_t>& active);

    int32_t capacity() const { return capacity_; }
    int32_t activeColumns() const { return activeColumns_; }
    int64_t evaluations() const { return evaluations_; }

private:
    float compute(int32_t a, int32_t b);
    // Kernel values against one fixed example: its vector is spread into a
    // dense array once, so each value costs one pass over the other vector.
    // The sums run over the same features in the same order as the sparse
    // merge, so the values are identical.
    void spread(int32_t fixed);
    void unspread();
    float computeSpread(int32_t a, int32_t b);  // one of a, b is the spread example

    std::vector<double> dense_;
    int32_t spreadDoc_ = -1;

    const std::vector<DocumentVector>& docs_;
    const KernelParams& params_;
    int32_t n_;
    std::vector<int32_t> slotOf_;        // example -> slot, -1 when not cached
    std::unique_ptr<float[]> buffer_;
    int64_t bufferValues_ = 0;
    std::vector<int32_t> owner_;         // slot -> example, -1 when free
    std::vector<int32_t> columnExample_; // active column -> example
    std::vector<int32_t> exampleColumn_; // example -> active column, -1 when removed
    std::vector<int32_t> lastUse_;
    std::vector<int32_t> occupied_;
    int32_t occupiedCount_ = 0;
    int32_t capacity_ = 0;
    int32_t activeColumns_ = 0;
    int64_t evaluations_ = 0;
};

}  // namespace kestrel

#include "classify/svm/KernelCache.h"

#include <algorithm>

#include "classify/svm/SvmKernel.h"

namespace kestrel {

KernelCache::KernelCache(const std::vector<DocumentVector>& docs, const KernelParams& params,
                         int32_t megabytes)
    : docs_(docs), params_(params), n_(int32_t(docs.size())) {
    int64_t values = int64_t(std::max(megabytes, 0)) * (int64_t(1) << 20) / int64_t(sizeof(float));
    // Rows never hold more than n values and there are never more than n
    // rows, so a larger buffer would stay unused.
    bufferValues_ = std::min<int64_t>(values, int64_t(n_) * int64_t(n_));
    if (bufferValues_ > 0) buffer_.reset(new float[size_t(bufferValues_)]);
    slotOf_.assign(size_t(n_), -1);
    owner_.assign(size_t(n_), -1);
    lastUse_.assign(size_t(n_), 0);
    occupied_.assign(size_t(n_), 0);
    columnExample_.resize(size_t(n_));
    exampleColumn_.resize(size_t(n_));
    for (int32_t i = 0; i < n_; ++i) columnExample_[size_t(i)] = exampleColumn_[size_t(i)] = i;
    activeColumns_ = n_;
    capacity_ = n_ > 0 ? int32_t(std::min<int64_t>(bufferValues_ / n_, n_)) : 0;
    // The dense array pays off unless feature numbers are very sparse; the
    // user-defined kernel needs both vectors and keeps the merge.
    int32_t highest = 0;
    int64_t entries = 0;
    for (const DocumentVector& d : docs) {
        if (d.size()) highest = std::max(highest, d.words[d.size() - 1].wnum);
        entries += int64_t(d.size());
    }
    if (isDotProductKernel(params.kernelType) && int64_t(highest) <= 4 * entries + 4096)
        dense_.assign(size_t(highest) + 1, 0.0);
}

void KernelCache::spread(int32_t fixed) {
    if (dense_.empty()) return;
    for (const VectorEntry* w = docs_[size_t(fixed)].list(); w->wnum; ++w) dense_[size_t(w->wnum)] = w->weight;
    spreadDoc_ = fixed;
}

void KernelCache::unspread() {
    if (spreadDoc_ < 0) return;
    for (const VectorEntry* w = docs_[size_t(spreadDoc_)].list(); w->wnum; ++w) dense_[size_t(w->wnum)] = 0.0;
    spreadDoc_ = -1;
}

float KernelCache::computeSpread(int32_t a, int32_t b) {
    if (spreadDoc_ < 0) return compute(a, b);
    ++evaluations_;
    const int32_t other = a == spreadDoc_ ? b : a;
    const double* dense = dense_.data();
    double dot = 0.0;
    for (const VectorEntry* w = docs_[size_t(other)].list(); w->wnum; ++w) dot += dense[w->wnum] * w->weight;
    return float(kernelFromDot(params_, dot, docs_[size_t(a)], docs_[size_t(b)]));
}

float KernelCache::compute(int32_t a, int32_t b) {
    ++evaluations_;
    return float(kernelValue(params_, docs_[size_t(a)], docs_[size_t(b)]));
}

void KernelCache::resetLru() {
    int32_t largest = 0;
    for (int32_t s = 0; s < n_; ++s) largest = std::max(largest, lastUse_[size_t(s)]);
    for (int32_t s = 0; s < n_; ++s) lastUse_[size_t(s)] -= largest;
}

void KernelCache::touch(int32_t i) {
    int32_t slot = slotOf_[size_t(i)];
    if (slot >= 0) lastUse_[size_t(slot)] = time;
}

void KernelCache::cacheRow(int32_t i) {
    if (slotOf_[size_t(i)] >= 0) return;
    if (occupiedCount_ >= capacity_) {
        // Free the least recently used slot (the first one on ties).
        int32_t victim = -1;
        for (int32_t s = 0; s < n_; ++s)
            if (occupied_[size_t(s)] && (victim < 0 || lastUse_[size_t(s)] < lastUse_[size_t(victim)]))
                victim = s;
        if (victim < 0) return;
        slotOf_[size_t(owner_[size_t(victim)])] = -1;
        owner_[size_t(victim)] = -1;
        occupied_[size_t(victim)] = 0;
        --occupiedCount_;
    }
    int32_t slot = -1;
    for (int32_t s = 0; s < capacity_; ++s)
        if (!occupied_[size_t(s)]) {
            slot = s;
            break;
        }
    if (slot < 0) return;
    occupied_[size_t(slot)] = 1;
    ++occupiedCount_;
    owner_[size_t(slot)] = i;
    lastUse_[size_t(slot)] = time;
    slotOf_[size_t(i)] = slot;

    float* row = buffer_.get() + int64_t(slot) * activeColumns_;
    int32_t column = exampleColumn_[size_t(i)];
    spread(i);
    for (int32_t c = 0; c < activeColumns_; ++c) {
        int32_t k = columnExample_[size_t(c)];
        int32_t kSlot = slotOf_[size_t(k)];
        if (kSlot >= 0 && column >= 0 && k != i)
            row[c] = buffer_[size_t(int64_t(kSlot) * activeColumns_ + column)];
        else
            row[c] = computeSpread(k, i);
    }
    unspread();
}

void KernelCache::getRow(int32_t i, const std::vector<int32_t>& list, float* out) {
    int32_t slot = slotOf_[size_t(i)];
    if (slot >= 0) {
        lastUse_[size_t(slot)] = time;
        const float* row = buffer_.get() + int64_t(slot) * activeColumns_;
        spread(i);
        for (int32_t j : list) {
            int32_t column = exampleColumn_[size_t(j)];
            out[j] = column >= 0 ? row[column] : computeSpread(i, j);
        }
        unspread();
    } else {
        spread(i);
        for (int32_t j : list) out[j] = computeSpread(i, j);
        unspread();
    }
}

void KernelCache::shrink(int32_t count, const std::vector<int32_t>& active) {
    std::vector<char> keep(size_t(n_), 1);
    int32_t dropped = 0;
    for (int32_t c = 0; c < activeColumns_ && dropped < count; ++c) {
        int32_t k = columnExample_[size_t(c)];
        if (!active[size_t(k)]) {
            keep[size_t(k)] = 0;
            ++dropped;
        }
    }
    if (dropped == 0) return;
    int32_t remaining = activeColumns_ - dropped;
    // Compact every row in place; row r moves from r*old to r*new, which
    // never overtakes its source.
    for (int32_t s = 0; s < capacity_; ++s) {
        if (!occupied_[size_t(s)]) continue;
        const float* from = buffer_.get() + int64_t(s) * activeColumns_;
        float* to = buffer_.get() + int64_t(s) * remaining;
        int32_t j = 0;
        for (int32_t c = 0; c < activeColumns_; ++c)
            if (keep[size_t(columnExample_[size_t(c)])]) to[j++] = from[c];
    }
    std::vector<int32_t> columns;
    columns.reserve(size_t(remaining));
    for (int32_t c = 0; c < activeColumns_; ++c) {
        int32_t k = columnExample_[size_t(c)];
        if (keep[size_t(k)]) {
            exampleColumn_[size_t(k)] = int32_t(columns.size());
            columns.push_back(k);
        } else {
            exampleColumn_[size_t(k)] = -1;
        }
    }
    for (size_t c = 0; c < columns.size(); ++c) columnExample_[c] = columns[c];
    activeColumns_ = remaining;
    capacity_ = remaining > 0 ? int32_t(std::min<int64_t>(bufferValues_ / remaining, n_)) : n_;
}

}  // namespace kestrel

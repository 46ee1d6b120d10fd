#include "classify/KnnTrainingSet.h"

#include <algorithm>
#include <climits>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace kestrel {

namespace {

// Entries per block of rows: large enough that blocks are few, small enough
// that releasing them one at a time keeps the rows-to-columns turn close to
// the size of one form.
constexpr size_t kBlockEntries = size_t(1) << 20;

// Hands memory that was just freed back to the system, so that the resident
// size falls as the rows are released (the allocator otherwise keeps freed
// blocks that it did not map on their own).
void returnFreedMemory() {
#ifdef __GLIBC__
    malloc_trim(0);
#endif
}

}  // namespace

void KnnTrainingSet::add(int32_t category, const DocumentVector& doc) {
    const size_t n = doc.size();
    if (n > 0 && (blocks_.empty() || blocks_.back().features.size() + n > blocks_.back().features.capacity())) {
        Block& block = blocks_.emplace_back();
        block.features.reserve(std::max(kBlockEntries, n));
        block.weights.reserve(std::max(kBlockEntries, n));
    }
    RowPlace place;
    if (!blocks_.empty()) {
        Block& block = blocks_.back();
        place = {static_cast<uint32_t>(blocks_.size() - 1), static_cast<uint32_t>(block.features.size()),
                 static_cast<uint32_t>(n)};
        for (size_t i = 0; i < n; ++i) {
            block.features.push_back(doc.words[i].wnum);
            block.weights.push_back(doc.words[i].weight);
        }
        if (n > 0) highestFeature_ = std::max(highestFeature_, doc.words[n - 1].wnum);
    }
    rows_.push_back(place);
    categories_.push_back(category);
    squaredNorms_.push_back(doc.twoNorm);
    entryCount_ += n;
}

void KnnTrainingSet::addAll(VectorSet&& vectors) {
    size_t released = 0;
    for (size_t i = 0; i < vectors.docs.size(); ++i) {
        add(static_cast<int32_t>(vectors.labels[i] - 1), vectors.docs[i]);
        released += vectors.docs[i].words.size();
        vectors.docs[i].words = std::vector<VectorEntry>();
        if (released >= kBlockEntries) {
            returnFreedMemory();
            released = 0;
        }
    }
    vectors.docs = std::vector<DocumentVector>();
    returnFreedMemory();
}

SparseRow KnnTrainingSet::row(size_t t) const {
    const RowPlace& place = rows_[t];
    if (place.size == 0) return {};
    const Block& block = blocks_[place.block];
    return {block.features.data() + place.offset, block.weights.data() + place.offset, place.size};
}

FeatureColumn KnnTrainingSet::column(size_t c) const {
    const size_t start = columnStarts_[c];
    return {postingDocuments_.get() + start, postingWeights_.get() + start, columnStarts_[c + 1] - start};
}

void KnnTrainingSet::countFeatures(std::vector<int32_t>& features, std::vector<size_t>& counts) const {
    // Feature numbers are usually dense (the selected features); a file
    // with a few huge feature numbers is counted by sorting instead.
    features.clear();
    counts.clear();
    if (denseFeatures()) {
        std::vector<size_t> perFeature(static_cast<size_t>(highestFeature_) + 1, 0);
        for (const Block& block : blocks_)
            for (const int32_t f : block.features) ++perFeature[static_cast<size_t>(f)];
        for (size_t f = 1; f < perFeature.size(); ++f) {
            if (perFeature[f] == 0) continue;
            features.push_back(static_cast<int32_t>(f));
            counts.push_back(perFeature[f]);
        }
        return;
    }
    std::vector<int32_t> all;
    all.reserve(entryCount_);
    for (const Block& block : blocks_) all.insert(all.end(), block.features.begin(), block.features.end());
    std::sort(all.begin(), all.end());
    for (size_t i = 0; i < all.size(); ++i) {
        if (i == 0 || all[i] != all[i - 1]) {
            features.push_back(all[i]);
            counts.push_back(0);
        }
        ++counts.back();
    }
}

bool KnnTrainingSet::denseFeatures() const {
    return static_cast<size_t>(highestFeature_) <= std::max<size_t>(entryCount_, size_t(1) << 16);
}

std::vector<uint32_t> KnnTrainingSet::columnOfEachFeature() const {
    // A table by feature number when the numbers are dense; empty
    // otherwise, and the caller searches columnFeatures_.
    std::vector<uint32_t> columnOf;
    if (!denseFeatures()) return columnOf;
    columnOf.assign(static_cast<size_t>(highestFeature_) + 1, UINT32_MAX);
    for (size_t c = 0; c < columnFeatures_.size(); ++c)
        columnOf[static_cast<size_t>(columnFeatures_[c])] = static_cast<uint32_t>(c);
    return columnOf;
}

void KnnTrainingSet::buildColumns() {
    if (columnsBuilt_) return;
    std::vector<size_t> counts;
    countFeatures(columnFeatures_, counts);
    const std::vector<uint32_t> columnOf = columnOfEachFeature();
    columnStarts_.assign(counts.size() + 1, 0);
    for (size_t c = 0; c < counts.size(); ++c) columnStarts_[c + 1] = columnStarts_[c] + counts[c];
    postingDocuments_.reset(new uint32_t[entryCount_]);
    postingWeights_.reset(new double[entryCount_]);
    std::vector<size_t> cursor(columnStarts_.begin(), columnStarts_.end() - 1);

    // Documents in training order, so every column lists its documents in
    // increasing position; each block is released once its rows are copied.
    size_t released = 0;
    auto releaseBlocksBefore = [&](size_t block) {
        if (released >= block) return;
        for (; released < block; ++released) blocks_[released] = Block();
        returnFreedMemory();
    };
    for (size_t t = 0; t < rows_.size(); ++t) {
        const RowPlace& place = rows_[t];
        if (place.size == 0) continue;
        releaseBlocksBefore(place.block);
        const Block& block = blocks_[place.block];
        for (size_t i = place.offset; i < place.offset + place.size; ++i) {
            const int32_t f = block.features[i];
            const size_t c = columnOf.empty()
                                 ? static_cast<size_t>(std::lower_bound(columnFeatures_.begin(), columnFeatures_.end(), f) -
                                                       columnFeatures_.begin())
                                 : columnOf[static_cast<size_t>(f)];
            const size_t at = cursor[c]++;
            postingDocuments_[at] = static_cast<uint32_t>(t);
            postingWeights_[at] = block.weights[i];
        }
    }
    blocks_ = std::vector<Block>();
    rows_ = std::vector<RowPlace>();
    returnFreedMemory();
    columnsBuilt_ = true;
}

}  // namespace kestrel

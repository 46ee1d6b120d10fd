#include "pipeline/Vectorise.h"

#include <algorithm>
#include <atomic>
#include <functional>

#include "common/FileSystem.h"
#include "common/ParallelFor.h"
#include "common/Progress.h"
#include "features/DocumentVectors.h"
#include "features/SegmentedCorpus.h"

namespace kestrel {

namespace {

bool isCancelled(ProgressSink* sink) { return sink && sink->cancelled(); }

// How the documents of a vector file are weighed.
struct TermWeigher {
    // Readies sources [first, first + count) before they are weighed
    // (empty when there is nothing to ready).
    std::function<void(size_t first, size_t count)> prepare;
    // The term weights of source n; false (with the reason) when its
    // terms cannot be read.
    std::function<bool(size_t n, TermWeights& weights, std::string& error)> weigh;
    // What went wrong with the term lists the index kept, when anything
    // did (empty function or text otherwise).
    std::function<std::string()> problem;
};

// One document of a vector file, weighed and written out as its line
// (empty when the document is left out).
struct WeighedDocument {
    DocumentVector vector;
    std::string line;
    std::string error;  // its terms could not be read
};

// Collects the vectors written, up to kHeldVectorEntries entries; beyond
// that it keeps none.
class VectorKeeper {
public:
    VectorKeeper() : kept_(std::make_shared<VectorSet>()) {}
    void keep(DocumentVector&& vector, const std::string& label) {
        if (!kept_) return;
        entries_ += vector.words.size();
        if (entries_ > VectoriseResult::kHeldVectorEntries) {
            kept_.reset();
            return;
        }
        vector.docnum = static_cast<int32_t>(kept_->docs.size());
        kept_->docs.push_back(std::move(vector));
        kept_->labels.push_back(std::stol(label));
    }
    std::shared_ptr<VectorSet> release() { return std::move(kept_); }

private:
    std::shared_ptr<VectorSet> kept_;
    size_t entries_ = 0;
};

TermWeigher termWeigher(const std::vector<VectorSource>& sources, const FeatureLookup& lookup,
                        const SegmentedCorpus* corpus) {
    auto fromFile = [&lookup](const std::string& path, TermWeights& weights, std::string& error) {
        std::vector<SegLine> lines;
        Status read = readSegFile(path, lines);
        if (!read) error = read.message();
        lookup.weigh(lines, weights);
        return read.ok();
    };
    TermWeigher weigher;
    if (!corpus) {
        weigher.weigh = [&sources, fromFile](size_t n, TermWeights& weights, std::string& error) {
            return fromFile(sources[n].path, weights, error);
        };
        return weigher;
    }
    // The term lists the index kept, loaded a batch at a time. A document
    // whose list cannot be read back is weighed from its .seg file instead,
    // which gives the same weights, and the damage is reported.
    struct Kept {
        std::vector<const FeatureInfo*> features;  // per term id: each term is looked up once
        SegmentedCorpus::Batch batch;
        bool loaded = false;
        std::atomic<bool> damaged{false};
        std::string problem;
    };
    auto kept = std::make_shared<Kept>();
    kept->features.resize(corpus->termCount());
    for (uint32_t id = 0; id < kept->features.size(); ++id) kept->features[id] = lookup.find(corpus->term(id));
    weigher.prepare = [corpus, kept](size_t first, size_t count) {
        kept->loaded = false;
        if (kept->damaged) return;  // the rest is read from the files
        const Status loaded = corpus->loadBatch(first, count, kept->batch);
        kept->loaded = loaded.ok();
        if (!loaded) {
            kept->problem = loaded.message();
            kept->damaged = true;
        }
    };
    weigher.weigh = [corpus, kept, fromFile](size_t n, TermWeights& weights, std::string& error) {
        const SegmentedCorpus::Document& doc = corpus->documents()[n];
        weights.clear();
        if (!doc.error.empty()) {
            error = doc.error;
            return false;
        }
        // One pair of buffers per worker: no allocation per document.
        thread_local std::vector<uint32_t> ids;
        thread_local std::vector<int64_t> counts;
        if (!kept->loaded || !kept->batch.terms(n, ids, counts)) {
            kept->damaged = true;
            weights.clear();
            return fromFile(doc.path, weights, error);
        }
        for (size_t k = 0; k < ids.size(); ++k)
            if (const FeatureInfo* info = kept->features[ids[k]])
                weights.emplace_back(info->id, termWeight(counts[k], info->idf));
        return true;
    };
    weigher.problem = [kept]() -> std::string {
        if (!kept->damaged) return {};
        return "the term lists of the training corpus kept by the index could not be read back" +
               (kept->problem.empty() ? std::string() : " (" + kept->problem + ")") +
               "; the documents were read again from their .seg files";
    };
    return weigher;
}

// Weighs the documents of sources from `first` on into chunk, on every
// core; false when cancelled.
bool weighDocuments(const VectoriseRequest& request, size_t first, const TermWeigher& weigh,
                    std::vector<WeighedDocument>& chunk, ProgressSink* sink) {
    const std::vector<VectorSource>& sources = *request.sources;
    return parallelFor(
        chunk.size(), request.threads,
        [&](size_t i) {
            WeighedDocument& w = chunk[i];
            TermWeights weights;
            // A raw document that cannot be read keeps its line (label
            // alone) so that lines and raw documents stay paired; a training
            // document is left out.
            if (!weigh.weigh(first + i, weights, w.error) && !request.keepUnreadable) return;
            w.vector = normalisedVector(weights);
            appendVectorLine(w.line, sources[first + i].label, w.vector);
        },
        [&] { return isCancelled(sink); });
}

}  // namespace

bool vectoriseDocuments(const VectoriseRequest& request, AtomicFileWriter& out, ProgressSink* sink,
                        VectoriseResult& result) {
    const std::vector<VectorSource>& sources = *request.sources;
    const FeatureLookup lookup(*request.features);
    const TermWeigher weigh = termWeigher(sources, lookup, request.keptTerms);
    VectorKeeper keeper;
    // Documents are read and weighed on every core a chunk at a time, and
    // written in order; memory holds one chunk's lines, not the corpus.
    // Writing the lines stays in this thread: it is about a tenth of the
    // stage (copying finished lines), and the order of the file needs it.
    constexpr size_t kChunk = 512;
    std::vector<WeighedDocument> chunk;
    for (size_t first = 0; first < sources.size(); first += kChunk) {
        chunk.assign(std::min(kChunk, sources.size() - first), WeighedDocument());
        if (weigh.prepare) weigh.prepare(first, chunk.size());
        if (!weighDocuments(request, first, weigh, chunk, sink)) return false;
        for (size_t i = 0; i < chunk.size(); ++i) {
            WeighedDocument& w = chunk[i];
            if (!w.error.empty()) result.warnings.push_back(std::move(w.error));
            if (w.line.empty()) continue;
            ++result.written;
            out.write(w.line);
            keeper.keep(std::move(w.vector), sources[first + i].label);
        }
        if (sink) sink->progress("vectors", first + chunk.size(), sources.size());
    }
    if (weigh.problem) result.keptTermsProblem = weigh.problem();
    result.vectors = keeper.release();
    return true;
}

}  // namespace kestrel

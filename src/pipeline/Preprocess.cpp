#include "pipeline/Preprocess.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <mutex>

#include "common/Encoding.h"
#include "common/FileSystem.h"
#include "common/ParallelFor.h"
#include "common/Progress.h"
#include "segment/DocumentSegmenter.h"

namespace kestrel {

namespace {

bool isCancelled(ProgressSink* sink) { return sink && sink->cancelled(); }

// The word counts of one document: distinct words in order of first
// occurrence, each with its number of occurrences. A word holding an ASCII
// colon or a line end (a time such as 10:30) cannot be written as a
// "word:count" line without being read back as another word and count, so it
// is left out.
std::string segText(const WordCounts& counts) {
    std::string out;
    counts.appendEntries(out, '\n');
    return out;
}

// Documents at least this large are segmented one at a time after the
// others, each split into parts that use every thread.
constexpr uintmax_t kLargeDocumentBytes = uintmax_t{4} << 20;

bool isLargeDocument(const std::string& path) {
    std::error_code ec;
    const uintmax_t size = std::filesystem::file_size(path, ec);
    return !ec && size >= kLargeDocumentBytes;
}

}  // namespace

SegmentationOutcome segmentDocuments(DocumentSegmenter& segmenter, const std::vector<ListedDocument>& documents,
                                     unsigned threads, ProgressSink* sink) {
    SegmentationOutcome outcome;
    std::vector<char> success(documents.size(), 0);
    outcome.errors.assign(documents.size(), std::string());
    outcome.notes.assign(documents.size(), std::string());
    auto preprocess = [&](size_t i, unsigned partThreads) {
        const ListedDocument& doc = documents[i];
        Result<CountedDocument> counted = segmenter.countDocumentWords(doc.sourcePath(), partThreads);
        if (!counted) {
            outcome.errors[i] = counted.message();
            return;
        }
        outcome.notes[i] = std::move(counted->warning);
        if (const Status written = writeFileAtomically(doc.segPath(), segText(counted->counts)); !written) {
            outcome.errors[i] = written.message();
            return;
        }
        success[i] = 1;
    };
    std::vector<size_t> large;
    std::mutex largeMutex;
    std::atomic<size_t> deferred{0};
    // Every .seg file is flushed to the disk before it replaces the old one;
    // the workers that wait for that leave a core to the others.
    bool finished = parallelFor(
        documents.size(), diskBoundWorkerCount(threads, documents.size()),
        [&](size_t i) {
            if (isLargeDocument(documents[i].sourcePath())) {
                std::lock_guard<std::mutex> lock(largeMutex);
                large.push_back(i);
                ++deferred;
                return;
            }
            preprocess(i, 1);
        },
        [&] { return isCancelled(sink); },
        [&](size_t done) {
            if (sink) sink->progress("preprocess", done - std::min(done, deferred.load()), documents.size());
        });
    std::sort(large.begin(), large.end());
    for (size_t k = 0; k < large.size() && finished; ++k) {
        preprocess(large[k], threads);
        if (sink) sink->progress("preprocess", documents.size() - large.size() + k + 1, documents.size());
        finished = !isCancelled(sink);
    }
    outcome.ok.assign(documents.size(), false);
    for (size_t i = 0; i < documents.size(); ++i) outcome.ok[i] = success[i] != 0;
    outcome.finished = finished;
    return outcome;
}

}  // namespace kestrel

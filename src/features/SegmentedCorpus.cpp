#include "features/SegmentedCorpus.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <limits>
#include <unordered_map>

#include "common/Encoding.h"
#include "common/FileSystem.h"
#include "common/ParallelFor.h"
#include "common/Progress.h"

namespace kestrel {

Status readSegFile(const std::string& path, std::vector<SegLine>& lines, std::string* warning) {
    lines.clear();
    const Result<std::string> raw = readFile(path);
    if (!raw) return raw.status();
    DecodeReport report;
    const std::string text = decodeText(*raw, &report);
    if (report.encoding == TextEncoding::kBinary) return Status::failure(decodeWarning(path, report));
    if (warning) *warning = decodeWarning(path, report);
    forEachLine(text, [&](std::string_view line) {
        if (line.empty()) return;
        const size_t colon = line.find(':');
        SegLine l;
        if (colon == std::string_view::npos) {
            l.term = std::string(line);
        } else {
            l.term = std::string(line.substr(0, colon));
            l.count = leadingInteger(line.substr(colon + 1));
        }
        lines.push_back(std::move(l));
    });
    // Preprocessing writes every term once; only a .seg file made elsewhere
    // repeats one, and its lines are merged. The kept lines are found by an
    // open-addressing table of their positions (no allocation per line, as
    // every training document passes here).
    const size_t mask = std::bit_ceil(std::max<size_t>(16, lines.size() * 2)) - 1;
    constexpr uint32_t kEmpty = UINT32_MAX;
    std::vector<uint32_t> slots(mask + 1, kEmpty);
    size_t kept = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        size_t h = std::hash<std::string_view>{}(lines[i].term) & mask;
        while (slots[h] != kEmpty && lines[slots[h]].term != lines[i].term) h = (h + 1) & mask;
        if (slots[h] != kEmpty) {
            // Counts of a file made elsewhere can be anything: the sum stops
            // at the ends of the range rather than wrapping round.
            int64_t& count = lines[slots[h]].count;
            if (__builtin_add_overflow(count, lines[i].count, &count))
                count = lines[i].count > 0 ? INT64_MAX : INT64_MIN;
            continue;
        }
        if (kept != i) lines[kept] = std::move(lines[i]);
        slots[h] = static_cast<uint32_t>(kept++);
    }
    lines.resize(kept);
    return Status();
}

int64_t leadingInteger(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r' ||
                               text[i] == '\v' || text[i] == '\f'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    int64_t value = 0;
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max() / 10 - 10;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (value < kMax) value = value * 10 + (text[i] - '0');
    }
    return negative ? -value : value;
}

std::vector<CorpusDocument> listTrainingDocuments(const std::string& corpusPath, const CategoryTable& categories,
                                                  std::vector<std::string>* warnings) {
    std::vector<CorpusDocument> docs;
    for (uint32_t c = 0; c < categories.size(); ++c) {
        const std::string dir = withTrailingSlash(corpusPath + categories[c].name);
        const auto names = listFiles(dir, ".seg");
        if (!names && warnings) warnings->push_back(names.message());
        for (const auto& name : names.valueOr({})) docs.push_back({c, dir + name});
    }
    return docs;
}

uint32_t SegmentedCorpus::findTerm(std::string_view term) const {
    if (slots_.empty()) return kNewTerm;
    const size_t mask = slots_.size() - 1;
    for (size_t h = std::hash<std::string_view>{}(term) & mask;; h = (h + 1) & mask)
        if (slots_[h] == kNewTerm || terms_[slots_[h]] == term) return slots_[h];
}

uint32_t SegmentedCorpus::addTerm(std::string_view term) {
    const auto id = static_cast<uint32_t>(terms_.size());
    terms_.emplace_back(term);
    // At most half the slots are used, so that probes stay short.
    if (terms_.size() * 2 > slots_.size()) {
        slots_.assign(std::max<size_t>(1024, slots_.size() * 2), kNewTerm);
        for (uint32_t t = 0; t < terms_.size(); ++t) placeTerm(t);
    } else {
        placeTerm(id);
    }
    return id;
}

void SegmentedCorpus::placeTerm(uint32_t id) {
    const size_t mask = slots_.size() - 1;
    size_t h = std::hash<std::string_view>{}(terms_[id]) & mask;
    while (slots_[h] != kNewTerm) h = (h + 1) & mask;
    slots_[h] = id;
}

SegmentedCorpus SegmentedCorpus::read(const std::string& corpusPath, const CategoryTable& categories,
                                      unsigned threads, std::vector<std::string>& warnings, ProgressSink* sink,
                                      const DocumentFn& onDocument, const std::string& spillDirectory,
                                      size_t memoryLimit) {
    std::vector<std::string> listWarnings;
    std::vector<CorpusDocument> files = listTrainingDocuments(corpusPath, categories, &listWarnings);
    warnings.insert(warnings.end(), listWarnings.begin(), listWarnings.end());
    SegmentedCorpus corpus = read(std::move(files), threads, warnings, sink, onDocument, spillDirectory, memoryLimit);
    corpus.listWarnings_ = std::move(listWarnings);
    return corpus;
}

SegmentedCorpus SegmentedCorpus::read(std::vector<CorpusDocument> files, unsigned threads,
                                      std::vector<std::string>& warnings, ProgressSink* sink,
                                      const DocumentFn& onDocument, const std::string& spillDirectory,
                                      size_t memoryLimit) {
    SegmentedCorpus corpus(spillDirectory, memoryLimit);
    corpus.documents_.reserve(files.size());
    // Files are read, decoded and looked up in parallel (the lookup is only
    // read then); new terms are numbered in corpus order afterwards, so ids
    // do not depend on the threads. That second part (numbering, keeping the
    // lists, the caller's counting) stays in one thread: it is about a
    // seventh of the work, and the index's counts are not shared.
    constexpr size_t kChunk = 256;
    struct Read {
        std::vector<SegLine> lines;
        std::vector<uint32_t> ids;
        std::vector<int64_t> counts;
        std::string error;
        std::string warning;
    };
    std::vector<Read> chunk;
    // Reading many small files waits on the disk whenever the corpus is not
    // in the page cache (a large one rarely is).
    const unsigned readers = diskBoundWorkerCount(threads, kChunk);
    for (size_t first = 0; first < files.size(); first += kChunk) {
        // A large corpus takes minutes: a cancel request stops between chunks.
        if (sink && sink->cancelled()) {
            corpus.cancelled_ = true;
            corpus.dropTerms();
            break;
        }
        chunk.resize(std::min(kChunk, files.size() - first));
        parallelFor(chunk.size(), readers, [&](size_t i) {
            Read& r = chunk[i];
            r.error.clear();
            r.warning.clear();
            if (Status read = readSegFile(files[first + i].path, r.lines, &r.warning); !read)
                r.error = read.message();
            r.ids.clear();
            r.counts.clear();
            for (const SegLine& line : r.lines) {
                r.ids.push_back(corpus.findTerm(line.term));
                r.counts.push_back(line.count);
            }
        });
        for (size_t i = 0; i < chunk.size(); ++i) {
            Read& r = chunk[i];
            Document& doc = corpus.documents_.emplace_back();
            doc.category = files[first + i].category;
            // The document keeps the path; the list needs it no more.
            doc.path = std::move(files[first + i].path);
            doc.error = std::move(r.error);
            if (!doc.error.empty()) warnings.push_back(doc.error);
            if (!r.warning.empty()) warnings.push_back(std::move(r.warning));
            corpus.numberNewTerms(r.lines, r.ids);
            corpus.keep(doc, r.ids, r.counts, warnings);
            if (onDocument) onDocument(corpus, doc, r.ids, r.counts);
        }
        if (sink) sink->progress("index", first + chunk.size(), files.size());
    }
    if (corpus.keepsTerms_) {
        if (Status finished = corpus.store_.finish(); !finished) {
            warnings.push_back(finished.message());
            corpus.dropTerms();
        }
    }
    return corpus;
}

void SegmentedCorpus::numberNewTerms(const std::vector<SegLine>& lines, std::vector<uint32_t>& ids) {
    for (size_t k = 0; k < lines.size(); ++k) {
        if (ids[k] != kNewTerm) continue;
        // An earlier document of the chunk may have brought the term in.
        ids[k] = findTerm(lines[k].term);
        if (ids[k] == kNewTerm) ids[k] = addTerm(lines[k].term);
    }
}

void SegmentedCorpus::keep(Document& doc, const std::vector<uint32_t>& ids, const std::vector<int64_t>& counts,
                           std::vector<std::string>& warnings) {
    if (!keepsTerms_) return;
    Result<TermListStore::Span> span = store_.append(ids, counts);
    if (span) {
        doc.terms = *span;
        return;
    }
    // Without a spill directory a corpus over the limit is simply read
    // again; a temporary file that failed is worth a word.
    if (store_.canSpill())
        warnings.push_back("the term lists of the training corpus are not kept (" + span.message() +
                           "); the stages after the index read the .seg files again");
    dropTerms();
}

void SegmentedCorpus::dropTerms() {
    keepsTerms_ = false;
    store_.release();
}

Status SegmentedCorpus::loadBatch(size_t first, size_t count, Batch& batch) const {
    batch.corpus_ = this;
    batch.bytes_ = {};
    if (!keepsTerms_) return Status::failure("the term lists of the training corpus are not kept");
    if (count == 0 || first + count > documents_.size()) return Status();
    batch.base_ = documents_[first].terms.begin;
    Result<std::string_view> bytes =
        store_.bytes(batch.base_, documents_[first + count - 1].terms.end, batch.buffer_);
    if (!bytes) return bytes.status();
    batch.bytes_ = *bytes;
    return Status();
}

bool SegmentedCorpus::Batch::terms(size_t n, std::vector<uint32_t>& ids, std::vector<int64_t>& counts) const {
    const TermListStore::Span& span = corpus_->documents_[n].terms;
    if (span.begin < base_ || span.end - base_ > bytes_.size()) return false;
    return TermListStore::decode(bytes_.substr(span.begin - base_, span.end - span.begin), span.crc,
                                 static_cast<uint32_t>(corpus_->termCount()), ids, counts);
}

}  // namespace kestrel

#include "features/SegmentedCorpus.h"

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
    std::unordered_map<std::string_view, size_t> position;
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
    // repeats one, and its lines are merged.
    position.reserve(lines.size());
    size_t kept = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        const auto [it, inserted] = position.emplace(lines[i].term, kept);
        if (!inserted) {
            // Counts of a file made elsewhere can be anything: the sum stops
            // at the ends of the range rather than wrapping round.
            int64_t& count = lines[it->second].count;
            if (__builtin_add_overflow(count, lines[i].count, &count))
                count = lines[i].count > 0 ? INT64_MAX : INT64_MIN;
            continue;
        }
        if (kept != i) {
            lines[kept] = std::move(lines[i]);
            // The key viewed the moved-from string; view the kept one.
            position.erase(it);
            position.emplace(lines[kept].term, kept);
        }
        ++kept;
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

SegmentedCorpus SegmentedCorpus::read(const std::string& corpusPath, const CategoryTable& categories,
                                      unsigned threads, std::vector<std::string>& warnings, ProgressSink* sink,
                                      const DocumentFn& onDocument, size_t maxEntries) {
    SegmentedCorpus corpus;
    const std::vector<CorpusDocument> files = listTrainingDocuments(corpusPath, categories, &corpus.listWarnings_);
    warnings.insert(warnings.end(), corpus.listWarnings_.begin(), corpus.listWarnings_.end());
    corpus.documents_.reserve(files.size());
    // Files are read and decoded in parallel; their terms are numbered in
    // corpus order afterwards, so ids do not depend on the threads.
    constexpr size_t kChunk = 256;
    struct Read {
        std::vector<SegLine> lines;
        std::string error;
        std::string warning;
    };
    std::vector<Read> chunk;
    std::vector<uint32_t> ids;
    std::vector<int64_t> counts;
    for (size_t first = 0; first < files.size(); first += kChunk) {
        chunk.assign(std::min(kChunk, files.size() - first), Read());
        parallelFor(chunk.size(), threads, [&](size_t i) {
            if (Status read = readSegFile(files[first + i].path, chunk[i].lines, &chunk[i].warning); !read)
                chunk[i].error = read.message();
        });
        for (size_t i = 0; i < chunk.size(); ++i) {
            Read& r = chunk[i];
            Document& doc = corpus.documents_.emplace_back();
            doc.category = files[first + i].category;
            doc.path = files[first + i].path;
            doc.error = std::move(r.error);
            if (!doc.error.empty()) warnings.push_back(doc.error);
            if (!r.warning.empty()) warnings.push_back(std::move(r.warning));
            ids.clear();
            counts.clear();
            for (const SegLine& line : r.lines) {
                auto it = corpus.lookup_.find(line.term);
                if (it == corpus.lookup_.end()) {
                    const auto id = static_cast<uint32_t>(corpus.terms_.size());
                    it = corpus.lookup_.emplace(corpus.terms_.emplace_back(line.term), id).first;
                }
                ids.push_back(it->second);
                counts.push_back(line.count);
            }
            if (corpus.keepsTerms_ && corpus.termIds_.size() + ids.size() > maxEntries) {
                corpus.keepsTerms_ = false;
                corpus.termIds_ = {};
                corpus.counts_ = {};
            }
            if (corpus.keepsTerms_) {
                doc.begin = corpus.termIds_.size();
                corpus.termIds_.insert(corpus.termIds_.end(), ids.begin(), ids.end());
                corpus.counts_.insert(corpus.counts_.end(), counts.begin(), counts.end());
                doc.end = corpus.termIds_.size();
            }
            if (onDocument) onDocument(corpus, doc, ids, counts);
        }
        if (sink) sink->progress("index", first + chunk.size(), files.size());
    }
    return corpus;
}

}  // namespace kestrel

#include "features/RoughSetDecisionTable.h"

#include <algorithm>
#include <cmath>
#include <string_view>
#include <unordered_map>

#include "common/Progress.h"
#include "features/SegmentedCorpus.h"
#include "features/TermIndex.h"

namespace kestrel {

AllTermTable buildAllTermTable(const TermIndex& index, uint32_t trainingDocCount) {
    AllTermTable table;
    uint32_t k = 0;
    for (const TermEntry& e : index.entries()) {
        const double idf = std::log(static_cast<double>(trainingDocCount) / static_cast<double>(e.docCount));
        table.emplace(e.term, FeatureInfo{k, idf});
        ++k;
    }
    return table;
}

namespace {

// Whether `corpus` holds the term lists of exactly `files`.
bool holdsFiles(const SegmentedCorpus* corpus, const std::vector<CorpusDocument>& files) {
    if (!corpus || !corpus->keepsTerms() || corpus->documents().size() != files.size()) return false;
    for (size_t n = 0; n < files.size(); ++n)
        if (corpus->documents()[n].path != files[n].path || corpus->documents()[n].category != files[n].category)
            return false;
    return true;
}

// The attributes of the corpus's documents: each term id mapped once to its
// attribute (or to none). False, with the reason in `problem`, when the term
// lists cannot be read back.
bool takeDecisionDocuments(const std::unordered_map<std::string_view, uint32_t>& lookup,
                           const SegmentedCorpus& corpus, DecisionTable& table, std::vector<std::string>& warnings,
                           std::string& problem) {
    std::vector<uint32_t> attributeOf(corpus.termCount(), kNotCandidate);
    for (uint32_t id = 0; id < corpus.termCount(); ++id) {
        auto it = lookup.find(corpus.term(id));
        if (it != lookup.end()) attributeOf[id] = it->second;
    }
    constexpr size_t kBatch = 512;
    SegmentedCorpus::Batch batch;
    std::vector<uint32_t> ids;
    std::vector<int64_t> counts;
    const auto& documents = corpus.documents();
    for (size_t first = 0; first < documents.size(); first += kBatch) {
        const size_t count = std::min(kBatch, documents.size() - first);
        if (Status loaded = corpus.loadBatch(first, count, batch); !loaded) {
            problem = loaded.message();
            return false;
        }
        for (size_t n = first; n < first + count; ++n) {
            if (!batch.terms(n, ids, counts)) {
                problem = "the list of " + documents[n].path + " is damaged";
                return false;
            }
            RoughSetDocument doc;
            doc.category = documents[n].category;
            if (!documents[n].error.empty()) warnings.push_back(documents[n].error);
            for (const uint32_t id : ids)
                if (attributeOf[id] != kNotCandidate) doc.attributes.push_back(attributeOf[id]);
            std::sort(doc.attributes.begin(), doc.attributes.end());
            doc.attributes.erase(std::unique(doc.attributes.begin(), doc.attributes.end()), doc.attributes.end());
            table.documents.push_back(std::move(doc));
        }
    }
    return true;
}

}  // namespace

bool readDecisionDocuments(const AllTermTable& terms, const CategoryTable& categories,
                           const std::string& trainingCorpusPath, DecisionTable& table, ProgressSink* sink,
                           std::vector<std::string>& warnings, const SegmentedCorpus* corpus) {
    // A hash lookup over the table's own keys: the map's nodes never move.
    std::unordered_map<std::string_view, uint32_t> lookup;
    lookup.reserve(terms.size());
    for (const auto& [term, info] : terms) lookup.emplace(term, info.id);

    const std::vector<CorpusDocument> files = listTrainingDocuments(trainingCorpusPath, categories, &warnings);
    table.documents.clear();
    if (holdsFiles(corpus, files)) {
        table.documents.reserve(files.size());
        const size_t warned = warnings.size();
        std::string problem;
        if (takeDecisionDocuments(lookup, *corpus, table, warnings, problem)) {
            if (sink) sink->progress("读取训练文档", files.size(), files.size());
            return !(sink && sink->cancelled());
        }
        // Damaged lists are not used: the documents are read again.
        warnings.resize(warned);
        warnings.push_back("the term lists of the training corpus kept by the index could not be read back (" +
                           problem + "); the documents are read again from their .seg files");
        table.documents.clear();
    }
    table.documents.reserve(files.size());
    std::vector<SegLine> lines;
    for (size_t n = 0; n < files.size(); ++n) {
        if (sink) {
            if (sink->cancelled()) return false;
            if (n % 64 == 0) sink->progress("读取训练文档", n, files.size());
        }
        RoughSetDocument doc;
        doc.category = files[n].category;
        if (Status read = readSegFile(files[n].path, lines)) {
            for (const SegLine& line : lines) {
                auto it = lookup.find(line.term);
                if (it != lookup.end()) doc.attributes.push_back(it->second);
            }
            std::sort(doc.attributes.begin(), doc.attributes.end());
            doc.attributes.erase(std::unique(doc.attributes.begin(), doc.attributes.end()), doc.attributes.end());
        } else {
            warnings.push_back(read.message());
        }
        table.documents.push_back(std::move(doc));
    }
    if (sink) sink->progress("读取训练文档", files.size(), files.size());
    return true;
}

std::vector<uint32_t> candidateIndexOf(const DecisionTable& table) {
    std::vector<uint32_t> index(table.attributeCount, kNotCandidate);
    for (size_t k = 0; k < table.candidates.size(); ++k) {
        const uint32_t a = table.candidates[k].attribute;
        if (a < index.size()) index[a] = static_cast<uint32_t>(k);
    }
    return index;
}

void buildCandidates(DecisionTable& table) {
    const uint32_t A = table.attributeCount;
    const uint32_t C = table.categoryCount;

    // Counts per category and per (category, attribute).
    table.categoryDocCount.assign(C, 0);
    table.attributeCounts.assign(static_cast<size_t>(C) * A, 0.0);
    for (const RoughSetDocument& doc : table.documents) {
        if (doc.category >= C) continue;  // cannot come from the corpus walk
        ++table.categoryDocCount[doc.category];
        double* row = table.attributeCounts.data() + static_cast<size_t>(doc.category) * A;
        for (uint32_t j : doc.attributes)
            if (j < A) row[j] += 1.0;
    }

    // Spread (variance over the categories) and dominant category.
    table.spread.assign(A, 0.0);
    table.dominant.assign(A, 0);
    if (C > 0) {
        for (uint32_t j = 0; j < A; ++j) {
            double sum = 0.0;
            uint32_t best = 0;
            for (uint32_t c = 0; c < C; ++c) {
                const double s = table.count(c, j);
                sum += s;
                if (s > table.count(best, j)) best = c;  // ties keep the smaller id
            }
            const double mean = sum / C;
            double squares = 0.0;
            for (uint32_t c = 0; c < C; ++c) {
                const double d = table.count(c, j) - mean;
                squares += d * d;
            }
            table.spread[j] = squares / C;
            table.dominant[j] = best;
        }
    }

    // Spread filter in id order, then a stable sort by spread, largest first.
    table.candidates.clear();
    table.dropped.clear();
    std::vector<char> keep(A, 0);
    for (uint32_t j = 0; j < A; ++j) {
        if (table.spread[j] > 0.01) {
            table.candidates.push_back({j, table.dominant[j], table.spread[j]});
            keep[j] = 1;
        } else {
            table.dropped.push_back(j);
        }
    }
    std::stable_sort(table.candidates.begin(), table.candidates.end(),
                     [](const RoughSetCandidate& a, const RoughSetCandidate& b) { return a.spread > b.spread; });

    // Dropped attributes leave every document.
    for (RoughSetDocument& doc : table.documents) {
        std::erase_if(doc.attributes, [&](uint32_t j) { return j >= A || !keep[j]; });
    }
}

}  // namespace kestrel

// Times the rough-set reduction on a segmented training corpus.
//
//   kestrel-roughset-bench --synthetic N [--categories C] [--vocabulary V] [--seed S]
//   kestrel-roughset-bench --titles N [--categories C] [--vocabulary V] [--seed S]
//   kestrel-roughset-bench --bigrams CORPUS_DIR N   (raw GBK .txt corpus: train/ and test/ or categories)
//   kestrel-roughset-bench --seg DIR                (an existing .seg corpus, one folder per category)
//   common options: --threads T, --keep (keep the generated corpus), --direct-check (also run the
//   pair-by-pair evaluation and compare; only for small corpora)
//
// A synthetic corpus draws each document's words from a Zipf vocabulary
// mixed with a Zipf vocabulary of its category; a title corpus does the same
// with documents of 3 to 10 words, like news titles, where many documents
// of different categories differ in only one or two words. The bigram corpus takes the
// documents round-robin over the categories and turns each into the set of
// its Chinese character bigrams (and ASCII words), written as .seg files.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/FileSystem.h"
#include "common/Progress.h"
#include "features/RoughSetDecisionTable.h"
#include "features/RoughSetEvaluation.h"
#include "features/RoughSetReduction.h"
#include "features/SegmentedCorpus.h"
#include "features/TermIndex.h"

namespace fs = std::filesystem;
using namespace kestrel;

namespace {

using Clock = std::chrono::steady_clock;
double seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

long peakRssKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// prefix + number; built by appending, which keeps GCC 12's -Wrestrict quiet.
std::string named(const char* prefix, size_t number) {
    std::string s(prefix);
    s += std::to_string(number);
    return s;
}

// Plain writes: the corpus is scratch data, so no syncing per file.
void writeSeg(const fs::path& path, const std::map<std::string, unsigned>& counts) {
    std::ofstream out(path, std::ios::binary);
    for (const auto& [word, n] : counts) out << word << ':' << n << '\n';
    if (!out.flush()) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        std::exit(1);
    }
}

std::string wordSet(const std::map<std::string, unsigned>& counts) {
    std::string key;
    for (const auto& entry : counts) key += entry.first + ' ';
    return key;
}

// Zipf sampler over ranks 0 .. n-1 with exponent 1.
class Zipf {
public:
    explicit Zipf(size_t n) : cumulative_(n) {
        double sum = 0;
        for (size_t r = 0; r < n; ++r) cumulative_[r] = (sum += 1.0 / double(r + 1));
        for (double& c : cumulative_) c /= sum;
    }
    size_t operator()(std::mt19937_64& rng) const {
        const double u = std::uniform_real_distribution<double>(0, 1)(rng);
        return std::min(cumulative_.size() - 1,
                        size_t(std::lower_bound(cumulative_.begin(), cumulative_.end(), u) - cumulative_.begin()));
    }

private:
    std::vector<double> cumulative_;
};

struct DocumentLength {
    bool titles = false;  // 3 to 10 words; otherwise about 350 words
};

void makeSynthetic(const fs::path& root, unsigned docs, unsigned categories, size_t vocabulary, unsigned seed,
                   DocumentLength shape) {
    std::mt19937_64 rng(seed);
    const Zipf global(vocabulary);
    const Zipf topical(vocabulary / 10);
    // Each category's topical words are its own slice of the vocabulary.
    std::vector<std::vector<size_t>> topic(categories);
    for (unsigned c = 0; c < categories; ++c) {
        topic[c].resize(vocabulary / 10);
        for (size_t r = 0; r < topic[c].size(); ++r) topic[c][r] = (r * 7919 + c * 104729) % vocabulary;
    }
    std::normal_distribution<double> length(350, 150);
    for (unsigned c = 0; c < categories; ++c) fs::create_directories(root / named("c", c));
    std::set<std::string> seenTitles;
    for (unsigned d = 0; d < docs; ++d) {
        const unsigned c = d % categories;
        std::map<std::string, unsigned> counts;
        do {  // titles are not repeated: a news corpus keeps one copy of each
            counts.clear();
            const int tokens = shape.titles ? int(3 + rng() % 8) : std::max(20, int(length(rng)));
            for (int t = 0; t < tokens; ++t) {
                const size_t word = (rng() % 100 < 75) ? global(rng) : topic[c][topical(rng)];
                ++counts[named("w", word)];
            }
        } while (shape.titles && !seenTitles.insert(wordSet(counts)).second);
        writeSeg(root / named("c", c) / (named("d", d) + ".seg"), counts);
    }
}

// Character bigrams of a GBK text (two-byte characters with a lead byte of
// 0x81 or above whose second byte follows; ideographs are those outside the
// symbol rows 0xA1-0xA9), plus ASCII letter/digit words.
std::map<std::string, unsigned> bigrams(const std::string& text) {
    std::map<std::string, unsigned> counts;
    std::string previous;  // last ideograph of the current run
    std::string ascii;
    auto flushAscii = [&] {
        if (ascii.size() > 1) ++counts[ascii];
        ascii.clear();
    };
    for (size_t i = 0; i < text.size();) {
        const unsigned char b = static_cast<unsigned char>(text[i]);
        if (b >= 0x81 && i + 1 < text.size()) {
            flushAscii();
            const std::string ch = text.substr(i, 2);
            const bool ideograph = !(b >= 0xA1 && b <= 0xA9);
            if (ideograph) {
                if (!previous.empty()) ++counts[previous + ch];
                previous = ch;
            } else {
                previous.clear();
            }
            i += 2;
        } else {
            previous.clear();
            if (std::isalnum(b)) ascii += char(std::tolower(b));
            else flushAscii();
            ++i;
        }
    }
    flushAscii();
    return counts;
}

bool makeBigrams(const fs::path& root, const std::string& corpus, unsigned docs) {
    // Categories: the sub-directories of corpus/train (plus corpus/test), or of corpus.
    std::vector<std::string> sources;
    const std::string base = withTrailingSlash(corpus);
    if (isDirectory(base + "train")) {
        sources.push_back(base + "train/");
        if (isDirectory(base + "test")) sources.push_back(base + "test/");
    } else {
        sources.push_back(base);
    }
    std::vector<std::string> categories = listSubdirectories(sources[0]).valueOr({});
    if (categories.empty()) return false;
    std::vector<std::vector<std::string>> files(categories.size());
    for (size_t c = 0; c < categories.size(); ++c)
        for (const std::string& source : sources)
            for (const std::string& name : listFiles(source + categories[c], ".txt").valueOr({}))
                files[c].push_back(source + categories[c] + "/" + name);
    for (size_t c = 0; c < categories.size(); ++c) fs::create_directories(root / named("c", c));
    unsigned written = 0;
    for (size_t round = 0; written < docs; ++round) {
        bool any = false;
        for (size_t c = 0; c < categories.size() && written < docs; ++c) {
            if (round >= files[c].size()) continue;
            any = true;
            const auto read = readFile(files[c][round]);
            if (!read) continue;
            const std::string& text = *read;
            writeSeg(root / named("c", c) / (named("d", written) + ".seg"), bigrams(text));
            ++written;
        }
        if (!any) break;
    }
    if (written < docs) std::fprintf(stderr, "note: the corpus has only %u documents\n", written);
    return true;
}

struct StderrSink : ProgressSink {
    void progress(std::string_view stage, uint64_t done, uint64_t total) override {
        if (stage.find("约简") == std::string_view::npos || stage.find("阈值") != std::string_view::npos) return;
        std::fprintf(stderr, "\r%.*s  %llu/%llu   ", int(stage.size()), stage.data(), (unsigned long long)done,
                     (unsigned long long)total);
    }
};

int usage() {
    std::fprintf(stderr,
                 "usage: kestrel-roughset-bench ({--synthetic|--titles} N [--categories C] [--vocabulary V] [--seed S]"
                 " | --bigrams CORPUS_DIR N | --seg DIR) [--threads T] [--keep] [--direct-check]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string mode, source;
    unsigned docs = 0, categories = 10, seed = 1, threads = 0;
    size_t vocabulary = 60000;
    bool keep = false, directCheck = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto next = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
        if (a == "--synthetic" || a == "--titles") { mode = a; docs = unsigned(std::atoi(next().c_str())); }
        else if (a == "--bigrams") { mode = a; source = next(); docs = unsigned(std::atoi(next().c_str())); }
        else if (a == "--seg") { mode = a; source = next(); }
        else if (a == "--categories") categories = unsigned(std::atoi(next().c_str()));
        else if (a == "--vocabulary") vocabulary = size_t(std::atol(next().c_str()));
        else if (a == "--seed") seed = unsigned(std::atoi(next().c_str()));
        else if (a == "--threads") threads = unsigned(std::atoi(next().c_str()));
        else if (a == "--keep") keep = true;
        else if (a == "--direct-check") directCheck = true;
        else return usage();
    }
    if (mode.empty() || (mode != "--seg" && docs == 0) || categories == 0 || vocabulary < 10) return usage();

    fs::path root;
    bool generated = false;
    if (mode == "--seg") {
        root = source;
    } else {
        char pattern[] = "/tmp/kestrel-rs-bench-XXXXXX";
        if (!mkdtemp(pattern)) return 1;
        root = pattern;
        generated = true;
        const auto start = Clock::now();
        if (mode == "--synthetic" || mode == "--titles")
            makeSynthetic(root, docs, categories, vocabulary, seed, DocumentLength{mode == "--titles"});
        else if (!makeBigrams(root, source, docs)) {
            std::fprintf(stderr, "no category folders in %s\n", source.c_str());
            return 1;
        }
        std::fprintf(stderr, "corpus written to %s in %.1f s\n", root.c_str(), seconds(start));
    }

    // The index, as the index step builds it.
    CategoryTable table;
    for (const std::string& name : listSubdirectories(root.string()).valueOr({})) table.push_back({name, 0});
    const std::string corpusPath = withTrailingSlash(root.string());
    auto start = Clock::now();
    TermIndex index;
    const auto documents = listTrainingDocuments(corpusPath, table);
    std::vector<SegLine> lines;
    for (const CorpusDocument& d : documents) {
        ++table[d.category].docCount;
        if (!readSegFile(d.path, lines)) continue;
        for (const SegLine& l : lines) index.addOccurrence(l.term, d.category, uint32_t(table.size()));
    }
    const uint32_t n = uint32_t(documents.size());
    const double indexTime = seconds(start);

    // The phases one by one, for the figures.
    DecisionTable dt;
    dt.objectCount = n;
    dt.categoryCount = uint32_t(table.size());
    dt.attributeCount = uint32_t(index.size());
    start = Clock::now();
    const AllTermTable all = buildAllTermTable(index, n);
    std::vector<std::string> warnings;
    readDecisionDocuments(all, table, corpusPath, dt, nullptr, warnings);
    buildCandidates(dt);
    const double tableTime = seconds(start);
    start = Clock::now();
    uint32_t smallest = kNoPairDifference;
    if (!dt.candidates.empty()) {
        minimumDifference(dt, threads, nullptr, smallest);
        dt.threshold = discernibilityThreshold(smallest, dt.candidates.size());
    }
    const double thresholdTime = seconds(start);
    start = Clock::now();
    ReductionOutcome outcome;
    StderrSink sink;
    {
        auto evaluator = makeReductEvaluator(dt, threads, &sink);
        if (!evaluator) {
            std::fprintf(stderr, "%s\n", evaluator.message().c_str());
            return 1;
        }
        growReduct(dt, **evaluator, &sink, outcome);
    }
    std::fprintf(stderr, "\n");
    const double greedyTime = seconds(start);

    // The whole step as the controller runs it.
    start = Clock::now();
    RoughSetReduction reduction;
    const Status reduced = reduction.prepareAndReduce(index, table, corpusPath, n, nullptr);
    if (!reduced) {
        std::fprintf(stderr, "reduction failed: %s\n", reduced.message().c_str());
        return 1;
    }
    const double totalTime = seconds(start);

    std::printf("documents %u, categories %zu, terms %zu, candidates %zu, smallest difference %u, threshold %.6g"
                " (%s evaluation)\n",
                n, table.size(), index.size(), dt.candidates.size(), smallest, dt.threshold,
                classEvaluationApplies(dt) ? "class" : "pairwise");
    std::printf("reduct size %zu (whole step: %u), passes %zu\n", outcome.reduct.size(), reduction.reductSize(),
                outcome.bestAfterPass.size());
    std::printf("time: index %.2f s | decision table %.2f s, threshold %.2f s, greedy %.2f s | whole step %.2f s\n",
                indexTime, tableTime, thresholdTime, greedyTime, totalTime);
    std::printf("peak memory %.1f MiB\n", peakRssKiB() / 1024.0);

    if (directCheck) {
        start = Clock::now();
        ReductionOutcome direct;
        auto reference = makeDirectEvaluator(dt);
        growReduct(dt, *reference, nullptr, direct);
        const bool same = direct.reduct == outcome.reduct && direct.bestAfterPass == outcome.bestAfterPass;
        std::printf("direct evaluation: %.2f s, %s\n", seconds(start), same ? "same reduct" : "DIFFERENT REDUCT");
        if (!same) return 1;
    }
    if (generated && !keep) fs::remove_all(root);
    return reduction.reductSize() == outcome.reduct.size() ? 0 : 1;
}

// The rough-set selection end to end: .seg corpus on disk -> index ->
// reduction -> features.txt.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/FileSystem.h"
#include "common/Progress.h"
#include "features/RoughSetReduction.h"
#include "features/TermIndex.h"
#include "workspace/WorkspaceFiles.h"

namespace fs = std::filesystem;
using namespace kestrel;

namespace {

struct RecordingSink : ProgressSink {
    std::vector<std::pair<std::string, std::string>> notes;
    int cancelAfter = -1;  // cancelled() answers true from this call on
    mutable std::atomic<int> asked{0};
    void notify(std::string_view caption, std::string_view text) override {
        notes.emplace_back(std::string(caption), std::string(text));
    }
    bool cancelled() const override { return cancelAfter >= 0 && asked++ >= cancelAfter; }
};

// The selection step of a rough-set run: the selection written as the
// workspace's features.txt; `features` is replaced only when that worked.
Status writeSelection(const RoughSetReduction& rs, uint32_t dimension, uint32_t categoryCount,
                      const std::string& workspace, FeatureTable& features, ProgressSink* sink) {
    Result<FeatureTable> selected = rs.selection(dimension, categoryCount, sink);
    if (!selected) return selected.status();
    if (Status written = writeFeatures(withTrailingSlash(workspace) + "features.txt", *selected); !written)
        return written;
    features = std::move(*selected);
    return Status::success();
}

// A training corpus in a temporary directory: categories of documents, each
// document a list of terms; builds the index the way the index step does.
class Corpus {
public:
    using Documents = std::vector<std::vector<std::string>>;

    explicit Corpus(const std::vector<Documents>& categories) {
        root_ = fs::temp_directory_path() / ("kestrel-rs-" + std::to_string(::getpid()) + "-" + std::to_string(counter_++));
        fs::remove_all(root_);
        fs::create_directories(root_ / "model");
        for (size_t c = 0; c < categories.size(); ++c) {
            const std::string name = "c" + std::to_string(c);
            fs::create_directories(root_ / "train" / name);
            this->categories.push_back({name, static_cast<uint32_t>(categories[c].size())});
            for (size_t d = 0; d < categories[c].size(); ++d) {
                std::ofstream out(root_ / "train" / name / ("d" + std::to_string(d) + ".seg"));
                for (const auto& term : categories[c][d]) {
                    out << term << ":1\n";
                    pending_.push_back({term, static_cast<uint32_t>(c)});
                }
                pending_.push_back({"", kEnd});
            }
            docCount += static_cast<uint32_t>(categories[c].size());
        }
        // One occurrence per distinct term per document, as the index counts.
        std::vector<std::string> seen;
        for (const auto& [term, c] : pending_) {
            if (c == kEnd) {
                seen.clear();
                continue;
            }
            if (std::find(seen.begin(), seen.end(), term) != seen.end()) continue;
            seen.push_back(term);
            index.addOccurrence(term, c, static_cast<uint32_t>(categories.size()));
        }
    }
    ~Corpus() { fs::remove_all(root_); }

    std::string trainPath() const { return root_.string() + "/train/"; }
    std::string workspace() const { return root_.string() + "/model/"; }
    std::string features() const {
        return readFile(workspace() + "features.txt").valueOr({});
    }

    TermIndex index;
    CategoryTable categories;
    uint32_t docCount = 0;

private:
    static constexpr uint32_t kEnd = 0xffffffffu;
    static inline int counter_ = 0;
    fs::path root_;
    std::vector<std::pair<std::string, uint32_t>> pending_;
};

// The small example: category 0 holds {t0, t1} and {t0}, category 1 holds
// {t2} and {t1, t2}.
Corpus example() { return Corpus({{{"t0", "t1"}, {"t0"}}, {{"t2"}, {"t1", "t2"}}}); }

}  // namespace

TEST(RoughSetReduction, SmallExampleGivesReductT0AndFillsByQuota) {
    Corpus corpus = example();
    RoughSetReduction rs;
    Status status;
    RecordingSink sink;
    EXPECT_FALSE(rs.prepared());
    ASSERT_TRUE((status = rs.prepareAndReduce(corpus.index, corpus.categories, corpus.trainPath(), corpus.docCount, &sink)))
        << status.message();
    EXPECT_TRUE(rs.prepared());
    EXPECT_EQ(rs.reductSize(), 1u);

    // D = 3: quota (3 - 1) / 2 = 1; t1 was dropped, so two lines only.
    FeatureTable features;
    ASSERT_TRUE((status = writeSelection(rs, 3, 2, corpus.workspace(), features, &sink))) << status.message();
    EXPECT_EQ(corpus.features(), "0 t0 0.693147\n1 t2 0.693147\n");
    ASSERT_EQ(features.size(), 2u);
    EXPECT_EQ(features.at("t0").id, 0u);
    EXPECT_EQ(features.at("t2").id, 1u);
    EXPECT_NEAR(features.at("t2").idf, std::log(2.0), 1e-12);
    ASSERT_EQ(sink.notes.size(), 1u);
    EXPECT_EQ(sink.notes[0].first, "粗糙集");
    EXPECT_EQ(sink.notes[0].second, "粗集约简后的特征项数：1");

    // D = 0 still tells the reduct size and writes an empty file.
    ASSERT_TRUE((status = writeSelection(rs, 0, 2, corpus.workspace(), features, &sink)));
    EXPECT_EQ(corpus.features(), "");
    EXPECT_TRUE(features.empty());
    EXPECT_EQ(sink.notes.size(), 2u);
}

TEST(RoughSetReduction, RepeatedSelectionReusesTheStoredReduction) {
    Corpus corpus = example();
    RoughSetReduction rs;
    Status status;
    ASSERT_TRUE((status = rs.prepareAndReduce(corpus.index, corpus.categories, corpus.trainPath(), corpus.docCount, nullptr)));
    // Without the corpus the selection must still work from the stored result.
    fs::remove_all(corpus.trainPath());
    FeatureTable features;
    RecordingSink sink;
    ASSERT_TRUE((status = writeSelection(rs, 1, 2, corpus.workspace(), features, &sink))) << status.message();
    EXPECT_EQ(corpus.features(), "0 t0 0.693147\n");
    ASSERT_TRUE((status = writeSelection(rs, 5, 2, corpus.workspace(), features, &sink)));
    EXPECT_EQ(corpus.features(), "0 t0 0.693147\n1 t2 0.693147\n");
    ASSERT_EQ(sink.notes.size(), 2u);
    EXPECT_EQ(sink.notes[1].second, sink.notes[0].second);

    rs.invalidate();
    EXPECT_FALSE(rs.prepared());
    EXPECT_FALSE((status = writeSelection(rs, 5, 2, corpus.workspace(), features, &sink)));
    EXPECT_FALSE(status.message().empty());
    EXPECT_EQ(features.size(), 2u);
}

TEST(RoughSetReduction, QuotaSharesCategoriesAndWrapsBelowTheReductSize) {
    // Category 0 documents share nothing with category 1 documents, so one
    // attribute already separates everything; the others are spread out
    // between the categories by quota.
    Corpus corpus({{{"a", "b", "c"}, {"a", "b", "c"}, {"a", "c"}},
                   {{"x", "y", "z"}, {"x", "y"}, {"x", "y", "z"}}});
    RoughSetReduction rs;
    Status status;
    ASSERT_TRUE((status = rs.prepareAndReduce(corpus.index, corpus.categories, corpus.trainPath(), corpus.docCount, nullptr)));
    EXPECT_EQ(rs.reductSize(), 1u);  // "a", the first of the largest spreads
    FeatureTable features;
    // Spreads: a, c, x, y 2.25; b, z 1.0. Candidate order a c x y b z.
    // D = 5: quota 2 -> primary a | c (0) x (1) y (1) b (0); z overflows.
    ASSERT_TRUE((status = writeSelection(rs, 5, 2, corpus.workspace(), features, nullptr)));
    EXPECT_EQ(corpus.features(), "0 a 0.693147\n1 c 0.693147\n2 x 0.693147\n3 y 0.693147\n4 b 1.098612\n");
    // D = 3: quota 1 -> a c x, then y b z overflow.
    ASSERT_TRUE((status = writeSelection(rs, 3, 2, corpus.workspace(), features, nullptr)));
    EXPECT_EQ(corpus.features(), "0 a 0.693147\n1 c 0.693147\n2 x 0.693147\n");
    // D = 0 < R: the quota wraps, nothing is written.
    ASSERT_TRUE((status = writeSelection(rs, 0, 2, corpus.workspace(), features, nullptr)));
    EXPECT_EQ(corpus.features(), "");
}

TEST(RoughSetReduction, WrappedQuotaKeepsTheFirstReductAttributes) {
    // Identical pairs across categories force a long reduct: every document
    // pair differs on one attribute only.
    Corpus corpus({{{"a"}, {"b"}, {"c"}}, {{"a", "p"}, {"b", "q"}, {"c", "r"}}});
    RoughSetReduction rs;
    Status status;
    ASSERT_TRUE((status = rs.prepareAndReduce(corpus.index, corpus.categories, corpus.trainPath(), corpus.docCount, nullptr)));
    // a, b, c are dropped; p, q, r all enter the reduct.
    EXPECT_EQ(rs.reductSize(), 3u);
    FeatureTable features;
    ASSERT_TRUE((status = writeSelection(rs, 1, 2, corpus.workspace(), features, nullptr)));
    EXPECT_EQ(corpus.features(), "0 p 1.791759\n");
    ASSERT_TRUE((status = writeSelection(rs, 2, 2, corpus.workspace(), features, nullptr)));
    EXPECT_EQ(corpus.features(), "0 p 1.791759\n1 q 1.791759\n");
}

TEST(RoughSetReduction, FewerThanTwoCategoriesOrNoCandidates) {
    Status status;
    FeatureTable features;
    {
        // Two categories but only one holds documents: no pairs, so every
        // document is consistent and the first pass picks the first candidate.
        Corpus corpus({{{"a", "b"}, {"a"}, {"c"}}, {}});
        RoughSetReduction rs;
        ASSERT_TRUE((status = rs.prepareAndReduce(corpus.index, corpus.categories, corpus.trainPath(), corpus.docCount, nullptr)));
        EXPECT_EQ(rs.reductSize(), 1u);
        ASSERT_TRUE((status = writeSelection(rs, 10, 2, corpus.workspace(), features, nullptr)));
        // Spreads a 1.0, b 0.25, c 0.25; all dominant in category 0.
        EXPECT_EQ(corpus.features(), "0 a 0.405465\n1 b 1.098612\n2 c 1.098612\n");
    }
    {
        // One category: every spread is 0, nothing is a candidate.
        Corpus corpus({{{"a", "b"}, {"a"}}});
        RoughSetReduction rs;
        ASSERT_TRUE((status = rs.prepareAndReduce(corpus.index, corpus.categories, corpus.trainPath(), corpus.docCount, nullptr)));
        EXPECT_TRUE(rs.prepared());
        EXPECT_EQ(rs.reductSize(), 0u);
        ASSERT_TRUE((status = writeSelection(rs, 10, 1, corpus.workspace(), features, nullptr)));
        EXPECT_EQ(corpus.features(), "");
    }
    {
        // Two categories with the same counts for every term: all dropped.
        Corpus corpus({{{"a", "b"}, {"a"}}, {{"b", "a"}, {"a"}}});
        RoughSetReduction rs;
        ASSERT_TRUE((status = rs.prepareAndReduce(corpus.index, corpus.categories, corpus.trainPath(), corpus.docCount, nullptr)));
        EXPECT_EQ(rs.reductSize(), 0u);
        ASSERT_TRUE((status = writeSelection(rs, 10, 2, corpus.workspace(), features, nullptr)));
        EXPECT_EQ(corpus.features(), "");
    }
    {
        // No categories at all.
        Corpus corpus({});
        RoughSetReduction rs;
        ASSERT_TRUE((status = rs.prepareAndReduce(corpus.index, corpus.categories, corpus.trainPath(), 0, nullptr)));
        EXPECT_EQ(rs.reductSize(), 0u);
        ASSERT_TRUE((status = writeSelection(rs, 10, 0, corpus.workspace(), features, nullptr)));
        EXPECT_EQ(corpus.features(), "");
    }
}

TEST(RoughSetReduction, CancelStoresNothingAndKeepsTheFile) {
    Corpus corpus = example();
    ASSERT_TRUE(writeFileAtomically(corpus.workspace() + "features.txt", "0 old 1.000000\n"));
    for (int after : {0, 1, 3, 6}) {
        RoughSetReduction rs;
        RecordingSink sink;
        sink.cancelAfter = after;
        Status status;
        EXPECT_FALSE((status = rs.prepareAndReduce(corpus.index, corpus.categories, corpus.trainPath(), corpus.docCount, &sink)))
            << "cancel after " << after;
        EXPECT_NE(status.message().find("cancel"), std::string::npos);
        EXPECT_FALSE(rs.prepared());
        EXPECT_EQ(rs.reductSize(), 0u);
        EXPECT_TRUE(sink.notes.empty());
    }
    EXPECT_EQ(corpus.features(), "0 old 1.000000\n");
}

TEST(RoughSetReduction, WriteFailureLeavesTableAndFileUnchanged) {
    Corpus corpus = example();
    RoughSetReduction rs;
    Status status;
    ASSERT_TRUE((status = rs.prepareAndReduce(corpus.index, corpus.categories, corpus.trainPath(), corpus.docCount, nullptr)));
    FeatureTable features{{"kept", FeatureInfo{0, 1.0}}};
    const std::string missing = corpus.workspace() + "no/such/dir/";
    EXPECT_FALSE((status = writeSelection(rs, 3, 2, missing, features, nullptr)));
    EXPECT_NE(status.message().find("features.txt"), std::string::npos) << status.message();
    ASSERT_EQ(features.size(), 1u);
    EXPECT_EQ(features.begin()->first, "kept");
}

TEST(RoughSetReduction, EndsOnTheDocumentsFoundWhenTheCountIsStale) {
    // The controller's count says 10 documents but the corpus holds 4: the
    // passes still end once all four are consistent; idf keeps the count.
    Corpus corpus = example();
    RoughSetReduction rs;
    Status status;
    ASSERT_TRUE((status = rs.prepareAndReduce(corpus.index, corpus.categories, corpus.trainPath(), 10, nullptr)));
    EXPECT_EQ(rs.reductSize(), 1u);
    FeatureTable features;
    ASSERT_TRUE((status = writeSelection(rs, 3, 2, corpus.workspace(), features, nullptr)));
    EXPECT_EQ(corpus.features(), "0 t0 1.609438\n1 t2 1.609438\n");
}

TEST(RoughSetReduction, UsesTheIndexOrderAsAttributeNumbering) {
    // Equal spreads keep attribute id order, and ids follow the index's
    // current order: reversing the index reverses the tie.
    Corpus corpus({{{"p"}, {"q"}}, {{"r"}, {"s"}}});
    RoughSetReduction rs;
    Status status;
    FeatureTable features;
    ASSERT_TRUE((status = rs.prepareAndReduce(corpus.index, corpus.categories, corpus.trainPath(), corpus.docCount, nullptr)));
    ASSERT_TRUE((status = writeSelection(rs, 4, 2, corpus.workspace(), features, nullptr)));
    const std::string forward = corpus.features();
    std::reverse(corpus.index.entries().begin(), corpus.index.entries().end());
    corpus.index.reindex();
    ASSERT_TRUE((status = rs.prepareAndReduce(corpus.index, corpus.categories, corpus.trainPath(), corpus.docCount, nullptr)));
    ASSERT_TRUE((status = writeSelection(rs, 4, 2, corpus.workspace(), features, nullptr)));
    EXPECT_NE(corpus.features(), forward);
    EXPECT_EQ(corpus.features().substr(0, 4), "0 q ");
    EXPECT_EQ(forward.substr(0, 4), "0 p ");
}

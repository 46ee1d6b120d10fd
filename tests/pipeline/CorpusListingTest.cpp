#include <gtest/gtest.h>

#include <unistd.h>

#include "TestSupport.h"
#include "common/FileSystem.h"
#include "pipeline/CorpusListing.h"

using namespace kestrel;
using kestrel::testing::TempDir;

namespace {

std::vector<std::string> paths(const std::vector<ListedDocument>& docs, bool seg) {
    std::vector<std::string> out;
    for (const auto& d : docs) out.push_back(std::to_string(d.category) + ":" + (seg ? d.segPath() : d.sourcePath()));
    return out;
}

}  // namespace

TEST(CorpusListing, EachDocumentKeepsTheNameItWasListedUnder) {
    TempDir dir;
    dir.write("b/two.TXT", "x");
    dir.write("b/one.txt", "x");
    dir.write("a/three.txt", "x");
    dir.write("a/skip.seg", "not raw text");
    dir.write("b/.one.seg.tmp999999999-abcdef", "left by a killed writer");
    const Result<CorpusListing> raw = listCategorisedCorpus(dir.dir(), InputFormat::RawText);
    ASSERT_TRUE(raw);
    EXPECT_EQ(raw->categories, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(paths(raw->documents, false),
              (std::vector<std::string>{"0:" + dir.path("a/three.txt"), "1:" + dir.path("b/one.txt"),
                                        "1:" + dir.path("b/two.TXT")}));
    // The .seg file preprocessing writes beside the text.
    EXPECT_EQ(raw->documents[2].segPath(), dir.path("b/two.seg"));
    // The stale temporary file went in the same pass.
    EXPECT_FALSE(fileExists(dir.path("b/.one.seg.tmp999999999-abcdef")));

    dir.write("a/four.SEG", "w:1");
    const Result<CorpusListing> seg = listCategorisedCorpus(dir.dir(), InputFormat::Preprocessed, 1);
    ASSERT_TRUE(seg);
    // A segmented document is its own word list, whatever the case of its
    // extension; only the first category was listed.
    EXPECT_EQ(paths(seg->documents, true),
              (std::vector<std::string>{"0:" + dir.path("a/four.SEG"), "0:" + dir.path("a/skip.seg")}));
    EXPECT_EQ(seg->listedCategories, 1u);
    EXPECT_FALSE(listCategorisedCorpus(dir.path("none/"), InputFormat::RawText));
}

TEST(CorpusListing, DocumentsTakeTheIdsOfTheTrainedCategories) {
    TempDir dir;
    dir.write("sport/s.txt", "x");
    dir.write("art/a1.txt", "x");
    dir.write("art/a2.txt", "x");
    dir.write("extra/e.txt", "x");
    const Result<CorpusListing> listing = listCategorisedCorpus(dir.dir(), InputFormat::RawText);
    ASSERT_TRUE(listing);
    EXPECT_EQ(listing->documentCount(), 4u);
    // The trained categories in their own order; "missing" has no directory.
    const CategoryTable trained{{"sport", 1}, {"missing", 1}, {"art", 2}};
    std::vector<std::string> warnings;
    const auto docs = documentsOfCategories(*listing, trained, 3, warnings);
    EXPECT_EQ(paths(docs, false), (std::vector<std::string>{"0:" + dir.path("sport/s.txt"),
                                                            "2:" + dir.path("art/a1.txt"),
                                                            "2:" + dir.path("art/a2.txt")}));
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("missing"), std::string::npos);
    // Categories past the limit are left out.
    warnings.clear();
    EXPECT_EQ(documentsOfCategories(*listing, trained, 1, warnings).size(), 1u);

    // Without a listing of its categories, each is listed on its own.
    CorpusListing unlisted;
    unlisted.root = dir.dir();
    unlisted.categorised = true;
    warnings.clear();
    EXPECT_EQ(paths(documentsOfCategories(unlisted, trained, 3, warnings), false), paths(docs, false));
}

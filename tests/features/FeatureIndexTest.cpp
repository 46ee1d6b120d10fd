#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestSupport.h"
#include "features/FeatureIndex.h"

using namespace kestrel;
using kestrel::testing::TempDir;

// Files are read in parallel blocks; the index and the messages must be those
// of reading them one by one, however many threads there are and wherever the
// blocks end.
TEST(FeatureIndex, ParallelReadingGivesTheIndexOfASequentialOne) {
    TempDir dir;
    CategoryTable categories{{"a", 0}, {"b", 0}, {"c", 0}};
    for (int n = 0; n < 1300; ++n) {
        const std::string category = categories[static_cast<size_t>(n % 3)].name;
        ++categories[static_cast<size_t>(n % 3)].docCount;
        // Words shared by many documents and words new in each one, so that
        // the order of first appearance is easy to disturb.
        std::string text = "w" + std::to_string(n % 7) + ":1\nnew" + std::to_string(n) + ":2\n";
        if (n % 5 == 0) text += "w" + std::to_string(n % 11) + ":3\n";
        char name[16];
        std::snprintf(name, sizeof name, "%05d.seg", n);
        dir.write(category + "/" + name, text);
    }
    // Unreadable documents inside a block of 512 and at both ends of one
    // (documents 100, 511, 512 and 1024 in corpus order).
    for (const char* bad : {"a/00300.seg", "b/00232.seg", "b/00235.seg", "c/00473.seg"})
        dir.write(bad, std::string("\0\1\2\3", 4));

    auto build = [&](unsigned threads, std::vector<std::string>& warnings) {
        TermIndex index;
        buildTermIndex(dir.dir(), categories, 3, index, warnings, nullptr, threads);
        return index;
    };
    std::vector<std::string> oneWarnings, fourWarnings;
    const TermIndex one = build(1, oneWarnings);
    const TermIndex four = build(4, fourWarnings);
    ASSERT_EQ(one.size(), four.size());
    EXPECT_GT(one.size(), 1000u);
    for (size_t i = 0; i < one.size(); ++i) {
        const TermEntry& a = one.entries()[i];
        const TermEntry& b = four.entries()[i];
        ASSERT_EQ(a.term, b.term) << i;
        EXPECT_EQ(a.docCount, b.docCount) << a.term;
        EXPECT_EQ(a.classDocCount, b.classDocCount) << a.term;
        EXPECT_EQ(a.firstSeen, b.firstSeen) << a.term;
    }
    EXPECT_EQ(one.entries()[0].term, "w0");
    ASSERT_EQ(oneWarnings.size(), 4u);
    EXPECT_EQ(fourWarnings, oneWarnings);
    EXPECT_NE(oneWarnings[0].find("00300.seg"), std::string::npos);
    EXPECT_NE(oneWarnings[3].find("00473.seg"), std::string::npos);
}

#include <gtest/gtest.h>

#include <sstream>

#include "common/DisplayWidth.h"
#include "common/Encoding.h"
#include "evaluate/CategoryScores.h"
#include "evaluate/Evaluation.h"

namespace kestrel {
namespace {

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

// Two categories, four documents (one of the first assigned to the second),
// and a third category nothing belongs to or was assigned to.
TEST(CategoryScores, RowsOfCategoriesAndAverages) {
    const CategoryTable categories = {{utf8ToGbk("体育"), 0}, {"B", 0}, {utf8ToGbk("空类"), 0}};
    const Evaluation e(categories, {{0, 0, "a"}, {0, 1, "b"}, {1, 1, "c"}, {1, 1, "d"}}, 4);
    const auto rows = categoryScores(e);
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[0].name, "体育");  // shown as UTF-8
    EXPECT_TRUE(rows[0].counted);
    EXPECT_DOUBLE_EQ(rows[0].recall, 0.5);
    EXPECT_DOUBLE_EQ(rows[0].precision, 1.0);
    EXPECT_NEAR(rows[0].f1, 2.0 / 3.0, 1e-12);
    EXPECT_EQ(rows[0].support, 2u);
    EXPECT_NEAR(rows[1].f1, 0.8, 1e-12);
    EXPECT_FALSE(rows[2].counted);
    EXPECT_EQ(rows[2].support, 0u);
    // The macro F1 is that of the macro averages (0.75, 0.8333), as the
    // workbook exports it; the support of both averages is every document.
    EXPECT_EQ(rows[3].name, "宏平均");
    EXPECT_NEAR(rows[3].f1, 0.789474, 1e-6);
    EXPECT_EQ(rows[3].support, 4u);
    EXPECT_EQ(rows[4].name, "微平均");
    EXPECT_DOUBLE_EQ(rows[4].recall, 0.75);
    EXPECT_DOUBLE_EQ(rows[4].f1, 0.75);

    const auto text = lines(categoryScoresText(rows));
    ASSERT_EQ(text.size(), 6u);
    EXPECT_EQ(text[0].rfind("类别", 0), 0u);
    EXPECT_NE(text[0].find("查全率"), std::string::npos);
    EXPECT_NE(text[0].find("文档数"), std::string::npos);
    // Columns line up: every line is as wide on a terminal, Chinese names
    // counting two columns a character.
    for (const std::string& line : text) EXPECT_EQ(displayWidth(line), displayWidth(text[0])) << line;
    EXPECT_NE(text[1].find("50.00%"), std::string::npos);
    EXPECT_NE(text[1].find("100.00%"), std::string::npos);
    EXPECT_NE(text[1].find("66.67%"), std::string::npos);
    EXPECT_EQ(text[1].substr(text[1].size() - 2), " 2");
    // No scores for the empty category, rather than a misleading 0.00%.
    EXPECT_EQ(text[3].find('%'), std::string::npos);
    EXPECT_NE(text[3].find(" -"), std::string::npos);
    EXPECT_NE(text[4].find("78.95%"), std::string::npos);
}

TEST(CategoryScores, NothingClassifiedHasNoScores) {
    const Evaluation e({{"A", 0}, {"B", 0}}, {}, 0);
    const auto rows = categoryScores(e);
    ASSERT_EQ(rows.size(), 4u);
    for (const CategoryScore& row : rows) EXPECT_FALSE(row.counted) << row.name;
    const std::string text = categoryScoresText(rows);
    EXPECT_EQ(text.find('%'), std::string::npos);
    EXPECT_EQ(text.find("nan"), std::string::npos);
}

TEST(DisplayWidth, ChineseCountsTwoColumns) {
    EXPECT_EQ(displayWidth("ab"), 2u);
    EXPECT_EQ(displayWidth("类别"), 4u);
    EXPECT_EQ(displayWidth("é"), 1u);
    EXPECT_EQ(padRight("类", 4), "类  ");
    EXPECT_EQ(padLeft("类", 3), " 类");
    EXPECT_EQ(padLeft("长文本", 2), "长文本");
}

}  // namespace
}  // namespace kestrel

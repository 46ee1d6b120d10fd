#include <gtest/gtest.h>

#include "common/Encoding.h"
#include "evaluate/Evaluation.h"

namespace kestrel {
namespace {

CategoryTable table(std::initializer_list<const char*> names) {
    CategoryTable categories;
    for (const char* name : names) categories.push_back({name, 0});
    return categories;
}

RawDocument doc(int32_t trueCategory, int32_t assigned) {
    return RawDocument{trueCategory, assigned, "d.txt"};
}

void expectRecord(const Contingency& r, uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
    EXPECT_EQ(r.a, a);
    EXPECT_EQ(r.b, b);
    EXPECT_EQ(r.c, c);
    EXPECT_EQ(r.d, d);
}

// Two categories, four documents: the worked example of the measures.
TEST(Evaluation, TwoCategoriesFourDocuments) {
    const Evaluation e(table({"A", "B"}), {doc(0, 0), doc(0, 1), doc(1, 1), doc(1, 1)}, 4);

    EXPECT_EQ(e.confusion(), (std::vector<std::vector<uint32_t>>{{1, 1}, {0, 2}}));
    ASSERT_EQ(e.contingency().size(), 3u);
    expectRecord(e.contingency()[0], 1, 0, 1, 2);
    expectRecord(e.contingency()[1], 2, 1, 0, 1);
    expectRecord(e.contingency()[2], 3, 1, 1, 3);  // pooled: T*K - sums = 8 - 5

    ASSERT_EQ(e.measures().size(), 4u);
    EXPECT_EQ(e.measures()[0].name, "A");
    EXPECT_DOUBLE_EQ(e.measures()[0].recall, 0.5);
    EXPECT_DOUBLE_EQ(e.measures()[0].precision, 1.0);
    EXPECT_DOUBLE_EQ(e.measures()[1].recall, 1.0);
    EXPECT_NEAR(e.measures()[1].precision, 2.0 / 3, 1e-12);
    EXPECT_EQ(e.measures()[2].name, utf8ToGbk("宏平均"));
    EXPECT_DOUBLE_EQ(e.measures()[2].recall, 0.75);
    EXPECT_NEAR(e.measures()[2].precision, 5.0 / 6, 1e-12);
    EXPECT_EQ(e.measures()[3].name, utf8ToGbk("微平均"));
    EXPECT_DOUBLE_EQ(e.measures()[3].recall, 0.75);
    EXPECT_DOUBLE_EQ(e.measures()[3].precision, 0.75);

    EXPECT_NEAR(Evaluation::f1Percent(0.75, 5.0 / 6), 78.947368, 1e-5);
    EXPECT_EQ(Evaluation::f1Percent(0, 0), 0);

    EXPECT_EQ(e.overallReport(),
              "总测试文档数：4\r\n"
              "\r\n微平均查全率：75.00%\r\n微平均查准率：75.00%\r\n"
              "\r\n宏平均查全率：75.00%\r\n宏平均查准率：83.33%");
    EXPECT_EQ(e.categoryReport(1),
              "当前类别：B\r\n"
              "\r\n测试文档数：2\r\n"
              "\r\n查全率：100.00%\r\n查准率：66.67%");
    EXPECT_EQ(e.categoryReport(2), "");
}

// Categories without documents, and categories nothing was assigned to.
TEST(Evaluation, CategoriesOutsideTheMacroAverage) {
    // C gets nothing at all; B has true documents but none assigned.
    const Evaluation e(table({"A", "B", "C"}), {doc(0, 0), doc(1, 0), doc(1, 0)}, 3);
    EXPECT_EQ(e.countedCategories(), 2u);
    EXPECT_DOUBLE_EQ(e.measures()[1].recall, 0.0);
    EXPECT_DOUBLE_EQ(e.measures()[1].precision, 1.0);
    EXPECT_DOUBLE_EQ(e.measures()[2].recall, 0.0);
    EXPECT_DOUBLE_EQ(e.measures()[2].precision, 0.0);
    EXPECT_NE(e.categoryReport(2).find("查全率：0.00%\r\n查准率：0.00%"), std::string::npos);
    EXPECT_NE(e.categoryReport(1).find("查准率：100.00%"), std::string::npos);
    // Macro over A (1, 1/3) and B (0, 1).
    EXPECT_DOUBLE_EQ(e.macroAverage().recall, 0.5);
    EXPECT_NEAR(e.macroAverage().precision, 2.0 / 3, 1e-12);
    expectRecord(e.contingency()[3], 1, 2, 2, 3 * 2 - 5);
}

// No document counted: every average reads 0, nothing is NaN.
TEST(Evaluation, NoCountedDocument) {
    for (const Evaluation& e : {Evaluation(table({"A", "B"}), {}, 0), Evaluation(table({}), {}, 5)}) {
        EXPECT_EQ(e.countedCategories(), 0u);
        EXPECT_EQ(e.macroAverage().recall, 0);
        EXPECT_EQ(e.macroAverage().precision, 0);
        EXPECT_EQ(e.microAverage().recall, 0);
        EXPECT_EQ(e.microAverage().precision, 0);
        EXPECT_EQ(e.contingency().back().d, 0u);
        EXPECT_EQ(e.overallReport().find("nan"), std::string::npos);
        EXPECT_NE(e.overallReport().find("宏平均查全率：0.00%"), std::string::npos);
    }
}

// Unassigned documents (and stray ids) stay out of the matrix and are
// reported on a line of their own; a raw count smaller than the documents
// never wraps d around.
TEST(Evaluation, UncountedDocumentsAndShortTotal) {
    const Evaluation e(table({"A", "B"}),
                       {doc(0, 0), doc(1, RawDocument::kUnassigned), doc(1, 7), doc(-1, 0), doc(1, 1)}, 2);
    EXPECT_EQ(e.confusion(), (std::vector<std::vector<uint32_t>>{{1, 0}, {0, 1}}));
    EXPECT_EQ(e.uncountedDocuments(), 3u);
    EXPECT_NE(e.overallReport().find("\r\n\r\n未分类文档数：3"), std::string::npos);
    expectRecord(e.contingency()[0], 1, 0, 0, 1);

    const Evaluation shortTotal(table({"A", "B"}), {doc(0, 1), doc(0, 1), doc(1, 0)}, 1);
    EXPECT_EQ(shortTotal.contingency()[0].d, 0u);
    EXPECT_EQ(shortTotal.contingency()[2].d, 0u);
    EXPECT_EQ(shortTotal.overallReport().find("未分类"), std::string::npos);
}

// The micro-averaged recall (the accuracy of the classification step's
// outcome line) leaves uncounted documents out and is 0 with none counted.
TEST(Evaluation, MicroRecallCountsOnlyJudgedDocumentsOfKnownCategories) {
    const std::vector<std::pair<std::vector<RawDocument>, double>> corpora = {
        {{}, 0.0},
        {{doc(0, 0), doc(1, RawDocument::kUnassigned), doc(1, 7), doc(-1, 0), doc(1, 1)}, 1.0},
        {{doc(0, 1), doc(0, 0), doc(1, 0), doc(2, 2), doc(2, 1), doc(1, 1), doc(0, 0)}, 4.0 / 7.0},
    };
    for (const auto& [documents, recall] : corpora) {
        const Evaluation e(table({"A", "B", "C"}), documents, static_cast<uint32_t>(documents.size()));
        EXPECT_DOUBLE_EQ(e.microAverage().recall, recall);
    }
}

// GBK category names are shown as UTF-8 in the report.
TEST(Evaluation, GbkNamesInReports) {
    CategoryTable gbk = {{utf8ToGbk("体育"), 0}};
    const Evaluation named(gbk, {doc(0, 0)}, 1);
    EXPECT_EQ(named.categoryReport(0).substr(0, std::string("当前类别：体育\r\n").size()), "当前类别：体育\r\n");
}

}  // namespace
}  // namespace kestrel

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "TestSupport.h"
#include "common/Encoding.h"
#include "common/FileSystem.h"
#include "evaluate/Evaluation.h"
#include "evaluate/WorkbookExport.h"
#include "evaluate/WorkbookReader.h"

namespace kestrel {
namespace {

using Rows = std::vector<std::vector<std::string>>;
using kestrel::testing::succeeded;

// A sheet's rows laid out as a table (rows without cells empty).
Rows dense(const WorkbookSheet& sheet) {
    Rows rows(sheet.rows.empty() ? 0 : sheet.rows.back().index + 1);
    for (const WorkbookRow& row : sheet.rows) rows[row.index] = row.texts();
    return rows;
}

WorkbookSheet sheetOf(const std::string& name, const Rows& rows) {
    WorkbookSheet sheet{name, {}};
    for (uint32_t r = 0; r < rows.size(); ++r) {
        WorkbookRow row{r, {}};
        for (uint32_t c = 0; c < rows[r].size(); ++c)
            if (!rows[r][c].empty()) row.cells.push_back({c, rows[r][c]});
        if (!row.cells.empty()) sheet.rows.push_back(row);
    }
    return sheet;
}

class WorkbookExportTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "kestrel-wb-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern + "/";
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    void writeSettings(bool fsinfo = true, bool params = true) {
        if (fsinfo) {
            ASSERT_TRUE(writeFileAtomically(dir_ + "fsinfo.dat",
                                            "CHI # FSMode\n200 # Old Dimensionality\n50 # New Dimensionality\n"));
        }
        if (params) {
            ASSERT_TRUE(writeFileAtomically(dir_ + "params.dat", "KNN # Classifier\n20 # Neighbor\n0 # Similarity\n"));
        }
    }

    std::vector<WorkbookSheet> readBack() {
        Result<std::vector<WorkbookSheet>> sheets = readWorkbook(workbook());
        EXPECT_TRUE(succeeded(sheets.status()));
        return sheets ? std::move(*sheets) : std::vector<WorkbookSheet>();
    }
    static Rows rowsOf(const std::vector<WorkbookSheet>& sheets, const std::string& name) {
        for (const WorkbookSheet& s : sheets)
            if (s.name == name) return dense(s);
        static const Rows none;
        ADD_FAILURE() << "no sheet " << name;
        return none;
    }
    std::string workbook() const { return dir_ + "分类评价.xlsx"; }

    std::string dir_;
};

// The worked example, with one GBK and one UTF-8 category name.
const CategoryTable kCategories = {{utf8ToGbk("体育"), 0}, {"B", 0}};
const std::vector<RawDocument> kDocs = {{0, 0, "a.txt"}, {0, 1, "b.txt"}, {1, 1, "c.txt"}, {1, 1, "d.txt"}};

const std::vector<std::string> kOverallHeader = {"特征选择", "初始维度", "约简维度", "降维度", "分类算法", "宏平均R",
                                                 "宏平均P", "宏F1值", "微平均R", "微平均P", "微F1值"};
const std::vector<std::string> kOverallRow = {"CHI", "200", "50", "75.00", "KNN", "75.00",
                                              "83.33", "78.95", "75.00", "75.00", "75.00"};

TEST_F(WorkbookExportTest, ExportsAreCumulative) {
    writeSettings();
    const Evaluation e(kCategories, kDocs, 4);
    ASSERT_TRUE(succeeded(exportWorkbook(dir_, e, kCategories)));

    std::vector<WorkbookSheet> sheets = readBack();
    ASSERT_EQ(sheets.size(), 3u);
    EXPECT_EQ(sheets[0].name, "总体");
    EXPECT_EQ(sheets[1].name, "类别");
    EXPECT_EQ(sheets[2].name, "混淆矩阵");
    EXPECT_EQ(dense(sheets[0]), (Rows{kOverallHeader, kOverallRow}));
    EXPECT_EQ(dense(sheets[1]), (Rows{{"体育/R", "体育/P", "B/R", "B/P"}, {"50.00", "100.00", "100.00", "66.67"}}));
    const Rows matrix = {{"\\", "体育", "B"}, {"体育", "1", "1"}, {"B", "0", "2"}};
    EXPECT_EQ(dense(sheets[2]), matrix);

    // A second export appends rows under the same headers.
    ASSERT_TRUE(writeFileAtomically(dir_ + "params.dat", "SVM # Classifier\n1 # Biased Hyperplane\n"));
    ASSERT_TRUE(succeeded(exportWorkbook(dir_, e, kCategories)));
    sheets = readBack();
    ASSERT_EQ(sheets.size(), 3u);
    std::vector<std::string> svmRow = kOverallRow;
    svmRow[4] = "SVM";
    EXPECT_EQ(dense(sheets[0]), (Rows{kOverallHeader, kOverallRow, svmRow}));
    EXPECT_EQ(dense(sheets[1]), (Rows{{"体育/R", "体育/P", "B/R", "B/P"},
                                    {"50.00", "100.00", "100.00", "66.67"},
                                    {"50.00", "100.00", "100.00", "66.67"}}));
    EXPECT_EQ(dense(sheets[2]), (Rows{matrix[0], matrix[1], matrix[2], matrix[1], matrix[2]}));
}

// A run with other categories keeps the old header and adds the new names.
TEST_F(WorkbookExportTest, OtherCategoriesExtendTheHeader) {
    writeSettings();
    const Evaluation first(kCategories, kDocs, 4);
    ASSERT_TRUE(succeeded(exportWorkbook(dir_, first, kCategories)));
    const CategoryTable other = {{"B", 0}, {"C", 0}};
    const Evaluation second(other, {{0, 0, "x.txt"}, {1, 0, "y.txt"}}, 2);
    ASSERT_TRUE(succeeded(exportWorkbook(dir_, second, other)));

    const std::vector<WorkbookSheet> sheets = readBack();
    EXPECT_EQ(rowsOf(sheets, "类别"), (Rows{{"体育/R", "体育/P", "B/R", "B/P", "C/R", "C/P"},
                                           {"50.00", "100.00", "100.00", "66.67"},
                                           {"", "", "100.00", "50.00", "0.00", "100.00"}}));
    EXPECT_EQ(rowsOf(sheets, "混淆矩阵"), (Rows{{"\\", "体育", "B", "C"},
                                              {"体育", "1", "1"},
                                              {"B", "0", "2"},
                                              {"B", "", "1", "0"},
                                              {"C", "", "1", "0"}}));
}

// Without params.dat only the header of 总体 is written; other sheets of an
// existing workbook survive untouched, and the export reports failure.
TEST_F(WorkbookExportTest, MissingSettingsWriteOnlyTheOverallHeader) {
    const Evaluation e(kCategories, kDocs, 4);
    for (const bool fsinfo : {false, true}) {
        std::filesystem::remove(workbook());
        writeSettings(fsinfo, false);
        const Status partial = exportWorkbook(dir_, e, kCategories);
        EXPECT_FALSE(partial.ok());
        EXPECT_NE(partial.message().find(fsinfo ? "params.dat" : "fsinfo.dat"), std::string::npos) << partial.message();
        const std::vector<WorkbookSheet> sheets = readBack();
        ASSERT_EQ(sheets.size(), 1u);
        EXPECT_EQ(dense(sheets[0]), Rows{kOverallHeader});
    }

    // Settings appear: the next export adds its row under the one header.
    writeSettings();
    ASSERT_TRUE(succeeded(exportWorkbook(dir_, e, kCategories)));
    EXPECT_EQ(rowsOf(readBack(), "总体"), (Rows{kOverallHeader, kOverallRow}));
}

// An existing file that is not a readable workbook is never replaced.
TEST_F(WorkbookExportTest, UnreadableWorkbookIsKept) {
    writeSettings();
    ASSERT_TRUE(writeFileAtomically(workbook(), "not a zip file"));
    const Evaluation e(kCategories, kDocs, 4);
    const Status kept = exportWorkbook(dir_, e, kCategories);
    EXPECT_FALSE(kept.ok());
    EXPECT_FALSE(kept.message().empty());
    EXPECT_EQ(readFile(workbook()).valueOr({}), "not a zip file");

    // A workspace that cannot be written to gives a message, not a crash.
    const Status unwritable = exportWorkbook(dir_ + "missing/", e, kCategories);
    EXPECT_FALSE(unwritable.ok());
    EXPECT_FALSE(unwritable.message().empty());
    // No temporary file is left behind by the failed export.
    size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir_)) ++entries;
    EXPECT_EQ(entries, 3u);  // fsinfo.dat, params.dat, the kept workbook
}

// Cells far to the right take no more room than any other: 20,000 rows with
// one cell each in the last column (XFD) read back as 20,000 cells.
TEST_F(WorkbookExportTest, FarAwayCellsAreReadSparsely) {
    WorkbookSheet wide{"总体", {}};
    for (uint32_t r = 0; r < 20000; ++r) wide.rows.push_back({r, {{16383, "x"}}});
    ASSERT_TRUE(succeeded(writeWorkbook(workbook(), {wide})));
    const std::vector<WorkbookSheet> sheets = readBack();
    ASSERT_EQ(sheets.size(), 1u);
    EXPECT_EQ(sheets[0].rows, wide.rows);
    // An export has no column left for its header: refused, the file kept.
    writeSettings();
    const Evaluation e(kCategories, kDocs, 4);
    const Status full = exportWorkbook(dir_, e, kCategories);
    EXPECT_NE(full.message().find("列数超出范围"), std::string::npos) << full.message();
    EXPECT_EQ(readBack()[0].rows.size(), 20000u);
}

TEST(WorkbookSheetMerge, HeaderNamesAreMatchedByName) {
    WorkbookSheet sheet = sheetOf("s", {{"x", "y"}, {"1", "2"}});
    appendToSheet(sheet, {"y", "z", "x"}, {{"3", "4", "5"}, {"", "6"}});
    EXPECT_EQ(dense(sheet), (Rows{{"x", "y", "z"}, {"1", "2"}, {"5", "3", "4"}, {"", "", "6"}}));

    // Repeated names map occurrence by occurrence.
    WorkbookSheet repeated{"r", {}};
    appendToSheet(repeated, {"a", "a"}, {{"1", "2"}});
    appendToSheet(repeated, {"a", "a", "a"}, {{"3", "4", "5"}});
    EXPECT_EQ(dense(repeated), (Rows{{"a", "a", "a"}, {"1", "2"}, {"3", "4", "5"}}));
}

}  // namespace
}  // namespace kestrel

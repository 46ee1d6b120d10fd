#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "FlowTestSupport.h"
#include "app/DialogModels.h"
#include "workspace/WorkspaceFiles.h"
#include "common/FileSystem.h"

namespace kestrel {
namespace {

using testing::TempDir;

TEST(DialogPaths, ChosenFolderGetsExactlyOneSlash) {
    EXPECT_EQ(chosenDirectoryPath("/data/corpus/train"), "/data/corpus/train/");
    EXPECT_EQ(chosenDirectoryPath("/data/corpus/train//"), "/data/corpus/train/");
    EXPECT_EQ(chosenDirectoryPath("/"), "//");
}

TEST(TrainingTextModel, BrowsingCountsAndProposesTheWorkspaceBeside) {
    TempDir dir;
    testing::writeTinyCorpus(dir);
    dir.write("train/A/notes.txt", "x");
    dir.mkdir("train/C");  // an empty category still counts as one

    TrainingTextModel m;
    m.inputFormat = InputFormat::Preprocessed;
    m.chooseTrainingCorpus(dir.path("train"));
    EXPECT_EQ(m.trainingCorpusPath, dir.path("train/"));
    EXPECT_EQ(m.workspacePath, dir.path("model/"));
    EXPECT_EQ(m.categoryCount, 3u);
    EXPECT_EQ(m.docTotal, 6u);
    EXPECT_EQ(m.statusLine, "共3类训练文档,总共6篇");

    m.inputFormat = InputFormat::RawText;  // takes effect at the next browse only
    m.chooseWorkspace(dir.path("elsewhere"));
    EXPECT_EQ(m.workspacePath, dir.path("elsewhere/"));
    EXPECT_EQ(m.docTotal, 6u);
    EXPECT_FALSE(m.accept());
    EXPECT_TRUE(isDirectory(dir.path("elsewhere")));

    m.chooseTrainingCorpus(dir.path("train"));
    EXPECT_EQ(m.docTotal, 1u);
    EXPECT_EQ(m.workspacePath, dir.path("model/"));
}

TEST(TrainingTextModel, RefusalsAndTheLoadCheckBox) {
    TempDir dir;
    testing::writeTinyCorpus(dir);
    TrainingTextModel m;
    auto refusal = m.accept();
    ASSERT_TRUE(refusal);
    EXPECT_EQ(refusal->caption, "训练");
    EXPECT_EQ(refusal->text, "不存在训练文档！");

    m.inputFormat = InputFormat::Preprocessed;
    m.chooseTrainingCorpus(dir.path("train"));
    m.setLoadChecked(true);
    EXPECT_TRUE(m.trainingCorpusPath.empty());
    EXPECT_TRUE(m.workspacePath.empty());
    refusal = m.accept();
    ASSERT_TRUE(refusal);
    EXPECT_EQ(refusal->text, "未指定原始分类模型！");
    m.chooseModelDirectory(dir.path("model"));
    EXPECT_FALSE(m.accept());
    EXPECT_EQ(m.modelDir, dir.path("model/"));

    // Unchecking forgets the model directory, and nothing counted for the
    // cleared corpus edit is left to accept.
    m.setLoadChecked(false);
    EXPECT_FALSE(m.modelDirChosen);
    EXPECT_TRUE(m.modelDir.empty());
    refusal = m.accept();
    ASSERT_TRUE(refusal);
    EXPECT_EQ(refusal->text, "不存在训练文档！");
    m.setLoadChecked(true);
    EXPECT_EQ(m.accept()->text, "未指定原始分类模型！");
}

TEST(RawTextModel, TestAndExampleCountsFollowTheTestBoxAndFormat) {
    TempDir dir;
    testing::writeTinyCorpus(dir);
    RawTextModel m;
    EXPECT_EQ(m.vectorMode, kExampleVectors);
    EXPECT_EQ(m.accept()->text, "不存在原始文档！");
    EXPECT_EQ(m.accept()->caption, "分类");

    m.inputFormat = InputFormat::Preprocessed;
    m.chooseRawCorpus(dir.path("test"));
    EXPECT_EQ(m.docTotal, 0u);  // no documents directly in test/
    // The status line says why: the folder holds category sub-folders.
    EXPECT_EQ(m.statusLine.substr(0, m.statusLine.find('\n')), "共0篇实例文档");
    EXPECT_NE(m.statusLine.find("2个子目录"), std::string::npos);
    EXPECT_EQ(m.accept()->text.substr(0, m.accept()->text.find('\n')), "不存在原始文档！");
    // Ticking the box counts again at once.
    m.toggleTest();
    EXPECT_EQ(m.vectorMode, kTestVectors);
    EXPECT_EQ(m.statusLine, "共2类测试文档,总共4篇");
    EXPECT_FALSE(m.accept());
    // So does the format: there is no *.txt, but the hint names the format.
    m.setInputFormat(InputFormat::RawText);
    EXPECT_EQ(m.docTotal, 0u);
    EXPECT_NE(m.statusLine.find("请选择“预处理文本格式”"), std::string::npos);
    m.setInputFormat(InputFormat::Preprocessed);
    m.toggleTest();
    EXPECT_EQ(m.vectorMode, kExampleVectors);
    m.chooseRawCorpus(dir.path("unlabelled"));
    EXPECT_EQ(m.statusLine, "共2篇实例文档");
}

TEST(CorpusDialogs, ZeroCountsSayWhyAndMismatchedTestFoldersAreRefused) {
    TempDir dir;
    testing::writeTinyCorpus(dir);
    // Documents straight in the chosen folder: each category needs a folder.
    TrainingTextModel t;
    t.inputFormat = InputFormat::Preprocessed;
    t.chooseTrainingCorpus(dir.path("unlabelled"));
    EXPECT_EQ(t.statusLine.substr(0, t.statusLine.find('\n')), "共0类训练文档,总共0篇");
    EXPECT_NE(t.hint.find("每个类别须是所选目录下的一个子目录"), std::string::npos);
    EXPECT_NE(t.hint.find("直接有2篇文档"), std::string::npos);
    EXPECT_EQ(t.accept()->text, "不存在训练文档！\n" + t.hint);
    // The format radio counts again at once.
    t.chooseTrainingCorpus(dir.path("train"));
    EXPECT_EQ(t.docTotal, 6u);
    t.setInputFormat(InputFormat::RawText);
    EXPECT_EQ(t.docTotal, 0u);
    EXPECT_NE(t.statusLine.find("请选择“预处理文本格式”"), std::string::npos);

    // A test corpus must have exactly the training categories' folders.
    RawTextModel r;
    r.trainingCategories = {"A", "B"};
    r.toggleTest();
    r.inputFormat = InputFormat::Preprocessed;
    r.chooseRawCorpus(dir.path("test"));
    EXPECT_FALSE(r.accept());
    dir.write("test/C/c.seg", "x:1\n");
    r.trainingCategories = {"A", "B", "D"};
    r.chooseRawCorpus(dir.path("test"));
    const auto refusal = r.accept();
    ASSERT_TRUE(refusal);
    EXPECT_EQ(refusal->caption, "分类");
    EXPECT_NE(refusal->text.find("缺少的类别子目录：D"), std::string::npos) << refusal->text;
    EXPECT_NE(refusal->text.find("训练文档中没有的子目录：C"), std::string::npos) << refusal->text;
    // An example corpus, or unknown training categories, are not compared.
    r.trainingCategories.clear();
    EXPECT_FALSE(r.accept());
}

TEST(FeatureSelectionModel, DimensionMustBeA32BitCount) {
    FeatureSelectionModel m;
    EXPECT_EQ(m.mode, kChi);
    EXPECT_EQ(m.dimension, 50u);
    EXPECT_FALSE(m.setDimensionText("4294967295"));
    EXPECT_EQ(m.dimension, 4294967295u);
    EXPECT_FALSE(m.setDimensionText("0"));
    EXPECT_EQ(m.dimension, 0u);
    for (const char* bad : {"", "4294967296", "99999999999999999999", "-1", "12a"}) {
        EXPECT_TRUE(m.setDimensionText(bad)) << bad;
        EXPECT_EQ(m.dimension, 0u);
    }
}

TEST(MethodModel, KernelParametersAndK) {
    using E = std::array<bool, 4>;
    EXPECT_EQ(MethodModel::kernelParametersEnabled(0), (E{false, false, false, false}));
    EXPECT_EQ(MethodModel::kernelParametersEnabled(1), (E{true, false, true, true}));
    EXPECT_EQ(MethodModel::kernelParametersEnabled(2), (E{false, true, false, false}));
    EXPECT_EQ(MethodModel::kernelParametersEnabled(3), (E{false, false, true, true}));
    EXPECT_STREQ(MethodModel::kernelNames()[2], "2:径向基核exp(-g||x-t||^2)");
    MethodModel m;
    m.setK(0);
    EXPECT_EQ(m.k, 1);
    m.setK(101);
    EXPECT_EQ(m.k, 100);
}

TEST(MethodModel, NumberEditsAcceptOnlyFiniteDecimals) {
    MethodModel m;
    m.classifier = ClassifierKind::Svm;
    m.kernelType = 2;  // radial basis: g is the one kernel parameter in use
    EXPECT_FALSE(m.setNumberTexts(" 1e-3 ", "+2", "0.5", "-1.5", ".25"));
    EXPECT_DOUBLE_EQ(m.tolerance, 0.001);
    EXPECT_EQ(m.degree, 2);
    EXPECT_DOUBLE_EQ(m.coefC, 0.25);
    for (const char* bad : {"", "nan", "inf", "1e400", "0x10", "1,5", "+-1", "abc"}) {
        EXPECT_EQ(m.setNumberTexts("0.1", "1", bad, "1", "0")->text, "g：请输入一个数字。") << bad;
        EXPECT_DOUBLE_EQ(m.gamma, 0.5);
    }
    EXPECT_EQ(m.setNumberTexts("x", "1", "1", "1", "0")->text, "容忍偏差：请输入一个数字。");
    // Fields the kernel does not use keep their value.
    EXPECT_FALSE(m.setNumberTexts("0.1", "1.5", "1", "?", "0"));
    EXPECT_EQ(m.degree, 2);
    EXPECT_DOUBLE_EQ(m.coefS, -1.5);
    m.kernelType = 1;
    EXPECT_EQ(m.setNumberTexts("0.1", "1.5", "1", "1", "0")->text, "d：请输入一个整数。");
    EXPECT_EQ(m.setNumberTexts("0.1", "99999999999999999999", "1", "1", "0")->text, "d：请输入一个整数。");
    EXPECT_EQ(m.setNumberTexts("0.1", "1", "1", "1", "")->text, "c：请输入一个数字。");
    // KNN uses none of them.
    m.classifier = ClassifierKind::Knn;
    EXPECT_FALSE(m.setNumberTexts("x", "y", "z", "1", "0"));
    EXPECT_EQ(formatNumber(0.001), "0.001");
    EXPECT_EQ(formatNumber(1), "1");
}

TEST(MethodModel, AcceptWritesParamsAndFsInfo) {
    TempDir dir;
    MethodModel m;
    m.workspacePath = dir.dir();
    m.fsInfo = FsInfo{kIg, 300, 50};
    m.classifier = ClassifierKind::Svm;
    m.kernelType = 2;
    m.gamma = 0.5;
    m.biased = false;
    ASSERT_FALSE(m.accept());
    EXPECT_EQ(dir.read("params.dat"),
              "SVM # Classifier\n0 # Biased Hyperplane\n2 # Kernel Type\n0.001000 # Epsion\n"
              "1 # Kernel Parameter -d\n0.500000 # Kernel Parameter -g\n1.000000 # Kernel Parameter -s\n"
              "0.000000 # Kernel Parameter -c\n");
    EXPECT_EQ(dir.read("fsinfo.dat"), "IG # FSMode\n300 # Old Dimensionality\n50 # New Dimensionality\n");

    m.workspacePath = dir.path("missing/");
    const auto failure = m.accept();
    ASSERT_TRUE(failure);
    EXPECT_FALSE(failure->detail.empty());
}

}  // namespace
}  // namespace kestrel

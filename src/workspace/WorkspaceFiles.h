#pragma once
// Readers and writers of the workspace files: classes.txt, features.txt,
// fsinfo.dat, params.dat and result.dat. Writers replace their file
// atomically; readers accept CR LF and LF line ends.
#include <cstdint>
#include <string>
#include <vector>

#include "workspace/ParameterNames.h"
#include "classify/SvmEngine.h"
#include "common/Corpus.h"
#include "common/Status.h"
#include "features/FeatureTable.h"

namespace kestrel {

// File name of the evaluation workbook inside the workspace.
inline constexpr const char* kEvaluationWorkbookName = "分类评价.xlsx";

// The selection summary of fsinfo.dat.
struct FsInfo {
    int mode = kChi;                 // SelectionMode
    uint32_t oldDimensionality = 0;  // candidate features of the index
    uint32_t newDimensionality = 0;  // selected features
};

// The classifier choice of params.dat.
struct ClassifierParams {
    ClassifierKind classifier = ClassifierKind::Knn;
    uint32_t k = 20;  // KNN neighbours
    Similarity similarity = Similarity::Cosine;
    SvmSettings svm;
};

// "CHI", "IG", "MI" or "RS" for modes 0..3.
const char* selectionModeName(int mode);
// Mode of a fsinfo.dat token: exactly "CHI" 0, "IG" 1, "MI" 2, anything else 3.
int selectionModeFromName(const std::string& token);

std::string classesText(const CategoryTable& categories);
// features.txt: one "id word idf" line per feature in id order, the idf with
// six decimals and the word byte for byte, whatever it holds.
std::string featuresText(const FeatureTable& features);
std::string fsInfoText(const FsInfo& info);
std::string paramsText(const ClassifierParams& params);
std::string resultsText(const std::vector<RawDocument>& documents);

// Each reader fails with a message naming the file when it cannot be
// opened. classes.txt, features.txt and fsinfo.dat read malformed lines as
// the workspace readers always read them (leading numbers, 0 without
// digits); params.dat is checked: a classifier other than KNN or SVM, a
// missing or non-numeric value or one out of range fails with a message
// naming the file and line. In features.txt ("id word idf") the word is
// everything between the first and the last space, so words with spaces
// read back whole.
Result<CategoryTable> readClasses(const std::string& path);
Result<FeatureTable> readFeatures(const std::string& path);
// modeWord (if given) receives the first token of the mode line as written.
Result<FsInfo> readFsInfo(const std::string& path, std::string* modeWord = nullptr);
// classifierWord (if given) receives the first token of the first line, even
// when the rest is refused. KNN needs k >= 1 and a similarity code 0..2; SVM
// a bias flag 0 or 1, a kernel code 0..3 and numbers on the other lines.
Result<ClassifierParams> readParams(const std::string& path, std::string* classifierWord = nullptr);

// Checks that every label of a vector file names a category of classes.txt
// (1 .. categoryCount); fails with a message naming the file and line of the
// first that does not. Lines without a numeric label are left to the
// classifiers' own checks.
Status checkVectorLabels(const std::string& path, size_t categoryCount);

// Only the classifier word of params.dat (its first token), as the workbook
// export shows it.
Result<std::string> readClassifierWord(const std::string& path);

Status writeFeatures(const std::string& path, const FeatureTable& features);
Status writeFsInfo(const std::string& path, const FsInfo& info);
Status writeParams(const std::string& path, const ClassifierParams& params);
// params.dat, then fsinfo.dat, in the directory `dir` (with '/'): the
// classifier's parameters and the selection they go with.
Status writeClassifierSettings(const std::string& dir, const ClassifierParams& params, const FsInfo& info);

}  // namespace kestrel

#pragma once
// Readers and writers of the workspace files: classes.txt, features.txt,
// fsinfo.dat, params.dat and result.dat. Writers replace their file
// atomically; readers accept CR LF and LF line ends.
#include <cstdint>
#include <string>
#include <vector>

#include "app/Corpus.h"
#include "classify/SvmEngine.h"
#include "features/FeatureTable.h"

namespace kestrel {

// The selection summary of fsinfo.dat.
struct FsInfo {
    int mode = kChi;                 // SelectionMode
    uint32_t oldDimensionality = 0;  // candidate features of the index
    uint32_t newDimensionality = 0;  // selected features
};

// The classifier choice of params.dat.
struct ClassifierParams {
    int classifier = 0;      // 0 KNN, 1 SVM
    uint32_t k = 20;         // KNN neighbours
    uint32_t similarity = 0; // 0 cosine, 1 Manhattan, 2 Euclidean
    SvmSettings svm;
};

// "CHI", "IG", "MI" or "RS" for modes 0..3.
const char* selectionModeName(int mode);
// Mode of a fsinfo.dat token: exactly "CHI" 0, "IG" 1, "MI" 2, anything else 3.
int selectionModeFromName(const std::string& token);

std::string classesText(const CategoryTable& categories);
std::string fsInfoText(const FsInfo& info);
std::string paramsText(const ClassifierParams& params);
std::string resultsText(const std::vector<RawDocument>& documents);

// Each reader returns false with a message naming the file when it cannot be
// opened; malformed lines read as the workspace readers always read them
// (leading numbers, 0 without digits) and never fail the load.
bool readClasses(const std::string& path, CategoryTable& categories, std::string* error = nullptr);
bool readFeatures(const std::string& path, FeatureTable& features, std::string* error = nullptr);
// modeWord (if given) receives the first token of the mode line as written.
bool readFsInfo(const std::string& path, FsInfo& info, std::string* error = nullptr, std::string* modeWord = nullptr);
// classifierWord (if given) receives the first token of the first line.
bool readParams(const std::string& path, ClassifierParams& params, std::string* error = nullptr,
                std::string* classifierWord = nullptr);

bool writeFsInfo(const std::string& path, const FsInfo& info, std::string* error = nullptr);
bool writeParams(const std::string& path, const ClassifierParams& params, std::string* error = nullptr);

}  // namespace kestrel

#pragma once
// The enumerations of a run's parameters, each with the one table of words
// its values go by. The command line's options, the experiment grid's names
// and the dialogs read these tables, so every front-end accepts the same
// words for the same value. The numeric values are the codes params.dat and
// fsinfo.dat store; a parser accepts a value's words and its code alike.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "classify/Similarity.h"
#include "common/Corpus.h"

namespace kestrel {

enum class ClassifierKind { Knn = 0, Svm = 1 };

// SVM kernels by their params.dat code.
enum KernelCode : int { kLinearKernel = 0, kPolynomialKernel = 1, kRadialKernel = 2, kSigmoidKernel = 3 };

// Every word (and code) an option accepts for a value, in the order the
// help lists them.
template <class T>
using ChoiceWords = std::vector<std::pair<std::string, T>>;

// "knn" or "svm".
const char* classifierName(ClassifierKind kind);
std::optional<ClassifierKind> parseClassifier(std::string_view word);
const ChoiceWords<ClassifierKind>& classifierChoices();

// "cosine", "manhattan" or "euclidean".
const char* similarityName(Similarity similarity);
std::optional<Similarity> parseSimilarity(std::string_view word);
const ChoiceWords<Similarity>& similarityChoices();

// "linear", "poly", "rbf" or "sigmoid" ("polynomial" is read as "poly").
const char* kernelName(int code);
// The dialog's caption of a kernel: its code, name and formula.
const char* kernelCaption(int code);
std::optional<int> parseKernel(std::string_view word);
const ChoiceWords<int>& kernelChoices();

// "chi", "ig", "mi" or "rs" (SelectionMode).
const char* selectionName(int mode);
std::optional<int> parseSelection(std::string_view word);
const ChoiceWords<int>& selectionChoices();

// "txt" or "seg" (the words of inputFormatName).
const ChoiceWords<InputFormat>& inputFormatChoices();

}  // namespace kestrel

#include "workspace/ParameterNames.h"

#include "common/Corpus.h"

namespace kestrel {

namespace {

// One value's words: the first is its name, the others are read as it too.
template <class T>
struct NamedValue {
    T value;
    std::vector<const char*> words;
};

template <class T>
using NameTable = std::vector<NamedValue<T>>;

const NameTable<ClassifierKind>& classifierTable() {
    static const NameTable<ClassifierKind> table = {{ClassifierKind::Knn, {"knn"}}, {ClassifierKind::Svm, {"svm"}}};
    return table;
}

const NameTable<Similarity>& similarityTable() {
    static const NameTable<Similarity> table = {{Similarity::Cosine, {"cosine"}},
                                                {Similarity::Manhattan, {"manhattan"}},
                                                {Similarity::Euclidean, {"euclidean"}}};
    return table;
}

const NameTable<int>& kernelTable() {
    static const NameTable<int> table = {{kLinearKernel, {"linear"}},
                                         {kPolynomialKernel, {"poly", "polynomial"}},
                                         {kRadialKernel, {"rbf"}},
                                         {kSigmoidKernel, {"sigmoid"}}};
    return table;
}

const NameTable<int>& selectionTable() {
    static const NameTable<int> table = {{kChi, {"chi"}}, {kIg, {"ig"}}, {kMi, {"mi"}}, {kRs, {"rs"}}};
    return table;
}

template <class T>
int codeOf(T value) {
    return static_cast<int>(value);
}

// The name of `value`; the first value's name for a value not in the table.
template <class T>
const char* nameIn(const NameTable<T>& table, T value) {
    for (const auto& entry : table)
        if (entry.value == value) return entry.words.front();
    return table.front().words.front();
}

// Every word of the table, then every code as a number.
template <class T>
ChoiceWords<T> choicesOf(const NameTable<T>& table) {
    ChoiceWords<T> choices;
    for (const auto& entry : table)
        for (const char* word : entry.words) choices.emplace_back(word, entry.value);
    for (const auto& entry : table) choices.emplace_back(std::to_string(codeOf(entry.value)), entry.value);
    return choices;
}

// The choices of a table, made once (one list per table).
template <class T, const NameTable<T>& (*Table)()>
const ChoiceWords<T>& cachedChoices() {
    static const ChoiceWords<T> choices = choicesOf(Table());
    return choices;
}

template <class T>
std::optional<T> parseIn(const ChoiceWords<T>& choices, std::string_view word) {
    for (const auto& [text, value] : choices)
        if (text == word) return value;
    return std::nullopt;
}

}  // namespace

const char* classifierName(ClassifierKind kind) { return nameIn(classifierTable(), kind); }

const ChoiceWords<ClassifierKind>& classifierChoices() { return cachedChoices<ClassifierKind, classifierTable>(); }

std::optional<ClassifierKind> parseClassifier(std::string_view word) { return parseIn(classifierChoices(), word); }

const char* similarityName(Similarity similarity) { return nameIn(similarityTable(), similarity); }

const ChoiceWords<Similarity>& similarityChoices() { return cachedChoices<Similarity, similarityTable>(); }

std::optional<Similarity> parseSimilarity(std::string_view word) { return parseIn(similarityChoices(), word); }

const char* kernelName(int code) { return nameIn(kernelTable(), code); }

const char* kernelCaption(int code) {
    static const char* const captions[] = {"0:线性核", "1:多项式核(s(x*y)+c)^d", "2:径向基核exp(-g||x-t||^2)",
                                           "3:S形核tanh(s(x*y)+c)"};
    return code >= 0 && code < 4 ? captions[code] : captions[0];
}

const ChoiceWords<int>& kernelChoices() { return cachedChoices<int, kernelTable>(); }

std::optional<int> parseKernel(std::string_view word) { return parseIn(kernelChoices(), word); }

const char* selectionName(int mode) { return nameIn(selectionTable(), mode); }

const ChoiceWords<int>& selectionChoices() { return cachedChoices<int, selectionTable>(); }

std::optional<int> parseSelection(std::string_view word) { return parseIn(selectionChoices(), word); }

const ChoiceWords<InputFormat>& inputFormatChoices() {
    static const ChoiceWords<InputFormat> choices = {{inputFormatName(InputFormat::RawText), InputFormat::RawText},
                                                     {inputFormatName(InputFormat::Preprocessed),
                                                      InputFormat::Preprocessed}};
    return choices;
}

}  // namespace kestrel

#pragma once
// What the four step dialogs hold, independent of any window toolkit: their
// defaults, the counting of categories and documents in a chosen folder, the
// checks on OK and, for the classification method, the writing of params.dat
// and fsinfo.dat. The dialogs only move values between these models and
// their controls. Every text here is UTF-8.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "workspace/WorkspaceFiles.h"
#include "common/Corpus.h"

namespace kestrel {

// A message box's caption, text and (optional) detail text, all UTF-8.
struct StepMessage {
    std::string caption;
    std::string text;
    std::string detail;
};

// A folder as returned by a folder browser, with exactly one '/' appended
// (trailing separators of the folder itself are dropped first, except for
// the root, which therefore becomes "//").
std::string chosenDirectoryPath(std::string folder);

// Training text: the training corpus and workspace, or an existing
// classifier to load.
struct TrainingTextModel {
    std::string trainingCorpusPath;  // ends with '/' once chosen
    std::string workspacePath;       // ends with '/' once chosen
    InputFormat inputFormat = InputFormat::RawText;
    std::string statusLine;
    bool loadChecked = false;
    bool modelDirChosen = false;
    std::string modelDir;
    uint32_t categoryCount = 0;
    uint32_t docTotal = 0;
    // Why the counts are 0 (no category sub-folders, documents of the other
    // format), shown under the status line and with the refusal; empty when
    // there are documents.
    std::string hint;

    // A folder was chosen for the training corpus: sets the corpus path,
    // proposes "model" beside it as the workspace and counts the documents
    // with the current input format.
    void chooseTrainingCorpus(const std::string& folder);
    // A folder was chosen for the workspace; the counts stay.
    void chooseWorkspace(const std::string& folder);
    void chooseModelDirectory(const std::string& folder);
    // The load check box changed. Checking it forgets the corpus, workspace
    // and counts (their edits are cleared); unchecking it forgets the model
    // directory.
    void setLoadChecked(bool checked);
    // The format radio changed: a chosen corpus is counted again at once.
    void setInputFormat(InputFormat format);
    // Counts categories (sub-directories) and their documents and sets the
    // status line.
    void count();
    // The checks of OK; on success creates the workspace directory (one
    // level; a failure shows later when the first file is written).
    std::optional<StepMessage> accept();
};

// Raw text: the corpus to classify, labelled (test) or not (example).
struct RawTextModel {
    std::string rawCorpusPath;
    bool testChecked = false;
    int vectorMode = kExampleVectors;
    InputFormat inputFormat = InputFormat::RawText;
    std::string statusLine;
    uint32_t categoryCount = 0;
    uint32_t docTotal = 0;
    std::string hint;  // as in TrainingTextModel
    // The training categories when they are known (after preprocessing or
    // a load): a test corpus must have a sub-folder of the same name for
    // each of them and no other.
    std::vector<std::string> trainingCategories;

    void chooseRawCorpus(const std::string& folder);
    // The "测试" check box flips; a chosen corpus is counted again at once,
    // as test or example corpus.
    void toggleTest();
    void setInputFormat(InputFormat format);
    void count();
    std::optional<StepMessage> accept() const;
};

// Feature selection: method and number of features.
struct FeatureSelectionModel {
    int mode = kChi;
    uint32_t dimension = 50;

    // Reads the digits of the dimension edit; refuses an empty or
    // out-of-range number.
    std::optional<StepMessage> setDimensionText(std::string_view text);
};

// Classification method: KNN or SVM with their parameters.
struct MethodModel {
    Similarity similarity = Similarity::Cosine;
    int k = 20;  // 1..100
    ClassifierKind classifier = ClassifierKind::Knn;
    bool biased = true;
    double tolerance = 0.001;
    int kernelType = 0;
    long degree = 1;
    double gamma = 1.0;
    double coefS = 1.0;
    double coefC = 0.0;
    std::string workspacePath;  // copied from the controller when opened
    FsInfo fsInfo;              // the controller's selection state

    static constexpr int kMinK = 1;
    static constexpr int kMaxK = 100;

    // The drop-down list's entries, in kernel-type order.
    static const std::array<const char*, 4>& kernelNames();
    // Which of the edits d, g, s, c a kernel type uses.
    static std::array<bool, 4> kernelParametersEnabled(int kernelType);

    void setK(int value);  // clamped to 1..100
    // Reads the texts of the five number edits; refuses, naming the field,
    // what is not a (finite) number in a field the chosen classifier and
    // kernel use, leaving the model unchanged. A field not in use keeps its
    // value when its text is not a number.
    std::optional<StepMessage> setNumberTexts(std::string_view toleranceText, std::string_view degreeText,
                                              std::string_view gammaText, std::string_view sText,
                                              std::string_view cText);
    ClassifierParams params() const;
    // Writes params.dat and fsinfo.dat into the workspace. A message when
    // either cannot be written (the dialog then stays open).
    std::optional<StepMessage> accept() const;
};

// How the number edits show their values ("0.001", "1", "0").
std::string formatNumber(double value);
// Parses a decimal real ("1", "-0.5", "1e-3"; blanks around allowed).
std::optional<double> parseReal(std::string_view text);
// Parses a decimal integer (sign allowed; blanks around allowed).
std::optional<long> parseInteger(std::string_view text);

}  // namespace kestrel

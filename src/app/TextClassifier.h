#pragma once
// The pipeline controller: owns every piece of state of a classification run
// (paths, category table, candidate index, feature table, raw documents, the
// two classifiers) and runs one operation per pipeline step.
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "workspace/WorkspaceFiles.h"
#include "classify/KnnClassifier.h"
#include "classify/SvmEngine.h"
#include "common/Corpus.h"
#include "features/FeatureTable.h"
#include "features/RoughSetReduction.h"
#include "features/TermIndex.h"
#include "features/DocumentVectors.h"
#include "features/SegmentedCorpus.h"
#include "features/VectorFile.h"
#include "pipeline/Preprocess.h"
#include "pipeline/Vectorise.h"
#include "common/FileIdentity.h"
#include "common/Status.h"

namespace kestrel {

class DocumentSegmenter;
class ProgressSink;
class WorkspaceTransaction;

// What a preprocessing run did, for the person who started it.
struct PreprocessReport {
    uint32_t documents = 0;                // documents found
    uint32_t failed = 0;                   // documents reported and skipped
    std::vector<std::string> failures;     // one message per failed document
};

class TextClassifier {
public:
    TextClassifier();
    ~TextClassifier();
    TextClassifier(const TextClassifier&) = delete;
    TextClassifier& operator=(const TextClassifier&) = delete;

    // Fields set directly by the step flow. Directory paths end with '/'.
    std::string trainingCorpusPath;
    std::string rawCorpusPath;
    std::string workspacePath;
    uint32_t trainingDocCount = 0;   // N of the idf
    uint32_t categoryCount = 0;
    InputFormat trainingFormat = InputFormat::RawText;  // of the training corpus
    InputFormat rawFormat = InputFormat::RawText;       // of the corpus to classify
    int selectionMode = kChi;        // SelectionMode
    uint32_t newDimensionality = 0;  // requested, then clipped, number of features
    int vectorMode = kTrainingVectors;
    uint32_t rawDocCount = 0;
    // Directory the segmenter's "data" directory is looked up in (the
    // process's start-up directory).
    std::string startupDirectory;
    // Threads used by preprocessing and KNN (0: every core).
    unsigned threads = 0;
    // Bytes of the training corpus's term lists the index keeps in memory
    // for the later stages; the rest waits in a temporary file in the
    // workspace.
    size_t termListMemoryLimit = SegmentedCorpus::kDefaultMemoryLimit;
    // The listings of the training corpus and of the corpus to classify,
    // when the driver has made them already (to count the documents):
    // preprocessing uses a listing of its corpus and format instead of
    // listing the directories again.
    std::shared_ptr<const CorpusListing> trainingListing;
    std::shared_ptr<const CorpusListing> rawListing;

    // --- pipeline operations -------------------------------------------
    // Each takes an optional progress sink (progress is reported on the
    // calling thread; cancelled() may be asked from worker threads).

    // Rebuilds the category table from the training corpus, writes
    // classes.txt and turns every document into its .seg file (raw text) or
    // counts the .seg files (preprocessed). Fails when the segmenter cannot
    // be loaded, classes.txt cannot be written or no document is left;
    // documents that fail are reported in preprocessReport() and skipped.
    Status preprocessTraining(ProgressSink* sink = nullptr);
    // The same for the raw corpus; rebuilds the raw-document list.
    Status preprocessRaw(ProgressSink* sink = nullptr);
    // Fails when the workspace lies inside the training corpus, where its
    // directory would be listed as a category.
    Status workspaceOutsideTrainingCorpus();
    // Builds the candidate index from the training .seg files. Fails only
    // when cancelled; there is then no index (nothing of a partial one).
    Status buildIndex(ProgressSink* sink = nullptr);
    // Selects newDimensionality features by selectionMode and writes
    // features.txt. Fails when features.txt cannot be written or the step was
    // cancelled (the feature table and features.txt are then unchanged).
    Status selectFeatures(ProgressSink* sink = nullptr);
    // Writes train.dat, test.dat or example.dat by vectorMode.
    Status writeVectors(ProgressSink* sink = nullptr);
    // Loads classes.txt, features.txt, fsinfo.dat from workspacePath and
    // checks train.dat. Fails at the first file that cannot be read.
    Status loadClassifier();
    // Classifies the raw documents with the method of params.dat. Fails when
    // nothing could be classified (no params.dat, no vectors, no engine);
    // partial failures (an SVM category that could not be trained) are in
    // warnings().
    Status classify(ProgressSink* sink = nullptr);
    // Writes result.dat. Fails when it cannot be written.
    Status writeResults();

    // --- workspace updates ---------------------------------------------
    // A run that writes several workspace files opens an update first: it
    // locks the workspace (failing at once when another run holds it) and
    // from then on the operations read and write the workspace files in a
    // staging directory, until commitUpdate makes all of them visible
    // together and records them in the workspace's manifest. The lock stays
    // until endUpdates (or destruction), so the run may commit more than
    // once. An operation called outside an update runs as an update of its
    // own and releases the lock when done.
    Status beginUpdate(const std::string& run);
    Status commitUpdate();
    void endUpdates();  // discards an uncommitted update and unlocks
    // Where the workspace files are read and written now: the staging
    // directory during an update, else workspacePath.
    std::string workDirectory() const;

    // --- state for the windows -----------------------------------------
    const CategoryTable& categories() const { return categories_; }
    const std::vector<RawDocument>& rawDocuments() const { return rawDocuments_; }
    const TermIndex& termIndex() const { return termIndex_; }
    const FeatureTable& featureTable() const { return featureTable_; }
    uint32_t oldDimensionality() const { return oldDimensionality_; }
    // Features in the rough-set reduct of the last rough-set selection.
    uint32_t reductSize() const { return roughSet_.reductSize(); }
    ClassifierKind classifierKind() const { return classifier_; }
    const std::vector<std::vector<double>>& decisionValues() const { return decisionValues_; }
    // The three lines of fsinfo.dat for the current selection state.
    FsInfo fsInfo() const;
    KnnClassifier& knn() { return knn_; }

    // The non-fatal problems of the last operation (unreadable files,
    // skipped documents, categories that could not be trained).
    const std::vector<std::string>& warnings() const { return warnings_; }
    const PreprocessReport& preprocessReport() const { return preprocessReport_; }

    // The segmenter and the SVM engine of this build, replaceable for tests.
    void setSegmenter(std::unique_ptr<DocumentSegmenter> segmenter);
    void setSvmEngine(std::unique_ptr<SvmEngine> engine);

private:
    class OperationUpdate;
    // Checks workspace files against the manifest.
    Status verifyWorkspaceFiles(std::initializer_list<std::string> names);
    // The category table from the corpus's sub-directories, written to
    // classes.txt.
    Status writeCategories(const std::vector<std::string>& names);
    // Segments the documents (raw text) on every core into their .seg files
    // and releases the segmenter; ok[n] says whether document n has its .seg.
    Status preprocessDocuments(const std::vector<ListedDocument>& documents, InputFormat format, std::vector<bool>& ok,
                               ProgressSink* sink);
    Status loadSegmenter();
    void releaseSegmenter();
    Status classifyKnn(ProgressSink* sink);
    Status trainSvmModels(ProgressSink* sink);
    Status classifySvm(ProgressSink* sink);
    void addWarningOnce(const std::string& note);
    std::string currentVectorFile() const;
    // The documents of the vector file of vectorMode, in line order.
    std::vector<VectorSource> vectorSources();
    // The training corpus as the index read it, while it is the corpus of
    // the training paths and holds its terms.
    const SegmentedCorpus* heldTrainingCorpus() const;
    // The documents to classify: the vectors writeVectors kept when they are
    // still those of the vector file, else the file read into `read`
    // (`note` then tells of lines that are no vectors); a failure when the
    // file cannot be read.
    Result<const std::vector<DocumentVector>*> vectorsToClassify(VectorSet& read, std::string& note);
    // The vectors writeVectors kept, while they are still those of the
    // vector file; null otherwise.
    const std::vector<DocumentVector>* heldVectorsToClassify() const;
    void beginOperation();

    CategoryTable categories_;
    ClassifierKind classifier_ = ClassifierKind::Knn;
    uint32_t oldDimensionality_ = 0;
    std::vector<RawDocument> rawDocuments_;
    KnnClassifier knn_;
    SvmSettings svmSettings_;
    std::unique_ptr<SvmEngine> svm_;
    RoughSetReduction roughSet_;
    TermIndex termIndex_;
    FeatureTable featureTable_;
    std::vector<std::vector<double>> decisionValues_;
    std::unique_ptr<DocumentSegmenter> segmenter_;
    bool segmenterLoaded_ = false;
    std::vector<std::string> warnings_;
    PreprocessReport preprocessReport_;
    std::unique_ptr<WorkspaceTransaction> update_;
    // The vectors of the corpus to classify as writeVectors wrote them, kept
    // up to VectoriseResult::kHeldVectorEntries entries; a larger corpus is
    // read back from its file.
    std::shared_ptr<const VectorSet> heldVectors_;
    // The training corpus read by the index, for the training vectors, with
    // the corpus path and category count it was read for.
    std::unique_ptr<SegmentedCorpus> trainingCorpus_;
    std::pair<std::string, uint32_t> trainingCorpusKey_;
    // The training documents preprocessing left (each with its .seg file),
    // with the corpus path and category count they were listed for.
    std::vector<CorpusDocument> trainingDocuments_;
    std::pair<std::string, uint32_t> trainingDocumentsKey_;
    // The documents of rawDocuments_, as listed.
    std::vector<ListedDocument> rawListed_;
    std::string heldVectorsFile_;
    FileIdentity heldVectorsIdentity_;
};

}  // namespace kestrel

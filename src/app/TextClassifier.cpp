#include "app/TextClassifier.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <filesystem>
#include <mutex>
#include <unordered_map>

#include <fmt/format.h>

#include "workspace/VectorProvenance.h"
#include "workspace/WorkspaceTransaction.h"
#include "common/Encoding.h"
#include "common/FileSystem.h"
#include "common/ParallelFor.h"
#include "common/Progress.h"
#include "features/DocumentVectors.h"
#include "features/VectorFile.h"
#include "features/FeatureIndex.h"
#include "features/FeatureSelection.h"
#include "features/SegmentedCorpus.h"
#include "pipeline/Preprocess.h"
#include "pipeline/Vectorise.h"
#include "segment/DocumentSegmenter.h"

namespace kestrel {

namespace {

bool isCancelled(ProgressSink* sink) { return sink && sink->cancelled(); }

}  // namespace

// Runs one operation inside the open update, or inside one of its own that is
// committed when the operation succeeds and discarded otherwise.
class TextClassifier::OperationUpdate {
public:
    OperationUpdate(TextClassifier& controller, const char* run)
        : controller_(controller), hadTransaction_(controller.update_ != nullptr) {
        own_ = !(controller.update_ && controller.update_->isOpen());
        if (own_) ready_ = controller.beginUpdate(run);
    }
    ~OperationUpdate() { end(); }
    OperationUpdate(const OperationUpdate&) = delete;
    OperationUpdate& operator=(const OperationUpdate&) = delete;
    // Whether the update could be opened, and if not, why.
    const Status& ready() const { return ready_; }
    // The operation succeeded: its own update is committed.
    Status finish() {
        const Status committed = own_ ? controller_.commitUpdate() : Status();
        end();
        return committed;
    }

private:
    void end() {
        if (!own_) return;
        own_ = false;
        if (!hadTransaction_) controller_.update_.reset();
        else if (controller_.update_) controller_.update_->abandon();
    }
    TextClassifier& controller_;
    bool hadTransaction_;
    bool own_ = false;
    Status ready_;
};

TextClassifier::TextClassifier() : svm_(makeSvmEngine()), segmenter_(makeDocumentSegmenter()) {}

TextClassifier::~TextClassifier() { releaseSegmenter(); }

void TextClassifier::setSegmenter(std::unique_ptr<DocumentSegmenter> segmenter) {
    releaseSegmenter();
    segmenter_ = std::move(segmenter);
}

void TextClassifier::setSvmEngine(std::unique_ptr<SvmEngine> engine) { svm_ = std::move(engine); }

Status TextClassifier::beginUpdate(const std::string& run) {
    if (!update_ || update_->workspace() != withTrailingSlash(workspacePath))
        update_ = std::make_unique<WorkspaceTransaction>(workspacePath);
    return update_->begin(run);
}

Status TextClassifier::commitUpdate() {
    if (!update_) return Status();
    return update_->commit();
}

void TextClassifier::endUpdates() { update_.reset(); }

std::string TextClassifier::workDirectory() const {
    return update_ && update_->isOpen() ? update_->directory() : workspacePath;
}

Status TextClassifier::verifyWorkspaceFiles(std::initializer_list<std::string> names) {
    if (!update_) return Status();
    for (const auto& name : names)
        if (Status verified = update_->verify(name); !verified) return verified;
    return Status();
}

void TextClassifier::beginOperation() {
    warnings_.clear();
}

FsInfo TextClassifier::fsInfo() const { return FsInfo{selectionMode, oldDimensionality_, newDimensionality}; }

Status TextClassifier::workspaceOutsideTrainingCorpus() {
    if (!isInsideDirectory(workspacePath, trainingCorpusPath)) return Status();
    return Status::failure("the workspace " + workspacePath + " lies inside the training corpus " +
                           trainingCorpusPath +
                           ", where it would be taken for a category; choose a workspace outside the corpus");
}

Status TextClassifier::writeCategories(const std::vector<std::string>& names) {
    for (const auto& name : names) {
        if (!fitsOnALine(name)) {
            categories_.clear();
            return Status::failure("the category directory \"" + displayPath(name) + "\" in " +
                                   displayPath(trainingCorpusPath) +
                                   " has a line break or control character in its name, which classes.txt cannot "
                                   "hold; rename it");
        }
        categories_.push_back({name, 0});
    }
    return writeFileAtomically(workDirectory() + "classes.txt", classesText(categories_));
}

Status TextClassifier::loadSegmenter() {
    if (!segmenter_)
        return Status::failure(
            "no word segmenter is built into this program, so raw text (*.txt) cannot be preprocessed");
    if (Status loaded = segmenter_->loadData(startupDirectory); !loaded) return loaded;
    segmenterLoaded_ = true;
    // Any non-zero value turns unknown-word recognition on.
    segmenter_->setUnknownWordSwitch(2);
    return Status();
}

void TextClassifier::releaseSegmenter() {
    if (segmenter_ && segmenterLoaded_) segmenter_->releaseData();
    segmenterLoaded_ = false;
}


Status TextClassifier::preprocessDocuments(const std::vector<ListedDocument>& documents, InputFormat format,
                                           std::vector<bool>& ok, ProgressSink* sink) {
    preprocessReport_.documents = static_cast<uint32_t>(documents.size());
    ok.assign(documents.size(), true);
    if (format != InputFormat::RawText) {
        // Segmented documents are used as they are.
        releaseSegmenter();
        if (isCancelled(sink)) return Status::failure("preprocessing cancelled");
        return Status();
    }
    const SegmentationOutcome outcome = segmentDocuments(*segmenter_, documents, threads, sink);
    releaseSegmenter();
    for (size_t i = 0; i < documents.size(); ++i) {
        ok[i] = outcome.ok[i];
        if (!outcome.errors[i].empty()) {
            ++preprocessReport_.failed;
            preprocessReport_.failures.push_back(outcome.errors[i]);
            warnings_.push_back(outcome.errors[i]);
        }
        if (!outcome.notes[i].empty()) warnings_.push_back(outcome.notes[i]);
    }
    return outcome.finished ? Status() : Status::failure("preprocessing cancelled");
}


Status TextClassifier::preprocessTraining(ProgressSink* sink) {
    beginOperation();
    preprocessReport_ = {};
    categories_.clear();
    termIndex_.clear();
    trainingCorpus_.reset();
    trainingDocuments_.clear();
    trainingDocumentsKey_ = {};
    if (Status outside = workspaceOutsideTrainingCorpus(); !outside) return outside;
    OperationUpdate update(*this, "preprocess");
    if (!update.ready()) return update.ready();
    if (!isDirectory(trainingCorpusPath)) {
        return Status::failure("the training corpus directory " + trainingCorpusPath +
                               " does not exist or cannot be read");
    }
    const auto listing = categorisedListing(trainingListing, trainingCorpusPath, trainingFormat, categoryCount);
    if (!listing) return listing.status();
    const CorpusListing& listed = **listing;
    if (Status written = writeCategories(listed.categories); !written) return written;
    warnings_.insert(warnings_.end(), listed.warnings.begin(), listed.warnings.end());
    if (trainingFormat == InputFormat::RawText)
        if (Status loaded = loadSegmenter(); !loaded) return loaded;

    std::vector<ListedDocument> documents;
    for (const ListedDocument& doc : listed.documents)
        if (static_cast<uint32_t>(doc.category) < categoryCount) documents.push_back(doc);
    std::vector<bool> ok;
    if (Status done = preprocessDocuments(documents, trainingFormat, ok, sink); !done) return done;
    // Documents that could not be segmented have no .seg file and so are
    // not training documents.
    uint32_t total = 0;
    for (size_t n = 0; n < documents.size(); ++n) {
        if (!ok[n]) continue;
        ++categories_[static_cast<size_t>(documents[n].category)].docCount;
        trainingDocuments_.push_back({static_cast<uint32_t>(documents[n].category), documents[n].segPath()});
        ++total;
    }
    trainingDocumentsKey_ = {trainingCorpusPath, categoryCount};
    trainingDocCount = total;
    if (total == 0) {
        return Status::failure(documents.empty()
                                   ? "the training corpus " + trainingCorpusPath + " holds no documents"
                                   : fmt::format("none of the {} documents could be preprocessed", documents.size()));
    }
    return update.finish();
}

Status TextClassifier::preprocessRaw(ProgressSink* sink) {
    beginOperation();
    preprocessReport_ = {};
    decisionValues_.clear();
    rawDocuments_.clear();
    rawListed_.clear();
    if (!isDirectory(rawCorpusPath)) {
        return Status::failure("the raw corpus directory " + rawCorpusPath + " does not exist or cannot be read");
    }
    if (rawFormat == InputFormat::RawText)
        if (Status loaded = loadSegmenter(); !loaded) return loaded;

    std::vector<ListedDocument> documents;
    if (vectorMode == kTestVectors || vectorMode == kExampleVectors)
        documents = documentsToClassify(rawListing.get(), rawCorpusPath, rawFormat, vectorMode == kTestVectors,
                                        categories_, categoryCount, warnings_);
    std::vector<bool> ok;
    if (Status done = preprocessDocuments(documents, rawFormat, ok, sink); !done) return done;
    // A document that could not be segmented is left out of the list, so the
    // n-th vector line stays the n-th raw document.
    for (size_t n = 0; n < documents.size(); ++n) {
        if (!ok[n]) continue;
        rawDocuments_.push_back({documents[n].category, RawDocument::kUnassigned, documents[n].title + ".txt"});
        rawListed_.push_back(std::move(documents[n]));
        decisionValues_.emplace_back(categoryCount, 0.0);
    }
    rawDocCount = static_cast<uint32_t>(rawDocuments_.size());
    if (!documents.empty() && rawDocuments_.empty()) {
        return Status::failure(fmt::format("none of the {} documents could be preprocessed", documents.size()));
    }
    return Status();
}

Status TextClassifier::buildIndex(ProgressSink* sink) {
    beginOperation();
    // The term lists of a large corpus wait for the vectors in a temporary
    // file beside the workspace files, on the disk the user chose for them.
    trainingCorpus_.reset();
    const std::string spillDirectory = isDirectory(workspacePath) ? workspacePath : std::string();
    if (trainingDocumentsKey_ == std::make_pair(trainingCorpusPath, categoryCount)) {
        // The documents preprocessing listed: the corpus is not listed again.
        trainingCorpus_ = std::make_unique<SegmentedCorpus>(buildTermIndex(
            trainingDocuments_, categoryCount, termIndex_, warnings_, sink, threads, spillDirectory,
            termListMemoryLimit));
    } else {
        trainingCorpus_ = std::make_unique<SegmentedCorpus>(buildTermIndex(
            trainingCorpusPath, categories_, categoryCount, termIndex_, warnings_, sink, threads, spillDirectory,
            termListMemoryLimit));
    }
    roughSet_.invalidate();
    if (trainingCorpus_->cancelled()) {
        trainingCorpus_.reset();
        trainingCorpusKey_ = {};
        termIndex_.clear();
        oldDimensionality_ = 0;
        return Status::failure("indexing cancelled");
    }
    trainingCorpusKey_ = {trainingCorpusPath, categoryCount};
    oldDimensionality_ = static_cast<uint32_t>(termIndex_.size());
    return Status();
}

Status TextClassifier::selectFeatures(ProgressSink* sink) {
    beginOperation();
    newDimensionality = std::min(newDimensionality, oldDimensionality_);
    OperationUpdate update(*this, "select");
    if (!update.ready()) return update.ready();
    FeatureTable table;
    if (selectionMode >= kChi && selectionMode <= kMi) {
        // Scoring is one pass over the candidate terms plus a sort, a small
        // fraction of reading the corpus at any size: it stays in one thread.
        table = selectByStatistics(termIndex_, selectionMode, trainingDocCount, categories_, categoryCount,
                                   newDimensionality);
    } else if (selectionMode == kRs) {
        if (!roughSet_.prepared()) {
            const Status reduced =
                roughSet_.prepareAndReduce(termIndex_, categories_, trainingCorpusPath, trainingDocCount, sink,
                                           heldTrainingCorpus());
            warnings_ = roughSet_.warnings();
            if (!reduced) return reduced;
        }
        Result<FeatureTable> selected = roughSet_.selection(newDimensionality, categoryCount, sink);
        if (!selected) return selected.status();
        table = std::move(*selected);
    }
    if (selectionMode >= kChi && selectionMode <= kRs) {
        if (const Status written = writeFeatures(workDirectory() + "features.txt", table); !written) return written;
        featureTable_ = std::move(table);
    }
    vectorMode = kTrainingVectors;
    return update.finish();
}

std::vector<VectorSource> TextClassifier::vectorSources() {
    std::vector<VectorSource> sources;
    if (vectorMode == kTrainingVectors) {
        if (const SegmentedCorpus* corpus = heldTrainingCorpus()) {
            // The corpus the index read: its documents, and the messages
            // its listing gave.
            warnings_.insert(warnings_.end(), corpus->listWarnings().begin(), corpus->listWarnings().end());
            // (The corpus holds their paths.)
            for (const auto& doc : corpus->documents()) sources.push_back({{}, fmt::format("{}", doc.category + 1)});
            return sources;
        }
        if (trainingDocumentsKey_ == std::make_pair(trainingCorpusPath, categoryCount)) {
            for (const auto& doc : trainingDocuments_)
                sources.push_back({doc.path, fmt::format("{}", doc.category + 1)});
            return sources;
        }
        const CategoryTable used(categories_.begin(),
                                 categories_.begin() + std::min<size_t>(categoryCount, categories_.size()));
        for (auto& doc : listTrainingDocuments(trainingCorpusPath, used, &warnings_))
            sources.push_back({std::move(doc.path), fmt::format("{}", doc.category + 1)});
        return sources;
    }
    const bool test = vectorMode == kTestVectors;
    for (const auto& doc : rawListed_) {
        if (!test) {
            sources.push_back({doc.segPath(), "0"});
            continue;
        }
        if (doc.category < 0 || static_cast<size_t>(doc.category) >= categories_.size()) continue;
        sources.push_back({doc.segPath(), fmt::format("{}", doc.category + 1)});
    }
    return sources;
}

const SegmentedCorpus* TextClassifier::heldTrainingCorpus() const {
    if (!trainingCorpus_ || !trainingCorpus_->keepsTerms()) return nullptr;
    if (trainingCorpusKey_ != std::make_pair(trainingCorpusPath, categoryCount)) return nullptr;
    return trainingCorpus_.get();
}

Status TextClassifier::writeVectors(ProgressSink* sink) {
    beginOperation();
    heldVectors_.reset();
    if (vectorMode != kTrainingVectors && vectorMode != kTestVectors && vectorMode != kExampleVectors)
        return Status();
    const std::string file = vectorMode == kTrainingVectors ? "train.dat"
                             : vectorMode == kTestVectors  ? "test.dat"
                                                           : "example.dat";
    const std::vector<VectorSource> sources = vectorSources();

    OperationUpdate update(*this, "vectors");
    if (!update.ready()) return update.ready();
    AtomicFileWriter out(workDirectory() + file);
    VectoriseRequest request;
    request.sources = &sources;
    request.features = &featureTable_;
    request.keptTerms = vectorMode == kTrainingVectors ? heldTrainingCorpus() : nullptr;
    request.keepUnreadable = vectorMode != kTrainingVectors;
    request.threads = threads;
    VectoriseResult result;
    const bool finished = vectoriseDocuments(request, out, sink, result);
    for (auto& warning : result.warnings) warnings_.push_back(std::move(warning));
    if (!finished) return Status::failure("writing " + file + " cancelled");
    if (!result.keptTermsProblem.empty()) {
        // Stages that follow read the .seg files rather than damaged lists.
        warnings_.push_back(result.keptTermsProblem);
        trainingCorpus_->dropTerms();
    }
    if (result.written == 0) {
        return Status::failure(sources.empty() ? "there is no document to write into " + file
                                               : "no document could be read for " + file);
    }
    if (const Status committed = out.commit(); !committed) return committed;
    // Raw vectors carry a record of the features and categories they were
    // written under, so that stale vectors are not classified later; a
    // record that cannot be written is dropped rather than left stale.
    if (vectorMode != kTrainingVectors && !recordVectorSource(workDirectory(), file))
        forgetVectorSource(workDirectory(), file);
    if (Status finishedUpdate = update.finish(); !finishedUpdate) return finishedUpdate;
    std::shared_ptr<VectorSet> kept = std::move(result.vectors);
    if (!kept) return Status();
    if (vectorMode == kTrainingVectors) {
        // KNN takes the training vectors as written; the SVM reads train.dat.
        knn_.adoptTraining(workDirectory() + file, std::move(*kept));
        return Status();
    }
    heldVectors_ = std::move(kept);
    heldVectorsFile_ = file;
    heldVectorsIdentity_ = FileIdentity::of(workDirectory() + file);
    return Status();
}


const std::vector<DocumentVector>* TextClassifier::heldVectorsToClassify() const {
    const std::string name = vectorMode == kTestVectors ? "test.dat" : "example.dat";
    if (heldVectors_ && heldVectorsFile_ == name && heldVectorsIdentity_ == FileIdentity::of(currentVectorFile()))
        return &heldVectors_->docs;
    return nullptr;
}

Result<const std::vector<DocumentVector>*> TextClassifier::vectorsToClassify(VectorSet& read, std::string& note) {
    if (const auto* held = heldVectorsToClassify()) return held;
    const std::string path = currentVectorFile();
    auto file = readVectorFile(path, RejectedLines::kKeepEmpty, INT64_MAX, threads);
    if (!file) return file.status();
    read = std::move(*file);
    if (read.report.rejected) note = skippedLinesNote(read.report, path);
    return &read.docs;
}

Status TextClassifier::loadClassifier() {
    beginOperation();
    if (!isDirectory(workspacePath)) {
        return Status::failure("cannot open " + workspacePath + "classes.txt: the workspace directory does not exist");
    }
    OperationUpdate update(*this, "load");
    // A workspace that cannot be written (read-only media) is read in place.
    const bool readOnly = !update.ready() && access(workspacePath.c_str(), W_OK) != 0;
    if (!update.ready() && !readOnly) return update.ready();
    if (Status verified = verifyWorkspaceFiles({"classes.txt", "features.txt", "fsinfo.dat", "train.dat"}); !verified)
        return verified;
    const std::string dir = workDirectory();
    Result<CategoryTable> categories = readClasses(dir + "classes.txt");
    if (!categories) return categories.status();
    categories_ = std::move(*categories);
    categoryCount = static_cast<uint32_t>(categories_.size());
    Result<FeatureTable> features = readFeatures(dir + "features.txt");
    if (!features) return features.status();
    featureTable_ = std::move(*features);
    if (!fileExists(dir + "train.dat")) return Status::failure("cannot open " + workspacePath + "train.dat");
    if (Status checked = checkVectorLabels(dir + "train.dat", categoryCount); !checked) return checked;
    const Result<FsInfo> info = readFsInfo(dir + "fsinfo.dat");
    if (!info) return info.status();
    selectionMode = info->mode;
    oldDimensionality_ = info->oldDimensionality;
    newDimensionality = info->newDimensionality;
    // The candidate index belongs to the corpus trained before.
    termIndex_.clear();
    trainingCorpus_.reset();
    roughSet_.invalidate();
    return update.finish();
}

std::string TextClassifier::currentVectorFile() const {
    return workDirectory() + (vectorMode == kTestVectors ? "test.dat" : "example.dat");
}

Status TextClassifier::classify(ProgressSink* sink) {
    beginOperation();
    OperationUpdate update(*this, "classify");
    if (!update.ready()) return update.ready();
    if (Status verified = verifyWorkspaceFiles(
            {"params.dat", "train.dat", vectorMode == kTestVectors ? "test.dat" : "example.dat"});
        !verified)
        return verified;
    const Result<ClassifierParams> read = readParams(workDirectory() + "params.dat");
    if (!read) return read.status();
    const ClassifierParams& params = *read;
    classifier_ = params.classifier;
    if (params.classifier == ClassifierKind::Knn) {
        knn_.k = params.k;
        knn_.similarity = params.similarity;
        knn_.workspacePath = workDirectory();
        knn_.categoryCount = categoryCount;
        knn_.threads = threads;
        if (Status classified = classifyKnn(sink); !classified) return classified;
        return update.finish();
    }
    svmSettings_ = params.svm;
    if (Status trained = trainSvmModels(sink); !trained) return trained;
    if (Status classified = classifySvm(sink); !classified) return classified;
    return update.finish();
}

Status TextClassifier::classifyKnn(ProgressSink* sink) {
    if (vectorMode != kTestVectors && vectorMode != kExampleVectors) return Status();
    // Vectors kept from writing them are classified in memory; otherwise
    // the file is read a block at a time, so a large corpus is never held
    // whole.
    const auto* held = heldVectorsToClassify();
    auto assigned = held ? knn_.classify(*held, sink) : knn_.classifyFile(currentVectorFile(), sink, rawDocuments_.size());
    if (!assigned) return assigned.status();
    addWarningOnce(knn_.trainingWarning());
    addWarningOnce(knn_.fileWarning());
    if (knn_.training().empty() || (assigned->empty() && !rawDocuments_.empty())) {
        return Status::failure(knn_.training().empty() ? "train.dat holds no training vector"
                                                       : "no document could be classified");
    }
    for (size_t n = 0; n < assigned->size() && n < rawDocuments_.size(); ++n)
        rawDocuments_[n].assignedCategory = (*assigned)[n];
    return Status();
}

Status TextClassifier::trainSvmModels(ProgressSink* sink) {
    if (!svm_) return Status::failure("no SVM engine is built into this program");
    svm_->setSettings(svmSettings_);
    svm_->setThreads(threads);
    std::vector<SvmEngine::Job> jobs;
    for (uint32_t n = 1; n <= categoryCount; ++n)
        jobs.push_back({n, fmt::format("{}model{}.mdl", workDirectory(), n)});
    // The first model can take long; the count shows from the start.
    if (sink) sink->progress("train", 0, jobs.size());
    const auto results = svm_->learnAll(
        workDirectory() + "train.dat", jobs, [&] { return isCancelled(sink); },
        [&](size_t done) {
            if (sink) sink->progress("train", done, jobs.size());
        });
    // A stop during the last training still leaves a result for every job.
    if (results.size() < jobs.size() || isCancelled(sink)) return Status::failure("training cancelled");
    uint32_t trained = 0;
    for (const auto& r : results) {
        if (r.ok) ++trained;
        else warnings_.push_back(r.error);
        addWarningOnce(r.warning);
    }
    if (trained == 0 && categoryCount > 0) return Status::failure("no SVM model could be trained");
    return Status();
}

void TextClassifier::addWarningOnce(const std::string& note) {
    // The same engine note (lines skipped in train.dat, say) comes with every
    // category; it is reported once.
    if (note.empty()) return;
    if (std::find(warnings_.begin(), warnings_.end(), note) == warnings_.end()) warnings_.push_back(note);
}

Status TextClassifier::classifySvm(ProgressSink* sink) {
    for (auto& values : decisionValues_) values.assign(categoryCount, 0.0);
    // The documents are read once and scored with every model.
    VectorSet read;
    std::string note;
    const auto readDocs = vectorsToClassify(read, note);
    if (!readDocs) return readDocs.status();
    const std::vector<DocumentVector>* docs = *readDocs;
    uint32_t scored = 0;
    for (uint32_t c = 0; c < categoryCount; ++c) {
        if (isCancelled(sink)) return Status::failure("classification cancelled");
        // A line that is not a vector cannot be scored; values map to
        // documents by position, so the file is refused as a whole.
        if (!note.empty()) {
            warnings_.push_back("cannot classify: " + note);
            addWarningOnce(note);
            continue;
        }
        if (docs->empty()) {
            warnings_.push_back("the file " + currentVectorFile() + " holds no document lines");
            continue;
        }
        std::vector<double> values;
        const std::string model = fmt::format("{}model{}.mdl", workDirectory(), c + 1);
        const Status status = svm_->classifyDocuments(*docs, model, values);
        if (status) ++scored;
        else warnings_.push_back(status.message());
        addWarningOnce(svm_->lastWarning());
        for (size_t n = 0; n < values.size() && n < decisionValues_.size(); ++n) decisionValues_[n][c] = values[n];
        if (sink) sink->progress("classify", c + 1, categoryCount);
    }
    if (scored == 0 && categoryCount > 0) return Status::failure("no document could be scored with any SVM model");
    // The largest decision value wins; scanning from category 0, only a
    // strictly larger value replaces the best, so ties go to the lowest id
    // and an undefined (NaN) value never wins.
    for (size_t n = 0; n < rawDocuments_.size() && n < decisionValues_.size(); ++n) {
        const auto& v = decisionValues_[n];
        int32_t best = 0;
        double bestValue = -HUGE_VAL;
        for (size_t c = 0; c < v.size(); ++c) {
            if (v[c] > bestValue) {
                bestValue = v[c];
                best = static_cast<int32_t>(c);
            }
        }
        rawDocuments_[n].assignedCategory = best;
    }
    return Status();
}

Status TextClassifier::writeResults() {
    OperationUpdate update(*this, "results");
    if (!update.ready()) return update.ready();
    if (Status written = writeFileAtomically(workDirectory() + "result.dat", resultsText(rawDocuments_)); !written)
        return written;
    return update.finish();
}

}  // namespace kestrel

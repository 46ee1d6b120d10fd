#include "app/TextClassifier.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <unordered_map>

#include "app/VectorProvenance.h"
#include "app/WorkspaceTransaction.h"
#include "common/Encoding.h"
#include "common/FileSystem.h"
#include "common/ParallelFor.h"
#include "common/Progress.h"
#include "features/DocumentVectors.h"
#include "features/FeatureIndex.h"
#include "features/FeatureSelection.h"
#include "features/SegmentedCorpus.h"
#include "segment/DocumentSegmenter.h"

namespace kestrel {

namespace {

bool isCancelled(ProgressSink* sink) { return sink && sink->cancelled(); }

// The word counts of one document: distinct words in order of first
// occurrence, each with its number of occurrences. A word holding an ASCII
// colon or a line end (a time such as 10:30) cannot be written as a
// "word:count" line without being read back as another word and count, so it
// is left out.
std::string segText(const std::vector<std::string>& words) {
    std::vector<std::pair<const std::string*, uint32_t>> counts;
    std::unordered_map<std::string_view, size_t> position;
    for (const auto& word : words) {
        if (word.empty() || word.find_first_of(":\r\n") != std::string::npos) continue;
        auto [it, inserted] = position.emplace(word, counts.size());
        if (inserted) counts.emplace_back(&word, 1);
        else ++counts[it->second].second;
    }
    std::string out;
    for (const auto& [word, count] : counts) {
        out += *word;
        out += formatString(":%u\n", count);
    }
    return out;
}

}  // namespace

// Runs one operation inside the open update, or inside one of its own that is
// committed when the operation succeeds and discarded otherwise.
class TextClassifier::OperationUpdate {
public:
    OperationUpdate(TextClassifier& controller, const char* run)
        : controller_(controller), hadTransaction_(controller.update_ != nullptr) {
        own_ = !(controller.update_ && controller.update_->isOpen());
        ready_ = !own_ || controller.beginUpdate(run);
    }
    ~OperationUpdate() { end(); }
    OperationUpdate(const OperationUpdate&) = delete;
    OperationUpdate& operator=(const OperationUpdate&) = delete;
    bool ready() const { return ready_; }
    // The operation succeeded: its own update is committed.
    bool finish() {
        const bool ok = !own_ || controller_.commitUpdate();
        end();
        return ok;
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
    bool ready_ = false;
};

TextClassifier::TextClassifier() : svm_(makeSvmEngine()), segmenter_(makeDocumentSegmenter()) {}

TextClassifier::~TextClassifier() { releaseSegmenter(); }

void TextClassifier::setSegmenter(std::unique_ptr<DocumentSegmenter> segmenter) {
    releaseSegmenter();
    segmenter_ = std::move(segmenter);
}

void TextClassifier::setSvmEngine(std::unique_ptr<SvmEngine> engine) { svm_ = std::move(engine); }

bool TextClassifier::beginUpdate(const std::string& run) {
    if (!update_ || update_->workspace() != withTrailingSlash(workspacePath))
        update_ = std::make_unique<WorkspaceTransaction>(workspacePath);
    const Status begun = update_->begin(run);
    if (!begun) lastError_ = begun.message();
    return begun.ok();
}

bool TextClassifier::commitUpdate() {
    if (!update_) return true;
    const Status committed = update_->commit();
    if (!committed) lastError_ = committed.message();
    return committed.ok();
}

void TextClassifier::endUpdates() { update_.reset(); }

std::string TextClassifier::workDirectory() const {
    return update_ && update_->isOpen() ? update_->directory() : workspacePath;
}

bool TextClassifier::verifyWorkspaceFiles(std::initializer_list<std::string> names) {
    if (!update_) return true;
    for (const auto& name : names) {
        if (const Status verified = update_->verify(name); !verified) {
            lastError_ = verified.message();
            return false;
        }
    }
    return true;
}

void TextClassifier::beginOperation() {
    lastError_.clear();
    warnings_.clear();
}

FsInfo TextClassifier::fsInfo() const { return FsInfo{selectionMode, oldDimensionality_, newDimensionality}; }

bool TextClassifier::workspaceOutsideTrainingCorpus() {
    if (!isInsideDirectory(workspacePath, trainingCorpusPath)) return true;
    lastError_ = "the workspace " + workspacePath + " lies inside the training corpus " + trainingCorpusPath +
                 ", where it would be taken for a category; choose a workspace outside the corpus";
    return false;
}

bool TextClassifier::writeCategories() {
    std::string error;
    if (!isDirectory(trainingCorpusPath)) {
        lastError_ = "the training corpus directory " + trainingCorpusPath + " does not exist or cannot be read";
        return false;
    }
    const auto names = listSubdirectories(trainingCorpusPath, &error, &warnings_);
    if (!error.empty()) {
        lastError_ = error;
        return false;
    }
    for (const auto& name : names) {
        if (!fitsOnALine(name)) {
            lastError_ = "the category directory \"" + displayPath(name) + "\" in " + displayPath(trainingCorpusPath) +
                         " has a line break or control character in its name, which classes.txt cannot hold; "
                         "rename it";
            categories_.clear();
            return false;
        }
        categories_.push_back({name, 0});
    }
    if (!writeFileAtomically(workDirectory() + "classes.txt", classesText(categories_), &error)) {
        lastError_ = error;
        return false;
    }
    return true;
}

bool TextClassifier::loadSegmenter() {
    if (!segmenter_) {
        lastError_ = "no word segmenter is built into this program, so raw text (*.txt) cannot be preprocessed";
        return false;
    }
    std::string error;
    if (!segmenter_->loadData(startupDirectory, error)) {
        lastError_ = error;
        return false;
    }
    segmenterLoaded_ = true;
    // Any non-zero value turns unknown-word recognition on.
    segmenter_->setUnknownWordSwitch(2);
    return true;
}

void TextClassifier::releaseSegmenter() {
    if (segmenter_ && segmenterLoaded_) segmenter_->releaseData();
    segmenterLoaded_ = false;
}

void TextClassifier::listDocuments(const std::string& dir, InputFormat format, int32_t category,
                                   std::vector<PendingDocument>& out) {
    std::string error;
    // Temporary .seg files of a killed run are not documents; they go.
    removeStaleTemporaryFiles(dir, ".seg");
    const auto names = listFiles(dir, documentExtension(format), &error, &warnings_);
    if (!error.empty()) warnings_.push_back(error);
    for (const auto& name : names) {
        if (!fitsOnALine(name)) {
            // result.dat could not hold its name on one line.
            warnings_.push_back("the document \"" + displayPath(name) + "\" in " + displayPath(dir) +
                                " has a line break or control character in its name; skipped");
            continue;
        }
        out.push_back({dir, fileTitle(name), category});
    }
}

bool TextClassifier::preprocessDocuments(const std::vector<PendingDocument>& documents, InputFormat format,
                                         std::vector<bool>& ok,
                                         ProgressSink* sink) {
    preprocessReport_.documents = static_cast<uint32_t>(documents.size());
    ok.assign(documents.size(), true);
    if (format != InputFormat::RawText) {
        // Segmented documents are used as they are.
        releaseSegmenter();
        if (isCancelled(sink)) {
            lastError_ = "preprocessing cancelled";
            return false;
        }
        return true;
    }
    std::vector<char> success(documents.size(), 0);
    std::vector<std::string> errors(documents.size());
    std::vector<std::string> notes(documents.size());  // warnings of documents that were segmented
    const bool finished = parallelFor(
        documents.size(), threads,
        [&](size_t i) {
            const PendingDocument& doc = documents[i];
            std::vector<std::string> words;
            std::string error;
            if (!segmenter_->segmentDocument(doc.dir + doc.title + ".txt", words, error)) {
                errors[i] = error;
                return;
            }
            notes[i] = std::move(error);
            error.clear();
            if (!writeFileAtomically(doc.dir + doc.title + ".seg", segText(words), &error)) {
                errors[i] = error;
                return;
            }
            success[i] = 1;
        },
        [&] { return isCancelled(sink); },
        [&](size_t done) {
            if (sink) sink->progress("preprocess", done, documents.size());
        });
    releaseSegmenter();
    for (size_t i = 0; i < documents.size(); ++i) {
        ok[i] = success[i] != 0;
        if (!errors[i].empty()) {
            ++preprocessReport_.failed;
            preprocessReport_.failures.push_back(errors[i]);
            warnings_.push_back(errors[i]);
        }
        if (!notes[i].empty()) warnings_.push_back(notes[i]);
    }
    if (!finished) lastError_ = "preprocessing cancelled";
    return finished;
}

bool TextClassifier::preprocessTraining(ProgressSink* sink) {
    beginOperation();
    preprocessReport_ = {};
    categories_.clear();
    termIndex_.clear();
    if (!workspaceOutsideTrainingCorpus()) return false;
    OperationUpdate update(*this, "preprocess");
    if (!update.ready() || !writeCategories()) return false;
    if (trainingFormat == InputFormat::RawText && !loadSegmenter()) return false;

    std::vector<PendingDocument> documents;
    for (uint32_t i = 0; i < categoryCount && i < categories_.size(); ++i)
        listDocuments(trainingCorpusPath + categories_[i].name + "/", trainingFormat, static_cast<int32_t>(i),
                      documents);
    std::vector<bool> ok;
    if (!preprocessDocuments(documents, trainingFormat, ok, sink)) return false;
    // Documents that could not be segmented have no .seg file and so are
    // not training documents.
    uint32_t total = 0;
    for (size_t n = 0; n < documents.size(); ++n) {
        if (!ok[n]) continue;
        ++categories_[static_cast<size_t>(documents[n].category)].docCount;
        ++total;
    }
    trainingDocCount = total;
    if (total == 0) {
        lastError_ = documents.empty() ? "the training corpus " + trainingCorpusPath + " holds no documents"
                                       : formatString("none of the %zu documents could be preprocessed",
                                                      documents.size());
        return false;
    }
    return update.finish();
}

bool TextClassifier::preprocessRaw(ProgressSink* sink) {
    beginOperation();
    preprocessReport_ = {};
    decisionValues_.clear();
    rawDocuments_.clear();
    if (!isDirectory(rawCorpusPath)) {
        lastError_ = "the raw corpus directory " + rawCorpusPath + " does not exist or cannot be read";
        return false;
    }
    if (rawFormat == InputFormat::RawText && !loadSegmenter()) return false;

    std::vector<PendingDocument> documents;
    if (vectorMode == kTestVectors) {
        for (uint32_t i = 0; i < categoryCount && i < categories_.size(); ++i)
            listDocuments(rawCorpusPath + categories_[i].name + "/", rawFormat, static_cast<int32_t>(i), documents);
    } else if (vectorMode == kExampleVectors) {
        listDocuments(rawCorpusPath, rawFormat, -1, documents);
    }
    std::vector<bool> ok;
    if (!preprocessDocuments(documents, rawFormat, ok, sink)) return false;
    // A document that could not be segmented is left out of the list, so the
    // n-th vector line stays the n-th raw document.
    for (size_t n = 0; n < documents.size(); ++n) {
        if (!ok[n]) continue;
        rawDocuments_.push_back({documents[n].category, RawDocument::kUnassigned, documents[n].title + ".txt"});
        decisionValues_.emplace_back(categoryCount, 0.0);
    }
    rawDocCount = static_cast<uint32_t>(rawDocuments_.size());
    if (!documents.empty() && rawDocuments_.empty()) {
        lastError_ = formatString("none of the %zu documents could be preprocessed", documents.size());
        return false;
    }
    return true;
}

void TextClassifier::buildIndex(ProgressSink* sink) {
    beginOperation();
    buildTermIndex(trainingCorpusPath, categories_, categoryCount, termIndex_, warnings_, sink);
    oldDimensionality_ = static_cast<uint32_t>(termIndex_.size());
    roughSet_.invalidate();
}

bool TextClassifier::selectFeatures(ProgressSink* sink) {
    beginOperation();
    newDimensionality = std::min(newDimensionality, oldDimensionality_);
    std::string error;
    OperationUpdate update(*this, "select");
    if (!update.ready()) return false;
    if (selectionMode >= kChi && selectionMode <= kMi) {
        FeatureTable table;
        std::string text;
        selectByStatistics(termIndex_, selectionMode, trainingDocCount, categories_, categoryCount, newDimensionality,
                           table, text);
        if (!writeFileAtomically(workDirectory() + "features.txt", text, &error)) {
            lastError_ = error;
            return false;
        }
        featureTable_ = std::move(table);
    } else if (selectionMode == kRs) {
        if (!roughSet_.prepared()) {
            const bool reduced =
                roughSet_.prepareAndReduce(termIndex_, categories_, trainingCorpusPath, trainingDocCount, sink, error);
            warnings_ = roughSet_.warnings();
            if (!reduced) {
                lastError_ = error;
                return false;
            }
        }
        if (!roughSet_.writeSelection(newDimensionality, categoryCount, workDirectory(), featureTable_, sink, error)) {
            lastError_ = error;
            return false;
        }
    }
    vectorMode = kTrainingVectors;
    knn_.trainingLoaded = false;
    return update.finish();
}

bool TextClassifier::writeVectors(ProgressSink* sink) {
    beginOperation();
    struct Item {
        std::string path;
        std::string label;
    };
    std::vector<Item> items;
    std::string file;
    if (vectorMode == kTrainingVectors) {
        file = "train.dat";
        const CategoryTable used(categories_.begin(),
                                 categories_.begin() + std::min<size_t>(categoryCount, categories_.size()));
        for (auto& doc : listTrainingDocuments(trainingCorpusPath, used, &warnings_))
            items.push_back({std::move(doc.path), formatString("%u", doc.category + 1)});
    } else if (vectorMode == kTestVectors || vectorMode == kExampleVectors) {
        const bool test = vectorMode == kTestVectors;
        file = test ? "test.dat" : "example.dat";
        for (const auto& doc : rawDocuments_) {
            const std::string title = fileTitle(doc.fileName);
            if (test) {
                if (doc.trueCategory < 0 || static_cast<size_t>(doc.trueCategory) >= categories_.size()) continue;
                items.push_back({rawCorpusPath + categories_[static_cast<size_t>(doc.trueCategory)].name + "/" +
                                     title + ".seg",
                                 formatString("%u", static_cast<unsigned>(doc.trueCategory) + 1)});
            } else {
                items.push_back({rawCorpusPath + title + ".seg", "0"});
            }
        }
    } else {
        return true;
    }

    OperationUpdate update(*this, "vectors");
    if (!update.ready()) return false;
    AtomicFileWriter out(workDirectory() + file);
    std::vector<SegLine> lines;
    size_t written = 0;
    for (size_t n = 0; n < items.size(); ++n) {
        std::string error;
        if (!readSegFile(items[n].path, lines, &error)) {
            warnings_.push_back(error);
            // A raw document keeps its line (label alone) so that lines and
            // raw documents stay paired; a training document is left out.
            if (vectorMode == kTrainingVectors) continue;
            lines.clear();
        }
        ++written;
        out.write(items[n].label);
        out.write(vectorItems(lines, featureTable_));
        if (sink && (n % 64 == 0 || n + 1 == items.size())) {
            sink->progress("vectors", n + 1, items.size());
            if (sink->cancelled()) {
                lastError_ = "writing " + file + " cancelled";
                return false;
            }
        }
    }
    if (written == 0) {
        lastError_ = items.empty() ? "there is no document to write into " + file
                                   : "no document could be read for " + file;
        return false;
    }
    if (!out.commit()) {
        lastError_ = out.error();
        return false;
    }
    // Raw vectors carry a record of the features and categories they were
    // written under, so that stale vectors are not classified later; a
    // record that cannot be written is dropped rather than left stale.
    if (vectorMode != kTrainingVectors && !recordVectorSource(workDirectory(), file))
        forgetVectorSource(workDirectory(), file);
    return update.finish();
}

bool TextClassifier::loadClassifier() {
    beginOperation();
    std::string error;
    if (!isDirectory(workspacePath)) {
        lastError_ = "cannot open " + workspacePath + "classes.txt: the workspace directory does not exist";
        return false;
    }
    OperationUpdate update(*this, "load");
    // A workspace that cannot be written (read-only media) is read in place.
    const bool readOnly = !update.ready() && access(workspacePath.c_str(), W_OK) != 0;
    if ((!update.ready() && !readOnly) ||
        !verifyWorkspaceFiles({"classes.txt", "features.txt", "fsinfo.dat", "train.dat"}))
        return false;
    if (readOnly) lastError_.clear();
    const std::string dir = workDirectory();
    CategoryTable categories;
    if (!readClasses(dir + "classes.txt", categories, &error)) {
        lastError_ = error;
        return false;
    }
    categories_ = std::move(categories);
    categoryCount = static_cast<uint32_t>(categories_.size());
    FeatureTable features;
    if (!readFeatures(dir + "features.txt", features, &error)) {
        lastError_ = error;
        return false;
    }
    featureTable_ = std::move(features);
    if (!fileExists(dir + "train.dat")) {
        lastError_ = "cannot open " + workspacePath + "train.dat";
        return false;
    }
    if (!checkVectorLabels(dir + "train.dat", categoryCount, &error)) {
        lastError_ = error;
        return false;
    }
    FsInfo info;
    if (!readFsInfo(dir + "fsinfo.dat", info, &error)) {
        lastError_ = error;
        return false;
    }
    selectionMode = info.mode;
    oldDimensionality_ = info.oldDimensionality;
    newDimensionality = info.newDimensionality;
    // The candidate index and the cached training vectors belong to the
    // corpus trained before; the loaded workspace has its own train.dat.
    termIndex_.clear();
    roughSet_.invalidate();
    knn_.trainingLoaded = false;
    return update.finish();
}

std::string TextClassifier::currentVectorFile() const {
    return workDirectory() + (vectorMode == kTestVectors ? "test.dat" : "example.dat");
}

bool TextClassifier::classify(ProgressSink* sink) {
    beginOperation();
    ClassifierParams params;
    std::string error;
    OperationUpdate update(*this, "classify");
    if (!update.ready() ||
        !verifyWorkspaceFiles({"params.dat", "train.dat", vectorMode == kTestVectors ? "test.dat" : "example.dat"}))
        return false;
    if (!readParams(workDirectory() + "params.dat", params, &error)) {
        lastError_ = error;
        return false;
    }
    classifier_ = params.classifier;
    if (params.classifier == ClassifierKind::Knn) {
        knn_.k = params.k;
        knn_.similarity = static_cast<uint32_t>(params.similarity);
        knn_.workspacePath = workDirectory();
        knn_.categoryCount = categoryCount;
        knn_.threads = threads;
        return classifyKnn(sink) && update.finish();
    }
    svmSettings_ = params.svm;
    if (!trainSvmModels(sink)) return false;
    return classifySvm(sink) && update.finish();
}

bool TextClassifier::classifyKnn(ProgressSink* sink) {
    if (vectorMode != kTestVectors && vectorMode != kExampleVectors) return true;
    const auto assigned = knn_.classifyFile(currentVectorFile(), sink);
    if (assigned.empty() && !knn_.error().empty()) {
        lastError_ = knn_.error();
        return false;
    }
    addWarningOnce(knn_.warning());
    if (knn_.trainingDocuments().empty() || (assigned.empty() && !rawDocuments_.empty())) {
        lastError_ = knn_.trainingDocuments().empty() ? "train.dat holds no training vector"
                                                      : "no document could be classified";
        return false;
    }
    for (size_t n = 0; n < assigned.size() && n < rawDocuments_.size(); ++n)
        rawDocuments_[n].assignedCategory = assigned[n];
    return true;
}

bool TextClassifier::trainSvmModels(ProgressSink* sink) {
    if (!svm_) {
        lastError_ = "no SVM engine is built into this program";
        return false;
    }
    svm_->setSettings(svmSettings_);
    std::vector<SvmEngine::Job> jobs;
    for (uint32_t n = 1; n <= categoryCount; ++n)
        jobs.push_back({n, formatString("%smodel%u.mdl", workDirectory().c_str(), n)});
    // The first model can take long; the count shows from the start.
    if (sink) sink->progress("train", 0, jobs.size());
    const auto results = svm_->learnAll(
        workDirectory() + "train.dat", jobs, [&] { return isCancelled(sink); },
        [&](size_t done) {
            if (sink) sink->progress("train", done, jobs.size());
        });
    // A stop during the last training still leaves a result for every job.
    if (results.size() < jobs.size() || isCancelled(sink)) {
        lastError_ = "training cancelled";
        return false;
    }
    uint32_t trained = 0;
    for (const auto& r : results) {
        if (r.ok) ++trained;
        else warnings_.push_back(r.error);
        addWarningOnce(r.warning);
    }
    if (trained == 0 && categoryCount > 0) {
        lastError_ = "no SVM model could be trained";
        return false;
    }
    return true;
}

void TextClassifier::addWarningOnce(const std::string& note) {
    // The same engine note (lines skipped in train.dat, say) comes with every
    // category; it is reported once.
    if (note.empty()) return;
    if (std::find(warnings_.begin(), warnings_.end(), note) == warnings_.end()) warnings_.push_back(note);
}

bool TextClassifier::classifySvm(ProgressSink* sink) {
    const std::string input = currentVectorFile();
    for (auto& values : decisionValues_) values.assign(categoryCount, 0.0);
    uint32_t scored = 0;
    for (uint32_t c = 0; c < categoryCount; ++c) {
        if (isCancelled(sink)) {
            lastError_ = "classification cancelled";
            return false;
        }
        std::vector<double> values;
        std::string error;
        const std::string model = formatString("%smodel%u.mdl", workDirectory().c_str(), c + 1);
        if (svm_->classifyFile(input, model, values, error)) ++scored;
        else warnings_.push_back(error);
        addWarningOnce(svm_->lastWarning());
        for (size_t n = 0; n < values.size() && n < decisionValues_.size(); ++n) decisionValues_[n][c] = values[n];
        if (sink) sink->progress("classify", c + 1, categoryCount);
    }
    if (scored == 0 && categoryCount > 0) {
        lastError_ = "no document could be scored with any SVM model";
        return false;
    }
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
    return true;
}

bool TextClassifier::writeResults() {
    std::string error;
    OperationUpdate update(*this, "results");
    if (!update.ready()) return false;
    if (!writeFileAtomically(workDirectory() + "result.dat", resultsText(rawDocuments_), &error)) {
        lastError_ = error;
        return false;
    }
    return update.finish();
}

}  // namespace kestrel

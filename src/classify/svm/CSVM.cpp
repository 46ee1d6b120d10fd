// One-versus-rest training of one category's model and scoring of a vector
// file with one model.
#include "classify/svm/CSVM.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <sys/stat.h>

#include "classify/svm/KernelCache.h"
#include "classify/svm/TrainState.h"
#include "common/FileSystem.h"

namespace kestrel {

// A parsed training file and what identifies the file's state when it was
// read: a file with the same device, inode, size, modification and change
// time is taken to hold the same text.
struct TrainingFileCache {
    std::string path;
    bool valid = false;  // false: read while the file changed; never reused
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{}, changed{};

    std::vector<SvmDoc> docs;
    std::vector<long> labels;  // as written in the file
    int32_t totWords = 0;
    SvmReadReport report;
    // A document's entries as model files list them, formatted the first
    // time it becomes a support vector (most are support vectors of several
    // categories).
    std::vector<std::string> entryText;
    std::vector<char> entryTextReady;
    // The linear training's starting layout of the labeled documents.
    InitialColumns initialColumns;

    // The text of document i, which is `doc` (lent to a training).
    const std::string& entriesOf(size_t i, const SvmDoc& doc) {
        if (entryText.empty()) {
            entryText.resize(docs.size());
            entryTextReady.assign(docs.size(), 0);
        }
        if (!entryTextReady[i]) {
            CSVM::appendEntries(entryText[i], doc);
            entryTextReady[i] = 1;
        }
        return entryText[i];
    }

    bool matches(const struct stat& st) const {
        return valid && device == st.st_dev && inode == st.st_ino && size == st.st_size &&
               modified.tv_sec == st.st_mtim.tv_sec && modified.tv_nsec == st.st_mtim.tv_nsec &&
               changed.tv_sec == st.st_ctim.tv_sec && changed.tv_nsec == st.st_ctim.tv_nsec;
    }
    void remember(const struct stat& st) {
        device = st.st_dev;
        inode = st.st_ino;
        size = st.st_size;
        modified = st.st_mtim;
        changed = st.st_ctim;
    }
};

CSVM::CSVM() = default;
CSVM::~CSVM() = default;

TrainingFileCache* CSVM::loadTrainingFile(const std::string& path, std::string& error) {
    struct stat before;
    if (path.empty() || ::stat(path.c_str(), &before) != 0) {
        error = "cannot open " + (path.empty() ? std::string("the training file") : path) + ": " +
                std::strerror(path.empty() ? ENOENT : errno);
        trainingFile_.reset();
        return nullptr;
    }
    if (trainingFile_ && trainingFile_->path == path && trainingFile_->matches(before))
        return trainingFile_.get();

    trainingFile_.reset();
    Result<std::string> read = readFile(path);
    if (!read) {
        error = read.message();
        return nullptr;
    }
    std::string content = std::move(*read);
    auto file = std::make_unique<TrainingFileCache>();
    file->path = path;
    // A file that changed while it was read is used once and read again
    // next time.
    struct stat after;
    file->valid = ::stat(path.c_str(), &after) == 0 && S_ISREG(after.st_mode);
    file->remember(before);
    file->valid = file->valid && file->matches(after);
    parseDocuments(content, file->docs, file->labels, std::numeric_limits<int64_t>::max(),
                   file->totWords, &file->report);
    ++trainingFileReads_;
    trainingFile_ = std::move(file);
    return trainingFile_.get();
}

std::string skippedLinesNote(const SvmReadReport& report, const std::string& path) {
    return std::to_string(report.rejected) + (report.rejected == 1 ? " line" : " lines") + " of " +
           path + " skipped (first: line " + std::to_string(report.firstRejectedLine) + ", " +
           report.firstReason + ")";
}

int CSVM::learn(int k) {
    lastError_.clear();
    lastWarning_.clear();
    lastReport_ = SvmReadReport();
    lastDocuments_ = lastSupportVectors_ = lastIterations_ = lastKernelEvaluations_ = 0;
    result.beginTraining();

    const std::string trainFile = param.trainFile;
    const std::string modelFile = param.modelFile;
    const std::string category = "category " + std::to_string(k);
    learnedModelFile_ = modelFile;
    learnedCategory_ = k;
    learnedOk_ = false;
    cancelled_ = false;
    // A failed training leaves no model file behind, so that an old model of
    // the category is never used silently.
    auto fail = [&](const std::string& message) {
        lastError_ = message;
        if (!deferredOutput_ && !modelFile.empty() && fileExists(modelFile)) removeFile(modelFile);
        return -1;
    };
    if (modelFile.empty()) return fail("no model file is given for " + category);

    LearnParams lp;
    lp.svmC = param.svmC;
    lp.costRatio = param.costRatio;
    lp.biasedHyperplane = param.biasedHyperplane;
    lp.maxQpSize = param.maxQpSize;
    lp.newVarsInQp = param.newVarsInQp;
    lp.shrinkHorizon = param.shrinkHorizon;
    lp.skipFinalOptCheck = param.skipFinalOptCheck;
    lp.epsilonCrit = 0.001;
    lp.epsilonA = 1e-15;
    KernelParams kp;
    kp.kernelType = param.kernelType;
    kp.degree = param.degree;
    kp.gamma = param.gamma;
    kp.coefLin = param.coefLin;
    kp.coefConst = param.coefConst;
    if (kp.kernelType < kLinear || kp.kernelType > kCustom)
        return fail("unknown kernel type " + std::to_string(kp.kernelType) + " for " + category);
    if (lp.maxQpSize < 2) lp.maxQpSize = 2;

    std::string error;
    TrainingFileCache* file = loadTrainingFile(trainFile, error);
    if (!file)
        return fail("cannot read the training file for " + category + ": " + error);
    lastReport_ = file->report;
    if (lastReport_.rejected) lastWarning_ += skippedLinesNote(lastReport_, trainFile) + "; ";

    // The labeled documents are lent to the training (moved out of the
    // kept file and back, without copying them). Unlabeled documents (label
    // 0) take no part in training.
    std::vector<SvmDoc> docs;
    std::vector<int32_t> targets;
    std::vector<size_t> fileIndex;  // training document -> document of the file
    const int32_t totWords = file->totWords;
    size_t positives = 0, negatives = 0, unlabeled = 0;
    docs.reserve(file->docs.size());
    targets.reserve(file->docs.size());
    fileIndex.reserve(file->docs.size());
    struct GiveBack {
        TrainingFileCache* file;
        std::vector<SvmDoc>& docs;
        std::vector<size_t>& fileIndex;
        ~GiveBack() {
            for (size_t i = 0; i < fileIndex.size(); ++i) {
                file->docs[fileIndex[i]] = std::move(docs[i]);
                file->docs[fileIndex[i]].docnum = int32_t(fileIndex[i]);
            }
        }
    } giveBack{file, docs, fileIndex};
    for (size_t i = 0; i < file->docs.size(); ++i) {
        const long label = file->labels[i];
        if (label == 0) {
            ++unlabeled;
            continue;
        }
        docs.push_back(std::move(file->docs[i]));
        fileIndex.push_back(i);
        targets.push_back(label == k ? 1 : -1);
        (label == k ? positives : negatives)++;
    }
    if (unlabeled)
        lastWarning_ += std::to_string(unlabeled) + " unlabeled documents of " + trainFile +
                        " ignored; ";

    if (docs.empty()) return fail("the training file " + trainFile + " holds no training documents");
    if (positives == 0)
        return fail(category + " has no training document in " + trainFile + "; no model is trained");
    if (negatives == 0 && lp.biasedHyperplane)
        return fail("every training document of " + trainFile + " belongs to " + category +
                    "; a model needs documents of other categories too");

    SvmModel model;
    if (kp.kernelType == kLinear) {
        initialColumns_ = &file->initialColumns;
        struct Forget {
            InitialColumns*& slot;
            ~Forget() { slot = nullptr; }
        } forget{initialColumns_};
        train(docs, targets, totWords, lp, kp, nullptr, model);
    } else {
        KernelCache cache(docs, kp, param.kernelCacheSize);
        train(docs, targets, totWords, lp, kp, &cache, model);
    }
    if (cancelled_) return fail("the training of " + category + " was cancelled");

    bool finite = std::isfinite(model.b);
    for (int32_t i = 1; i < model.svNum && finite; ++i) finite = std::isfinite(model.alpha[size_t(i)]);
    if (!finite)
        return fail("training " + category + " gave no finite solution (check the kernel parameters)");

    // Support vectors are training documents (docnum = their position).
    formatModel(model, [&](const SvmDoc& sv) -> const std::string* {
        if (sv.docnum < 0 || size_t(sv.docnum) >= fileIndex.size()) return nullptr;
        return &file->entriesOf(fileIndex[size_t(sv.docnum)], sv);
    }, modelText_);
    if (!deferredOutput_) {
        if (const Status written = writeFileAtomically(modelFile, modelText_); !written)
            return fail("cannot write the model of " + category + ": " + written.message());
    }
    lastDocuments_ = int64_t(docs.size());
    lastSupportVectors_ = model.supportVectorCount();
    if (!lastWarning_.empty()) lastWarning_.resize(lastWarning_.size() - 2);
    learnedOk_ = true;
    return 0;
}

int CSVM::adoptDeferredLearn(const CSVM& other) {
    lastError_ = other.lastError_;
    lastWarning_ = other.lastWarning_;
    lastReport_ = other.lastReport_;
    lastDocuments_ = other.lastDocuments_;
    lastSupportVectors_ = other.lastSupportVectors_;
    lastIterations_ = other.lastIterations_;
    lastKernelEvaluations_ = other.lastKernelEvaluations_;
    const std::string& modelFile = other.learnedModelFile_;
    auto removeModel = [&] {
        if (!modelFile.empty() && fileExists(modelFile)) removeFile(modelFile);
        return -1;
    };
    if (!other.learnedOk_) return removeModel();
    if (const Status written = writeFileAtomically(modelFile, other.modelText_); !written) {
        // As learn reports a model it cannot write (its notes then keep
        // their separator, and no documents count as used).
        lastError_ = "cannot write the model of category " + std::to_string(other.learnedCategory_) +
                     ": " + written.message();
        if (!lastWarning_.empty()) lastWarning_ += "; ";
        lastDocuments_ = lastSupportVectors_ = 0;
        return removeModel();
    }
    return 0;
}

void CSVM::resizeSolverBuffers(int32_t n) {
    const bool fresh = result.dualFresh;
    const double d0 = result.dual.size() >= 2 ? result.dual[0] : 0.0;
    const double d1 = result.dual.size() >= 2 ? result.dual[1] : 0.0;
    allocateSolverBuffers(n);
    result.dual[0] = d0;
    result.dual[1] = d1;
    result.dualFresh = fresh;
}

int CSVM::classifyFile(std::vector<double>& out) {
    lastError_.clear();
    lastWarning_.clear();
    lastReport_ = SvmReadReport();
    const std::string inputFile = param.inputFile;
    const std::string modelFile = param.modelFile;
    auto fail = [&](const std::string& message) {
        lastError_ = message;
        std::fill(out.begin(), out.end(), 0.0);
        return -1;
    };

    SvmModel model;
    std::string error;
    if (readModel(modelFile, model, &error) != 0) return fail(error);
    if (model.kernel.kernelType < kLinear || model.kernel.kernelType > kCustom)
        return fail("model file " + modelFile + ": unknown kernel type " +
                    std::to_string(model.kernel.kernelType));
    const bool linear = model.kernel.kernelType == kLinear;
    if (linear) addLinearWeights(model);

    const Result<std::string> read = readFile(inputFile);
    if (!read) return fail(read.message());
    const std::string& content = *read;

    // Non-linear scoring spreads each document densely once, so every
    // support vector costs one pass over its own entries (same sums as the
    // sparse merge).
    std::vector<double> dense;
    if (!linear && model.kernel.kernelType <= kSigmoid) {
        int64_t highest = 0, entries = 0;
        for (int32_t i = 1; i < model.svNum; ++i) {
            const SvmDoc* sv = model.supvec[size_t(i)];
            if (sv->size()) highest = std::max<int64_t>(highest, sv->words[sv->size() - 1].wnum);
            entries += int64_t(sv->size());
        }
        if (highest <= 4 * entries + 4096) dense.assign(size_t(highest) + 1, 0.0);
    }
    auto scoreDense = [&](const SvmDoc& d) {
        for (const SvmWord* w = d.list(); w->wnum && size_t(w->wnum) < dense.size(); ++w)
            dense[size_t(w->wnum)] = w->weight;
        double sum = 0.0;
        for (int32_t i = 1; i < model.svNum; ++i) {
            const SvmDoc& sv = *model.supvec[size_t(i)];
            double dot = 0.0;
            for (const SvmWord* w = sv.list(); w->wnum; ++w) dot += w->weight * dense[size_t(w->wnum)];
            sum += model.alpha[size_t(i)] * kernelFromDot(model.kernel, dot, sv, d);
        }
        for (const SvmWord* w = d.list(); w->wnum && size_t(w->wnum) < dense.size(); ++w)
            dense[size_t(w->wnum)] = 0.0;
        return sum - model.b;
    };

    std::vector<double> values;
    SvmDoc doc;
    std::string reason;
    size_t pos = 0;
    int64_t number = 0;
    while (pos < content.size()) {
        const LineSpan span = lineAt(content, pos);
        std::string_view line(content.data() + pos, span.end - pos);
        pos = span.next;
        ++number;
        if (!line.empty() && line[0] == '#') continue;
        if (line.find_first_not_of(" \t\r\v\f") == std::string_view::npos) continue;
        long label = 0;
        if (!parseDocumentLine(line, doc, label, std::numeric_limits<int64_t>::max(), &reason)) {
            // The slot stays, so that later values still belong to their lines.
            if (lastReport_.rejected++ == 0) {
                lastReport_.firstRejectedLine = number;
                lastReport_.firstReason = reason;
            }
            values.push_back(0.0);
            continue;
        }
        values.push_back(linear           ? classifyLinear(model, doc)
                         : dense.empty()  ? classifyExample(model, doc)
                                          : scoreDense(doc));
    }
    if (values.empty()) return fail("the file " + inputFile + " holds no document lines");
    if (lastReport_.rejected) lastWarning_ = skippedLinesNote(lastReport_, inputFile);
    out = std::move(values);
    return 0;
}

}  // namespace kestrel

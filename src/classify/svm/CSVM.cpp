// One-versus-rest training of one category's model and scoring of documents
// with one model.
#include "classify/svm/CSVM.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <mutex>
#include <sys/stat.h>

#include "classify/svm/KernelCache.h"
#include "classify/svm/LinearStarts.h"
#include "classify/svm/QpSolver.h"
#include "classify/svm/SvmKernel.h"
#include "classify/svm/SvmModelFile.h"
#include "classify/svm/SvmTrainer.h"
#include "classify/svm/TrainState.h"
#include "common/FileSystem.h"
#include "common/ParallelFor.h"

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

    // The labeled documents (label 0 marks a document that takes no part in
    // training) with their labels as written, and how many were unlabeled.
    std::vector<SvmDoc> docs;
    std::vector<long> labels;
    size_t unlabeled = 0;
    int32_t totWords = 0;
    SvmReadReport report;
    // A document's entries as model files list them, formatted the first
    // time it becomes a support vector (most are support vectors of several
    // categories).
    std::vector<std::string> entryText;
    std::vector<char> entryTextReady;
    std::mutex entryTextLock;  // two trainings may format at once
    // The linear training's starting layout of the documents.
    InitialColumns initialColumns;
    // The linear trainings' starts of every category, computed together by
    // the first training that needs one (for the costs and hyperplane in
    // `startsKey`); `startsLock` guards them.
    std::mutex startsLock;
    std::vector<double> startsKey;
    std::vector<long> startCategories;
    std::shared_ptr<const std::vector<LinearStart>> starts;
    // Whether two trainings may read the documents at once (training leaves
    // them as they are).
    bool shareable = false;

    // The entries of document i as a model file lists them (the reference
    // stays valid: the table is sized once).
    const std::string& entriesOf(size_t i) {
        std::lock_guard<std::mutex> lock(entryTextLock);
        if (entryText.empty()) {
            entryText.resize(docs.size());
            entryTextReady.assign(docs.size(), 0);
        }
        if (!entryTextReady[i]) {
            appendEntries(entryText[i], docs[i]);
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

namespace {

// Unlabeled documents take no part in training; they are counted, then
// dropped, so that the training works on the kept documents themselves.
void dropUnlabeled(TrainingFileCache& file) {
    size_t kept = 0;
    for (size_t i = 0; i < file.docs.size(); ++i) {
        if (file.labels[i] == 0) continue;
        if (kept != i) {
            file.docs[kept] = std::move(file.docs[i]);
            file.labels[kept] = file.labels[i];
        }
        file.docs[kept].docnum = int32_t(kept);
        ++kept;
    }
    file.unlabeled = file.docs.size() - kept;
    file.docs.resize(kept);
    file.labels.resize(kept);
}

std::string categoryName(int k) { return "category " + std::to_string(k); }

// The training parameters of one learn, from the parameter record.
LearnParams learnParamsOf(const CCompute_Param& param) {
    LearnParams lp;
    lp.svmC = param.svmC;
    lp.costRatio = param.costRatio;
    lp.biasedHyperplane = param.biasedHyperplane;
    lp.maxQpSize = std::max(param.maxQpSize, int32_t(2));
    lp.newVarsInQp = param.newVarsInQp;
    lp.shrinkHorizon = param.shrinkHorizon;
    lp.skipFinalOptCheck = param.skipFinalOptCheck;
    lp.linearStart = param.linearStart;
    lp.epsilonCrit = 0.001;
    lp.epsilonA = 1e-15;
    return lp;
}

KernelParams kernelParamsOf(const CCompute_Param& param, KernelType type) {
    KernelParams kp;
    kp.kernelType = type;
    kp.degree = param.degree;
    kp.gamma = param.gamma;
    kp.coefLin = param.coefLin;
    kp.coefConst = param.coefConst;
    return kp;
}

bool isFinite(const SvmModel& model) {
    bool finite = std::isfinite(model.b);
    for (int32_t i = 1; i < model.svNum && finite; ++i) finite = std::isfinite(model.alpha[size_t(i)]);
    return finite;
}

// A model ready to score documents: a linear model through its weight
// vector, the others through their support vectors.
class ModelScorer {
public:
    static Result<ModelScorer> load(const std::string& modelFile) {
        Result<SvmModel> model = readModel(modelFile);
        if (!model) return model.status();
        return ModelScorer(std::move(model).value());
    }

    // The length of the scratch vector `score` needs (0 when none).
    size_t scratchSize() const { return denseSize_; }

    // Safe to call from several threads at once, each with its own scratch
    // vector of scratchSize() zeros (left as zeros).
    double score(const DocumentVector& doc, std::vector<double>& scratch) const {
        if (linear_) return classifyLinear(model_, doc);
        return denseSize_ == 0 ? classifyExample(model_, doc) : scoreDense(doc, scratch);
    }

private:
    explicit ModelScorer(SvmModel model) : model_(std::move(model)) {
        linear_ = model_.kernel.kernelType == KernelType::Linear;
        if (linear_) {
            addLinearWeights(model_);
            return;
        }
        // Non-linear scoring spreads each document densely once, so every
        // support vector costs one pass over its own entries (same sums as
        // the sparse merge), unless the feature numbers are very sparse.
        if (!isDotProductKernel(model_.kernel.kernelType)) return;
        int64_t highest = 0, entries = 0;
        for (int32_t i = 1; i < model_.svNum; ++i) {
            const DocumentVector* sv = model_.supvec[size_t(i)];
            if (sv->size()) highest = std::max<int64_t>(highest, sv->words[sv->size() - 1].wnum);
            entries += int64_t(sv->size());
        }
        if (highest <= 4 * entries + 4096) denseSize_ = size_t(highest) + 1;
    }

    double scoreDense(const DocumentVector& d, std::vector<double>& dense) const {
        for (const VectorEntry* w = d.list(); w->wnum && size_t(w->wnum) < dense.size(); ++w)
            dense[size_t(w->wnum)] = w->weight;
        double sum = 0.0;
        for (int32_t i = 1; i < model_.svNum; ++i) {
            const DocumentVector& sv = *model_.supvec[size_t(i)];
            double dot = 0.0;
            for (const VectorEntry* w = sv.list(); w->wnum; ++w) dot += w->weight * dense[size_t(w->wnum)];
            sum += model_.alpha[size_t(i)] * kernelFromDot(model_.kernel, dot, sv, d);
        }
        for (const VectorEntry* w = d.list(); w->wnum && size_t(w->wnum) < dense.size(); ++w)
            dense[size_t(w->wnum)] = 0.0;
        return sum - model_.b;
    }

    SvmModel model_;
    bool linear_ = false;
    size_t denseSize_ = 0;
};

}  // namespace

CSVM::CSVM() : solver_(std::make_unique<QpSolver>()) {}
CSVM::~CSVM() = default;

const CCompute_Result& CSVM::solverState() const { return solver_->state(); }
void CSVM::setSolverState(const CCompute_Result& state) { solver_->setState(state); }
void CSVM::resizeSolverBuffers(int32_t n) { solver_->resizeBuffers(n); }

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
    Result<VectorSet> read = readVectorFile(path, RejectedLines::kSkip, INT64_MAX, threads_);
    if (!read) {
        error = read.message();
        return nullptr;
    }
    auto file = std::make_shared<TrainingFileCache>();
    file->path = path;
    // A file that changed while it was read is used once and read again
    // next time.
    struct stat after;
    file->valid = ::stat(path.c_str(), &after) == 0 && S_ISREG(after.st_mode);
    file->remember(before);
    file->valid = file->valid && file->matches(after);
    file->docs = std::move(read->docs);
    file->labels = std::move(read->labels);
    file->totWords = read->highestFeature;
    file->report = std::move(read->report);
    dropUnlabeled(*file);
    file->shareable = !SvmTrainer::renumbersFeatures(file->docs, file->totWords);
    ++trainingFileReads_;
    trainingFile_ = std::move(file);
    return trainingFile_.get();
}

void CSVM::shareTrainingFile(CSVM& other) {
    std::string error;
    const TrainingFileCache* file = loadTrainingFile(param.trainFile, error);
    if (file && file->valid && file->shareable) other.trainingFile_ = trainingFile_;
}

Status CSVM::learn(int k) {
    lastWarning_.clear();
    lastReport_ = SvmReadReport();
    lastDocuments_ = lastSupportVectors_ = lastIterations_ = lastKernelEvaluations_ = 0;
    solver_->beginTraining();

    const std::string trainFile = param.trainFile;
    const std::string modelFile = param.modelFile;
    const std::string category = categoryName(k);
    learnedModelFile_ = modelFile;
    learnedCategory_ = k;
    // A failed training leaves no model file behind, so that an old model of
    // the category is never used silently.
    auto fail = [&](Status failure) {
        if (!deferredOutput_ && !modelFile.empty() && fileExists(modelFile)) removeFile(modelFile);
        learned_ = failure;
        return failure;
    };
    if (modelFile.empty()) return fail(Status::failure("no model file is given for " + category));
    if (!kernelTypeOf(param.kernelType))
        return fail(Status::failure("unknown kernel type " + std::to_string(param.kernelType) + " for " + category));

    std::string error;
    TrainingFileCache* file = loadTrainingFile(trainFile, error);
    if (!file) return fail(Status::failure("cannot read the training file for " + category + ": " + error));
    lastReport_ = file->report;
    if (lastReport_.rejected) lastWarning_ += skippedLinesNote(lastReport_, trainFile) + "; ";
    if (file->unlabeled)
        lastWarning_ += std::to_string(file->unlabeled) + " unlabeled documents of " + trainFile + " ignored; ";

    std::vector<int32_t> targets;
    Status status = targetsFor(k, *file, targets);
    if (status) {
        try {
            status = trainCategory(k, *file, targets);
        } catch (...) {
            // The kept documents may be left half-way through the training.
            trainingFile_.reset();
            throw;
        }
    }
    if (!status) return fail(status);
    lastDocuments_ = int64_t(file->docs.size());
    if (!lastWarning_.empty()) lastWarning_.resize(lastWarning_.size() - 2);
    learned_ = Status();
    return learned_;
}

Status CSVM::targetsFor(int k, const TrainingFileCache& file, std::vector<int32_t>& targets) const {
    const std::string& trainFile = param.trainFile;
    const std::string category = categoryName(k);
    size_t positives = 0;
    targets.resize(file.docs.size());
    for (size_t i = 0; i < file.docs.size(); ++i) {
        targets[i] = file.labels[i] == k ? 1 : -1;
        if (targets[i] > 0) ++positives;
    }
    if (file.docs.empty()) return Status::failure("the training file " + trainFile + " holds no training documents");
    if (positives == 0)
        return Status::failure(category + " has no training document in " + trainFile + "; no model is trained");
    if (positives == file.docs.size() && param.biasedHyperplane)
        return Status::failure("every training document of " + trainFile + " belongs to " + category +
                               "; a model needs documents of other categories too");
    return Status();
}

std::shared_ptr<const std::vector<LinearStart>> CSVM::linearStarts(TrainingFileCache& file, const LearnParams& lp,
                                                                   const std::vector<long>*& categories) {
    const std::vector<double> key = {lp.svmC, lp.costRatio, double(lp.biasedHyperplane)};
    std::lock_guard<std::mutex> lock(file.startsLock);
    if (!file.starts || file.startsKey != key) {
        file.starts.reset();
        // Every category that makes a training problem: one with documents
        // of its own and, for a biased hyperplane, of others too.
        std::vector<long> labels = file.labels;
        std::sort(labels.begin(), labels.end());
        labels.erase(std::unique(labels.begin(), labels.end()), labels.end());
        if (lp.biasedHyperplane && labels.size() < 2) labels.clear();
        std::vector<StartProblem> problems(labels.size());
        for (size_t c = 0; c < labels.size(); ++c) {
            StartProblem& p = problems[c];
            p.y.resize(file.docs.size());
            for (size_t i = 0; i < file.docs.size(); ++i) p.y[i] = file.labels[i] == labels[c] ? 1 : -1;
            p.costPositive = lp.svmC * lp.costRatio;
            p.costNegative = lp.svmC;
        }
        auto starts = std::make_shared<std::vector<LinearStart>>();
        if (!computeLinearStarts(file.docs, size_t(file.totWords) + 1, problems, lp.biasedHyperplane != 0, threads_,
                                 stopCheck_, *starts))
            return nullptr;
        file.startsKey = key;
        file.startCategories = std::move(labels);
        file.starts = std::move(starts);
    }
    categories = &file.startCategories;
    return file.starts;
}

Status CSVM::trainCategory(int k, TrainingFileCache& file, const std::vector<int32_t>& targets) {
    const std::string category = categoryName(k);
    LearnParams lp = learnParamsOf(param);
    const KernelParams kp = kernelParamsOf(param, *kernelTypeOf(param.kernelType));
    SvmModel model;
    SvmTrainer trainer(*solver_, stopCheck_);
    TrainingOutcome outcome;
    if (kp.kernelType == KernelType::Linear) {
        // The starts of all categories come from one descent over the
        // documents (kept with the file), unless training renumbers the
        // feature numbers; they are the trainer's own otherwise.
        std::shared_ptr<const std::vector<LinearStart>> starts;
        if (lp.linearStart && file.shareable && !file.docs.empty()) {
            if (lp.svmC == 0.0) lp.svmC = SvmTrainer::defaultCost(file.docs, kp);
            const std::vector<long>* categories = nullptr;
            starts = linearStarts(file, lp, categories);
            if (starts) {
                const auto at = std::lower_bound(categories->begin(), categories->end(), long(k));
                if (at != categories->end() && *at == k) trainer.setLinearStart(&(*starts)[size_t(at - categories->begin())]);
            }
        }
        outcome = trainer.train(file.docs, targets, file.totWords, lp, kp, nullptr, &file.initialColumns, model);
    } else {
        KernelCache cache(file.docs, kp, param.kernelCacheSize);
        outcome = trainer.train(file.docs, targets, file.totWords, lp, kp, &cache, nullptr, model);
    }
    lastIterations_ = outcome.iterations;
    lastKernelEvaluations_ = outcome.kernelEvaluations;
    if (outcome.stoppedEarly)
        lastWarning_ += "training" + (k > 0 ? " of " + category : std::string()) + " stopped after " +
                        std::to_string(outcome.iterations) + " iterations" +
                        (outcome.workLimitReached ? " (work limit reached)" : "") +
                        " without reaching the tolerance; the model may classify less well; ";
    if (outcome.cancelled) return Status::failure("the training of " + category + " was cancelled");
    if (!isFinite(model))
        return Status::failure("training " + category + " gave no finite solution (check the kernel parameters)");

    // Support vectors are the kept documents (docnum = their position).
    formatModel(model, [&](const DocumentVector& sv) -> const std::string* {
        if (sv.docnum < 0 || size_t(sv.docnum) >= file.docs.size()) return nullptr;
        return &file.entriesOf(size_t(sv.docnum));
    }, modelText_);
    if (!deferredOutput_) {
        if (const Status written = writeFileAtomically(param.modelFile, modelText_); !written)
            return Status::failure("cannot write the model of " + category + ": " + written.message());
    }
    lastSupportVectors_ = model.supportVectorCount();
    return Status();
}

Status CSVM::adoptDeferredLearn(const CSVM& other) {
    lastWarning_ = other.lastWarning_;
    lastReport_ = other.lastReport_;
    lastDocuments_ = other.lastDocuments_;
    lastSupportVectors_ = other.lastSupportVectors_;
    lastIterations_ = other.lastIterations_;
    lastKernelEvaluations_ = other.lastKernelEvaluations_;
    const std::string& modelFile = other.learnedModelFile_;
    auto removeModel = [&](Status failure) {
        if (!modelFile.empty() && fileExists(modelFile)) removeFile(modelFile);
        return failure;
    };
    if (!other.learned_) return removeModel(other.learned_);
    if (const Status written = writeFileAtomically(modelFile, other.modelText_); !written) {
        // As learn reports a model it cannot write (its notes then keep
        // their separator, and no documents count as used).
        if (!lastWarning_.empty()) lastWarning_ += "; ";
        lastDocuments_ = lastSupportVectors_ = 0;
        return removeModel(Status::failure("cannot write the model of " + categoryName(other.learnedCategory_) +
                                           ": " + written.message()));
    }
    return Status();
}

namespace {

// Decision values of the documents, in slices of documents on every core;
// each slice has its own scratch vector.
void scoreAll(const ModelScorer& scorer, const std::vector<DocumentVector>& docs, std::vector<double>& values) {
    values.resize(docs.size());
    constexpr size_t kSlice = 64;
    const size_t slices = (docs.size() + kSlice - 1) / kSlice;
    parallelFor(slices, 0, [&](size_t slice) {
        std::vector<double> scratch(scorer.scratchSize(), 0.0);
        const size_t end = std::min(docs.size(), (slice + 1) * kSlice);
        for (size_t n = slice * kSlice; n < end; ++n) values[n] = scorer.score(docs[n], scratch);
    });
}

}  // namespace

Status CSVM::classifyFile(std::vector<double>& out) {
    lastWarning_.clear();
    lastReport_ = SvmReadReport();
    const std::string inputFile = param.inputFile;
    auto fail = [&](const std::string& message) {
        std::fill(out.begin(), out.end(), 0.0);
        return Status::failure(message);
    };

    Result<ModelScorer> scorer = ModelScorer::load(param.modelFile);
    if (!scorer) return fail(scorer.message());
    Result<VectorSet> file = readVectorFile(inputFile, RejectedLines::kKeepEmpty, INT64_MAX, threads_);
    if (!file) return fail(file.message());
    if (file->docs.empty()) return fail("the file " + inputFile + " holds no document lines");
    std::vector<double> values;
    scoreAll(*scorer, file->docs, values);
    // A line that is not a vector keeps its slot with the value 0, so that
    // later values still belong to their lines.
    for (size_t n = 0; n < values.size(); ++n)
        if (file->rejected[n]) values[n] = 0.0;
    lastReport_ = file->report;
    if (lastReport_.rejected) lastWarning_ = skippedLinesNote(lastReport_, inputFile);
    out = std::move(values);
    return Status();
}

Status CSVM::classifyDocuments(const std::vector<DocumentVector>& docs, const std::string& modelFile,
                               std::vector<double>& values) {
    lastWarning_.clear();
    lastReport_ = SvmReadReport();
    Result<ModelScorer> scorer = ModelScorer::load(modelFile);
    if (!scorer) {
        values.assign(docs.size(), 0.0);
        return scorer.status();
    }
    scoreAll(*scorer, docs, values);
    return Status();
}

}  // namespace kestrel

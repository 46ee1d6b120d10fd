#include "Segmenter.h"

#include <vector>

#include "SegmenterBatch.h"
#include "TextConversion.h"
#include "common/Encoding.h"

namespace py = pybind11;

namespace kestrel::python {

namespace {

std::string plainWords(CWordSegment& worker, const std::string& gbk) {
    std::vector<std::string> words;
    worker.segmentPlain(gbk, words);
    return joinedWords(words);
}

std::string keptWords(CWordSegment& worker, const std::string& gbk) {
    std::vector<std::string> words;
    worker.segmentText(gbk, words);
    return joinedWords(words);
}

std::string countedWords(CWordSegment& worker, const std::string& gbk) {
    std::vector<std::string> words;
    worker.segmentText(gbk, words);
    return gbkToUtf8(segLines(words));
}

template <typename SegmentFn, typename BuildFn>
py::list batch(LoadedSegmenter& loaded, py::handle texts, unsigned threads, const SegmentFn& segment,
               const BuildFn& build) {
    std::vector<py::object> keep;
    const std::vector<TextBytes> views = textsOf(texts, keep);
    const BatchOutput out = segmentAll(loaded, views, threads, "text", true, segment);
    out.raiseFirstError();
    warnAll(out.warnings);
    py::list results(views.size());
    for (size_t i = 0; i < views.size(); ++i) {
        PyList_SET_ITEM(results.ptr(), static_cast<Py_ssize_t>(i), build(out.results[i]).release().ptr());
    }
    return results;
}

template <typename SegmentFn>
std::string single(LoadedSegmenter& loaded, py::handle text, const SegmentFn& segment) {
    py::object keep;
    const std::vector<TextBytes> views{textBytes(text, keep)};
    BatchOutput out = segmentAll(loaded, views, 1, "text", false, segment);
    out.raiseFirstError();
    warnAll(out.warnings);
    return std::move(out.results[0]);
}

}  // namespace

Segmenter::Segmenter(std::optional<std::string> data) : data_(std::move(data)) {
    Result<std::shared_ptr<LoadedSegmenter>> loaded = [&] {
        py::gil_scoped_release release;
        return loadSegmenter(data_);
    }();
    if (!loaded) throw std::runtime_error(loaded.message());
    loaded_ = std::move(*loaded);
    // Damaged role files: the segmenter works without them, with a warning.
    if (const std::string& warnings = loaded_->master.warnings(); !warnings.empty())
        warnAll({toUtf8(warnings)}, PyExc_RuntimeWarning);
}

py::list Segmenter::cut(py::handle text) const { return wordList(single(*loaded_, text, plainWords)); }

py::list Segmenter::words(py::handle text) const { return wordList(single(*loaded_, text, keptWords)); }

py::dict Segmenter::cutCounts(py::handle text) const { return countDict(single(*loaded_, text, countedWords)); }

py::list Segmenter::cutMany(py::handle texts, unsigned threads) const {
    return batch(*loaded_, texts, threads, plainWords, [](const std::string& words) { return wordList(words); });
}

py::list Segmenter::wordsMany(py::handle texts, unsigned threads) const {
    return batch(*loaded_, texts, threads, keptWords, [](const std::string& words) { return wordList(words); });
}

py::list Segmenter::cutCountsMany(py::handle texts, unsigned threads) const {
    return batch(*loaded_, texts, threads, countedWords, [](const std::string& lines) { return countDict(lines); });
}

}  // namespace kestrel::python

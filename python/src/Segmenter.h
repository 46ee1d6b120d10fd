#pragma once
// kestrel.Segmenter: the word segmenter over texts in memory. The data is
// loaded once per process and shared; every call releases the GIL while it
// segments, so one Segmenter serves several Python threads at once, and the
// batch calls segment their texts on every core.
#include <memory>
#include <optional>
#include <string>

#include <pybind11/pybind11.h>

#include "SegmenterData.h"

namespace kestrel::python {

class Segmenter {
public:
    explicit Segmenter(std::optional<std::string> data);

    // Every word of the text in text order, punctuation and numbers
    // included, no stop word removed (`kestrel segment --plain`).
    pybind11::list cut(pybind11::handle text) const;
    // The words preprocessing keeps, in text order with repeats: stop words,
    // punctuation and numbers removed (`kestrel segment`).
    pybind11::list words(pybind11::handle text) const;
    // The words and counts of the text's .seg file: stop words, punctuation
    // and numbers removed, in order of first occurrence.
    pybind11::dict cutCounts(pybind11::handle text) const;
    // The same over a sequence of texts, `threads` at a time (0: every core).
    pybind11::list cutMany(pybind11::handle texts, unsigned threads) const;
    pybind11::list wordsMany(pybind11::handle texts, unsigned threads) const;
    pybind11::list cutCountsMany(pybind11::handle texts, unsigned threads) const;

    // Segments (id, text) records and writes each as the .seg file of its id
    // below `directory` (see SegCorpusWriter). Returns the ids of the files
    // written and the problems of the records left out, each naming the
    // record as `label` followed by its position in `records`.
    pybind11::tuple writeSeg(const std::string& directory, pybind11::handle records, unsigned threads,
                             const std::string& label) const;

    const std::optional<std::string>& dataArgument() const { return data_; }
    const std::string& dataDirectory() const { return loaded_->directory; }

private:
    std::optional<std::string> data_;
    std::shared_ptr<LoadedSegmenter> loaded_;
};

}  // namespace kestrel::python

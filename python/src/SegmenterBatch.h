#pragma once
// The steps every batch call of Segmenter shares: viewing the texts of a
// Python sequence, segmenting them on several threads without the GIL, and
// passing on the outcome.
#include <string>
#include <vector>

#include <pybind11/pybind11.h>

#include "SegmenterData.h"
#include "TextConversion.h"
#include "common/ParallelFor.h"

namespace kestrel::python {

// The name of item i in messages: "text 3" in a batch (counted from 0, as
// Python indexes the sequence), or just "text" for a single one.
inline std::string itemName(const std::string& label, size_t i, bool numbered = true) {
    return numbered ? label + " " + std::to_string(i) : label;
}

// The items of an iterable of texts or records as a list (the list itself
// when it is one). A single str or bytes is refused: its characters are no
// texts.
inline pybind11::list itemsOf(pybind11::handle iterable, const char* what) {
    if (PyUnicode_Check(iterable.ptr()) || PyBytes_Check(iterable.ptr()))
        throw pybind11::type_error(std::string("expected an iterable of ") + what + ", not a single text");
    if (PyList_Check(iterable.ptr())) return pybind11::reinterpret_borrow<pybind11::list>(iterable);
    return pybind11::list(pybind11::reinterpret_borrow<pybind11::iterable>(iterable));
}

// The texts of an iterable, viewed; `keep` holds what the views need.
inline std::vector<TextBytes> textsOf(pybind11::handle iterable, std::vector<pybind11::object>& keep) {
    const pybind11::list texts = itemsOf(iterable, "texts");
    std::vector<TextBytes> views;
    views.reserve(texts.size());
    keep.reserve(texts.size() * 2);
    for (const pybind11::handle text : texts) {
        keep.push_back(pybind11::reinterpret_borrow<pybind11::object>(text));
        pybind11::object copy;
        views.push_back(textBytes(text, copy));
        if (copy) keep.push_back(std::move(copy));
    }
    return views;
}

// Passes warnings (by default about replaced bytes) on to Python's warnings.
inline void warnAll(const std::vector<std::string>& warnings, PyObject* category = PyExc_UnicodeWarning) {
    for (const std::string& warning : warnings) {
        if (warning.empty()) continue;
        if (PyErr_WarnEx(category, warning.c_str(), 2) != 0) throw pybind11::error_already_set();
    }
}

// What a segmenting function makes of each text; the first text in no
// encoding fails the whole call with its message.
struct BatchOutput {
    std::vector<std::string> results;
    std::vector<std::string> warnings;
    std::vector<std::string> errors;

    explicit BatchOutput(size_t n) : results(n), warnings(n), errors(n) {}
    void raiseFirstError() const {
        for (const std::string& error : errors) {
            if (!error.empty()) throw pybind11::value_error(error);
        }
    }
};

template <typename SegmentFn>
BatchOutput segmentAll(LoadedSegmenter& loaded, const std::vector<TextBytes>& texts, unsigned threads,
                       const std::string& label, bool numbered, const SegmentFn& segment) {
    BatchOutput out(texts.size());
    pybind11::gil_scoped_release release;
    parallelFor(texts.size(), threads, [&](size_t i) {
        std::string gbk;
        if (Status ok = workingText(texts[i], itemName(label, i, numbered), gbk, out.warnings[i]); !ok) {
            out.errors[i] = ok.message();
            return;
        }
        out.results[i] = segment(*loaded.workers.take(), gbk);
    });
    return out;
}

}  // namespace kestrel::python

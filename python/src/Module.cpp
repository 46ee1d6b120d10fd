// The extension kestrel._kestrel; the package kestrel (kestrel/__init__.py)
// exports what users call.
#include <optional>
#include <string>
#include <vector>

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "Segmenter.h"
#include "SegmenterData.h"
#include "common/Version.h"

namespace py = pybind11;
using kestrel::python::Segmenter;

PYBIND11_MODULE(_kestrel, m) {
    m.doc() = "Kestrel's word segmenter for Chinese text";
    m.attr("__version__") = kestrel::kestrelVersion();
    m.def("_set_package_data_directories", &kestrel::python::setPackageDataDirectories,
          "Where the data lies beside the package, searched after ./data/ and $KESTREL_DATA.");
    m.def("default_data_directories", &kestrel::python::defaultDataDirectories,
          "The directories searched for the segmenter's data when none is given, in order.");

    py::class_<Segmenter>(m, "Segmenter", R"(Kestrel's word segmenter.

Segmenter(data=None) loads the segmenter's data from `data` (the data
directory, or a directory holding data/) or, without it, from ./data/, then
$KESTREL_DATA, then the data built or installed with the module. The data is
loaded once per process and shared; the methods release the GIL, so one
Segmenter serves several threads at once.

A text is a str, or bytes in UTF-8 or GB18030 (detected as the programs
detect a file's encoding). Bytes that are text in no encoding raise
ValueError; invalid bytes in a text are replaced by U+FFFD with a
UnicodeWarning.)")
        .def(py::init<std::optional<std::string>>(), py::arg("data") = py::none())
        .def("cut", &Segmenter::cut, py::arg("text"),
             "The words of the text in order: every character in some word (punctuation and numbers too), "
             "no stop word removed, blanks and line breaks only separating; as `kestrel segment --plain`.")
        .def("words", &Segmenter::words, py::arg("text"),
             "The words Kestrel classifies on, in text order with repeats: stop words, punctuation and numbers "
             "removed; as `kestrel segment` prints them.")
        .def("cut_counts", &Segmenter::cutCounts, py::arg("text"),
             "{word: count} as the text's .seg file holds them: stop words, punctuation and numbers removed, "
             "in order of first occurrence.")
        .def("cut_many", &Segmenter::cutMany, py::arg("texts"), py::arg("threads") = 0,
             "cut() of every text of a sequence, segmented on `threads` threads (0: every core).")
        .def("words_many", &Segmenter::wordsMany, py::arg("texts"), py::arg("threads") = 0,
             "words() of every text of a sequence, segmented on `threads` threads (0: every core).")
        .def("cut_counts_many", &Segmenter::cutCountsMany, py::arg("texts"), py::arg("threads") = 0,
             "cut_counts() of every text of a sequence, segmented on `threads` threads (0: every core).")
        .def("_write_seg", &Segmenter::writeSeg, py::arg("directory"), py::arg("records"), py::arg("threads") = 0,
             py::arg("label") = "record")
        .def_property_readonly("data_directory", &Segmenter::dataDirectory,
                               "The data directory the segmenter was loaded from.")
        .def(py::pickle([](const Segmenter& s) { return py::make_tuple(s.dataArgument()); },
                        [](const py::tuple& state) {
                            return Segmenter(state[0].cast<std::optional<std::string>>());
                        }))
        .def("__repr__", [](const Segmenter& s) { return "kestrel.Segmenter(data='" + s.dataDirectory() + "')"; });
}

// Segmenter::writeSeg: (id, text) records segmented into a corpus of .seg
// files, written with the writer `kestrel unpack-seg` uses.
#include <vector>

#include "Segmenter.h"
#include "SegmenterBatch.h"
#include "common/Encoding.h"
#include "segment/SegCorpusWriter.h"

namespace py = pybind11;

namespace kestrel::python {

namespace {

// The ids (file-name bytes: a str's UTF-8) and texts of (id, text) records;
// `given` the ids as given.
std::vector<TextBytes> recordsOf(py::handle iterable, std::vector<std::string>& ids, py::list& given,
                                 std::vector<py::object>& keep) {
    py::list texts;
    for (const py::handle record : itemsOf(iterable, "(id, text) records")) {
        if (!PySequence_Check(record.ptr()) || PySequence_Size(record.ptr()) != 2)
            throw py::type_error("a record is a pair (id, text)");
        const py::sequence pair = py::reinterpret_borrow<py::sequence>(record);
        const py::object id = pair[0];
        if (PyUnicode_Check(id.ptr())) ids.push_back(id.cast<std::string>());
        else if (PyBytes_Check(id.ptr())) ids.emplace_back(PyBytes_AS_STRING(id.ptr()), PyBytes_GET_SIZE(id.ptr()));
        else throw py::type_error("a record's id is a str \"category/title\" or \"title\"");
        given.append(id);
        texts.append(pair[1]);
    }
    return textsOf(texts, keep);
}

std::string segContent(CWordSegment& worker, const std::string& gbk) {
    std::vector<std::string> words;
    worker.segmentText(gbk, words);
    return segLines(words);
}

}  // namespace

py::tuple Segmenter::writeSeg(const std::string& directory, py::handle records, unsigned threads,
                              const std::string& label) const {
    std::vector<std::string> ids;
    py::list given;
    std::vector<py::object> keep;
    const std::vector<TextBytes> texts = recordsOf(records, ids, given, keep);
    BatchOutput out = segmentAll(*loaded_, texts, threads, label, true, segContent);
    std::vector<std::string>& problems = out.errors;
    std::vector<bool> written(texts.size());
    SegCorpusWriter writer(directory);
    if (Status opened = writer.open(); !opened) throw py::value_error(opened.message());
    {
        py::gil_scoped_release release;
        // Ids are claimed in record order, so the first of two records with
        // one id is the one written; the files are then written in parallel.
        std::vector<SegCorpusWriter::Claim> claims(texts.size());
        for (size_t i = 0; i < texts.size(); ++i) {
            if (!problems[i].empty()) continue;
            const std::string name = itemName(label, i);
            Result<SegCorpusWriter::Claim> claimed = writer.claim(ids[i], displayPath(ids[i]), name);
            if (!claimed) problems[i] = name + " (" + displayPath(ids[i]) + "): " + claimed.message();
            else claims[i] = std::move(*claimed);
        }
        parallelFor(texts.size(), diskBoundWorkerCount(threads, texts.size()), [&](size_t i) {
            if (claims[i].file.empty()) return;
            if (const Status saved = writer.writeClaimed(claims[i], out.results[i]); !saved)
                problems[i] = itemName(label, i) + ": " + saved.message();
        });
        for (size_t i = 0; i < texts.size(); ++i) written[i] = !claims[i].file.empty() && problems[i].empty();
    }
    warnAll(out.warnings);
    py::list writtenIds;
    for (size_t i = 0; i < texts.size(); ++i) {
        if (written[i]) writtenIds.append(given[i]);
    }
    py::list reported;
    for (const std::string& problem : problems) {
        if (!problem.empty()) reported.append(problem);
    }
    return py::make_tuple(writtenIds, reported);
}

}  // namespace kestrel::python

#include "TextConversion.h"

#include <charconv>
#include <cstring>

#include "common/Encoding.h"
#include "common/FileSystem.h"
#include "segment/WordCounts.h"

namespace py = pybind11;

namespace kestrel::python {

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// A Python str of UTF-8 bytes the module made itself (so valid).
py::object newStr(const char* data, size_t size) {
    PyObject* str = PyUnicode_DecodeUTF8(data, static_cast<Py_ssize_t>(size), "replace");
    if (!str) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(str);
}

}  // namespace

TextBytes textBytes(py::handle text, py::object& keep) {
    if (PyUnicode_Check(text.ptr())) {
        Py_ssize_t size = 0;
        const char* data = nullptr;
        if (PyUnicode_IS_ASCII(text.ptr())) {
            // An ASCII str holds its UTF-8 bytes already.
            data = PyUnicode_AsUTF8AndSize(text.ptr(), &size);
        } else {
            // A temporary copy rather than the str's cached one, which would
            // stay with the caller's text for its lifetime.
            keep = py::reinterpret_steal<py::object>(PyUnicode_AsUTF8String(text.ptr()));
            if (keep) data = PyBytes_AsString(keep.ptr()), size = PyBytes_Size(keep.ptr());
        }
        if (!data) throw py::error_already_set();
        return {std::string_view(data, static_cast<size_t>(size)), true};
    }
    if (PyBytes_Check(text.ptr())) {
        return {std::string_view(PyBytes_AS_STRING(text.ptr()), static_cast<size_t>(PyBytes_GET_SIZE(text.ptr()))),
                false};
    }
    throw py::type_error("a text is a str or bytes (UTF-8 or GB18030), not " +
                         std::string(Py_TYPE(text.ptr())->tp_name));
}

Status workingText(const TextBytes& text, const std::string& name, std::string& gbk, std::string& warning) {
    if (text.utf8) {
        gbk = utf8ToGbk(text.bytes.starts_with(kUtf8Bom) ? text.bytes.substr(kUtf8Bom.size()) : text.bytes);
        return Status::success();
    }
    DecodeReport report;
    gbk = decodeText(text.bytes, &report);
    if (report.encoding == TextEncoding::kBinary) {
        // Nothing is skipped here: the caller gets the failure.
        std::string message = decodeWarning(name, report);
        if (const size_t end = message.rfind("; skipped"); end != std::string::npos) message.resize(end);
        return Status::failure(message);
    }
    warning = decodeWarning(name, report);
    return Status::success();
}

std::string joinedWords(const std::vector<std::string>& words) {
    size_t size = 0;
    for (const std::string& word : words) size += word.size() + 1;
    std::string joined;
    joined.reserve(size);
    for (const std::string& word : words) {
        joined += word;
        joined += '\n';
    }
    return gbkToUtf8(joined);
}

std::string segLines(const std::vector<std::string>& words) {
    WordCounts counts;
    counts.add(words);
    std::string lines;
    counts.appendEntries(lines, '\n');
    return lines;
}

py::list wordList(std::string_view joined) {
    size_t count = 0;
    for (const char c : joined) count += c == '\n';
    py::list list(count);
    size_t start = 0;
    for (size_t i = 0; i < count; ++i) {
        const size_t end = joined.find('\n', start);
        PyList_SET_ITEM(list.ptr(), static_cast<Py_ssize_t>(i), newStr(joined.data() + start, end - start).release().ptr());
        start = end + 1;
    }
    return list;
}

py::dict countDict(std::string_view lines) {
    py::dict counts;
    forEachLine(lines, [&](std::string_view line) {
        const size_t colon = line.rfind(':');
        unsigned long count = 0;
        std::from_chars(line.data() + colon + 1, line.data() + line.size(), count);
        const py::object word = newStr(line.data(), colon);
        const py::object number = py::reinterpret_steal<py::object>(PyLong_FromUnsignedLong(count));
        if (!number || PyDict_SetItem(counts.ptr(), word.ptr(), number.ptr()) != 0) throw py::error_already_set();
    });
    return counts;
}

}  // namespace kestrel::python

#include "segment/WordSegmenter.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "common/Encoding.h"
#include "common/FileSystem.h"
#include "common/ParallelFor.h"

namespace kestrel {

namespace {

// Directory of the running executable, with a trailing '/'; empty when unknown.
std::string executableDirectory() {
    std::string buffer(4096, '\0');
    const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n <= 0 || static_cast<size_t>(n) >= buffer.size()) return {};
    buffer.resize(static_cast<size_t>(n));
    const size_t slash = buffer.rfind('/');
    return slash == std::string::npos ? std::string() : buffer.substr(0, slash + 1);
}

}  // namespace

std::vector<std::string> dataDirectoryCandidates(const std::string& startupDir) {
    std::vector<std::string> dirs;
    if (!startupDir.empty()) dirs.push_back(withTrailingSlash(startupDir) + "data/");
    if (const char* env = std::getenv("KESTREL_DATA"); env && *env) dirs.push_back(withTrailingSlash(env));
    if (const std::string exe = executableDirectory(); !exe.empty()) {
        dirs.push_back(exe + "data/");
        dirs.push_back(exe + "../data/");
        dirs.push_back(exe + "../share/kestrel/data/");
    }
    return dirs;
}

Result<std::string> findDataDirectory(const std::string& startupDir) {
    const std::vector<std::string> dirs = dataDirectoryCandidates(startupDir);
    for (const std::string& dir : dirs) {
        if (fileExists(dir + "coreDict.dct")) return dir;
    }
    std::string error = "the segmenter's data (coreDict.dct) was not found; directories tried:";
    for (const std::string& dir : dirs) error += " " + dir;
    return Status::failure(error);
}

Status WordSegmenter::loadData(const std::string& startupDir) {
    if (m_master.loadState() != 0) return Status::success();
    m_workers.clear();
    const Result<std::string> dir = findDataDirectory(startupDir);
    if (!dir) return dir.status();
    return loadDataDirectory(*dir);
}

Status WordSegmenter::loadDataDirectory(const std::string& dataDir) {
    m_workers.clear();
    return m_master.loadDataDirectory(dataDir);
}

void WordSegmenter::setUnknownWordSwitch(int value) {
    m_workers.clear();
    m_master.recognitionSwitch = value != 0 ? 2 : 0;
}

Status WordSegmenter::readDocumentText(const std::string& path, std::string& text, std::string& warning) const {
    if (m_master.loadState() == 0) return Status::failure("the segmenter's data is not loaded");
    const Result<std::string> bytes = readFile(path);
    if (!bytes) return Status::failure(bytes.message().empty() ? "cannot read " + path : bytes.message());
    DecodeReport report;
    text = decodeText(*bytes, &report);
    warning = decodeWarning(path, report);
    if (report.encoding == TextEncoding::kBinary) return Status::failure(warning);
    return Status();
}

Result<SegmentedDocument> WordSegmenter::segmentDocument(const std::string& path) const {
    std::string text;
    SegmentedDocument document;
    if (Status read = readDocumentText(path, text, document.warning); !read) return read;
    m_workers.take()->segmentText(text, document.words);
    return document;
}

namespace {

// Bytes of text per part of a long document.
constexpr size_t kPartBytes = size_t{1} << 20;

// Ends of the parts of `text`, each at least kPartBytes long (but the last),
// each where a run of text ends: segmenting the parts one after the other
// gives the words of the whole text.
std::vector<size_t> partEnds(std::string_view text) {
    std::vector<size_t> ends;
    std::string piece;
    size_t start = 0, offset = 0;
    while (offset < text.size()) {
        CWordSegment::nextPiece(offset, text, piece);
        if (offset - start >= kPartBytes || offset >= text.size()) {
            ends.push_back(offset);
            start = offset;
        }
    }
    return ends;
}

}  // namespace

Result<CountedDocument> WordSegmenter::countDocumentWords(const std::string& path, unsigned threads) const {
    std::string text;
    CountedDocument document;
    if (Status read = readDocumentText(path, text, document.warning); !read) return read;
    WordCounts& counts = document.counts;
    // The segmenter reads a NUL as a blank; the parts must be cut as it reads them.
    std::replace(text.begin(), text.end(), '\0', ' ');
    const std::vector<size_t> ends = partEnds(text);
    // A round of parts at a time, one per thread, counted and then appended in
    // text order, so that memory stays with the distinct words.
    const size_t round = workerCount(threads, ends.size());
    std::vector<WordCounts> partCounts(round);
    for (size_t first = 0; first < ends.size(); first += round) {
        const size_t parts = std::min(round, ends.size() - first);
        parallelFor(parts, static_cast<unsigned>(parts), [&](size_t i) {
            const size_t part = first + i;
            const size_t begin = part == 0 ? 0 : ends[part - 1];
            std::vector<std::string> words;
            m_workers.take()->segmentText(std::string_view(text).substr(begin, ends[part] - begin), words);
            partCounts[i] = WordCounts();
            partCounts[i].add(words);
        });
        for (size_t i = 0; i < parts; ++i) counts.append(partCounts[i]);
    }
    return document;
}

void WordSegmenter::releaseData() {
    m_workers.clear();
    m_master.releaseData();
}

}  // namespace kestrel

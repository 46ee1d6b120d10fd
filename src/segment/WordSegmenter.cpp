#include "segment/WordSegmenter.h"

#include <unistd.h>

#include <cstdlib>

#include "common/Encoding.h"
#include "common/FileSystem.h"

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
    const Result<std::string> dir = findDataDirectory(startupDir);
    if (!dir) return dir.status();
    return loadDataDirectory(*dir);
}

Status WordSegmenter::loadDataDirectory(const std::string& dataDir) { return m_master.loadDataDirectory(dataDir); }

void WordSegmenter::setUnknownWordSwitch(int value) { m_master.recognitionSwitch = value != 0 ? 2 : 0; }

Result<SegmentedDocument> WordSegmenter::segmentDocument(const std::string& path) const {
    if (m_master.loadState() == 0) return Status::failure("the segmenter's data is not loaded");
    std::string bytes;
    std::string error;
    if (!readFile(path, bytes, &error)) return Status::failure(error.empty() ? "cannot read " + path : error);
    DecodeReport report;
    const std::string text = decodeText(bytes, &report);
    SegmentedDocument document;
    document.warning = decodeWarning(path, report);
    if (report.encoding == TextEncoding::kBinary) return Status::failure(document.warning);
    CWordSegment segmenter(m_master);
    segmenter.segmentText(text, document.words);
    return document;
}

void WordSegmenter::releaseData() { m_master.releaseData(); }

}  // namespace kestrel

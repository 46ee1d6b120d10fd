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

std::string findDataDirectory(const std::string& startupDir, std::string& error) {
    const std::vector<std::string> dirs = dataDirectoryCandidates(startupDir);
    for (const std::string& dir : dirs) {
        if (fileExists(dir + "coreDict.dct")) return dir;
    }
    error = "the segmenter's data (coreDict.dct) was not found; directories tried:";
    for (const std::string& dir : dirs) error += " " + dir;
    return {};
}

bool WordSegmenter::loadData(const std::string& startupDir, std::string& error) {
    if (m_master.loadState() != 0) return true;
    const std::string dir = findDataDirectory(startupDir, error);
    if (dir.empty()) return false;
    return loadDataDirectory(dir, error);
}

bool WordSegmenter::loadDataDirectory(const std::string& dataDir, std::string& error) {
    if (m_master.loadDataDirectory(dataDir)) return true;
    error = m_master.lastError();
    return false;
}

void WordSegmenter::setUnknownWordSwitch(int value) { m_master.recognitionSwitch = value != 0 ? 2 : 0; }

bool WordSegmenter::segmentDocument(const std::string& path, std::vector<std::string>& words,
                                    std::string& error) const {
    words.clear();
    if (m_master.loadState() == 0) {
        error = "the segmenter's data is not loaded";
        return false;
    }
    const Result<std::string> bytes = readFile(path);
    if (!bytes) {
        error = bytes.message().empty() ? "cannot read " + path : bytes.message();
        return false;
    }
    DecodeReport report;
    const std::string text = decodeText(*bytes, &report);
    error = decodeWarning(path, report);
    if (report.encoding == TextEncoding::kBinary) return false;
    CWordSegment segmenter(m_master);
    segmenter.segmentText(text, words);
    return true;
}

void WordSegmenter::releaseData() { m_master.releaseData(); }

}  // namespace kestrel

#include "SegmenterData.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>

#include "common/Encoding.h"
#include "common/FileSystem.h"

namespace kestrel::python {

namespace {

std::mutex& dataMutex() {
    static std::mutex mutex;
    return mutex;
}

std::vector<std::string>& packageDirectories() {
    static std::vector<std::string> dirs;
    return dirs;
}

// Loaded data by directory (as the file system resolves it), kept for the
// life of the process: a Segmenter made later starts at once.
std::map<std::string, std::shared_ptr<LoadedSegmenter>>& loaded() {
    static std::map<std::string, std::shared_ptr<LoadedSegmenter>> cache;
    return cache;
}

std::string resolved(const std::string& dir) {
    std::error_code error;
    const std::filesystem::path path = std::filesystem::weakly_canonical(dir, error);
    return error ? dir : withTrailingSlash(path.string());
}

// The data directory a given `data` names: the directory itself, or its
// data/ when only that holds the core dictionary (as `--data` reads it).
std::string givenDataDirectory(const std::string& data) {
    std::string dir = withTrailingSlash(data);
    if (!fileExists(dir + "coreDict.dct") && fileExists(dir + "data/coreDict.dct")) dir += "data/";
    return dir;
}

Result<std::string> searchDataDirectory() {
    const std::vector<std::string> dirs = defaultDataDirectories();
    for (const std::string& dir : dirs) {
        if (fileExists(dir + "coreDict.dct")) return dir;
    }
    std::string error = "the segmenter's data (coreDict.dct) was not found; directories tried:";
    for (const std::string& dir : dirs) error += " " + displayPath(dir);
    return Status::failure(error);
}

}  // namespace

void setPackageDataDirectories(std::vector<std::string> dirs) {
    std::lock_guard<std::mutex> lock(dataMutex());
    for (std::string& dir : dirs) dir = withTrailingSlash(std::move(dir));
    packageDirectories() = std::move(dirs);
}

std::vector<std::string> defaultDataDirectories() {
    std::vector<std::string> dirs;
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd)) dirs.push_back(withTrailingSlash(cwd) + "data/");
    if (const char* env = std::getenv("KESTREL_DATA"); env && *env) dirs.push_back(withTrailingSlash(env));
    std::lock_guard<std::mutex> lock(dataMutex());
    dirs.insert(dirs.end(), packageDirectories().begin(), packageDirectories().end());
    return dirs;
}

Result<std::shared_ptr<LoadedSegmenter>> loadSegmenter(const std::optional<std::string>& data) {
    Result<std::string> dir = data ? Result<std::string>(givenDataDirectory(*data)) : searchDataDirectory();
    if (!dir) return dir.status();
    const std::string key = resolved(*dir);
    std::lock_guard<std::mutex> lock(dataMutex());
    std::shared_ptr<LoadedSegmenter>& entry = loaded()[key];
    if (entry) return entry;
    auto segmenter = std::make_shared<LoadedSegmenter>();
    if (const Status status = segmenter->master.loadDataDirectory(key); !status) {
        loaded().erase(key);
        return Status::failure("cannot load the segmenter's data: " + toUtf8(status.message()));
    }
    // Unknown-word recognition on, as the programs segment.
    segmenter->master.recognitionSwitch = 2;
    segmenter->directory = key;
    entry = segmenter;
    return segmenter;
}

}  // namespace kestrel::python

#include "experiment/ScratchDirectory.h"

#include <unistd.h>

#include <charconv>
#include <filesystem>
#include <vector>

#include "common/FileSystem.h"

namespace kestrel {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kPrefix = "experiment-";
constexpr const char* kKeptMark = ".kept";

}  // namespace

std::string experimentScratchPath(const std::string& workspace) {
    return withTrailingSlash(workspace) + std::string(kPrefix) + std::to_string(getpid()) + "/";
}

size_t removeAbandonedExperimentScratch(const std::string& workspace) {
    const std::string base = withTrailingSlash(workspace);
    std::error_code ec;
    std::vector<std::string> abandoned;
    for (fs::directory_iterator entries(base, ec); !ec && entries != fs::directory_iterator(); entries.increment(ec)) {
        const std::string name = entries->path().filename().string();
        if (!name.starts_with(kPrefix)) continue;
        long pid = 0;
        const char* digits = name.data() + kPrefix.size();
        const auto [end, problem] = std::from_chars(digits, name.data() + name.size(), pid);
        if (problem != std::errc() || end != name.data() + name.size() || pid <= 0) continue;
        std::error_code kind;
        if (!fs::is_directory(fs::symlink_status(base + name, kind))) continue;
        if (pid == static_cast<long>(getpid()) || processRunning(pid)) continue;
        if (fileExists(base + name + "/" + kKeptMark)) continue;
        abandoned.push_back(base + name);
    }
    size_t removed = 0;
    for (const std::string& path : abandoned) {
        std::error_code failed;
        fs::remove_all(path, failed);
        if (!failed) ++removed;
    }
    return removed;
}

bool markExperimentScratchKept(const std::string& path) {
    return writeFileAtomically(withTrailingSlash(path) + kKeptMark, "kept with --keep\n").ok();
}

}  // namespace kestrel

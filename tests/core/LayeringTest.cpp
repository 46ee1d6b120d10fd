// The source folders form layers: a file may include its own folder and the
// folders below it, never one above it or a sibling. The core folders never
// include Qt. This reads every source file and checks its includes.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// Folder (relative to src/) -> layer. A folder may include folders of a lower
// layer only; folders of the same layer do not include each other.
const std::map<std::string, int> kLayers = {
    {"common", 0},
    {"segment/lookup", 1}, {"features", 1},
    {"segment", 2}, {"classify", 2},
    {"terms", 3}, {"workspace", 3},
    {"evaluate", 4},
    {"pipeline", 5},
    {"app", 6},
    {"experiment", 7},
    {"cli", 8}, {"widgets", 8},
    {"evaluate/ui", 9},
    {"app/ui", 10},
};

bool isQtFolder(const std::string& folder) {
    return folder == "widgets" || folder == "evaluate/ui" || folder == "app/ui";
}

// The layered folder a path (relative to src/) belongs to: the longest
// listed folder that is a prefix of its directory. Empty when none is.
std::string folderOf(const std::string& relative) {
    std::string best;
    for (const auto& [folder, layer] : kLayers) {
        (void)layer;
        if (relative.compare(0, folder.size() + 1, folder + "/") == 0 && folder.size() > best.size()) best = folder;
    }
    return best;
}

// The workspace files' module reads and writes formats: below it, it uses
// the common helpers and only the headers that define what the files hold.
bool mayReach(const std::string& folder, const std::string& header) {
    if (folder != "workspace" || header.starts_with("common/")) return true;
    static const char* const formats[] = {"features/FeatureTable.h", "features/SegmentedCorpus.h",
                                          "classify/SvmEngine.h", "classify/Similarity.h"};
    for (const char* format : formats)
        if (header == format) return true;
    return false;
}

struct Violation {
    std::string file;
    std::string line;
};

std::vector<Violation> findViolations(const fs::path& src, std::vector<std::string>& unknownFolders) {
    static const std::regex projectInclude(R"(^\s*#\s*include\s*"([^"]+)\")");
    static const std::regex qtInclude(R"(^\s*#\s*include\s*<Q[A-Za-z]*>)");
    std::vector<Violation> violations;
    for (const auto& entry : fs::recursive_directory_iterator(src)) {
        if (!entry.is_regular_file()) continue;
        const std::string ext = entry.path().extension().string();
        if (ext != ".h" && ext != ".cpp") continue;
        const std::string relative = fs::relative(entry.path(), src).generic_string();
        const std::string folder = folderOf(relative);
        if (folder.empty()) {
            unknownFolders.push_back(relative);
            continue;
        }
        std::ifstream in(entry.path());
        std::string line;
        std::smatch match;
        while (std::getline(in, line)) {
            if (std::regex_search(line, match, projectInclude)) {
                const std::string target = folderOf(match[1].str());
                if (target.empty() || target == folder) continue;  // system-style or same-folder include
                if (kLayers.at(target) >= kLayers.at(folder) || !mayReach(folder, match[1].str()))
                    violations.push_back({relative, line});
            } else if (!isQtFolder(folder) && std::regex_search(line, qtInclude)) {
                violations.push_back({relative, line});
            }
        }
    }
    return violations;
}

TEST(Layering, NoFolderIncludesAFolderAboveItOrQtInTheCore) {
    const fs::path src = fs::path(KESTREL_SOURCE_DIR) / "src";
    ASSERT_TRUE(fs::is_directory(src));
    std::vector<std::string> unknownFolders;
    const std::vector<Violation> violations = findViolations(src, unknownFolders);
    for (const Violation& v : violations) ADD_FAILURE() << v.file << ": " << v.line;
    // A new folder has to be given its place among the layers.
    for (const std::string& file : unknownFolders) ADD_FAILURE() << file << " is in no layered folder";
}

TEST(Layering, AFolderIsMatchedByItsLongestListedPrefix) {
    EXPECT_EQ(folderOf("app/ui/CKestrelDlg.cpp"), "app/ui");
    EXPECT_EQ(folderOf("app/TextClassifier.h"), "app");
    EXPECT_EQ(folderOf("application/X.h"), "");
    EXPECT_EQ(folderOf("classify/svm/CSVM.h"), "classify");
    EXPECT_EQ(folderOf("segment/lookup/KeyFilter.h"), "segment/lookup");
}

}  // namespace

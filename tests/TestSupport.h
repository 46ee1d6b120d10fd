#pragma once
// Helpers shared by the tests: a temporary directory that removes itself,
// and small file writers.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/Status.h"

#include <gtest/gtest.h>

#include "common/Status.h"

namespace kestrel::testing {

class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "kestrel-test.XXXXXX").string();
        if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ec);
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    // The directory with a trailing '/'.
    std::string dir() const { return path_ + "/"; }
    std::string path(const std::string& relative) const { return path_ + "/" + relative; }

    // Writes a file (creating parent directories) with the given bytes.
    void write(const std::string& relative, const std::string& content) const {
        const std::filesystem::path p = path(relative);
        std::filesystem::create_directories(p.parent_path());
        std::ofstream out(p, std::ios::binary);
        out << content;
    }
    std::string read(const std::string& relative) const {
        std::ifstream in(path(relative), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    void mkdir(const std::string& relative) const { std::filesystem::create_directories(path(relative)); }

private:
    std::string path_;
};

// A Status as an assertion: a failure shows its message.
inline ::testing::AssertionResult succeeded(const Status& status) {
    if (status) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << status.message();
}

// The descriptors this process holds open on files in `dir` (an unnamed
// temporary file shows as "<dir>#<inode> (deleted)").
inline std::vector<int> descriptorsInto(const std::string& dir) {
    std::vector<int> found;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", ec)) {
        const std::string target = std::filesystem::read_symlink(entry.path(), ec).string();
        if (!ec && target.rfind(dir, 0) == 0) found.push_back(std::stoi(entry.path().filename().string()));
    }
    return found;
}

// The UTF-8 bytes of a code point.
inline std::string utf8Of(char32_t c) {
    std::string out;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
    return out;
}

}  // namespace kestrel::testing

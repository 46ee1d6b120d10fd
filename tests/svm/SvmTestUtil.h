#pragma once
// Scratch directory and small helpers for the SVM engine tests.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "classify/svm/CSVM.h"
#include "classify/svm/SvmKernel.h"

namespace kestrel::test {

class ScratchDir {
public:
    ScratchDir() {
        auto base = std::filesystem::temp_directory_path();
        std::string name = "kestrel-svm-" + std::to_string(::getpid()) + "-" + std::to_string(counter()++);
        path_ = (base / name).string() + "/";
        std::filesystem::create_directories(path_);
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    std::string file(const std::string& name) const { return path_ + name; }
    std::string write(const std::string& name, const std::string& content) const {
        std::ofstream(path_ + name, std::ios::binary) << content;
        return path_ + name;
    }

private:
    static int& counter() {
        static int c = 0;
        return c;
    }
    std::string path_;
};

inline std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline SvmDoc makeDoc(std::initializer_list<std::pair<int32_t, double>> entries) {
    SvmDoc doc;
    for (auto [f, w] : entries) doc.words.push_back({f, w});
    doc.words.push_back({0, 0.0});
    doc.twoNorm = sparseDot(doc.list(), doc.list());
    return doc;
}

}  // namespace kestrel::test

#pragma once
// Scratch directory and small helpers for the SVM engine tests.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>
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

// The document of unit length along the dense weights (index = feature).
inline SvmDoc unitDoc(const std::vector<double>& dense) {
    double norm = 0.0;
    for (double w : dense) norm += w * w;
    SvmDoc doc;
    for (size_t f = 1; f < dense.size(); ++f)
        if (dense[f] > 0.0) doc.words.push_back({int32_t(f), dense[f] / std::sqrt(norm)});
    doc.words.push_back({0, 0.0});
    doc.twoNorm = sparseDot(doc.list(), doc.list());
    return doc;
}

// Checks the Karush-Kuhn-Tucker conditions of a linear model from scratch:
// multipliers within their bounds, the equality for a biased hyperplane,
// and every example's margin against its multiplier, with the decision
// values recomputed from the support vectors.
inline void expectLinearOptimal(const std::vector<SvmDoc>& docs, const std::vector<int32_t>& targets, int32_t dim,
                                const SvmModel& model, double C, bool biased, double tolerance) {
    std::vector<double> w(size_t(dim) + 1, 0.0);
    double balance = 0.0;
    for (int32_t s = 1; s < model.svNum; ++s) {
        for (const VectorEntry* e = model.supvec[size_t(s)]->list(); e->wnum; ++e)
            w[size_t(e->wnum)] += model.alpha[size_t(s)] * e->weight;
        balance += model.alpha[size_t(s)];
    }
    if (biased) {
        EXPECT_NEAR(balance, 0.0, 1e-9 * C * double(docs.size()));
    } else {
        EXPECT_EQ(model.b, 0.0);
    }
    for (size_t i = 0; i < docs.size(); ++i) {
        const int32_t slot = model.index[i];
        const double a = slot < 0 ? 0.0 : model.alpha[size_t(slot)] * targets[i];
        ASSERT_GE(a, 0.0) << i;
        ASSERT_LE(a, C * (1.0 + 1e-12)) << i;
        double value = -model.b;
        for (const VectorEntry* e = docs[i].list(); e->wnum; ++e) value += w[size_t(e->wnum)] * e->weight;
        const double dist = value * targets[i];
        if (a <= 1e-15) EXPECT_GE(dist, 1.0 - tolerance) << i;
        else if (a >= C - 1e-15) EXPECT_LE(dist, 1.0 + tolerance) << i;
        else EXPECT_NEAR(dist, 1.0, tolerance) << i;
    }
}

}  // namespace kestrel::test

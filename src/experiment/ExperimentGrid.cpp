#include "experiment/ExperimentGrid.h"

#include <charconv>
#include <fmt/format.h>

#include "common/FileSystem.h"

namespace kestrel {

namespace {

// The shortest text that reads back as the same value.
std::string number(double value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

// The SVM parameters of one kernel, each listed value of those it uses.
void addSvmCombinations(const ParameterGrid& grid, Combination base, std::vector<Combination>& out) {
    for (const int kernel : grid.kernels) {
        SvmSettings s;  // defaults for what the kernel does not use
        s.kernelType = kernel;
        s.biased = grid.biased;
        const bool usesDegree = kernel == kPolynomialKernel;
        const bool usesGamma = kernel == kRadialKernel;
        const bool usesDot = kernel == kPolynomialKernel || kernel == kSigmoidKernel;
        const std::vector<long> degrees = usesDegree ? grid.degrees : std::vector<long>{s.degree};
        const std::vector<double> gammas = usesGamma ? grid.gammas : std::vector<double>{s.gamma};
        const std::vector<double> factors = usesDot ? grid.factors : std::vector<double>{s.coefS};
        const std::vector<double> constants = usesDot ? grid.constants : std::vector<double>{s.coefC};
        for (const long d : degrees)
            for (const double g : gammas)
                for (const double f : factors)
                    for (const double c : constants) {
                        s.degree = d;
                        s.gamma = g;
                        s.coefS = f;
                        s.coefC = c;
                        base.params.svm = s;
                        out.push_back(base);
                    }
    }
}

}  // namespace

std::vector<Combination> expandGrid(const ParameterGrid& grid) {
    std::vector<Combination> out;
    for (const int selection : grid.selections)
        for (const uint32_t dimension : grid.dimensions)
            for (const ClassifierKind classifier : grid.classifiers) {
                Combination base;
                base.selection = selection;
                base.dimension = dimension;
                base.params.classifier = classifier;
                if (classifier == ClassifierKind::Svm) {
                    addSvmCombinations(grid, base, out);
                    continue;
                }
                for (const uint32_t k : grid.neighbours)
                    for (const Similarity similarity : grid.similarities) {
                        base.params.k = k;
                        base.params.similarity = similarity;
                        out.push_back(base);
                    }
            }
    return out;
}

namespace {

// The SVM parameters the kernel uses, as (option letter, value) pairs.
std::vector<std::pair<char, std::string>> kernelParameters(const SvmSettings& s) {
    std::vector<std::pair<char, std::string>> out;
    if (s.kernelType == kPolynomialKernel) out.push_back({'d', fmt::format("{}", s.degree)});
    if (s.kernelType == kRadialKernel) out.push_back({'g', number(s.gamma)});
    if (s.kernelType == kPolynomialKernel || s.kernelType == kSigmoidKernel) {
        out.push_back({'s', number(s.coefS)});
        out.push_back({'c', number(s.coefC)});
    }
    return out;
}

}  // namespace

std::string combinationName(const Combination& c) {
    std::string name = fmt::format("{} {} ", selectionModeName(c.selection), c.dimension);
    if (c.params.classifier == ClassifierKind::Knn) {
        name += fmt::format("KNN k={}", c.params.k);
        if (c.params.similarity != Similarity::Cosine) name += std::string(" ") + similarityName(c.params.similarity);
        return name;
    }
    name += std::string("SVM ") + kernelName(c.params.svm.kernelType);
    for (const auto& [letter, value] : kernelParameters(c.params.svm)) name += std::string(" ") + letter + "=" + value;
    if (!c.params.svm.biased) name += " no-bias";
    return name;
}

std::string trainArguments(const Combination& c) {
    std::string args = std::string("--select ") + selectionName(c.selection) + fmt::format(" --dim {}", c.dimension);
    if (c.params.classifier == ClassifierKind::Knn)
        return args + fmt::format(" --classifier knn -k {} --similarity {}", c.params.k,
                                  similarityName(c.params.similarity));
    args += std::string(" --classifier svm --kernel ") + kernelName(c.params.svm.kernelType);
    for (const auto& [letter, value] : kernelParameters(c.params.svm)) args += std::string(" -") + letter + " " + value;
    if (!c.params.svm.biased) args += " --no-bias";
    return args;
}

}  // namespace kestrel

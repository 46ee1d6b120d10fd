// Kernel values and the decision function.
#include <cmath>

#include "SvmTestUtil.h"
#include "classify/svm/SvmKernel.h"

namespace kestrel {
namespace {

using test::makeDoc;

TEST(SvmKernel, ValuesOfEachType) {
    SvmDoc a = makeDoc({{1, 1.0}, {3, 2.0}});
    SvmDoc b = makeDoc({{2, 5.0}, {3, 0.5}, {9, 1.0}});
    KernelParams p;
    p.kernelType = KernelType::Linear;
    EXPECT_DOUBLE_EQ(kernelValue(p, a, b), 1.0);
    p.kernelType = KernelType::Polynomial;
    p.degree = 3;
    p.coefLin = 2.0;
    p.coefConst = 1.0;
    EXPECT_DOUBLE_EQ(kernelValue(p, a, b), 27.0);
    p.kernelType = KernelType::Sigmoid;
    EXPECT_DOUBLE_EQ(kernelValue(p, a, b), double(float(std::tanh(3.0))));
    p.kernelType = KernelType::RadialBasis;
    p.gamma = 0.1;
    EXPECT_DOUBLE_EQ(kernelValue(p, a, a), 1.0);
    // |a - b|^2 = 5 - 2 + 26.25 = 29.25
    EXPECT_DOUBLE_EQ(kernelValue(p, a, b), double(float(std::exp(-2.925))));
    p.kernelType = KernelType::Custom;
    // distance 1 + 25 + 2.25 + 1 = 29.25, dot 1
    EXPECT_DOUBLE_EQ(kernelValue(p, a, b), double(float(std::exp(-0.0001 * 29.25) * 21.0 * 21.0 * 21.0)));
    for (int32_t type : {5, -1, 100}) {
        p.kernelType = KernelType(type);
        EXPECT_EQ(kernelValue(p, a, b), -1.0);
    }
    // Values beyond single precision become infinite, not undefined.
    p.kernelType = KernelType::Polynomial;
    p.degree = 100;
    EXPECT_TRUE(std::isinf(kernelValue(p, a, a)));
}

TEST(SvmKernel, LinearWeightsDropFeaturesAboveTheModel) {
    SvmDoc sv1 = makeDoc({{5, 2.0}, {100, 1.0}});
    SvmDoc sv2 = makeDoc({{5, 1.0}});
    SvmModel model;
    model.kernel.kernelType = KernelType::Linear;
    model.totWords = 100;
    model.b = 0.5;
    model.svNum = 3;
    model.supvec = {nullptr, &sv1, &sv2};
    model.alpha = {0.0, 0.5, -0.25};
    addLinearWeights(model);
    ASSERT_EQ(model.linWeights.size(), 101u);
    EXPECT_DOUBLE_EQ(model.linWeights[5], 0.75);

    SvmDoc doc = makeDoc({{5, 1.0}, {150, 2.0}});
    double expected = classifyExample(model, makeDoc({{5, 1.0}}));
    EXPECT_DOUBLE_EQ(expected, 0.25);
    EXPECT_DOUBLE_EQ(classifyLinear(model, doc), expected);
    // The document is left as it is: the same documents are scored by every
    // category's model.
    EXPECT_EQ(doc.words[1].wnum, 150);
}

TEST(SvmKernel, HugeFeatureIndexUsesSparseWeightsWithTheSameScores) {
    SvmDoc sv1 = makeDoc({{3, 0.5}, {2000000000, 1.0}});
    SvmDoc sv2 = makeDoc({{3, -1.5}, {7, 2.0}});
    SvmModel model;
    model.kernel.kernelType = KernelType::Linear;
    model.totWords = 2000000000;
    model.svNum = 3;
    model.supvec = {nullptr, &sv1, &sv2};
    model.alpha = {0.0, 0.3, 0.7};
    model.b = -0.1;
    addLinearWeights(model);
    EXPECT_TRUE(model.linWeights.empty());
    SvmDoc doc = makeDoc({{3, 1.0}, {7, 0.25}, {2000000000, 2.0}});
    EXPECT_NEAR(classifyLinear(model, doc), classifyExample(model, doc), 1e-12);
}

}  // namespace
}  // namespace kestrel

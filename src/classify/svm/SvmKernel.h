#pragma once
// Kernel functions and the decision function of a trained model.
#include "classify/svm/SvmTypes.h"

namespace kestrel {

// Dot product of two sparse vectors (entries ascending, ended by feature 0).
double sparseDot(const VectorEntry* a, const VectorEntry* b);

// K(a, b) for the kernel of `params`, rounded to single precision (the
// precision the kernel cache keeps).
double kernelValue(const KernelParams& params, const DocumentVector& a, const DocumentVector& b);
// The same given the dot product of a and b (the user-defined kernel, which
// needs the vectors themselves, ignores it).
double kernelFromDot(const KernelParams& params, double dot, const DocumentVector& a, const DocumentVector& b);
// The user-defined kernel: exp(-0.0001 |a - b|^2) (a.b + 20)^3.
double customKernel(const DocumentVector& a, const DocumentVector& b);

// The decision value sum_i alpha_i K(sv_i, doc) - b.
double classifyExample(const SvmModel& model, const DocumentVector& doc);
// Builds the weight vector of a linear model.
void addLinearWeights(SvmModel& model);
// The decision value of a linear model from its weights; entries above the
// model's highest feature index take no part.
double classifyLinear(const SvmModel& model, const DocumentVector& doc);

}  // namespace kestrel

#pragma once

namespace kestrel::cli {

// kestrel experiment: cross-validation or held-out evaluation of a grid of
// selection and classifier parameters.
int runExperiment(int argc, char** argv);

}  // namespace kestrel::cli

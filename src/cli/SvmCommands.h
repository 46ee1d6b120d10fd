#pragma once
// `kestrel svm-learn` and `kestrel svm-classify`: the SVM engine on its own,
// over vector files. argv[0] is the subcommand; the result is the exit code.

namespace kestrel {

int runSvmLearn(int argc, char** argv);
int runSvmClassify(int argc, char** argv);

}  // namespace kestrel

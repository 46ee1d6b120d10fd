#pragma once
// Command-line options of the SVM parameters, shared by `kestrel svm-learn`
// and `kestrel train --classifier svm`.
#include <string>

#include "classify/SvmEngine.h"

namespace kestrel {

enum class SvmOptionResult {
    NotSvmOption,  // argv[i] is not one of these options; nothing consumed
    Consumed,      // the option (and its value) was taken; i points at its last word
    Error,         // a known option with a missing or bad value; error says which
};

// Looks at argv[i]: --kernel linear|poly|rbf|sigmoid (or 0..3), -d N, -g X,
// -s X, -c X, -e X (the tolerance) and --no-bias fill `settings`.
SvmOptionResult parseSvmOption(int argc, char** argv, int& i, SvmSettings& settings,
                               std::string& error);

// Help lines describing those options (each ends with a newline).
const char* svmOptionsHelp();

// Strict number parsing for option values: the whole text must be a number.
bool parseOptionReal(const std::string& text, double& value);
bool parseOptionLong(const std::string& text, long& value);

}  // namespace kestrel

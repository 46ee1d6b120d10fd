#pragma once
// Strict number parsing for the values of command-line options, shared by
// the SVM parameters of `kestrel svm-learn`, `kestrel train` and
// `kestrel experiment`.
#include <string>

namespace kestrel {

// The whole text must be a number (a leading '+' is allowed).
bool parseOptionReal(const std::string& text, double& value);
bool parseOptionLong(const std::string& text, long& value);

}  // namespace kestrel

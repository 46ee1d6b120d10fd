#pragma once
// Model files: one trained binary SVM in the SVM-light "V3.50" model format,
// an eleven-line header followed by one line per support vector
// ("coefficient feature:weight ...").
#include <functional>
#include <string>

#include "classify/svm/SvmTypes.h"
#include "common/Status.h"

namespace kestrel {

// Reads a model file. Fails (naming the file) when it cannot be read, has
// another version, names an unknown kernel, or is truncated or malformed.
Result<SvmModel> readModel(const std::string& path);

// The model file text.
std::string formatModel(const SvmModel& model);
// The same into `out`, with the entries of a support vector taken from
// `entries` when it gives them (as appendEntries writes them), else
// formatted.
void formatModel(const SvmModel& model, const std::function<const std::string*(const DocumentVector&)>& entries,
                 std::string& out);
// A document's entries as a model file lists them ("%ld:%.8g " each).
void appendEntries(std::string& out, const DocumentVector& doc);

// Writes the model file (whole or not at all).
Status writeModel(const SvmModel& model, const std::string& path);

}  // namespace kestrel

#include "classify/SvmEngine.h"

namespace kestrel {

// Placeholder until the SVM engine is built in: SVM classification then
// reports the engine as unavailable.
std::unique_ptr<SvmEngine> makeSvmEngine() { return nullptr; }

}  // namespace kestrel

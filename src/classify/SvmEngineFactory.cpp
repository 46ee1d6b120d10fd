#include "classify/SvmEngine.h"
#include "classify/svm/CsvmEngine.h"

namespace kestrel {

std::unique_ptr<SvmEngine> makeSvmEngine() { return std::make_unique<CsvmEngine>(); }

}  // namespace kestrel

#include "QtTestEnvironment.h"

namespace {
[[maybe_unused]] ::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new kestrel::testing::QtEnvironment);
}  // namespace

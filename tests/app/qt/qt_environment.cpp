// The one Qt application of the test program.
#include "tests/app/qt/qt_test_support.h"

namespace {
[[maybe_unused]] ::testing::Environment* const kQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new qvb::testing::QtEnvironment);
}  // namespace

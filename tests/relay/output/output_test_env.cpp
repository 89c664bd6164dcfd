#include "tests/relay/output/output_test_env.h"

namespace output_test {

std::string HelperPath() { return testing_support::BinDir() + "/output_test_helper"; }

}  // namespace output_test

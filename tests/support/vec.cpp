#include "tests/support/vec.h"

namespace morvik::test {

std::string DataPath(const std::string& name) { return std::string(MORVIK_TEST_DATA) + "/" + name; }

}  // namespace morvik::test

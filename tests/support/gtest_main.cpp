// The main of every GoogleTest program: the kernel asked for is forced before
// any test runs.
#include <gtest/gtest.h>

#include "tests/support/kernel_choice.h"

int main(int argc, char** argv) {
    if (const int status = morvik::test::ForceRequestedKernel(argc, argv); status != 0) return status;
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

// How a test program is told which bulk kernel to run on: --kernel=NAME on
// its command line, or else MORVIK_TEST_KERNEL=NAME in its environment (how
// scripts/test.sh reruns the tests labelled "kernel" once per kernel). The
// library itself reads neither.
#pragma once

#include <morvik/kernel.h>

namespace morvik::test {

// Exit status of a test program whose kernel this processor lacks; CTest
// counts it as skipped.
inline constexpr int kKernelMissing = 77;

// Removes --kernel=NAME from the arguments and forces the kernel asked for.
// Returns 0 when the program should go on (nothing asked for: the processor's
// choice), kKernelMissing for a kernel this processor or build lacks, and 2
// for a name that is no kernel; the last two after a line on stderr.
int ForceRequestedKernel(int& argc, char** argv);

// The kernel ForceRequestedKernel forced, Auto if none was asked for: what a
// test that forces kernels of its own puts back when it ends.
Kernel RequestedKernel() noexcept;

}  // namespace morvik::test

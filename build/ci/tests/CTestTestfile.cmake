# CMake generated Testfile for 
# Source directory: /work/main/tests
# Build directory: /work/main/build/ci/tests
# 
# This file includes the relevant testing commands required for 
# testing this directory and lists subdirectories to be tested as well.
add_test([=[core.scalar]=] "/work/main/build/ci/tests/morvik_tests")
set_tests_properties([=[core.scalar]=] PROPERTIES  ENVIRONMENT "MORVIK_KERNEL=scalar" _BACKTRACE_TRIPLES "/work/main/tests/CMakeLists.txt;15;add_test;/work/main/tests/CMakeLists.txt;0;")
add_test([=[core.sse2]=] "/work/main/build/ci/tests/morvik_tests")
set_tests_properties([=[core.sse2]=] PROPERTIES  ENVIRONMENT "MORVIK_KERNEL=sse2" _BACKTRACE_TRIPLES "/work/main/tests/CMakeLists.txt;15;add_test;/work/main/tests/CMakeLists.txt;0;")
add_test([=[core.avx2]=] "/work/main/build/ci/tests/morvik_tests")
set_tests_properties([=[core.avx2]=] PROPERTIES  ENVIRONMENT "MORVIK_KERNEL=avx2" _BACKTRACE_TRIPLES "/work/main/tests/CMakeLists.txt;15;add_test;/work/main/tests/CMakeLists.txt;0;")

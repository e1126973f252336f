# The version is written once, as the project's; the README states it as the
# project does, and the built tool reports it.
#   cmake -DROOT=<source dir> -DVERSION=<PROJECT_VERSION> -DTOOL=<morvik or ""> -P version.cmake
cmake_minimum_required(VERSION 3.25)
file(READ ${ROOT}/README.md readme)
if(NOT readme MATCHES "This is version ([0-9]+\\.[0-9]+\\.[0-9]+)\\.")
  message(FATAL_ERROR "README.md does not say \"This is version X.Y.Z.\"")
endif()
if(NOT CMAKE_MATCH_1 STREQUAL VERSION)
  message(FATAL_ERROR "README.md says version ${CMAKE_MATCH_1}; the project is ${VERSION}")
endif()
if(TOOL)
  execute_process(COMMAND ${TOOL} --version OUTPUT_VARIABLE out RESULT_VARIABLE status)
  if(NOT status EQUAL 0 OR NOT out STREQUAL "morvik ${VERSION}\n")
    message(FATAL_ERROR "morvik --version said \"${out}\" (status ${status}); expected \"morvik ${VERSION}\"")
  endif()
endif()
message(STATUS "version ${VERSION} everywhere")
